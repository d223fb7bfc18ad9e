#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "input/newick.h"

namespace {

using Words = std::vector<std::string>;
using Bits = std::vector<bool>;

// Parses a copy of the text and checks that the parse left it unchanged.
newick_node* Parse(const std::string& text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  newick_node* root = parseTree(buffer.data());
  EXPECT_EQ(std::string(buffer.data(), text.size()), text);
  return root;
}

// The steps of LoadPhyloTree without its console lines and binary check, so
// that trees the run refuses can be examined too.
PhyloTree Build(const std::string& text) {
  newick_node* root = Parse(text);
  EXPECT_NE(root, nullptr) << text;
  PhyloTree tree;
  if (root == nullptr) return tree;
  TravelTree1(root, tree.S);
  const int N = 2 * tree.S - 1;
  TravelTree2(root, tree);
  cur_leaf_id = -1;
  cur_branch_id = -1;
  tree.species_names.assign(tree.S, "");
  tree.distances.assign(N, 0.0);
  tree.dag.assign(N, Bits(N, false));
  TravelTree3(root, tree);
  return tree;
}

std::vector<Bits> Dag(int N, std::vector<std::pair<int, int>> edges) {
  std::vector<Bits> dag(N, Bits(N, false));
  for (const auto& e : edges) dag[e.first][e.second] = true;
  return dag;
}

void ExpectSameTree(const PhyloTree& a, const PhyloTree& b) {
  EXPECT_EQ(a.S, b.S);
  EXPECT_EQ(a.species_names, b.species_names);
  EXPECT_EQ(a.dag, b.dag);
  EXPECT_EQ(a.distances, b.distances);
}

std::string Printed(newick_node* root) {
  testing::internal::CaptureStdout();
  printTree(root);
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

class TreeFiles : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kolve_newick_XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& bytes) {
    const std::string path = dir_ + "/tree" + std::to_string(count_++) + ".nwk";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::string dir_;
  int count_ = 0;
};

TEST(NewickNumbering, TwoLeaves) {
  const PhyloTree t = Build("(A:0.1,B:0.2);");
  EXPECT_EQ(t.S, 2);
  EXPECT_EQ(t.species_names, (Words{"A", "B"}));
  EXPECT_EQ(t.dag, Dag(3, {{2, 0}, {2, 1}}));
  EXPECT_EQ(t.distances, (std::vector<double>{double(0.1f), double(0.2f), 0.0}));
}

TEST(NewickNumbering, InternalNodesInPostOrder) {
  PhyloTree t = Build("((A,B),D);");
  EXPECT_EQ(t.species_names, (Words{"A", "B", "D"}));
  EXPECT_EQ(t.dag, Dag(5, {{3, 0}, {3, 1}, {4, 3}, {4, 2}}));

  t = Build("(A,(B,D));");
  EXPECT_EQ(t.species_names, (Words{"A", "B", "D"}));
  EXPECT_EQ(t.dag, Dag(5, {{3, 1}, {3, 2}, {4, 0}, {4, 3}}));

  t = Build("((A,B),(C,D));");
  EXPECT_EQ(t.dag, Dag(7, {{4, 0}, {4, 1}, {5, 2}, {5, 3}, {6, 4}, {6, 5}}));
}

TEST(NewickNumbering, MultifurcationLeavesTheLastRowsUnused) {
  const PhyloTree t = Build("(A,B,D);");
  EXPECT_EQ(t.S, 3);
  EXPECT_EQ(t.dag, Dag(5, {{3, 0}, {3, 1}, {3, 2}}));
  EXPECT_EQ(t.distances[4], 0.0);
}

TEST(NewickTails, SemicolonAndRootTailAreOptional) {
  ExpectSameTree(Build("(A,B)"), Build("(A,B);"));
  ExpectSameTree(Build("(A,B);\n"), Build("(A,B);"));
  ExpectSameTree(Build("(A,B);(C,(D"), Build("(A,B);"));

  PhyloTree t = Build("(A,B):0.5;");
  EXPECT_EQ(t.distances[2], double(0.5f));
  t = Build("(A,B)R:0.5;");
  EXPECT_EQ(t.distances[2], double(0.5f));
  EXPECT_EQ(std::string(Parse("(A,B)R:0.5;")->taxon), "R");
  EXPECT_EQ(Parse("(A,B);")->taxon, nullptr);
}

TEST(NewickTails, InternalLabelsAndLengths) {
  const PhyloTree t = Build("((A,B)x:0.3,(C,D):1e-1)r:2;");
  EXPECT_EQ(t.distances, (std::vector<double>{0, 0, 0, 0, double(0.3f), double(0.1f), 2.0}));
}

TEST(NewickLabels, LeafLengthsAndNames) {
  PhyloTree t = Build("(A,B:1);");
  EXPECT_EQ(t.distances, (std::vector<double>{0.0, 1.0, 0.0}));

  t = Build("(:0.3,B);");
  EXPECT_EQ(t.species_names, (Words{"", "B"}));
  EXPECT_EQ(t.distances[0], double(0.3f));

  t = Build("(A:x:2,B);");
  EXPECT_EQ(t.species_names, (Words{"A:x", "B"}));
  EXPECT_EQ(t.distances[0], 2.0);

  t = Build("(A,B:junk);");
  EXPECT_EQ(t.distances[1], 0.0);
}

TEST(NewickLabels, BlanksAndLineBreaksBelongToLabels) {
  EXPECT_EQ(Build("(A,\nB);").species_names, (Words{"A", "\nB"}));
  EXPECT_EQ(Build("(A, B);").species_names, (Words{"A", " B"}));
  EXPECT_EQ(Build("(A ,B\t);").species_names, (Words{"A ", "B\t"}));
}

TEST(NewickLabels, TextWithoutAGroupIsOneLeaf) {
  PhyloTree t = Build("solo:0.25");
  EXPECT_EQ(t.S, 1);
  EXPECT_EQ(t.species_names, Words{"solo"});
  EXPECT_EQ(t.distances, std::vector<double>{0.25});
  EXPECT_EQ(t.dag, Dag(1, {}));

  EXPECT_EQ(Build("x(A,B);").species_names, Words{"x(A,B);"});
  EXPECT_EQ(Build("").species_names, Words{""});
  EXPECT_EQ(Build(" A").species_names, Words{" A"});
}

TEST(NewickWhiteSpace, BlanksBeforeAGroupAreSkipped) {
  const PhyloTree plain = Build("(A,(B,C));");
  ExpectSameTree(Build("(A, (B,C));"), plain);
  ExpectSameTree(Build("(A,\n\t(B,C));"), plain);
  ExpectSameTree(Build("\r\n (A,(B,C));"), plain);
  ExpectSameTree(Build("( (A,B),C);"), Build("((A,B),C);"));
}

TEST(NewickWhiteSpace, BlanksAfterTheRootAreIgnored) {
  const PhyloTree plain = Build("(A,B)");
  ExpectSameTree(Build("(A,B)\n"), plain);
  ExpectSameTree(Build("(A,B) \t\r\n"), plain);
  ExpectSameTree(Build("(A,B) ;"), plain);
  EXPECT_EQ(Build("(A,B):0.5\n").distances[2], double(0.5f));
  EXPECT_EQ(Build("(A,B)R:0.5 \n").distances[2], double(0.5f));
}

TEST(NewickMalformed, TextsOutsideTheGrammarAreRefused) {
  for (const char* text : {"(A,B", "(A,B)x", "(A,B)x;", "((A,B);", "(,A)", "(A,,B)", "(A,)", "()", "(A,())",
                           "((A,B)),C);", "(A,B))", "(A,B)):1", "(A(B),C);", "(A,B(C));", "((A,B)x,C);",
                           "((A,B) ,C);", "((A,B)(C,D));", "(A,B):0.5);", "(A,B)\nx;", "(", "(\n"}) {
    EXPECT_EQ(Parse(text), nullptr) << text;
  }
}

TEST(NewickMalformed, OneChildStillParses) {
  newick_node* root = Parse("((A),B);");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->childNum, 2);
  EXPECT_EQ(root->child->node->childNum, 1);
}

TEST(NewickMalformed, DeepNestingIsRefused) {
  const int depth = 10001;
  const std::string text = std::string(depth, '(') + "A,B" + std::string(depth, ')');
  EXPECT_EQ(Parse(text), nullptr);
}

TEST(NewickPrint, WritesTheParsedTreeBack) {
  EXPECT_EQ(Printed(Parse("((A:0.1,B:0.2)x:0.3,D:0.4);")), "((A:0.100000,B:0.200000)x:0.300000,D:0.400000):0.000000");
  EXPECT_EQ(Printed(Parse("(A,B)R:2")), "(A:0.000000,B:0.000000)R:2.000000");
  EXPECT_EQ(Printed(Parse("solo")), "solo:0.000000");
}

TEST_F(TreeFiles, LoadPrintsTheSpeciesCount) {
  const std::string path = Write("((A:1,B:2):3,C:4);\n");
  testing::internal::CaptureStdout();
  const PhyloTree t = LoadPhyloTree(path);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "-----------3\n Done.\nNumber of species: 3.\n\n");
  EXPECT_EQ(t.species_names, (Words{"A", "B", "C"}));
  EXPECT_EQ(t.distances, (std::vector<double>{1, 2, 4, 3, 0}));
  EXPECT_EQ(t.dag, Dag(5, {{3, 0}, {3, 1}, {4, 3}, {4, 2}}));
}

TEST_F(TreeFiles, EveryLoadNumbersFromZero) {
  testing::internal::CaptureStdout();
  const PhyloTree first = LoadPhyloTree(Write("((A,B),C);"));
  const PhyloTree second = LoadPhyloTree(Write("(D,(E,F));"));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(first.dag, Dag(5, {{3, 0}, {3, 1}, {4, 3}, {4, 2}}));
  EXPECT_EQ(second.dag, Dag(5, {{3, 1}, {3, 2}, {4, 0}, {4, 3}}));
  EXPECT_EQ(second.species_names, (Words{"D", "E", "F"}));
}

