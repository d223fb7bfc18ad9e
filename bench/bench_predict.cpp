#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <random>
#include <sstream>

#include "bench/bench_access.h"
#include "tests/model_fixtures.h"

namespace {

const int kSpecies = 138;
const int kProteins = 20000;
const int kModules = 10;

// A 20,000-gene profile on a random 138-species tree, every gene gained at
// the common ancestor of its species, and ten five-member module records with
// random loss estimates.
std::unique_ptr<ORU> MakePredictionModel() {
  std::mt19937 gen(77);
  PhyloTree tree = modeldata::RandomTree(kSpecies, gen);
  PhyloProf prof = modeldata::Profile(modeldata::Names(kSpecies), modeldata::RandomRows(kProteins, kSpecies, gen),
                                      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}});
  std::streambuf* console = std::cout.rdbuf();
  std::ostringstream sink;
  std::cout.rdbuf(sink.rdbuf());
  auto o = std::make_unique<ORU>(prof, tree, 0, 0, 0, 0.0, 0.0, 0, 1, 0.03, 0.995);
  std::cout.rdbuf(console);

  ORUTestAccess::glinks(*o).assign(o->GG, 0);
  for (int p = 0; p < o->GG; ++p) ORUTestAccess::glinks(*o)[p] = o->FindGainLink(o->XXRows()[p]);
  o->no_info_protein.assign(o->GG, false);
  std::uniform_real_distribution<double> loss(0.005, 0.3);
  std::uniform_int_distribution<int> protein(0, kProteins - 1);
  for (int k = 0; k < kModules; ++k) {
    Group rec;
    for (int i = 0; i < 5; ++i) rec.proteins.push_back(protein(gen));
    rec.glink = 0;
    for (int p : rec.proteins) rec.glink = std::max(rec.glink, ORUTestAccess::glinks(*o)[p]);
    for (int n = 0; n < o->N; ++n) {
      const double q = loss(gen);
      rec.TM.push_back(TransMatrix{{{1.0, 0.0}, {q, 1.0 - q}}});
    }
    o->groups.push_back(rec);
  }
  return o;
}

void BM_PredictTwentyThousandGenes(benchmark::State& state) {
  std::unique_ptr<ORU> o = MakePredictionModel();
  const std::vector<Group> fresh = o->groups;
  std::streambuf* console = std::cout.rdbuf();
  std::ostringstream sink;
  for (auto _ : state) {
    o->groups = fresh;
    std::cout.rdbuf(sink.rdbuf());
    o->PredictProteins(50, 200);
    std::cout.rdbuf(console);
    sink.str("");
  }
  state.counters["per_module"] = benchmark::Counter(static_cast<double>(state.iterations()) * kModules,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PredictTwentyThousandGenes)->Unit(benchmark::kMillisecond);

}  // namespace
