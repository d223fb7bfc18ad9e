#pragma once

// Species trees and phylogenetic profiles made up for the preprocessing tests
// and benchmark: trees number their leaves in leaf order and their internal
// nodes in post-order, like trees read from Newick text.

#include <random>
#include <string>
#include <vector>

#include "input/newick.h"
#include "input/profile.h"

namespace prepdata {

inline std::vector<std::string> SpeciesNames(int S) {
  std::vector<std::string> names;
  for (int s = 0; s < S; ++s) names.push_back("SP" + std::to_string(s));
  return names;
}

// parent[n] for every node, -1 for the root; leaves are 0..S-1.
inline PhyloTree TreeFromParents(const std::vector<int>& parent,
                                 std::vector<std::string> names = {}) {
  const int N = static_cast<int>(parent.size());
  PhyloTree tree;
  tree.S = (N + 1) / 2;
  tree.species_names = names.empty() ? SpeciesNames(tree.S) : names;
  tree.dag.assign(N, std::vector<bool>(N, false));
  tree.distances.assign(N, 1.0);
  for (int n = 0; n < N; ++n)
    if (parent[n] >= 0) tree.dag[parent[n]][n] = true;
  return tree;
}

inline int BuildRandomClade(int lo, int hi, int& next_internal, std::vector<int>& parent,
                            std::mt19937& rng) {
  if (lo == hi) return lo;
  const int split = std::uniform_int_distribution<int>(lo, hi - 1)(rng);
  const int left = BuildRandomClade(lo, split, next_internal, parent, rng);
  const int right = BuildRandomClade(split + 1, hi, next_internal, parent, rng);
  const int node = next_internal++;
  parent[left] = node;
  parent[right] = node;
  return node;
}

inline std::vector<int> RandomParents(int S, std::mt19937& rng) {
  std::vector<int> parent(2 * S - 1, -1);
  int next_internal = S;
  BuildRandomClade(0, S - 1, next_internal, parent, rng);
  return parent;
}

// Each gene is gained at a random node numbered lowest_gain or above, lost on
// each branch below with probability `loss` and observed with error `error`.
inline std::vector<std::vector<bool>> SimulateRows(const std::vector<int>& parent, int G,
                                                   double loss, double error, std::mt19937& rng,
                                                   int lowest_gain = 0) {
  const int N = static_cast<int>(parent.size());
  const int S = (N + 1) / 2;
  std::uniform_real_distribution<double> unif(0.0, 1.0);
  std::uniform_int_distribution<int> any_node(lowest_gain, N - 1);
  std::vector<std::vector<bool>> rows(G, std::vector<bool>(S, false));
  std::vector<char> state(N);
  for (int g = 0; g < G; ++g) {
    const int gl = any_node(rng);
    std::fill(state.begin(), state.end(), 0);
    state[gl] = 1;
    for (int n = N - 2; n >= 0; --n)
      if (n != gl && state[parent[n]]) state[n] = unif(rng) >= loss;
    for (int s = 0; s < S; ++s) rows[g][s] = (state[s] != 0) != (unif(rng) < error);
  }
  return rows;
}

// One gene set holding the given protein ids.
inline PhyloProf ProfileFromRows(const std::vector<std::vector<bool>>& rows,
                                 const std::vector<std::string>& species,
                                 const std::vector<int>& gene_set) {
  PhyloProf prof;
  prof.Init(static_cast<int>(rows.size()), static_cast<int>(species.size()));
  prof.species_names = species;
  prof.X = rows;
  for (int g = 0; g < prof.G; ++g) {
    prof.protein_entrez.push_back(std::to_string(g + 1));
    prof.protein_names.push_back("GENE" + std::to_string(g + 1));
  }
  prof.C = 1;
  prof.complexes_names = {"SET"};
  prof.proteins_for_complexes = {gene_set};
  prof.complexes_for_proteins.assign(prof.G, std::vector<int>());
  prof.has_complexes.assign(prof.G, false);
  for (int p : gene_set) {
    prof.complexes_for_proteins[p].push_back(0);
    prof.has_complexes[p] = true;
  }
  prof.CG = static_cast<int>(gene_set.size());
  return prof;
}

// Rows written as text, '1' for present.
inline std::vector<std::vector<bool>> RowsFromText(const std::vector<std::string>& text) {
  std::vector<std::vector<bool>> rows;
  for (const std::string& t : text) {
    std::vector<bool> row;
    for (char ch : t) row.push_back(ch == '1');
    rows.push_back(row);
  }
  return rows;
}

inline std::vector<int> AllIds(int G) {
  std::vector<int> ids(G);
  for (int g = 0; g < G; ++g) ids[g] = g;
  return ids;
}

}  // namespace prepdata
