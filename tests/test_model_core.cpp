#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>

#include "model/oru.h"
#include "tests/model_fixtures.h"

struct ORUTestAccess {
  static auto& children(ORU& o) { return o.children; }
  static auto& child_index(ORU& o) { return o.child_index; }
  static auto& offsps(ORU& o) { return o.offsps; }
  static auto& offlinks(ORU& o) { return o.offlinks; }
  static auto& leaf_lo(ORU& o) { return o.leaf_lo; }
  static auto& leaf_hi(ORU& o) { return o.leaf_hi; }
  static auto& int_lo(ORU& o) { return o.int_lo; }
  static auto& slot(ORU& o) { return o.slot; }
  static auto& X(ORU& o) { return o.X; }
  static auto& XX(ORU& o) { return o.XX; }
  static auto& species_names(ORU& o) { return o.species_names; }
  static auto& prof_sum(ORU& o) { return o.prof_sum; }
  static auto& cur_ps(ORU& o) { return o.cur_ps; }
  static auto& is_cur_proteins(ORU& o) { return o.is_cur_proteins; }
  static auto& TM_null(ORU& o) { return o.TM_null; }
  static auto& TM_Int(ORU& o) { return o.TM_Int; }
  static auto& ppm_I_k(ORU& o) { return o.ppm_I_k; }
  static auto& ppm_trace_loglik(ORU& o) { return o.ppm_trace_loglik; }
  static auto& seed(ORU& o) { return o.seed; }
  static double PO(ORU& o) { return o.PO; }
  static double P00(ORU& o) { return o.P00; }
  static bool explore(ORU& o) { return o.explore; }
};
using A = ORUTestAccess;

namespace {

using modeldata::Names;
using modeldata::Profile;
using modeldata::TreeFromChildren;

// ((0,1)3,2)4
PhyloTree SmallTree(std::vector<std::string> names = {}) {
  return TreeFromChildren(3, {{0, 1}, {3, 2}}, names);
}

ORU Build(PhyloProf prof, PhyloTree tree, int c = -1, int seed = 1, double lrate = 0.03,
          double p00 = 0.99) {
  return ORU(prof, tree, c, 0, 0, 0.0, 0.0, 0, seed, lrate, p00);
}

ORU BuildQuiet(PhyloProf prof, PhyloTree tree, int c = -1, int seed = 1) {
  testing::internal::CaptureStdout();
  ORU o = Build(prof, tree, c, seed);
  testing::internal::GetCapturedStdout();
  return o;
}

PhyloProf ThreeGenes() {
  return Profile(Names(3), {{true, false, true}, {false, true, true}, {true, true, false}});
}

}  // namespace

// ---- Tree arrays ----

TEST(TreeArrays, SmallExample) {
  ORU o = BuildQuiet(ThreeGenes(), SmallTree());
  EXPECT_EQ(o.N, 5);
  auto& ch = A::children(o);
  EXPECT_EQ(ch[3][0], 0);
  EXPECT_EQ(ch[3][1], 1);
  EXPECT_EQ(ch[4][0], 2);
  EXPECT_EQ(ch[4][1], 3);
  for (int leaf = 0; leaf < 3; ++leaf) EXPECT_EQ(ch[leaf][0], -1);
  EXPECT_EQ(o.parent, (std::vector<int>{3, 3, 4, 4, -1}));
  EXPECT_EQ(A::child_index(o)[4][2], 0);
  EXPECT_EQ(A::child_index(o)[4][3], 1);
  EXPECT_EQ(A::child_index(o)[3][2], -1);
  EXPECT_EQ(A::offsps(o), (std::vector<int>{1, 1, 1, 3, 5}));
  EXPECT_EQ(A::offlinks(o)[3], (std::vector<int>{0, 1}));
  EXPECT_EQ(A::offlinks(o)[4], (std::vector<int>{2, 3, 0, 1}));
  EXPECT_TRUE(A::offlinks(o)[0].empty());
}

TEST(TreeArrays, SubtreeRangesHoldExactlyTheDescendants) {
  std::mt19937 gen(7);
  for (int S : {1, 2, 3, 5, 17, 60}) {
    PhyloProf prof = Profile(Names(S), modeldata::RandomRows(2, S, gen));
    ORU o = BuildQuiet(prof, modeldata::RandomTree(S, gen));
    for (int n = 0; n < o.N; ++n) {
      std::set<int> expected(A::offlinks(o)[n].begin(), A::offlinks(o)[n].end());
      expected.insert(n);
      std::set<int> ranges;
      for (int s = A::leaf_lo(o)[n]; s <= A::leaf_hi(o)[n]; ++s) ranges.insert(s);
      for (int m = A::int_lo(o)[n]; m <= n; ++m) ranges.insert(m);
      EXPECT_EQ(ranges, expected) << "S=" << S << " node " << n;
      if (o.parent[n] != -1) {
        EXPECT_EQ(A::slot(o)[n], A::child_index(o)[o.parent[n]][n]);
      }
    }
  }
}

TEST(TreeArrays, MultifurcatingTreeIsRefused) {
  PhyloTree tree;  // (A,B,D): root 3 with three children, node 4 unused
  tree.S = 3;
  tree.species_names = Names(3);
  tree.dag.assign(5, std::vector<bool>(5, false));
  tree.distances.assign(5, 0.0);
  tree.dag[3][0] = tree.dag[3][1] = tree.dag[3][2] = true;
  EXPECT_EXIT(Build(ThreeGenes(), tree), testing::ExitedWithCode(255), "exactly two children");
}

TEST(TreeArrays, SpeciesNamesWrittenDownward) {
  ORU o = BuildQuiet(Profile({"ab", "c"}, {{true, true}}), TreeFromChildren(2, {{0, 1}}, {"ab", "c"}));
  std::vector<std::string> lines = o.MakeSpeciesNamesString();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "a     ");
  EXPECT_EQ(lines[1], "b  c  ");
}

// ---- Species matching ----

TEST(Matching, ReorderedAndRecasedSpeciesMatchFully) {
  // Profile columns y, x, z; tree leaves x, y, z.
  PhyloProf prof = Profile({"Y ", "x", "\tZ"}, {{true, false, false}, {false, true, true}});
  testing::internal::CaptureStdout();
  ORU o = Build(prof, SmallTree({"x", "y", "z"}));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "The species in profile and tree match perfectly. Reorder the species in profile matrix by the "
            "tree.\n\n");
  EXPECT_EQ(A::species_names(o), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(A::XX(o)[0], (std::vector<bool>{false, true, false}));
  EXPECT_EQ(A::XX(o)[1], (std::vector<bool>{true, false, true}));
  EXPECT_EQ(o.Prof().species_names, A::species_names(o));
}

TEST(Matching, OneUnmatchedSpeciesKeepsTheFileOrder) {
  PhyloProf prof = Profile({"b", "a", "q"}, {{true, false, false}});
  testing::internal::CaptureStdout();
  ORU o = Build(prof, SmallTree({"a", "b", "c_d"}));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "\nThe species in phylogenetic profile and tree cannot be matched literally:\n"
            "The program will use the default mapping in data:\n"
            "(b\t=  a)\n(a\t=  b)\n(q\t=  c_d)\n\n");
  EXPECT_EQ(A::species_names(o), (std::vector<std::string>{"b", "a", "q"}));
  EXPECT_EQ(A::XX(o)[0], (std::vector<bool>{true, false, false}));
}

TEST(Matching, InnerBlankAndUnderscoreDoNotMatch) {
  testing::internal::CaptureStdout();
  Build(Profile({"a b", "c", "d"}, {{true, true, true}}), SmallTree({"a_b", "c", "d"}));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("cannot be matched"), std::string::npos);
}

TEST(Matching, RepeatedKeyLeavesAnUnclaimedLeafOnColumnZero) {
  // Both "a" columns claim leaf a; leaf c is claimed by nobody and takes column 0.
  PhyloProf prof = Profile({"a", "A", "b"}, {{true, false, false}});
  ORU o = BuildQuiet(prof, SmallTree({"a", "b", "c"}));
  EXPECT_EQ(A::XX(o)[0], (std::vector<bool>{false, false, true}));
}

TEST(Matching, DifferentSpeciesCountsEndTheProcess) {
  PhyloProf prof = ThreeGenes();
  PhyloTree tree = TreeFromChildren(4, {{0, 1}, {4, 2}, {5, 3}});
  EXPECT_EXIT(Build(prof, tree), testing::ExitedWithCode(255),
              "^Error\\. The phylogenetic profile and tree have different number of species\\. \\(3, 4\\)\n$");
}

// ---- Construction ----

