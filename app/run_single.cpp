#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "app/params.h"
#include "app/run.h"
#include "input/file_writer.h"
#include "input/newick.h"
#include "input/profile.h"
#include "input/utils.h"
#include "model/oru.h"

PhyloProf LoadAnnotatedProfile(const std::string& path) {
  PhyloProf profile = LoadPhyloProfiles(path);
  // A repeated name would leave one leaf without a column of its own.
  const std::string repeated = RepeatedSpeciesName(profile);
  if (!repeated.empty())
    Fail("Error. The phylogenetic profile names the species " + repeated +
         " twice (letter case and surrounding blanks are ignored): " + path);
  // Each loader takes the record by value; moving it in spares a full copy
  // of the pair sets, which grow with the square of the domain sizes.
  profile = LoadComplexes(std::move(profile), complex_path);
  if (!pfamdom_path.empty()) profile = LoadpFams(std::move(profile), pfamdom_path);
  if (!paralog_path.empty()) profile = LoadParalogys(std::move(profile), paralog_path);
  if (!filter_path.empty()) profile = LoadFilters(std::move(profile), filter_path);
  return profile;
}

void PrintClusteringLine(const PhyloProf& profile, const ORU& oru, int expid_num) {
  if (expid_num == -1) {
    std::cout << "Clustering all genes in the input geneset file (# Genes = "
              << oru.cur_proteins.size() << ") ..." << std::endl;
    return;
  }
  std::cout << "Clustering Gene Set " << expid_num + 1 << "/" << profile.C << " - "
            << profile.complexes_names[expid_num]
            << " (# Genes = " << profile.proteins_for_complexes[expid_num].size() << ") ..."
            << std::endl;
}

void FilterGroups(std::vector<Group>& groups) {
  std::vector<Group> kept;
  kept.reserve(groups.size());
  for (Group& group : groups) {
    if (group.proteins.empty()) continue;
    if (!(group.strength > 0)) group.strength = 0.0;
    kept.push_back(std::move(group));
  }
  groups.swap(kept);
}

void RefuseOversizedSweepCounts(int nodes, int models) {
  const long long sweeps = static_cast<long long>(num_burn) + num_mcmc;
  const bool countable = sweeps <= INT_MAX && num_mcmc <= INT_MAX / 20;
  const double trace_bytes = static_cast<double>(sweeps) * sizeof(double) * nodes * models;
  if (countable && !ExceedsPhysicalMemory(trace_bytes)) return;
  Fail("Error. BURNIN " + std::to_string(num_burn) + " with MCMC " + std::to_string(num_mcmc) +
       " is more sweeps than the run can count or hold.");
}

void ReportUnwritableTable(const std::string& table_path, int err) {
  std::cerr << "Error. Cannot write the results table: " << table_path << ": "
            << std::strerror(err) << std::endl;
}

void RefuseUnwritableTable(const std::string& table_path) {
  const int err = fileutils::WhyCannotWrite(table_path);
  if (err == 0) return;
  ReportUnwritableTable(table_path, err);
  exit(1);
}

void RefuseEmptySelection(const ORU& oru) {
  if (oru.cur_proteins.empty())
    Fail("Error. Nothing to cluster: the gene-set file names no gene of the profile.");
}

int RunSingleTree() {
  std::cout << "Number of trees: single" << std::endl;
  PhyloProf profile = LoadAnnotatedProfile(profile_path);
  PhyloTree phytree = LoadPhyloTree(phytree_path);
  InitParams(profile.G);
  RefuseOversizedSweepCounts(2 * phytree.S - 1, 1);
  DispParams(profile, seed);
  int expid_num = GeneSetIndex(profile.C);
  output_path = OutputName();
  RefuseUnwritableTable(output_path + ".txt");

  ORU oru(profile, phytree, expid_num, noclust, sgl_grp, LLR_th, filter_LLR, same_gl ? 1 : 0, seed,
          prep_lrate, P00);
  RefuseEmptySelection(oru);
  oru.InitMCMC(alpha, num_burn, num_mcmc, num_thin, T0);
  oru.LoadMarLikDB(params_path, false);
  oru.PreProcess();
  oru.PrepFitnessMatrix(params_path);
  PrintClusteringLine(profile, oru, expid_num);

  for (int i = 0; i < num_tries; ++i) {
    oru.InitMCMC(alpha, num_burn, num_mcmc, num_thin, T0);
    oru.ClusterProteinInComplex(i);
    oru.GetPosteriorMode();
  }
  oru.SaveMarLikDB();
  oru.PostProcess();
  if (pred != 0) oru.PredictProteins(pred_num_min, pred_num_max);

  std::vector<Group> groups = oru.GetGroups();
  oru.FindParalogs(groups);
  oru.SortGroupsUni(groups, sort_method);
  FilterGroups(groups);
  if (!oru.SaveResultsTxt(groups, output_path)) {
    ReportUnwritableTable(output_path + ".txt", errno);
    return 1;
  }
  return 0;
}
