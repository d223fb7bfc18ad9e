// The multi-tree functions on small hand-made models: tree draws, tree means
// that must survive scores thousands of nats apart, the joint chain's seeding
// and bookkeeping, the combination over trees and the tree-weighted prediction.
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "app/orut.h"
#include "app/run.h"
#include "prep_random_data.h"

namespace {

using prepdata::RowsFromText;

// ((0,1)8,(2,3)9)10 and ((4,5)11,(6,7)12)13 under the root 14.
const std::vector<int> kParents = {8, 8, 9, 9, 11, 11, 12, 12, 10, 10, 14, 13, 13, 14, -1};
const int kSeed = 7;

// Genes 0-3 and 4-7 are two groups of identical profiles under different gain
// nodes (seed modules); gene 8 is present in two species only, so it carries
// no loss information; genes 10, 11 and 13 are informative. Proteins 16 and
// 17, outside the gene set, repeat the two groups' profiles.
std::vector<std::string> RowsText() {
  return {"11010000", "11010000", "11010000", "11010000", "00001101", "00001101",
          "00001101", "00001101", "11000000", "10110000", "01011000", "00001011",
          "11011011", "10011101", "01101110", "11101001", "11010000", "00001101"};
}

PhyloProf Profile(const std::vector<std::string>& rows) {
  std::vector<std::vector<bool>> X = RowsFromText(rows);
  return prepdata::ProfileFromRows(X, prepdata::SpeciesNames(8), prepdata::AllIds(16));
}

ORU Model(const PhyloProf& prof, int same_gl, int burn = 4, int mcmc = 6,
          std::vector<std::string> leaf_names = {}) {
  PhyloTree tree = prepdata::TreeFromParents(kParents, leaf_names);
  ORU o(prof, tree, 0, 0, 0, 0.0, 10.0, same_gl, kSeed, 0.03, 0.99);
  o.InitMCMC(1.0, burn, mcmc, 1, 1.0);
  o.PreProcess();
  o.PrepFitnessMatrix("");
  return o;
}

std::vector<ORU> Models(int T, int same_gl = 0, int burn = 4, int mcmc = 6) {
  testing::internal::CaptureStdout();
  std::vector<ORU> orut;
  orut.reserve(T);
  for (int t = 0; t < T; ++t) orut.push_back(Model(Profile(RowsText()), same_gl, burn, mcmc));
  testing::internal::GetCapturedStdout();
  return orut;
}

struct Best {
  std::vector<std::vector<int>> I_k;
  int id = 0;
  std::vector<double> trees;
  double marlik = -10000000.0;
  explicit Best(int T) : trees(T, -10000000.0) {}
};

// One try of the joint chain as the driver runs it; returns the console text.
std::string RunTry(std::vector<ORU>& orut, Best& best, int try_id) {
  testing::internal::CaptureStdout();
  for (ORU& o : orut) o.InitMCMC(1.0, o.num_burn, o.num_mcmc, 1, 1.0);
  ClusterProteinInComplexTree(try_id, orut, best.I_k, best.id, best.trees, best.marlik);
  for (ORU& o : orut) o.GetPosteriorMode();
  return testing::internal::GetCapturedStdout();
}

int ModuleOf(const ORU& o, int g) { return o.I_f[g]; }

// I_k, I_f, K and N_f describe one partition with no empty module.
void ExpectConsistent(const ORU& o) {
  ASSERT_EQ(static_cast<int>(o.I_k.size()), o.K);
  ASSERT_EQ(static_cast<int>(o.N_f.size()), o.K);
  for (int g = 0; g < o.G; ++g) EXPECT_LT(o.I_f[g], o.K);
  for (int k = 0; k < o.K; ++k) {
    EXPECT_FALSE(o.I_k[k].empty());
    EXPECT_EQ(o.N_f[k], static_cast<int>(o.I_k[k].size()));
    for (int g : o.I_k[k]) EXPECT_EQ(o.I_f[g], k);
  }
}

}  // namespace

// ---- Small numeric helpers ----

TEST(LogFactorial, SmallValues) {
  EXPECT_EQ(logfactorial(0), 0.0);
  EXPECT_EQ(logfactorial(1), 0.0);
  EXPECT_DOUBLE_EQ(logfactorial(2), std::log(2.0));
  EXPECT_NEAR(logfactorial(5), std::log(120.0), 1e-12);
}

