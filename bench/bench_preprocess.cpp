#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <random>
#include <sstream>

#include "bench/bench_access.h"
#include "model/oru.h"
#include "tests/prep_random_data.h"

namespace {

// A profile of realistic size: 20,000 genes on 138 species, 300 of them
// clustered.
const int kSpecies = 138;
const int kGenes = 20000;
const int kClustered = 300;

// lowest_gain: genes are gained at nodes numbered from it upward.
std::unique_ptr<ORU> MakeModel(int species, int genes, int lowest_gain) {
  std::mt19937 rng(20240601);
  const std::vector<int> parent = prepdata::RandomParents(species, rng);
  const auto rows = prepdata::SimulateRows(parent, genes, 0.08, 0.01, rng, lowest_gain);
  std::vector<int> gene_set;
  for (int i = 0; i < kClustered; ++i) gene_set.push_back(i * (genes / kClustered));
  const std::vector<std::string> names = prepdata::SpeciesNames(species);
  return std::make_unique<ORU>(prepdata::ProfileFromRows(rows, names, gene_set),
                               prepdata::TreeFromParents(parent, names), 0, 0, 0, 0.0, 0.0, 0,
                               1, 0.03, 0.99);
}

// Gain-node search, 50 background histories per gene, gain-node classes and
// the compatibility matrix of the clustered genes.
void BM_PreprocessRealisticProfile(benchmark::State& state) {
  std::ostringstream sink;
  std::streambuf* console = std::cout.rdbuf(sink.rdbuf());
  std::unique_ptr<ORU> model = MakeModel(kSpecies, kGenes, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    model->PreProcess();
    model->PrepFitnessMatrix("params.txt");
    sink.str("");
  }
  std::cout.rdbuf(console);
  benchmark::DoNotOptimize(model->Fit());
}
// Gains anywhere in the tree, and gains among the 8 top nodes, where the
// background histories cover almost the whole tree.
BENCHMARK(BM_PreprocessRealisticProfile)
    ->Arg(0)
    ->Arg(2 * kSpecies - 1 - 8)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// The gain-node search alone on a large tree: 4,000 species, 2,000 genes
// gained anywhere. Reported per gene.
void BM_GainNodeSearchLargeTree(benchmark::State& state) {
  const int species = static_cast<int>(state.range(0));
  const int genes = 2000;
  std::ostringstream sink;
  std::streambuf* console = std::cout.rdbuf(sink.rdbuf());
  std::unique_ptr<ORU> model = MakeModel(species, genes, 0);
  std::cout.rdbuf(console);
  std::vector<int> gain_nodes;
  for (auto _ : state) {
    ORUTestAccess::GainNodes(*model, gain_nodes);
    benchmark::DoNotOptimize(gain_nodes.data());
  }
  state.SetItemsProcessed(state.iterations() * genes);
}
BENCHMARK(BM_GainNodeSearchLargeTree)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace
