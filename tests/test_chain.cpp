#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "model/oru.h"
#include "tests/model_fixtures.h"

struct ORUTestAccess {
  static double Temperature(int m, int burn, int mcmc, double T0) {
    return ORU::AnnealTemperature(m, burn, mcmc, T0);
  }
  static std::vector<bool>& no_info(ORU& o) { return o.no_info_protein; }
  static std::vector<std::vector<bool>>& fit(ORU& o) { return o.fit; }
  static std::vector<double>& trace(ORU& o, int gl) { return o.pm_trace_loglik[gl]; }
  static std::vector<std::vector<std::vector<int>>>& best(ORU& o) { return o.ppm_I_k; }
};

namespace {

// Captures standard output for the lifetime of the object.
class Console {
 public:
  Console() : saved(std::cout.rdbuf(sink.rdbuf())) {}
  ~Console() { std::cout.rdbuf(saved); }
  std::string Text() const { return sink.str(); }

 private:
  std::ostringstream sink;
  std::streambuf* saved;
};

// A preprocessed model on a random tree of S species.
ORU MakeModel(int S, const std::vector<std::vector<bool>>& rows, int noclust = 0, int burn = 10,
              int mcmc = 10) {
  std::mt19937 gen(9);
  Console quiet;
  ORU o(modeldata::Profile(modeldata::Names(S), rows), modeldata::RandomTree(S, gen), 0, noclust,
        0, 0.0, 0.0, 0, 3, 0.03, 0.99);
  o.InitMCMC(1.0, burn, mcmc, 1, 0.5);
  o.PreProcess();
  o.PrepFitnessMatrix("params.txt");
  return o;
}

std::vector<std::vector<bool>> Rows(const std::vector<std::string>& text) {
  std::vector<std::vector<bool>> rows;
  for (const std::string& t : text) {
    std::vector<bool> row;
    for (char ch : t) row.push_back(ch == '1');
    rows.push_back(row);
  }
  return rows;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(AnnealTemperature, FollowsTheScheduleCorners) {
  const double T0 = 4;
  EXPECT_EQ(ORUTestAccess::Temperature(0, 600, 400, T0), T0);
  EXPECT_NEAR(ORUTestAccess::Temperature(240, 600, 400, T0), (T0 + 1) / 2, 1e-12);
  EXPECT_GT(ORUTestAccess::Temperature(479, 600, 400, T0), 1.0);
  EXPECT_EQ(ORUTestAccess::Temperature(480, 600, 400, T0), 1.0);
  EXPECT_EQ(ORUTestAccess::Temperature(879, 600, 400, T0), 1.0);
  EXPECT_EQ(ORUTestAccess::Temperature(880, 600, 400, T0), 1.0);
  EXPECT_LT(ORUTestAccess::Temperature(881, 600, 400, T0), 1.0);
  EXPECT_NEAR(ORUTestAccess::Temperature(979, 600, 400, T0), 1 - 0.5 * 99 / 120.0, 1e-12);
  EXPECT_EQ(ORUTestAccess::Temperature(980, 600, 400, T0), 0.05);
  EXPECT_EQ(ORUTestAccess::Temperature(999, 600, 400, T0), 0.05);
}

TEST(CountProfDiff2, CountsMismatchesOnlyForTheSameGainNode) {
  ORU o = MakeModel(6, Rows({"111100", "110100", "000011"}));
  o.cl_glinks = {7, 7, 8};
  EXPECT_EQ(o.CountProfDiff2(0, 1), 1);
  EXPECT_EQ(o.CountProfDiff2(0, 0), 0);
  EXPECT_EQ(o.CountProfDiff2(0, 2), 6);
}

// Seven genes of one gain node: groups of 1, 2 (with loss information),
// 3 (without) and 4 identical rows.
class SeedTest : public ::testing::Test {
 protected:
  SeedTest()
      : o(MakeModel(8, Rows({"11110000", "11100000", "11100000", "00001111", "00001111",
                             "00001111", "11011011", "11011011", "11011011", "11011011"}))) {
    o.cl_glinks.assign(o.G, o.N - 1);
    ORUTestAccess::no_info(o).assign(o.GG, false);
    for (int p : {3, 4, 5}) ORUTestAccess::no_info(o)[p] = true;
    o.I_f.assign(o.G, -1);
  }
  ORU o;
};

TEST_F(SeedTest, GroupsOfFourAndUninformativeGroupsBecomeModules) {
  o.PutSameProfileProts(o.gl_prots[0]);
  EXPECT_EQ(o.K, 2);
  EXPECT_EQ(o.I_f, (std::vector<int>{-1, -1, -1, 0, 0, 0, 1, 1, 1, 1}));
  EXPECT_EQ(o.N_f, (std::vector<int>{3, 4}));
  ASSERT_EQ(o.buf_log_liks.size(), 2u);
  EXPECT_EQ(o.buf_log_liks[1], std::vector<double>(o.G, -10000.0));
}

TEST_F(SeedTest, ThreeIdenticalInformativeGenesStayFree) {
  ORUTestAccess::no_info(o)[5] = false;
  o.PutSameProfileProts(o.gl_prots[0]);
  EXPECT_EQ(o.K, 1);
  EXPECT_EQ(o.I_f, (std::vector<int>{-1, -1, -1, -1, -1, -1, 0, 0, 0, 0}));
}

TEST_F(SeedTest, TwoIdenticalGenesNeedToLackLossInformation) {
  o.PutSameProfileProts({1, 2, 0});
  EXPECT_EQ(o.K, 0);
  ORUTestAccess::no_info(o)[1] = ORUTestAccess::no_info(o)[2] = true;
  o.PutSameProfileProts({1, 2, 0});
  EXPECT_EQ(o.K, 1);
  EXPECT_EQ(o.I_f[1], 0);
  EXPECT_EQ(o.I_f[2], 0);
  EXPECT_EQ(o.I_f[0], -1);
}

TEST_F(SeedTest, DifferentGainNodesNeverSeedTogether) {
  o.cl_glinks[9] = o.N - 2;
  o.PutSameProfileProts(o.gl_prots[0]);
  EXPECT_EQ(o.N_f, (std::vector<int>{3}));
  EXPECT_EQ(o.I_f[9], -1);
}

TEST(Partition, CleanSingletonDissolvesOneMemberModules) {
  ORU o = MakeModel(6, Rows({"111100", "110100", "111000", "011100", "111110"}));
  o.I_f = {0, 1, 1, 2, 3};
  o.K = 4;
  o.N_f = {1, 2, 1, 1};
  o.buf_log_liks.assign(4, std::vector<double>(o.G, 0.0));
  for (int k = 0; k < 4; ++k) o.buf_log_liks[k][0] = k;
  o.N_n = 0;
  o.Rebuild_Ik();
  o.CleanSingleton();
  EXPECT_EQ(o.K, 1);
  EXPECT_EQ(o.I_f, (std::vector<int>{-1, 0, 0, -1, -1}));
  EXPECT_EQ(o.N_f, (std::vector<int>{2}));
  EXPECT_EQ(o.N_n, 3);
  ASSERT_EQ(o.buf_log_liks.size(), 1u);
  EXPECT_EQ(o.buf_log_liks[0][0], 1);
  EXPECT_EQ(o.I_k, (std::vector<std::vector<int>>{{1, 2}}));
}

// A gene that leaves a module of its own deletes it and renumbers the rest.
TEST(UpdateIg, MovesTheGeneAndKeepsThePartitionDense) {
  ORU o = MakeModel(10, Rows({"1111110000", "1111010000", "1101110000", "1111100000",
                              "0000011111", "0000011011"}));
  o.I_f = {0, 1, 1, -1, -1, -1};
  o.K = 2;
  o.N_f = {1, 2};
  o.N_n = 3;
  o.buf_log_liks.assign(2, std::vector<double>(o.G, -10000.0));
  ORUTestAccess::no_info(o).assign(o.GG, false);
  o.Rebuild_Ik();
  gsl_rng* copy = gsl_rng_clone(o.RNG);
  o.Update_Ig(0, 15);
  EXPECT_GE(o.K, 1);
  int sizes = 0;
  for (int k = 0; k < o.K; ++k) sizes += o.N_f[k];
  int background = 0;
  for (int f : o.I_f) background += f == -1;
  EXPECT_EQ(sizes + background, o.G);
  EXPECT_EQ(o.N_n, background);
  EXPECT_EQ(static_cast<int>(o.buf_log_liks.size()), o.K);
  EXPECT_EQ(o.I_f[1], o.I_f[2]);
  EXPECT_NE(gsl_rng_uniform(o.RNG), gsl_rng_uniform(copy));
  gsl_rng_free(copy);
}

TEST(UpdateIg, GeneWithoutLossInformationGoesToTheBackground) {
  ORU o = MakeModel(6, Rows({"111100", "110100"}));
  ORUTestAccess::no_info(o)[0] = true;
  o.I_f = {0, 0};
  o.K = 1;
  o.N_f = {2};
  o.Rebuild_Ik();
  gsl_rng* copy = gsl_rng_clone(o.RNG);
  o.Update_Ig(0, 0);
  EXPECT_EQ(o.I_f[0], -1);
  EXPECT_EQ(o.N_f, (std::vector<int>{2}));  // nothing else changes
  EXPECT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(copy));
  gsl_rng_free(copy);
}

// An incompatible module weighs nothing; the background and a new module
// share the rest equally, so the draw alone decides between them.
TEST(UpdateIg, IncompatibleModuleIsNeverChosen) {
  for (int seed = 0; seed < 6; ++seed) {
    ORU o = MakeModel(6, Rows({"111100", "110100", "111000"}));
    gsl_rng_set(o.RNG, seed);
    ORUTestAccess::fit(o).assign(o.G, std::vector<bool>(o.G, false));
    ORUTestAccess::no_info(o).assign(o.GG, false);
    o.I_f = {-1, 0, 0};
    o.K = 1;
    o.N_f = {2};
    o.N_n = 1;
    o.buf_log_liks.assign(1, std::vector<double>(o.G, -10000.0));
    o.Rebuild_Ik();
    gsl_rng* copy = gsl_rng_clone(o.RNG);
    double u = gsl_rng_uniform(copy);
    gsl_rng_free(copy);
    o.Update_Ig(0, 19);
    EXPECT_EQ(o.buf_log_liks[0][0], -100000.0);
    if (u <= 0.5) {
      EXPECT_EQ(o.I_f[0], -1);
      EXPECT_EQ(o.K, 1);
      EXPECT_EQ(o.N_n, 1);
    } else {
      EXPECT_EQ(o.I_f[0], 1);
      EXPECT_EQ(o.K, 2);
      EXPECT_EQ(o.N_f, (std::vector<int>{2, 1}));
      EXPECT_EQ(o.N_n, 0);
      EXPECT_EQ(o.I_k[1], std::vector<int>{0});
      EXPECT_EQ(o.buf_log_liks[1], std::vector<double>(o.G, -10000.0));
    }
  }
}

// NaN weights never reach the draw; the gene then goes to the background.
TEST(UpdateIg, UnreachableDrawFallsBackToTheBackground) {
  ORU o = MakeModel(6, Rows({"111100", "110100", "111000"}));
  ORUTestAccess::no_info(o).assign(o.GG, false);
  o.I_f = {0, 0, -1};
  o.K = 1;
  o.N_f = {2};
  o.N_n = 1;
  o.buf_log_liks.assign(1, std::vector<double>(o.G, -10000.0));
  o.Rebuild_Ik();
  o.log_liks_sgl[2] = std::nan("");
  o.Update_Ig(2, 0);
  EXPECT_EQ(o.I_f[2], -1);
  EXPECT_EQ(o.K, 1);
  EXPECT_EQ(o.N_n, 1);
}

std::string RunTry(ORU& o, int chain_id) {
  Console console;
  o.InitMCMC(1.0, o.num_burn, o.num_mcmc, 1, 0.5);
  o.ClusterProteinInComplex(chain_id);
  o.GetPosteriorMode();
  return console.Text();
}

std::vector<std::vector<bool>> SomeRows() {
  return Rows({"111111000000", "111101000000", "110111000000", "111011000000", "000000111111",
               "000000110111", "000000111011", "011111000000"});
}

TEST(Chain, ProgressMarksTenPerChainOrOneWhenTheLengthIsOdd) {
  ORU o = MakeModel(12, SomeRows(), 1, 600, 400);
  std::string out = RunTry(o, 0);
  EXPECT_EQ(out.find("  Chain 0:  | 0    | 0    | "), 0u);
  EXPECT_EQ(Count(out, "| "), 11);

  ORU odd = MakeModel(12, SomeRows(), 1, 600, 401);
  out = RunTry(odd, 0);
  EXPECT_EQ(out.find("  Chain 0:  | 0    |  MAP: "), 0u);
}

// With NOCLUST the score is the sum of the singleton likelihoods, so the
// distance to the retained best can be set exactly.
TEST(Chain, RerunsAClassEndingMoreThanAHundredthBelowItsBest) {
  ORU o = MakeModel(12, SomeRows(), 1, 5, 5);
  std::string first = RunTry(o, 0);
  EXPECT_EQ(Count(first, "  Chain 0:"), 1);
  EXPECT_NE(first.find("++\n"), std::string::npos);
  double score = o.ppm_lik[0];
  double singletons = 0;
  for (double v : o.log_liks_sgl) singletons += v;
  EXPECT_NEAR(score, singletons, 1e-9);
  EXPECT_NE(first.find("  Maximum marginal likelihood retained: " + [&] {
    std::ostringstream s;
    s << std::fixed << std::setprecision(1) << score;
    return s.str();
  }() + "\n\n"), std::string::npos);

  o.ppm_lik[0] = score + 0.005;
  std::string close = RunTry(o, 1);
  EXPECT_EQ(Count(close, "  Chain 1:"), 1);
  EXPECT_NE(close.find("--\n"), std::string::npos);

  o.ppm_lik[0] = score + 0.02;
  std::string far = RunTry(o, 2);
  EXPECT_EQ(Count(far, "  Chain 2:"), 3);
  EXPECT_EQ(Count(far, "--\n"), 3);
  EXPECT_EQ(o.ppm_lik[0], score + 0.02);  // the earlier best stays
}

TEST(Chain, SummaryLineAndMeanModuleCount) {
  ORU o = MakeModel(12, SomeRows(), 0, 4, 6);
  std::string out = RunTry(o, 3);
  size_t map = out.find(" MAP: ");
  ASSERT_NE(map, std::string::npos);
  int best = static_cast<int>(o.pm_lik[0]);
  std::string head = " MAP: " + std::to_string(best) + ".";
  EXPECT_EQ(out.substr(map, head.size()), head);
  EXPECT_NE(out.find("#L_DB: " + std::to_string(o.mar_log_lik.size()) + "."), std::string::npos);
  EXPECT_EQ(ORUTestAccess::trace(o, 0).size(), 10u);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(ORUTestAccess::trace(o, 0)[t], 0);
  EXPECT_GE(o.pm_lik[0], ORUTestAccess::trace(o, 0)[4]);
  // Every memo entry computed by the chain is also a new entry.
  EXPECT_EQ(o.mar_log_lik.size(), o.mar_log_lik_new.size());
  EXPECT_GE(o.mean_K, 0.0);
  EXPECT_LE(o.mean_K, 5 * 4.0 / 6 + 1e-12);
}

TEST(Chain, SameSeedSameRun) {
  ORU a = MakeModel(12, SomeRows(), 0, 6, 6);
  ORU b = MakeModel(12, SomeRows(), 0, 6, 6);
  EXPECT_EQ(RunTry(a, 0), RunTry(b, 0));
  EXPECT_EQ(ORUTestAccess::best(a), ORUTestAccess::best(b));
}

TEST(Chain, UninformativeGenesOutsideSeedsStayInTheBackground) {
  ORU o = MakeModel(12, SomeRows(), 0, 6, 6);
  ORUTestAccess::no_info(o).assign(o.GG, true);
  std::string out = RunTry(o, 0);
  for (const auto& partition : ORUTestAccess::best(o)) EXPECT_TRUE(partition.empty());
  EXPECT_EQ(o.I_f, std::vector<int>(o.G, -1));
}

}  // namespace

namespace {

// B = M = 1 with NOCLUST: a mark after each of the two sweeps, no module,
// an empty memo, and the best score is the sum of the singleton scores.
TEST(Chain, WholeChainLineWithItsBlanks) {
  ORU o = MakeModel(12, SomeRows(), 1, 1, 1);
  std::string out = RunTry(o, 7);
  double singletons = 0;
  for (double v : o.log_liks_sgl) singletons += v;
  int best = static_cast<int>(singletons);
  std::string map = std::to_string(best) + ".";
  map += std::string(std::max(0, 7 - static_cast<int>(std::to_string(best).size())), ' ');
  std::ostringstream retained;
  retained << std::fixed << std::setprecision(1) << o.ppm_lik[0];
  EXPECT_EQ(out, "  Chain 7:  | 0    | 0    |  MAP: " + map + "K = 0.0.   #L_DB: 0.    ++\n" +
                     "  Maximum marginal likelihood retained: " + retained.str() + "\n\n");
}

}  // namespace