TEST(LogMeanExp, MatchesTheWrittenFormulaWhereFinite) {
  std::vector<double> x = {-3.2, -1.1, -7.5};
  double mn = -7.5;
  double sum = std::exp(x[0] - mn) + std::exp(x[1] - mn) + std::exp(x[2] - mn);
  EXPECT_EQ(LogMeanExp(x, mn), std::log((1.0 / 3) * sum) + mn);
  double plain = std::exp(x[0]) + std::exp(x[1]) + std::exp(x[2]);
  EXPECT_EQ(LogMeanExp(x, 0.0, MeanBy::kDivision), std::log(plain / 3));
  EXPECT_EQ(LogMeanExp(x), std::log((1.0 / 3) * plain));
}

TEST(LogMeanExp, TwoTreesAreTheLogOfTheMeanLikelihood) {
  double a = -12.5, b = -14.0;
  EXPECT_DOUBLE_EQ(LogMeanExp({a, b}), std::log((std::exp(a) + std::exp(b)) / 2));
}

TEST(LogMeanExp, ThousandsOfNatsApartStayFinite) {
  // The written shift (the smaller of 0 and the smallest value) overflows here.
  EXPECT_NEAR(LogMeanExp({-5000.0, -1000.0}, -5000.0), -1000.0 + std::log(0.5), 1e-9);
  // Every likelihood underflows without a shift.
  EXPECT_NEAR(LogMeanExp({-2000.0, -2001.0}), -2000.0 + std::log((1 + std::exp(-1.0)) / 2), 1e-9);
  EXPECT_NEAR(LogMeanExp({-2000.0, -2001.0}, 0.0, MeanBy::kDivision),
              -2000.0 + std::log((1 + std::exp(-1.0)) / 2), 1e-9);
  // And overflows the other way.
  EXPECT_NEAR(LogMeanExp({800.0, 790.0}), 800.0 + std::log((1 + std::exp(-10.0)) / 2), 1e-9);
}

TEST(SumShiftedExp, HugeWeightsAreRescaled) {
  ExpSum s = SumShiftedExp({-10.0, -12.0}, -10.0, {0.0, 5000.0});
  ASSERT_TRUE(std::isfinite(s.total));
  EXPECT_NEAR(std::log(s.total) + s.shift, 4988.0, 1e-9);
  ExpSum plain = SumShiftedExp({-10.0, -12.0}, -10.0, {0.0, 1.0});
  EXPECT_EQ(plain.shift, -10.0);
  EXPECT_EQ(plain.total, std::exp(0.0) * std::exp(0.0) + std::exp(-2.0) * std::exp(1.0));
}

TEST(PerTreeName, ReplacesOnlyAFinalEnding) {
  EXPECT_EQ(PerTreeName("prof.txt", ".txt", 0), "prof_0.txt");
  EXPECT_EQ(PerTreeName("tree.nwk", ".nwk", 2), "tree_2.nwk");
  EXPECT_EQ(PerTreeName("./data/prof.txt", ".txt", 1), "./data/prof_1.txt");
  EXPECT_EQ(PerTreeName("data/prof", ".txt", 2), "data/prof_2.txt");
  EXPECT_EQ(PerTreeName("prof.txt.bak", ".txt", 1), "prof.txt.bak_1.txt");
  EXPECT_EQ(PerTreeName("tree.nwk", ".txt", 0), "tree.nwk_0.txt");
  EXPECT_EQ(PerTreeName("params.txt", ".txt", 12), "params_12.txt");
}

// ---- Tree draw ----

class SampleTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { orut = Models(3); }
  std::vector<ORU> orut;
};

TEST_F(SampleTreeTest, EqualWeightsDrawUniformlyFromTheCurrentTree) {
  std::vector<double> zeros(3, 0.0);
  std::vector<int> counts(3, 0);
  for (int i = 0; i < 3000; ++i) counts[SampleTree(orut, 0, zeros)] += 1;
  for (int c : counts) {
    EXPECT_GT(c, 850);
    EXPECT_LT(c, 1150);
  }
  // Only the current tree's generator moved: trees 1 and 2 still agree.
  EXPECT_EQ(gsl_rng_uniform(orut[1].RNG), gsl_rng_uniform(orut[2].RNG));
}