TEST(Construction, GeneSelection) {
  std::vector<std::vector<bool>> rows(6, std::vector<bool>(3, true));
  rows[5][1] = false;
  PhyloProf prof = Profile(Names(3), rows, {{5, 2, 2}, {3, 2}});
  struct Case {
    int c;
    std::vector<int> expected;
  } cases[] = {{0, {2, 5}}, {1, {2, 3}}, {-1, {2, 3, 5}}, {2, {2, 3, 5}}, {9, {2, 3, 5}}};
  for (const Case& cs : cases) {
    ORU o = BuildQuiet(prof, SmallTree(), cs.c);
    EXPECT_EQ(o.cur_proteins, cs.expected) << "c=" << cs.c;
    EXPECT_EQ(o.G, (int)cs.expected.size());
    EXPECT_EQ(o.GG, 6);
    for (int g = 0; g < o.G; ++g) {
      EXPECT_EQ(A::X(o)[g], rows[cs.expected[g]]);
      EXPECT_EQ(A::cur_ps(o)[cs.expected[g]], g);
      EXPECT_TRUE(A::is_cur_proteins(o)[cs.expected[g]]);
    }
    EXPECT_EQ(A::cur_ps(o)[0], -1);
  }
  ORU empty = BuildQuiet(Profile(Names(3), rows, {{}}), SmallTree(), 0);
  EXPECT_EQ(empty.G, 0);
}

TEST(Construction, StartingState) {
  ORU o = BuildQuiet(ThreeGenes(), SmallTree(), -1, 1);
  EXPECT_EQ(A::PO(o), 0.99);
  EXPECT_EQ(A::P00(o), 0.99);
  EXPECT_FALSE(A::explore(o));
  EXPECT_EQ(A::prof_sum(o), (std::vector<int>{2, 2, 2}));
  TransMatrix expected = {{{{1.0, 0.0}}, {{0.03, 0.97}}}};
  ASSERT_EQ(A::TM_null(o).size(), 5u);
  for (int n = 0; n < 5; ++n) {
    EXPECT_EQ(A::TM_null(o)[n], expected);
    EXPECT_EQ(A::TM_Int(o)[n], expected);
  }
  EXPECT_EQ(o.ppm_lik, std::vector<double>(5, -10000000.0));
  EXPECT_EQ(A::ppm_I_k(o).size(), 5u);
  EXPECT_EQ(A::ppm_trace_loglik(o).size(), 5u);
  for (int n = 0; n < 5; ++n) EXPECT_TRUE(A::ppm_I_k(o)[n].empty() && A::ppm_trace_loglik(o)[n].empty());
}

// ---- Generator ----

namespace {

std::vector<double> Uniforms(gsl_rng* rng, int n) {
  std::vector<double> v;
  for (int i = 0; i < n; ++i) v.push_back(gsl_rng_uniform(rng));
  return v;
}

}  // namespace

TEST(Generator, SeededMersenneTwisterWithSignWidenedSeed) {
  for (int seed : {0, 1, 42, -1, -7}) {
    ORU o = BuildQuiet(ThreeGenes(), SmallTree(), -1, seed);
    uint64_t widened = (uint64_t)(int64_t)seed;
    EXPECT_EQ(A::seed(o), widened);
    gsl_rng* ref = gsl_rng_alloc(gsl_rng_mt19937);
    gsl_rng_set(ref, widened);
    EXPECT_STREQ(gsl_rng_name(o.RNG), "mt19937");
    EXPECT_EQ(Uniforms(o.RNG, 5), Uniforms(ref, 5)) << seed;
    gsl_rng_free(ref);
  }
  EXPECT_EQ(A::seed(*std::make_unique<ORU>(BuildQuiet(ThreeGenes(), SmallTree(), -1, -1))),
            18446744073709551615ULL);
}

TEST(Generator, CopyDrawsWhatTheSourceWouldDrawAfterTheSourceIsGone) {
  auto source = std::make_unique<ORU>(BuildQuiet(ThreeGenes(), SmallTree(), -1, 5));
  Uniforms(source->RNG, 3);
  ORU copy(*source);
  std::vector<double> from_source = Uniforms(source->RNG, 4);
  source.reset();
  EXPECT_EQ(Uniforms(copy.RNG, 4), from_source);
  EXPECT_EQ(copy.cur_proteins, (std::vector<int>{0, 1, 2}));
}

// ---- Signatures and membership ----

TEST(Membership, GroupSignatureAndRebuild) {
  std::vector<std::vector<bool>> rows(121, std::vector<bool>(3, true));
  ORU o = BuildQuiet(Profile(Names(3), rows, {{3, 17, 120, 9}}), SmallTree(), 0);
  ASSERT_EQ(o.cur_proteins, (std::vector<int>{3, 9, 17, 120}));
  o.I_k = {{0, 2, 3}, {1}, {}};
  EXPECT_EQ(o.GetGroupSig(0), "3, 17, 120");
  EXPECT_EQ(o.GetGroupSig(1), "9");
  o.I_k = {{2}, {0}};
  o.K = 5;  // the module count comes from I_k, not K
  o.Rebuild_If();
  EXPECT_EQ(o.I_f, (std::vector<int>{1, -1, 0, -1}));
}
