#include <cstdlib>
#include <iostream>

#include "input/utils.h"
#include "model/oru.h"

namespace {

std::string SpeciesKey(const std::string& name) {
  return strutils::ToLowerCase(strutils::trim(name, " \t\n"));
}

[[noreturn]] void RefuseTree() {
  std::cerr << "Error. Every internal node of the species tree must have exactly two children, "
               "numbered below it in post-order."
            << std::endl;
  exit(-1);
}

}  // namespace

void ORU::MatchProfAndTree(PhyloProf& _prof, PhyloTree& _tree) {
  if (_prof.S != _tree.S) {
    std::cerr << "Error. The phylogenetic profile and tree have different number of species. ("
              << _prof.S << ", " << _tree.S << ")" << std::endl;
    exit(-1);
  }
  std::vector<std::string> leaf_keys;
  for (int j = 0; j < S; ++j) leaf_keys.push_back(SpeciesKey(_tree.species_names[j]));

  std::vector<int> map(S, 0);
  bool matched = true;
  for (int i = 0; i < S && matched; ++i) {
    std::string key = SpeciesKey(_prof.species_names[i]);
    matched = false;
    for (int j = 0; j < S; ++j) {
      if (leaf_keys[j] == key) {
        map[j] = i;
        matched = true;
        break;
      }
    }
  }

  if (matched) {
    std::cout << "The species in profile and tree match perfectly. Reorder the species in profile "
                 "matrix by the tree."
              << std::endl
              << std::endl;
    std::vector<std::vector<bool>> rows = _prof.X;
    for (int i = 0; i < S; ++i)
      for (int p = 0; p < GG; ++p) _prof.X[p][i] = rows[p][map[i]];
    _prof.species_names = _tree.species_names;
    return;
  }

  std::cout << std::endl;
  std::cout << "The species in phylogenetic profile and tree cannot be matched literally:" << std::endl;
  std::cout << "The program will use the default mapping in data:" << std::endl;
  for (int i = 0; i < S; ++i)
    std::cout << "(" << _prof.species_names[i] << "\t=  " << _tree.species_names[i] << ")" << std::endl;
  std::cout << std::endl;
}

void ORU::InitPhyloTree(const PhyloTree& tree) {
  if (N < 1) RefuseTree();
  children.assign(N, {{-1, -1}});
  parent.assign(N, -1);
  distances.assign(tree.distances.begin(), tree.distances.end());
  distances.resize(N, 0.0);
  child_index.assign(N, std::vector<int>(N, -1));

  bool binary = (int)tree.dag.size() == N;
  for (int p = 0; p < N && binary; ++p) {
    binary = (int)tree.dag[p].size() == N;
    for (int c = 0; c < N && binary; ++c) {
      if (!tree.dag[p][c]) continue;
      int s = children[p][0] == -1 ? 0 : 1;
      // A third child, a child numbered above its parent or a second parent
      // would not fit the two-slot layout the passes rely on.
      binary = children[p][s] == -1 && c < p && parent[c] == -1;
      if (!binary) break;
      children[p][s] = c;
      parent[c] = p;
    }
  }
  if (!binary) RefuseTree();
  CheckBinaryTree();

  for (int p = 0; p < N; ++p)
    for (int s = 0; s < 2; ++s)
      if (children[p][s] != -1) child_index[p][children[p][s]] = s;

  species_names_tree.clear();
  for (int s = 0; s < S; ++s) species_names_tree.push_back(strutils::replace(tree.species_names[s], "_", " "));
}

void ORU::CheckBinaryTree() const {
  for (int n = 0; n < N; ++n) {
    bool leaf = n < S;
    bool shape_ok = leaf ? children[n][0] == -1 : children[n][1] != -1;
    bool parent_ok = (n == N - 1) == (parent[n] == -1);
    if (!shape_ok || !parent_ok) RefuseTree();
  }
}

void ORU::CountOffsprings() {
  offsps.assign(N, 0);
  offlinks.assign(N, std::vector<int>());
  for (int s = 0; s < S; ++s) offsps[s] = 1;
  for (int n = S; n < N; ++n) {
    for (int c = 0; c < N; ++c) {
      if (parent[c] != n) continue;
      offsps[n] += offsps[c];
      offlinks[n].push_back(c);
      offlinks[n].insert(offlinks[n].end(), offlinks[c].begin(), offlinks[c].end());
    }
    offsps[n] += 1;
  }
}

// Leaves are numbered left to right and internal nodes in post-order, so every
// subtree is one run of leaves plus one run of internal nodes ending at its root.
void ORU::BuildSubtreeRanges() {
  leaf_lo.assign(N, 0);
  leaf_hi.assign(N, 0);
  int_lo.assign(N, 0);
  slot.assign(N, 0);
  for (int n = 0; n < N; ++n) {
    if (n < S) {
      leaf_lo[n] = leaf_hi[n] = n;
      int_lo[n] = n + 1;
    } else {
      int a = children[n][0], b = children[n][1];
      leaf_lo[n] = std::min(leaf_lo[a], leaf_lo[b]);
      leaf_hi[n] = std::max(leaf_hi[a], leaf_hi[b]);
      int_lo[n] = n;
      if (a >= S) int_lo[n] = std::min(int_lo[n], int_lo[a]);
      if (b >= S) int_lo[n] = std::min(int_lo[n], int_lo[b]);
      // The ranges are hulls; they hold exactly the subtree only when the
      // numbering is the loader's (leaves left to right, post-order).
      int leaves = (offsps[n] + 1) / 2;
      if (leaf_hi[n] - leaf_lo[n] + 1 != leaves || n - int_lo[n] + 1 != offsps[n] - leaves) RefuseTree();
    }
    if (parent[n] != -1) slot[n] = child_index[parent[n]][n];
  }
}

std::vector<std::string> ORU::MakeSpeciesNamesString() {
  size_t longest = 0;
  for (const std::string& name : species_names) longest = std::max(longest, name.size());
  std::vector<std::string> lines(longest, std::string(3 * S, ' '));
  for (int s = 0; s < S; ++s) {
    const std::string& name = species_names[s];
    for (size_t i = 0; i < name.size(); ++i) lines[longest - name.size() + i][3 * s] = name[i];
  }
  return lines;
}