TEST_F(TreeFiles, EmptyFileIsOneUnnamedLeafAndUnreadableFileEndsTheRun) {
  testing::internal::CaptureStdout();
  const PhyloTree t = LoadPhyloTree(Write(""));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "-----------1\n Done.\nNumber of species: 1.\n\n");
  EXPECT_EQ(t.S, 1);
  EXPECT_EQ(t.species_names, Words{""});
  EXPECT_EQ(t.distances, std::vector<double>{0.0});
  EXPECT_EQ(t.dag, Dag(1, {}));

  for (const std::string& path : {dir_ + "/missing.nwk", dir_})
    EXPECT_EXIT(LoadPhyloTree(path), testing::ExitedWithCode(1),
                testing::Matcher<const std::string&>("Error. Cannot open the species tree file: " +
                                                     path + "\n"));
}

TEST_F(TreeFiles, MalformedTreeEndsTheRun) {
  const std::string open = Write("(A,B");
  EXPECT_EXIT(LoadPhyloTree(open), testing::ExitedWithCode(1),
              testing::Matcher<const std::string&>("Error. Malformed Newick tree in " + open +
                                                   ": the text ends inside a group\n"));
  const std::string label = Write("(A,B)x\n");
  EXPECT_EXIT(LoadPhyloTree(label), testing::ExitedWithCode(1),
              testing::Matcher<const std::string&>("Error. Malformed Newick tree in " + label +
                                                   ": a label after ')' must be followed by ':' and a length\n"));
  EXPECT_EXIT(LoadPhyloTree(Write("(A,,B);")), testing::ExitedWithCode(1), "^Error. Malformed Newick tree in .*: empty child\n$");
  EXPECT_EXIT(LoadPhyloTree(Write("(A,B));")), testing::ExitedWithCode(1), "^Error. Malformed Newick tree in .*: unbalanced parentheses\n$");
}

TEST_F(TreeFiles, NonBinaryTreeEndsTheRunBeforeAnyOutput) {
  EXPECT_EXIT(LoadPhyloTree(Write("(A,B,D);")), testing::ExitedWithCode(255),
              testing::Matcher<const std::string&>("Error. The species tree must be binary: an internal node has 3 children.\n"));
  EXPECT_EXIT(LoadPhyloTree(Write("((A),B);")), testing::ExitedWithCode(255),
              testing::Matcher<const std::string&>("Error. The species tree must be binary: an internal node has 1 child.\n"));
  EXPECT_EXIT(LoadPhyloTree(Write("(A);")), testing::ExitedWithCode(255), "must be binary");
}

TEST(AllocationList, BlocksAreZeroFilledAndReleasable) {
  seqFreeAll();
  char* a = static_cast<char*>(seqMalloc(16));
  char* b = static_cast<char*>(seqMalloc(8));
  char* c = static_cast<char*>(seqMalloc(4));
  char* d = static_cast<char*>(seqMalloc(4));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(a[i], 0);
  // Middle, last, then first record; later blocks must still link after the
  // new last one (the sanitizer build catches a dangling link).
  seqFree(b);
  seqFree(d);
  char* e = static_cast<char*>(seqMalloc(4));
  seqFree(a);
  int not_recorded = 0;
  seqFree(&not_recorded);
  strcpy(c, "ok");
  strcpy(e, "ok");
  EXPECT_STREQ(c, e);
  seqFreeAll();
  seqFree(c);
  seqFreeAll();
}

TEST(AllocationList, InitForgetsEarlierBlocksWithoutReleasingThem) {
  // The forgotten block stays reachable only through the child's memory, so
  // the check runs in a child process that leaves without exit handlers.
  EXPECT_EXIT(
      {
        seqFreeAll();
        char* kept = static_cast<char*>(seqMalloc(8));
        seqMemInit();
        seqFreeAll();
        strcpy(kept, "alive");
        _exit(strcmp(kept, "alive") == 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(AllocationList, InputStringGrowsByWholeSteps) {
  seqFreeAll();
  char* text = nullptr;
  int len = 0;
  int max_len = 0;
  char abc[] = "abc";
  char empty[] = "";
  inputString(abc, &text, &len, &max_len);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(len, 3);
  EXPECT_EQ(max_len, 256);
  inputString(empty, &text, &len, &max_len);
  EXPECT_EQ(len, 3);
  std::string long_text(300, 'x');
  inputString(&long_text[0], &text, &len, &max_len);
  EXPECT_EQ(std::string(text), "abc" + long_text);
  EXPECT_EQ(len, 303);
  EXPECT_EQ(max_len, 512);
  std::string fill(208, 'y');
  inputString(&fill[0], &text, &len, &max_len);
  EXPECT_EQ(len, 511);
  EXPECT_EQ(max_len, 512);
  char one[] = "z";
  inputString(one, &text, &len, &max_len);
  EXPECT_EQ(len, 512);
  EXPECT_EQ(max_len, 768);
  EXPECT_EQ(std::string(text), "abc" + long_text + fill + "z");
  seqFreeAll();
}

}  // namespace
