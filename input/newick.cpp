#include "input/newick.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "input/utils.h"

int cur_leaf_id = -1;
int cur_branch_id = -1;

namespace {

seqMem* start = nullptr;
seqMem* current = nullptr;

// Each level of nesting costs a few stack frames in the parse and in the
// traversals; far deeper than any species tree, far below the stack limit.
const int kMaxDepth = 10000;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool AllBlank(const char* begin, const char* end) {
  for (const char* p = begin; p < end; ++p)
    if (!IsBlank(*p)) return false;
  return true;
}

bool HasBracket(const char* begin, const char* end) {
  for (const char* p = begin; p < end; ++p)
    if (*p == '(' || *p == ')') return true;
  return false;
}

// Editors break lines and put blanks before groups; such white space is not
// part of any label.
char* SkipBlanksBeforeGroup(char* p) {
  char* q = p;
  while (IsBlank(*q)) ++q;
  return *q == '(' ? q : p;
}

char* CopyText(const char* text, size_t len) {
  // A label too long for an int size is reported as exhausted memory.
  const int size = len < static_cast<size_t>(INT_MAX) ? static_cast<int>(len + 1) : -1;
  char* copy = static_cast<char*>(seqMalloc(size));
  memcpy(copy, text, len);
  return copy;
}

float ReadLength(const char* text) { return static_cast<float>(strtod(text, nullptr)); }

newick_node* ParseLeaf(char* str) {
  newick_node* node = static_cast<newick_node*>(seqMalloc(sizeof(newick_node)));
  const char* colon = strrchr(str, ':');
  if (colon == nullptr) {
    node->taxon = CopyText(str, strlen(str));
  } else {
    node->taxon = CopyText(str, colon - str);
    node->dist = ReadLength(colon + 1);
  }
  return node;
}

// Returns the ',' or ')' that ends the child slot starting at `slot`, or null
// when the text ends first.
char* FindSlotEnd(char* slot) {
  char* p = slot;
  if (*p == '(') {
    int depth = 1;
    for (++p; depth > 0; ++p) {
      if (*p == '\0') return nullptr;
      if (*p == '(') ++depth;
      if (*p == ')') --depth;
    }
  }
  while (*p != ',' && *p != ')') {
    if (*p == '\0') return nullptr;
    ++p;
  }
  return p;
}

void AppendChild(newick_node* node, newick_child*& last, newick_node* child) {
  newick_child* cell = static_cast<newick_child*>(seqMalloc(sizeof(newick_child)));
  cell->node = child;
  if (last == nullptr) {
    node->child = cell;
  } else {
    last->next = cell;
  }
  last = cell;
  ++node->childNum;
}

// Reads what follows a group's ')': nothing, ":length", or "label:length";
// the root may end in ';' and, after that, anything.
bool ParseTail(newick_node* node, char* tail, bool root, const char** why) {
  const char* stop = tail + strcspn(tail, ";");
  if (HasBracket(tail, root ? stop : tail + strlen(tail))) {
    *why = "unbalanced parentheses";
    return false;
  }
  if ((root && AllBlank(tail, stop)) || tail == stop) return true;
  if (*tail == ':') {
    node->dist = ReadLength(tail + 1);
    return true;
  }
  const char* colon = static_cast<const char*>(memchr(tail, ':', stop - tail));
  if (colon == nullptr) {
    *why = "a label after ')' must be followed by ':' and a length";
    return false;
  }
  node->taxon = CopyText(tail, colon - tail);
  node->dist = ReadLength(colon + 1);
  return true;
}

newick_node* ParseGroup(char* str, int depth, bool root, const char** why);

// Parses one child slot, cut out of its parent's text by a NUL written over
// the delimiter, which is restored before returning.
newick_node* ParseSlot(char* slot, char* end, int depth, const char** why) {
  const char delim = *end;
  *end = '\0';
  newick_node* child = nullptr;
  if (*slot == '(') {
    child = ParseGroup(slot, depth + 1, false, why);
  } else if (HasBracket(slot, end)) {
    *why = "unbalanced parentheses";
  } else {
    child = ParseLeaf(slot);
  }
  *end = delim;
  return child;
}

newick_node* ParseGroup(char* str, int depth, bool root, const char** why) {
  if (depth >= kMaxDepth) {
    *why = "groups nested too deeply";
    return nullptr;
  }
  newick_node* node = static_cast<newick_node*>(seqMalloc(sizeof(newick_node)));
  newick_child* last = nullptr;
  char* cursor = str + 1;
  for (;;) {
    cursor = SkipBlanksBeforeGroup(cursor);
    char* end = FindSlotEnd(cursor);
    if (end == nullptr) {
      *why = "the text ends inside a group";
      return nullptr;
    }
    if (end == cursor) {
      *why = "empty child";
      return nullptr;
    }
    newick_node* child = ParseSlot(cursor, end, depth, why);
    if (child == nullptr) return nullptr;
    AppendChild(node, last, child);
    cursor = end;
    if (*end == ')') break;
    ++cursor;
  }
  return ParseTail(node, cursor + 1, root, why) ? node : nullptr;
}

newick_node* Parse(char* str, const char** why) {
  char* group = SkipBlanksBeforeGroup(str);
  if (*group != '(') return ParseLeaf(str);
  return ParseGroup(group, 0, true, why);
}

// A tree saved on Windows reads exactly like its LF twin; a lone CR stays.
std::string CrLfAsLf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') out += text[i];
  return out;
}