TEST_F(SampleTreeTest, ZeroSumKeepsTheTreeAndDrawsNothing) {
  std::vector<double> tiny = {-1000.0, -1000.0, -1000.0};
  testing::internal::CaptureStdout();
  EXPECT_EQ(SampleTree(orut, 2, tiny), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "sum: 0!!!\n");
  EXPECT_EQ(gsl_rng_uniform(orut[2].RNG), gsl_rng_uniform(orut[0].RNG));
}

TEST_F(SampleTreeTest, WeightsBeyondTheDoubleRangeKeepTheirProportions) {
  std::vector<double> logpp = {0.0, 4000.0, 10.0};
  for (int i = 0; i < 50; ++i) EXPECT_EQ(SampleTree(orut, 0, logpp), 1);
}

TEST_F(SampleTreeTest, NoRunningSumReachingTheDrawTakesTheLastTree) {
  std::vector<double> logpp(3, std::nan(""));
  EXPECT_EQ(SampleTree(orut, 0, logpp), 2);
}

// ---- Joint chain ----

TEST(JointChain, SeedModulesOfSeveralClassesAreNumberedOn) {
  std::vector<ORU> orut = Models(2, 1);
  ASSERT_NE(orut[0].cl_glinks[0], orut[0].cl_glinks[4]);
  Best best(2);
  std::string out = RunTry(orut, best, 0);
  // cgl is 0 before the first chain and N after a completed one.
  EXPECT_NE(out.find("Tree 0, Chain 0, GL   0:  | \xEF\xBC\x8C Initial K:2\n"), std::string::npos);
  EXPECT_NE(out.find("Tree 1, Chain 0, GL   0:  | \xEF\xBC\x8C Initial K:2\n"), std::string::npos);
  for (const ORU& o : orut) {
    ExpectConsistent(o);
    for (int g = 0; g < 8; ++g) EXPECT_TRUE(o.concluded[g]);
    for (int g = 1; g < 4; ++g) EXPECT_EQ(ModuleOf(o, g), ModuleOf(o, 0));
    for (int g = 5; g < 8; ++g) EXPECT_EQ(ModuleOf(o, g), ModuleOf(o, 4));
    EXPECT_NE(ModuleOf(o, 0), ModuleOf(o, 4));
    EXPECT_GE(ModuleOf(o, 0), 0);
  }
  out = RunTry(orut, best, 1);
  EXPECT_NE(out.find("Tree 0, Chain 1, GL  15:  | "), std::string::npos);
}

TEST(JointChain, EveryTreeEndsWithTheCurrentPartition) {
  std::vector<ORU> orut = Models(3);
  Best best(3);
  std::string out = RunTry(orut, best, 0);
  EXPECT_NE(out.find("Tree 2, Chain 0:  | \xEF\xBC\x8C Initial K:2\n"), std::string::npos);
  EXPECT_NE(out.find("MCMC starting, tree: "), std::string::npos);
  for (const ORU& o : orut) {
    ExpectConsistent(o);
    EXPECT_EQ(o.I_k, orut[0].I_k);
    EXPECT_EQ(o.N_f, orut[0].N_f);
    EXPECT_EQ(o.m, 9);
  }
  // Identical trees score every partition alike.
  EXPECT_EQ(best.trees[0], best.trees[1]);
  EXPECT_EQ(best.trees[0], best.trees[2]);
  double log_fact = 0;
  for (const std::vector<int>& members : best.I_k) log_fact += logfactorial(members.size());
  EXPECT_NEAR(best.marlik, best.trees[0] + log_fact, 1e-9);
}

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    orut = Models(2, 0, 4, 6);
    // Tree 0 holds one module of genes 0-3.
    ORU& o = orut[0];
    o.K = 1;
    o.I_f.assign(o.G, -1);
    for (int g = 0; g < 4; ++g) o.I_f[g] = 0;
    o.N_f = {4};
    o.buf_log_liks.assign(1, std::vector<double>(o.G, -10000.0));
    o.N_n = o.G - 4;
    o.Rebuild_Ik();
  }
  void Monitor(int m) {
    for (ORU& o : orut) o.m = m;
    testing::internal::CaptureStdout();
    MonitorChainTree(orut, best.I_k, best.id, best.marlik, 0, logpp, best.trees);
    out = testing::internal::GetCapturedStdout();
  }
  std::vector<ORU> orut;
  Best best{2};
  std::vector<double> logpp;
  std::string out;
};

