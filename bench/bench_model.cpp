#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <random>
#include <sstream>

#include "bench/bench_access.h"
#include "tests/model_fixtures.h"

namespace {

const int kSpecies = 138;
const int kGenes = 64;

// A model on a random 138-species tree with random rows and background
// losses; every gene is gained at the root, compatible with every other and
// has a random history. Modules hold genes 0-7 and 8-15.
std::unique_ptr<ORU> MakeModel() {
  std::mt19937 gen(2024);
  PhyloTree tree = modeldata::RandomTree(kSpecies, gen);
  PhyloProf prof = modeldata::Profile(modeldata::Names(kSpecies), modeldata::RandomRows(kGenes, kSpecies, gen));
  std::streambuf* console = std::cout.rdbuf();
  std::ostringstream sink;
  std::cout.rdbuf(sink.rdbuf());
  auto o = std::make_unique<ORU>(prof, tree, -1, 0, 0, 0.0, 0.0, 0, 1, 0.03, 0.97);
  std::cout.rdbuf(console);

  std::uniform_real_distribution<double> loss(0.005, 0.2);
  for (int n = 0; n < o->N - 1; ++n) {
    double q = loss(gen);
    ORUTestAccess::TM_null(*o)[n] = {{{{1.0, 0.0}}, {{q, 1 - q}}}};
  }
  ORUTestAccess::RefreshLogTmNull(*o);
  ORUTestAccess::glinks(*o).assign(o->GG, o->N - 1);
  o->cl_glinks.assign(o->G, o->N - 1);
  ORUTestAccess::fit(*o).assign(o->G, std::vector<bool>(o->G, true));
  std::bernoulli_distribution bit(0.7);
  o->Tg.assign(o->G, std::vector<char>(o->N, 1));
  for (auto& h : o->Tg)
    for (int n = 0; n < o->N - 1; ++n) h[n] = bit(gen);
  ORUTestAccess::Tgg(*o) = o->Tg;
  o->I_k = {{0, 1, 2, 3, 4, 5, 6, 7}, {8, 9, 10, 11, 12, 13, 14, 15}};
  o->K = 2;
  o->Rebuild_If();
  return o;
}

ORU& Model() {
  static std::unique_ptr<ORU> model = MakeModel();
  return *model;
}

// Time per node of the gain subtree (the whole tree here).
void PerNode(benchmark::State& state, long nodes_per_iteration) {
  state.counters["per_node"] = benchmark::Counter((double)state.iterations() * nodes_per_iteration,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PruningSingleton(benchmark::State& state) {
  ORU& o = Model();
  int g = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(o.CalcSglLogLik(g));
    g = (g + 1) % o.G;
  }
  PerNode(state, o.N);
}
BENCHMARK(BM_PruningSingleton);

void BM_PruningGainSearch(benchmark::State& state) {
  ORU& o = Model();
  int p = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(o.log_f_Xg_null_gl(p, o.N - 1));
    p = (p + 1) % o.GG;
  }
  PerNode(state, o.N);
}
BENCHMARK(BM_PruningGainSearch);

// Module of range(0) members (genes 16 onwards), scored for every gene;
// range(1) set: inside a sweep, from the kept module counts.
void BM_PruningModule(benchmark::State& state) {
  ORU& o = Model();
  std::vector<int> members;
  for (int g = 16; g < 16 + state.range(0); ++g) members.push_back(g);
  o.I_k.push_back(members);
  if (state.range(1)) o.BeginSweepCounts();
  int k = (int)o.I_k.size() - 1;
  int g = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(o.log_f_Xg(g, k));
    g = (g + 1) % o.G;
  }
  o.EndSweepCounts();
  o.I_k.pop_back();
  PerNode(state, o.N);
}
BENCHMARK(BM_PruningModule)->ArgsProduct({{1, 3, 8, 20}, {0, 1}});

void BM_PruningCallerLosses(benchmark::State& state) {
  ORU& o = Model();
  std::vector<double> l(o.N, 0.04);
  int g = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(o.log_f_Xg(g, l));
    g = (g + 1) % o.G;
  }
  PerNode(state, o.N);
}
BENCHMARK(BM_PruningCallerLosses);

// As above with new losses at every call (their logs cannot be reused).
void BM_PruningFreshCallerLosses(benchmark::State& state) {
  ORU& o = Model();
  std::vector<double> l[2] = {std::vector<double>(o.N, 0.04), std::vector<double>(o.N, 0.05)};
  int g = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(o.log_f_Xg(g, l[g % 2]));
    g = (g + 1) % o.G;
  }
  PerNode(state, o.N);
}
BENCHMARK(BM_PruningFreshCallerLosses);

void BM_HistoryBackground(benchmark::State& state) {
  ORU& o = Model();
  int g = 16;
  for (auto _ : state) {
    o.Update_Tg_null(g);
    g = 16 + (g + 1 - 16) % (o.G - 16);
  }
  PerNode(state, o.N);
}
BENCHMARK(BM_HistoryBackground);

// range(0) set: inside a sweep, from the kept module counts.
void BM_HistoryModule(benchmark::State& state) {
  ORU& o = Model();
  if (state.range(0)) o.BeginSweepCounts();
  int g = 0;
  for (auto _ : state) {
    o.Update_Tg(g, false);
    g = (g + 1) % 16;
  }
  o.EndSweepCounts();
  PerNode(state, o.N);
}
BENCHMARK(BM_HistoryModule)->Arg(0)->Arg(1);

// Fifty background histories from one filtering pass, per history and node.
void BM_HistoryNullBatch(benchmark::State& state) {
  ORU& o = Model();
  std::vector<char> out;
  int p = 0;
  for (auto _ : state) {
    ORUTestAccess::SampleNullHistories(o, p, PREP_MM, out);
    benchmark::DoNotOptimize(out.data());
    p = (p + 1) % o.GG;
  }
  PerNode(state, (long)o.N * PREP_MM);
}
BENCHMARK(BM_HistoryNullBatch);

}  // namespace