// Returns the child count of the first internal node that does not have
// exactly two children, or 2 when there is none.
int FirstNonBinaryArity(const newick_node* node) {
  if (node->child == nullptr) return 2;
  if (node->childNum != 2) return node->childNum;
  for (const newick_child* c = node->child; c != nullptr; c = c->next) {
    const int arity = FirstNonBinaryArity(c->node);
    if (arity != 2) return arity;
  }
  return 2;
}

}  // namespace

void seqMemInit() { start = nullptr; }

void* seqMalloc(int size) {
  seqMem* record = static_cast<seqMem*>(calloc(1, sizeof(seqMem)));
  // calloc(0) may return null; a one-byte block keeps null meaning failure.
  void* block = size >= 0 ? calloc(size > 0 ? static_cast<size_t>(size) : 1, 1) : nullptr;
  if (record == nullptr || block == nullptr) {
    std::cerr << "Error. Out of memory while reading the species tree." << std::endl;
    exit(1);
  }
  if (start == nullptr) {
    start = record;
  } else {
    current->next = record;
  }
  current = record;
  record->pos = block;
  return block;
}

void seqFree(void* pos) {
  seqMem* previous = nullptr;
  seqMem* record = start;
  while (record != nullptr && record->pos != pos) {
    previous = record;
    record = record->next;
  }
  if (record == nullptr) return;
  free(record->pos);
  if (record == start) {
    start = record->next;
  } else if (record->next == nullptr) {
    previous->next = nullptr;
    current = previous;
  } else {
    previous->next = record->next;
  }
  free(record);
}

void seqFreeAll() {
  while (start != nullptr) {
    seqMem* next = start->next;
    free(start->pos);
    free(start);
    start = next;
  }
  current = nullptr;
}

void inputString(char* input, char** ppcStr, int* iLen, int* iMaxLen) {
  const int inputLen = static_cast<int>(strlen(input));
  if (inputLen == 0) return;
  while (*iLen + inputLen >= *iMaxLen) *iMaxLen += 256;
  char* text = static_cast<char*>(seqMalloc(*iMaxLen));
  if (*ppcStr != nullptr) {
    memcpy(text, *ppcStr, *iLen);
    memcpy(text + *iLen, input, inputLen);
  } else {
    memcpy(text, input, inputLen);
  }
  *iLen += inputLen;
  if (*ppcStr != nullptr) seqFree(*ppcStr);
  *ppcStr = text;
}

newick_node* parseTree(char* str) {
  const char* why = nullptr;
  return Parse(str, &why);
}

void TravelTree1(newick_node* root, int& S) {
  for (newick_child* c = root->child; c != nullptr; c = c->next) TravelTree1(c->node, S);
  if (root->child == nullptr) ++S;
}

void TravelTree2(newick_node* root, PhyloTree& phylo_tree) {
  for (newick_child* c = root->child; c != nullptr; c = c->next) TravelTree2(c->node, phylo_tree);
  if (root->child == nullptr) {
    root->id = ++cur_leaf_id;
  } else {
    root->id = ++cur_branch_id + phylo_tree.S;
  }
}

void TravelTree3(newick_node* root, PhyloTree& phylo_tree) {
  for (newick_child* c = root->child; c != nullptr; c = c->next) {
    phylo_tree.dag[root->id][c->node->id] = true;
    TravelTree3(c->node, phylo_tree);
  }
  phylo_tree.distances[root->id] = root->dist;
  if (root->id < phylo_tree.S) phylo_tree.species_names[root->id] = root->taxon;
}

void printTree(newick_node* root) {
  if (root->childNum == 0) {
    printf("%s:%0.6f", root->taxon, root->dist);
    return;
  }
  putchar('(');
  for (newick_child* c = root->child; c != nullptr; c = c->next) {
    printTree(c->node);
    if (c->next != nullptr) putchar(',');
  }
  if (root->taxon != nullptr) {
    printf(")%s:%0.6f", root->taxon, root->dist);
  } else {
    printf("):%0.6f", root->dist);
  }
}

PhyloTree LoadPhyloTree(std::string phylo_tree_path) {
  std::string raw;
  if (!fileutils::ReadWholeFile(phylo_tree_path, raw)) {
    std::cerr << "Error. Cannot open the species tree file: " << phylo_tree_path << std::endl;
    exit(1);
  }
  std::string text = CrLfAsLf(raw);
  const char* why = nullptr;
  newick_node* root = Parse(&text[0], &why);
  if (root == nullptr) {
    std::cerr << "Error. Malformed Newick tree in " << phylo_tree_path << ": " << why << std::endl;
    exit(1);
  }
  PhyloTree phylo_tree;
  int S = 0;
  TravelTree1(root, S);
  phylo_tree.S = S;
  const int N = 2 * S - 1;
  TravelTree2(root, phylo_tree);
  // A node with one child, or more than two, would number past N - 1 or
  // leave internal nodes unused; the model relies on neither happening.
  const int arity = FirstNonBinaryArity(root);
  if (arity != 2) {
    std::cerr << "Error. The species tree must be binary: an internal node has " << arity
              << (arity == 1 ? " child." : " children.") << std::endl;
    exit(-1);
  }
  phylo_tree.species_names.assign(S, "");
  phylo_tree.distances.assign(N, 0.0);
  phylo_tree.dag.assign(N, std::vector<bool>(N, false));
  std::cout << "-----------" << S << std::endl;
  TravelTree3(root, phylo_tree);
  std::cout << " Done." << std::endl;
  std::cout << "Number of species: " << S << "." << std::endl;
  std::cout << std::endl;
  cur_leaf_id = -1;
  cur_branch_id = -1;
  return phylo_tree;
}