TEST_F(MonitorTest, ImposesScoresAndKeepsOnlyStrictlyBetterAfterBurnIn) {
  Monitor(4);  // m == num_burn: still burn-in
  EXPECT_EQ(best.marlik, -10000000.0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(orut[1].I_k, orut[0].I_k);
  EXPECT_EQ(orut[1].K, 1);
  EXPECT_EQ(orut[1].N_n, orut[0].N_n);
  ASSERT_EQ(logpp.size(), 2u);
  EXPECT_EQ(logpp[0], 0.0);
  EXPECT_EQ(logpp[1], 0.0);

  Monitor(5);
  ASSERT_NE(best.marlik, -10000000.0);
  EXPECT_NE(out.find("!!!! Maxlik updated. From -10000000"), std::string::npos);
  EXPECT_EQ(best.I_k, orut[0].I_k);
  EXPECT_EQ(best.trees[0], best.trees[1]);
  EXPECT_NEAR(best.marlik, best.trees[0] + std::log(24.0), 1e-9);
  // The other tree's mean module count takes K / num_mcmc once per step.
  EXPECT_DOUBLE_EQ(orut[1].mean_K, 1.0 / 6);

  best.id = 1;
  Monitor(6);  // the same score again: no replacement
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(best.id, 1);
}

TEST(LeaveModuleWithoutInfo, LeavesLikeTheSingletonCleanUp) {
  std::vector<ORU> orut = Models(1);
  ORU& o = orut[0];
  ASSERT_TRUE(o.no_info_protein[o.cur_proteins[8]]);
  ASSERT_FALSE(o.no_info_protein[o.cur_proteins[10]]);
  auto setup = [&](std::vector<int> I_f) {
    o.I_f = I_f;
    o.K = 2;
    o.N_f = {static_cast<int>(std::count(I_f.begin(), I_f.end(), 0)),
             static_cast<int>(std::count(I_f.begin(), I_f.end(), 1))};
    o.buf_log_liks = {std::vector<double>(o.G, 0.5), std::vector<double>(o.G, 1.5)};
    o.N_n = o.G - o.N_f[0] - o.N_f[1];
    o.Rebuild_Ik();
  };
  std::vector<int> I_f(o.G, -1);
  I_f[8] = 0;
  I_f[10] = 0;
  I_f[11] = 1;
  I_f[13] = 1;
  setup(I_f);
  o.Tg[8].assign(o.N, 1);
  LeaveModuleWithoutInfo(o, 10);  // informative: stays
  EXPECT_EQ(o.I_f[10], 0);
  LeaveModuleWithoutInfo(o, 8);
  EXPECT_EQ(o.I_f[8], -1);
  EXPECT_EQ(o.I_k[0], std::vector<int>({10}));
  EXPECT_EQ(o.N_f, std::vector<int>({1, 2}));
  EXPECT_EQ(o.N_n, o.G - 3);
  EXPECT_EQ(o.Tg[8], std::vector<char>(o.N, 1));

  // Alone in its module: the module goes and the later one moves down.
  I_f[10] = -1;
  setup(I_f);
  LeaveModuleWithoutInfo(o, 8);
  EXPECT_EQ(o.K, 1);
  EXPECT_EQ(o.I_k, std::vector<std::vector<int>>({{11, 13}}));
  EXPECT_EQ(o.N_f, std::vector<int>({2}));
  EXPECT_EQ(o.I_f[11], 0);
  EXPECT_EQ(o.I_f[13], 0);
  ASSERT_EQ(o.buf_log_liks.size(), 1u);
  EXPECT_EQ(o.buf_log_liks[0][0], 1.5);
  EXPECT_EQ(o.N_n, o.G - 2);
}

// ---- Consistency of the per-tree models ----

// Two models, the second built from a changed profile or tree.
std::string MismatchWith(const PhyloProf& second, std::vector<std::string> leaf_names = {}) {
  testing::internal::CaptureStdout();
  std::vector<ORU> orut;
  orut.reserve(2);
  orut.push_back(Model(Profile(RowsText()), 0));
  orut.push_back(Model(second, 0, 4, 6, leaf_names));
  testing::internal::GetCapturedStdout();
  return FindModelMismatch(orut);
}

TEST(FindModelMismatch, AcceptsTheSameGenesAndSpecies) {
  EXPECT_EQ(FindModelMismatch(Models(3)), "");
  // Leaves in another order on the other tree are still the same species.
  std::vector<std::string> names = prepdata::SpeciesNames(8);
  std::reverse(names.begin(), names.end());
  PhyloProf prof = Profile(RowsText());
  prof.species_names = names;
  EXPECT_EQ(MismatchWith(prof, names), "");
}

TEST(FindModelMismatch, RefusesOtherGenesOrSpecies) {
  PhyloProf swapped = Profile(RowsText());
  std::swap(swapped.protein_entrez[9], swapped.protein_entrez[10]);
  EXPECT_EQ(MismatchWith(swapped),
            "The profiles of tree 0 and tree 1 do not hold the same genes in the same order");

  PhyloProf fewer = Profile(RowsText());
  fewer.proteins_for_complexes[0].pop_back();
  EXPECT_NE(MismatchWith(fewer).find("same genes"), std::string::npos);

  std::vector<std::string> names = prepdata::SpeciesNames(8);
  names[3] = "OTHER";
  PhyloProf renamed = Profile(RowsText());
  renamed.species_names = names;
  EXPECT_EQ(MismatchWith(renamed, names),
            "The profiles of tree 0 and tree 1 do not have the same species");
}

// ---- Combination and prediction ----

class CombineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    orut = Models(2);
    RunTry(orut, best, 0);
    ASSERT_FALSE(best.I_k.empty());
    for (size_t k = 0; k < best.I_k.size(); ++k) sigs.push_back(orut[0].GetGroupSig(k));
  }
  std::string PostProcess() {
    testing::internal::CaptureStdout();
    PostProcessTree(orut, best.I_k, best.id, best.trees);
    return testing::internal::GetCapturedStdout();
  }
  std::vector<ORU> orut;
  Best best{2};
  std::vector<std::string> sigs;
};

TEST_F(CombineTest, IdenticalTreesKeepTheirOwnLikelihoods) {
  std::vector<double> own_ml;
  for (const std::string& sig : sigs) own_ml.push_back(orut[0].mar_log_lik.at(sig));
  std::vector<double> own_null = orut[0].log_liks_null;
  std::string out = PostProcess();
  EXPECT_NE(out.find("G: 16\n"), std::string::npos);
  EXPECT_NE(out.find("K size:" + std::to_string(best.I_k.size()) + "\n"), std::string::npos);
  for (const ORU& o : orut) {
    ASSERT_EQ(o.mar_log_lik.size(), sigs.size());
    for (size_t k = 0; k < sigs.size(); ++k)
      EXPECT_NEAR(o.mar_log_lik.at(sigs[k]), own_ml[k], 1e-9);
    for (int g = 0; g < o.G; ++g) EXPECT_NEAR(o.log_liks_null[g], own_null[g], 1e-9);
    EXPECT_EQ(o.I_f, orut[0].I_f);
    EXPECT_EQ(o.groups.size(), static_cast<size_t>(o.K));
    for (int g = 0; g < o.G; ++g) EXPECT_GE(o.I_f[g], 0);
  }
}

TEST_F(CombineTest, LikelihoodsThousandsOfNatsApartAverageWithoutOverflow) {
  const std::string& sig = sigs[0];
  orut[0].mar_log_lik[sig] = -2000.0;
  orut[1].mar_log_lik[sig] = -5000.0;
  orut[1].log_liks_null[9] = orut[0].log_liks_null[9] - 3000.0;
  double null9 = orut[0].log_liks_null[9];
  best.trees = {-8000.0, -100.0};
  std::string out = PostProcess();
  for (const ORU& o : orut) {
    EXPECT_NEAR(o.mar_log_lik.at(sig), -2000.0 + std::log(0.5), 1e-9);
    EXPECT_NEAR(o.log_liks_null[9], null9 + std::log(0.5), 1e-9);
    for (const Group& gr : o.groups) EXPECT_TRUE(std::isfinite(gr.strength));
  }
  double log_fact = 0;
  for (const std::vector<int>& members : best.I_k) log_fact += logfactorial(members.size());
  size_t at = out.find("PPM: ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(std::stod(out.substr(at + 5)), -100.0 + std::log(0.5) + log_fact, 1e-3);
}

// Each tree offers its own partition; the one with the best tree-averaged
// score wins and every model ends holding it with tree-mean marginals.
TEST(CombineOwnPartitions, TheBestCandidateWinsAndIsImposedEverywhere) {
  std::vector<ORU> orut = Models(2);
  const std::vector<std::vector<int>> seeds = {{0, 1, 2, 3}, {4, 5, 6, 7}};
  const std::vector<std::vector<int>> split = {{0, 1}, {2, 3}, {4, 5, 6, 7}};
  orut[0].I_k = split;
  orut[1].I_k = seeds;
  std::vector<std::vector<int>> max_I_k;
  std::vector<double> trees;
  double max_marlik = -10000000.0;
  testing::internal::CaptureStdout();
  int id = combineORUTreeCluster(orut, max_I_k, max_marlik, trees);
  std::string out = testing::internal::GetCapturedStdout();

  std::vector<double> current;
  for (size_t at = out.find("current: "); at != std::string::npos; at = out.find("current: ", at + 1))
    current.push_back(std::stod(out.substr(at + 9)));
  ASSERT_EQ(current.size(), 2u);
  int best = current[1] > current[0] ? 1 : 0;
  EXPECT_EQ(id, best);
  EXPECT_NEAR(max_marlik, current[best], 1e-4);
  EXPECT_EQ(max_I_k, best == 0 ? split : seeds);
  ASSERT_EQ(trees.size(), 2u);
  // Identical trees score a partition alike, so the tree mean is each score.
  EXPECT_DOUBLE_EQ(trees[0], trees[1]);
  for (ORU& o : orut) {
    EXPECT_EQ(o.I_k, max_I_k);
    EXPECT_EQ(o.mar_log_lik.size(), max_I_k.size());
    for (size_t k = 0; k < max_I_k.size(); ++k) EXPECT_EQ(o.mar_log_lik.count(o.GetGroupSig(k)), 1u);
  }
}

TEST(CombineOwnPartitions, NoCandidateAboveTheBestKeepsTheGivenPartition) {
  std::vector<ORU> orut = Models(2);
  orut[0].I_k = {{0, 1, 2, 3}};
  orut[1].I_k = {{4, 5, 6, 7}};
  std::vector<std::vector<int>> max_I_k = {{0, 1}};
  std::vector<double> trees = {1.0, 2.0};
  double max_marlik = 1e9;
  testing::internal::CaptureStdout();
  int id = combineORUTreeCluster(orut, max_I_k, max_marlik, trees);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(id, -1);
  EXPECT_EQ(out.find("maxlik updated by: "), std::string::npos);
  EXPECT_EQ(max_marlik, 1e9);
  EXPECT_EQ(trees, (std::vector<double>{1.0, 2.0}));
  for (ORU& o : orut) {
    EXPECT_EQ(o.I_k, max_I_k);
    EXPECT_EQ(o.I_f[0], 0);
    EXPECT_EQ(o.I_f[2], -1);
  }
}

class PredictTest : public CombineTest {
 protected:
  void SetUp() override {
    CombineTest::SetUp();
    PostProcess();
  }
  void Predict(std::vector<double> marlik) {
    testing::internal::CaptureStdout();
    predictProteinORUTree(orut, 0, marlik, 50, 200);
    out = testing::internal::GetCapturedStdout();
  }
  // Record of model tr holding the members of record k of model 0.
  int Paired(int tr, int k) {
    std::vector<int> want = orut[0].groups[k].proteins;
    std::sort(want.begin(), want.end());
    for (size_t j = 0; j < orut[tr].groups.size(); ++j) {
      std::vector<int> have = orut[tr].groups[j].proteins;
      std::sort(have.begin(), have.end());
      if (have == want) return static_cast<int>(j);
    }
    return -1;
  }
  // Calls check(record of model 0, prediction index, k, paired record j of
  // model 1) for every prediction of model 0; returns how many there are.
  template <typename Check>
  size_t ForEachPrediction(Check check) {
    size_t n = 0;
    for (size_t k = 0; k < orut[0].groups.size(); ++k) {
      const Group& a = orut[0].groups[k];
      for (size_t i = 0; i < a.pred_proteins.size(); ++i, ++n)
        check(a, i, static_cast<int>(k), Paired(1, static_cast<int>(k)));
    }
    return n;
  }
  std::string out;
};

TEST_F(PredictTest, RecordsArePairedByMembersNotByPosition) {
  std::reverse(orut[1].groups.begin(), orut[1].groups.end());
  Predict({-50.0, -50.0});
  EXPECT_NE(out.find("min_lik: "), std::string::npos);
  size_t predicted = 0;
  for (size_t k = 0; k < orut[0].groups.size(); ++k) {
    const Group& a = orut[0].groups[k];
    int j = Paired(1, k);
    ASSERT_GE(j, 0);
    const Group& b = orut[1].groups[j];
    EXPECT_EQ(a.pred_proteins, b.pred_proteins);
    EXPECT_EQ(a.pred_llratios, b.pred_llratios);
    EXPECT_EQ(a.pred_deviance, b.pred_deviance);
    EXPECT_EQ(a.num_preds, b.num_preds);
    predicted += a.pred_proteins.size();
    // Equal weights: twice the log ratio of the mean likelihoods.
    for (size_t i = 0; i < a.pred_proteins.size(); ++i) {
      int p = a.pred_proteins[i];
      double lik = std::exp(orut[0].log_f_Xg_pred(p, k)) + std::exp(orut[1].log_f_Xg_pred(p, j));
      double lik0 = std::exp(orut[0].log_f_Xg_null(p, k)) + std::exp(orut[1].log_f_Xg_null(p, j));
      EXPECT_NEAR(a.pred_llratios[i], 2 * (std::log(lik / 2) - std::log(lik0 / 2)), 1e-9);
      if (i > 0) {
        EXPECT_GE(a.pred_llratios[i - 1], a.pred_llratios[i]);
      }
    }
  }
  EXPECT_GT(predicted, 0u);
}

TEST_F(PredictTest, ADominantTreeThousandsOfNatsAheadDecides) {
  Predict({-5000.0, -100.0});
  size_t predicted = ForEachPrediction([&](const Group& a, size_t i, int, int j) {
    int p = a.pred_proteins[i];
    double pred1 = orut[1].log_f_Xg_pred(p, j);
    EXPECT_NEAR(a.pred_llratios[i], 2 * (pred1 - orut[1].log_f_Xg_null(p, j)), 1e-6);
    // The weights are taken relative to the smaller score.
    EXPECT_NEAR(a.pred_deviance[i], -2 * pred1 - 2 * 4900.0, 1e-6);
  });
  EXPECT_GT(predicted, 0u);
}

// Scores near 1e16 put the weights beyond the double range; the LLR is formed
// from their ratio (e^4 here), so no gene's own term is rounded away.
TEST_F(PredictTest, ScoresNear1e16KeepEveryGenesOwnTerm) {
  const double low = 1e16, high = 1e16 + 4;
  Predict({low, high});
  size_t predicted = ForEachPrediction([&](const Group& a, size_t i, int k, int j) {
    int p = a.pred_proteins[i];
    const double ratio = std::exp(high - low);
    double lik = std::exp(orut[0].log_f_Xg_pred(p, k)) + ratio * std::exp(orut[1].log_f_Xg_pred(p, j));
    double lik0 = std::exp(orut[0].log_f_Xg_null(p, k)) + ratio * std::exp(orut[1].log_f_Xg_null(p, j));
    EXPECT_NEAR(a.pred_llratios[i], 2 * (std::log(lik) - std::log(lik0)), 1e-9);
    // The deviance keeps the weights as stated, relative to the 1e7 cap.
    EXPECT_NEAR(a.pred_deviance[i], -2 * std::log(lik) - 2 * (low - 1e7), 16.0);
  });
  EXPECT_GT(predicted, 0u);
}
