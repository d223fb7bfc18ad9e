#include <benchmark/benchmark.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>

#include "model/oru.h"
#include "tests/prep_random_data.h"

namespace {

const int kSpecies = 138;

// Gene rows simulated in families: every family is gained at one node of a
// clade of moderate size, so its genes look like a module to the sampler.
struct Families {
  std::vector<std::vector<bool>> rows;
  std::vector<int> parent;
};

int LeafCount(const std::vector<int>& parent, int node) {
  const int S = (static_cast<int>(parent.size()) + 1) / 2;
  int count = 0;
  for (int s = 0; s < S; ++s)
    for (int n = s; n != -1; n = parent[n])
      if (n == node) count += 1;
  return count;
}

// Internal nodes whose clades hold between lo and hi leaves.
std::vector<int> CladesOfSize(const std::vector<int>& parent, int lo, int hi) {
  std::vector<int> nodes;
  const int S = (static_cast<int>(parent.size()) + 1) / 2;
  for (int n = S; n < static_cast<int>(parent.size()); ++n) {
    int leaves = LeafCount(parent, n);
    if (leaves >= lo && leaves <= hi) nodes.push_back(n);
  }
  return nodes;
}

// size genes gained at gl that share one pattern of losses (each branch
// lost with probability `loss`), each gene losing a few more branches of its
// own (0.02) and observed with error 0.01.
void AddFamily(Families& f, int gl, int size, double loss, std::mt19937& rng) {
  const int N = static_cast<int>(f.parent.size());
  const int S = (N + 1) / 2;
  std::uniform_real_distribution<double> unif(0.0, 1.0);
  std::vector<char> shared(N, 0), state(N);
  shared[gl] = 1;
  for (int n = N - 2; n >= 0; --n)
    if (n != gl && shared[f.parent[n]]) shared[n] = unif(rng) >= loss;
  for (int i = 0; i < size; ++i) {
    for (int n = N - 1; n >= 0; --n)
      state[n] = shared[n] && (n == gl || (state[f.parent[n]] && unif(rng) >= 0.02));
    std::vector<bool> row(S);
    for (int s = 0; s < S; ++s) row[s] = (state[s] != 0) != (unif(rng) < 0.01);
    f.rows.push_back(row);
  }
}

std::unique_ptr<ORU> BuildModel(const Families& f) {
  const std::vector<std::string> names = prepdata::SpeciesNames(kSpecies);
  const int G = static_cast<int>(f.rows.size());
  auto model = std::make_unique<ORU>(prepdata::ProfileFromRows(f.rows, names, prepdata::AllIds(G)),
                                     prepdata::TreeFromParents(f.parent, names), 0, 0, 0, 0.0, 0.0,
                                     0, 1, 0.03, 0.99);
  model->InitMCMC(1.0, 600, 400, 1, 0.5);
  model->PreProcess();
  model->PrepFitnessMatrix("params.txt");
  return model;
}

// The console report of preprocessing is not part of what is measured.
class QuietConsole {
 public:
  QuietConsole() : saved(std::cout.rdbuf(sink.rdbuf())) {}
  ~QuietConsole() { std::cout.rdbuf(saved); }

 private:
  std::ostringstream sink;
  std::streambuf* saved;
};

// Marginal likelihood of a 30-member module on a 138-species tree: 550
// history sweeps of every member and 500 Beta-density sums.
void BM_ModuleMarginalLikelihood(benchmark::State& state) {
  QuietConsole quiet;
  std::mt19937 rng(7);
  Families f;
  f.parent = prepdata::RandomParents(kSpecies, rng);
  std::vector<int> clades = CladesOfSize(f.parent, 40, 70);
  AddFamily(f, clades.empty() ? kSpecies * 2 - 2 : clades[0], 30, 0.08, rng);
  std::unique_ptr<ORU> model = BuildModel(f);
  model->K = 1;
  model->I_f.assign(model->G, 0);
  model->Rebuild_Ik();
  for (auto _ : state) benchmark::DoNotOptimize(model->log_f_Xk(0, 500));
  int gl = 0;
  for (int g = 0; g < model->G; ++g) gl = std::max(gl, model->cl_glinks[g]);
  state.counters["clade_leaves"] = LeafCount(f.parent, gl);
}
BENCHMARK(BM_ModuleMarginalLikelihood)->Unit(benchmark::kMillisecond);

// One sweep of a 300-gene class holding about 20 modules: the members' history
// redraws, then one annealed move per gene.
void BM_ClassSweep(benchmark::State& state) {
  QuietConsole quiet;
  std::mt19937 rng(11);
  Families f;
  f.parent = prepdata::RandomParents(kSpecies, rng);
  std::vector<int> clades = CladesOfSize(f.parent, 20, 90);
  for (int family = 0; family < 20; ++family)
    AddFamily(f, clades[(family * 7) % clades.size()], 15, 0.15, rng);
  std::unique_ptr<ORU> model = BuildModel(f);
  ORU& o = *model;

  // Start from the simulated families, each member kept only when it is
  // compatible with the family's first gene.
  o.K = 0;
  o.I_f.assign(o.G, -1);
  for (int family = 0; family < 20; ++family) {
    int first = family * 15;
    std::vector<int> members;
    for (int g = first; g < first + 15; ++g)
      if (o.Fit()[first][g] && o.Fit()[g][g]) members.push_back(g);
    if (members.size() < 2) continue;
    for (int g : members) o.I_f[g] = o.K;
    o.N_f.push_back(static_cast<int>(members.size()));
    o.buf_log_liks.push_back(std::vector<double>(o.G, -10000.0));
    o.K += 1;
  }
  o.Rebuild_Ik();
  o.gl_prot = o.gl_prots[0];
  o.concluded.assign(o.G, false);
  o.m = 700;
  for (auto _ : state) {
    o.Rebuild_Ik();
    for (int g : o.gl_prot)
      if (o.I_f[g] != -1) o.Update_Tg(g, false);
    for (int g : o.gl_prot) o.Update_Ig(g, o.m);
    o.CleanSingleton();
    o.Rebuild_Ik();
  }
  state.counters["modules"] = o.K;
}
BENCHMARK(BM_ClassSweep)->Unit(benchmark::kMillisecond);

}  // namespace
