#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/orut.h"
#include "app/params.h"
#include "app/run.h"
#include "input/newick.h"
#include "input/profile.h"
#include "input/utils.h"
#include "model/oru.h"

namespace {

// Best-so-far values before the first try.
const double kLogZero = -10000000.0;

// Loads tree i's profile and tree, builds and preprocesses its model, and
// appends a copy of it to oru_all (whose room is reserved, so no model moves).
void LoadTreeModel(int i, std::vector<ORU>& oru_all) {
  std::cout << "Index of trees: " << i << ", starting" << std::endl;
  std::string profile_path_cur = PerTreeName(profile_path, ".txt", i);
  std::string phytree_path_cur = PerTreeName(phytree_path, ".nwk", i);
  std::string params_path_cur = PerTreeName(params_path, ".txt", i);

  PhyloProf profile = LoadAnnotatedProfile(profile_path_cur);
  PhyloTree phytree = LoadPhyloTree(phytree_path_cur);
  InitParams(profile.G);
  RefuseOversizedSweepCounts(2 * phytree.S - 1, num_trees);
  DispParams(profile, seed);
  int expid_num = GeneSetIndex(profile.C);
  std::cout << "Params done, index of trees: " << i << ", starting" << std::endl;

  ORU oru(profile, phytree, expid_num, noclust, sgl_grp, LLR_th, filter_LLR, same_gl ? 1 : 0, seed,
          prep_lrate, P00);
  RefuseEmptySelection(oru);
  std::cout << "Initiated, index of trees: " << i << ", starting" << std::endl;
  oru.InitMCMC(alpha, num_burn, num_mcmc, num_thin, T0);
  oru.LoadMarLikDB(params_path_cur, false);
  oru.PreProcess();
  oru.PrepFitnessMatrix(params_path_cur);
  PrintClusteringLine(profile, oru, expid_num);
  oru_all.push_back(oru);
}

// Room for every model up front, so none is moved once built; false when a
// tree count that passed the int check is still too large to hold.
bool ReserveModels(std::vector<ORU>& oru_all, int T) {
  if (ExceedsPhysicalMemory(static_cast<double>(T) * sizeof(ORU))) return false;
  try {
    oru_all.reserve(T);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

}  // namespace

bool ExceedsPhysicalMemory(double bytes) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  return pages > 0 && page_size > 0 && bytes > static_cast<double>(pages) * page_size;
}

std::string PerTreeName(const std::string& path, const std::string& ending, int index) {
  std::string stem = path;
  if (strutils::endsWith(stem, ending)) stem.erase(stem.size() - ending.size());
  return stem + "_" + std::to_string(index) + ending;
}

int RunMultiTree() {
  const int T = num_trees;
  std::vector<ORU> oru_all;
  if (!ReserveModels(oru_all, T)) {
    std::cerr << "Error. The number of trees " << expid2 << " is too large." << std::endl;
    return 1;
  }
  std::cout << "Number of trees:" << T << std::endl;
  output_path = OutputName();
  std::string output_path_cur = output_path + "_tr1_" + std::to_string(0);
  RefuseUnwritableTable(output_path_cur + ".txt");

  for (int i = 0; i < T; ++i) LoadTreeModel(i, oru_all);
  std::string mismatch = FindModelMismatch(oru_all);
  if (!mismatch.empty()) {
    std::cerr << "Error. " << mismatch << "." << std::endl;
    return 1;
  }

  int max_id_tree = 0;
  std::vector<double> marloglik_trees(T, kLogZero);
  std::vector<std::vector<int>> max_I_k_tree;
  double max_marlik_tree = kLogZero;

  for (int t = 0; t < num_tries; ++t) {
    for (ORU& oru : oru_all) oru.InitMCMC(alpha, num_burn, num_mcmc, num_thin, T0);
    ClusterProteinInComplexTree(t, oru_all, max_I_k_tree, max_id_tree, marloglik_trees,
                                max_marlik_tree);
    for (ORU& oru : oru_all) oru.GetPosteriorMode();
  }
  std::cout << "MCMC, index of map trees " << max_id_tree << "." << std::endl;
  for (ORU& oru : oru_all) oru.SaveMarLikDB();

  PostProcessTree(oru_all, max_I_k_tree, max_id_tree, marloglik_trees);
  std::cout << "maxid:  " << max_id_tree << ", K: " << oru_all[max_id_tree].groups.size()
            << std::endl;
  if (pred != 0) {
    std::cout << "Predicting... " << std::endl;
    predictProteinORUTree(oru_all, max_id_tree, marloglik_trees, pred_num_min, pred_num_max);
    std::cout << "Predicted.  " << std::endl;
  }

  ORU& first = oru_all[0];
  std::vector<Group> groups = first.GetGroups();
  first.FindParalogs(groups);
  first.SortGroupsUni(groups, sort_method);
  FilterGroups(groups);
  if (!first.SaveResultsTxt(groups, output_path_cur)) {
    ReportUnwritableTable(output_path_cur + ".txt", errno);
    return 1;
  }
  for (int i = 0; i < T; ++i) std::cout << "done: i_tr:" << i << std::endl;

  std::cout << std::endl << std::endl;
  std::cout << "time used:  " << static_cast<int>(time(nullptr) - start_time) << " s." << std::endl
            << std::endl;
  return 0;
}
