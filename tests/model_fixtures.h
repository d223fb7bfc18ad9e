#pragma once

// Hand-built trees and profiles for the model tests and benchmark. Trees
// number their leaves left to right and their internal nodes in post-order,
// as the Newick reader does.

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "input/newick.h"
#include "input/profile.h"

namespace modeldata {

inline std::vector<std::string> Names(int S, const std::string& prefix = "sp") {
  std::vector<std::string> names;
  for (int s = 0; s < S; ++s) names.push_back(prefix + std::to_string(s));
  return names;
}

// children[i] = the two children of internal node S + i.
inline PhyloTree TreeFromChildren(int S, const std::vector<std::pair<int, int>>& children,
                                  std::vector<std::string> names = {}) {
  const int N = 2 * S - 1;
  PhyloTree tree;
  tree.S = S;
  tree.species_names = names.empty() ? Names(S) : names;
  tree.dag.assign(N, std::vector<bool>(N, false));
  tree.distances.assign(N, 0.5);
  for (size_t i = 0; i < children.size(); ++i) {
    tree.dag[S + i][children[i].first] = true;
    tree.dag[S + i][children[i].second] = true;
  }
  return tree;
}

// A random binary tree of S leaves.
inline PhyloTree RandomTree(int S, std::mt19937& gen) {
  std::vector<std::pair<int, int>> children;
  int next_internal = S;
  std::function<int(int, int)> build = [&](int lo, int hi) {
    if (lo == hi) return lo;
    int mid = std::uniform_int_distribution<int>(lo, hi - 1)(gen);
    int left = build(lo, mid);
    int right = build(mid + 1, hi);
    children.push_back({left, right});
    return next_internal++;
  };
  build(0, S - 1);
  return TreeFromChildren(S, children);
}

// One gene set holding every row unless sets are given.
inline PhyloProf Profile(const std::vector<std::string>& species,
                         const std::vector<std::vector<bool>>& rows,
                         std::vector<std::vector<int>> sets = {}) {
  PhyloProf prof;
  prof.Init((int)rows.size(), (int)species.size());
  prof.species_names = species;
  prof.X = rows;
  for (size_t p = 0; p < rows.size(); ++p) {
    prof.protein_entrez.push_back("G" + std::to_string(p));
    prof.protein_names.push_back("GENE" + std::to_string(p));
  }
  if (sets.empty()) {
    sets.push_back({});
    for (size_t p = 0; p < rows.size(); ++p) sets[0].push_back((int)p);
  }
  prof.proteins_for_complexes = sets;
  prof.C = (int)sets.size();
  return prof;
}

inline std::vector<std::vector<bool>> RandomRows(int G, int S, std::mt19937& gen, double p = 0.6) {
  std::bernoulli_distribution bit(p);
  std::vector<std::vector<bool>> rows(G, std::vector<bool>(S));
  for (auto& row : rows)
    for (int s = 0; s < S; ++s) row[s] = bit(gen);
  return rows;
}

}  // namespace modeldata
