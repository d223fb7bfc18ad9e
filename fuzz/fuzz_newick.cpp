// libFuzzer target: any bytes as Newick text, through the parse, the
// counting, the numbering and the filling of the tree arrays.
#include <cstdint>
#include <cstring>
#include <vector>

#include "input/newick.h"

namespace {

// A tree whose internal nodes all have two or more children numbers every
// node below N = 2S - 1, so the arrays can be filled.
bool EveryGroupBranches(const newick_node* node) {
  if (node->child == nullptr) return true;
  if (node->childNum < 2) return false;
  for (const newick_child* c = node->child; c != nullptr; c = c->next)
    if (!EveryGroupBranches(c->node)) return false;
  return true;
}

bool ChildrenNumberedBelowParents(const PhyloTree& tree) {
  for (size_t p = 0; p < tree.dag.size(); ++p)
    for (size_t c = 0; c < tree.dag[p].size(); ++c)
      if (tree.dag[p][c] && c >= p) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const std::vector<char> original = text;
  newick_node* root = parseTree(text.data());
  if (text != original) __builtin_trap();
  if (root != nullptr && EveryGroupBranches(root)) {
    PhyloTree tree;
    TravelTree1(root, tree.S);
    const int N = 2 * tree.S - 1;
    TravelTree2(root, tree);
    cur_leaf_id = -1;
    cur_branch_id = -1;
    if (root->id > N - 1) __builtin_trap();
    tree.species_names.assign(tree.S, "");
    tree.distances.assign(N, 0.0);
    tree.dag.assign(N, std::vector<bool>(N, false));
    TravelTree3(root, tree);
    if (!ChildrenNumberedBelowParents(tree)) __builtin_trap();
    printTree(root);
  }
  seqFreeAll();
  return 0;
}
