#pragma once

#include <string>
#include <vector>

struct PhyloTree {
  int S = 0;
  std::vector<std::string> species_names;
  std::vector<std::vector<bool>> dag;
  std::vector<double> distances;
};

struct newick_child;

struct newick_node {
  int id;
  char* taxon;
  char* seq;
  float dist;
  int childNum;
  newick_child* child;
  newick_node* parent;
};

struct newick_child {
  newick_node* node;
  newick_child* next;
};

struct seqMem {
  void* pos;
  seqMem* next;
};

// Numbering counters of TravelTree2; -1 between loads.
extern int cur_leaf_id;
extern int cur_branch_id;

PhyloTree LoadPhyloTree(std::string phylo_tree_path);
// Returns null when the text is outside the accepted grammar (the text is
// left unchanged either way).
newick_node* parseTree(char* str);
void TravelTree1(newick_node* root, int& S);
void TravelTree2(newick_node* root, PhyloTree& phylo_tree);
void TravelTree3(newick_node* root, PhyloTree& phylo_tree);
void printTree(newick_node* root);
void seqMemInit();
void* seqMalloc(int size);
void seqFree(void* pos);
void seqFreeAll();
void inputString(char* input, char** ppcStr, int* iLen, int* iMaxLen);
