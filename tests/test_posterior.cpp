#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/post_fixture.h"

struct ORUTestAccess {
  static auto& X(ORU& o) { return o.X; }
  static auto& trace_Tg(ORU& o) { return o.trace_Tg; }
  static int& trace_samples(ORU& o) { return o.trace_samples; }
  // Takes the counts from the Tg set by hand, then adds the sample.
  static void Accumulate(ORU& o) {
    o.StartTraceCounts();
    o.AccumulateTraceSample();
  }
  static auto& glinks(ORU& o) { return o.glinks; }
  static auto& no_info(ORU& o) { return o.no_info_protein; }
  static auto& ppm_I_k(ORU& o) { return o.ppm_I_k; }
  static auto& ppm_trace_loglik(ORU& o) { return o.ppm_trace_loglik; }
  static auto& mode_Tg(ORU& o) { return o.mode_Tg; }
  static auto& Tg_probs(ORU& o) { return o.Tg_probs; }
  static auto& trace_loglik(ORU& o) { return o.trace_loglik; }
  static auto& prof_sum(ORU& o) { return o.prof_sum; }
};

namespace {

using A = ORUTestAccess;

// ((0,1)3,2)4
std::vector<int> ThreeLeafParents() { return {3, 3, 4, 4, -1}; }

void Partition(ORU& oru, const std::vector<int>& I_f, int K) {
  oru.I_f = I_f;
  oru.K = K;
  oru.Rebuild_Ik();
}

std::unique_ptr<ORU> PreparedModel(const PhyloProf& prof, const std::vector<int>& parents, int mcmc) {
  auto oru = postfix::Model(prof, parents);
  oru->InitMCMC(1.0, 2, mcmc, 1, 1.0);
  oru->PreProcess();
  oru->PrepFitnessMatrix("");
  return oru;
}

std::unique_ptr<ORU> RandomModel(int S, int G, int mcmc, unsigned seed) {
  std::mt19937 rng(seed);
  const std::vector<int> parents = prepdata::RandomParents(S, rng);
  const auto rows = prepdata::SimulateRows(parents, G, 0.2, 0.02, rng);
  PhyloProf prof = prepdata::ProfileFromRows(rows, prepdata::SpeciesNames(S), prepdata::AllIds(G));
  return PreparedModel(prof, parents, mcmc);
}

// Module k's summaries as read from a stored trace, every sample recounted.
void ExpectSummariesOfStoredTrace(ORU& oru, const std::vector<std::vector<std::vector<char>>>& trace) {
  const int N = oru.N, S = oru.NumSpecies();
  const double T = static_cast<double>(trace.size());
  for (int k = 0; k < oru.K; ++k) {
    const std::vector<int>& members = oru.I_k[k];
    const double n = static_cast<double>(members.size());
    std::vector<double> mq(N, 0.0), mp(N, 0.0), ma(N, 0.0), n10(N, 0.0), n1(N, 0.0);
    long long mismatches = 0;
    for (const auto& sample : trace) {
      for (int s = 0; s < N; ++s) {
        double c[2][2] = {{0, 0}, {0, 0}}, d[2] = {0, 0};
        for (int g : members) {
          if (s < N - 1) c[sample[g][oru.parent[s]] == 1][sample[g][s] == 1] += 1;
          d[sample[g][s] == 1] += 1;
        }
        if (s < N - 1) {
          mq[s] += ((c[1][0] + 0.0045) / (c[1][0] + c[1][1] + 0.15)) / T;
          n10[s] += c[1][0] / n / T;
          n1[s] += (c[1][0] + c[1][1]) / n / T;
        }
        mp[s] += d[1] / (d[0] + d[1]) / T;
        ma[s] += d[0] / (d[0] + d[1]) / T;
      }
      for (int g : members)
        for (int s = 0; s < S; ++s) mismatches += A::X(oru)[g][s] != (sample[g][s] == 1);
    }
    const Group& rec = oru.groups[k];
    EXPECT_EQ(rec.mq, mq) << k;
    EXPECT_EQ(rec.mp, mp) << k;
    EXPECT_EQ(rec.ma, ma) << k;
    EXPECT_EQ(rec.n10, n10) << k;
    EXPECT_EQ(rec.n1, n1) << k;
    EXPECT_EQ(rec.mean_mm, static_cast<double>(mismatches) / (T * n)) << k;
  }
}

void QuietTrace(ORU& oru) {
  testing::internal::CaptureStdout();
  oru.DrawTraceTg();
  testing::internal::GetCapturedStdout();
}

TEST(TraceStreaming, SummariesEqualStoredTraceComputationBitForBit) {
  auto oru = RandomModel(8, 10, 2, 11);
  Partition(*oru, {0, 0, 0, 1, 1, 2, 0, 1, 2, 2}, 3);
  oru->keep_trace = true;
  QuietTrace(*oru);
  oru->BuildUpGroups();
  oru->CalcMeanMisMatch();
  ASSERT_EQ(A::trace_Tg(*oru).size(), 40u);
  ExpectSummariesOfStoredTrace(*oru, A::trace_Tg(*oru));
}

// The trace keeps module counts in step with the histories instead of
// recounting the members for every draw; the draws must not change.
TEST(TraceStreaming, DrawsWhatGeneByGeneUpdatesDraw) {
  auto oru = RandomModel(10, 14, 3, 5);
  Partition(*oru, {0, 0, 0, 0, 1, 1, 1, -1, 2, 2, -1, 0, 1, 3}, 4);
  const std::vector<int>& gain = oru->cl_glinks;
  // Members gained at different nodes (rows restricted per member), and a
  // module with no member gained at the root (a node whose terms never change).
  std::set<int> module0_gains;
  for (int g : oru->I_k[0]) module0_gains.insert(gain[g]);
  ASSERT_GE(module0_gains.size(), 2u);
  bool steady_node = false;
  for (int k = 0; k < oru->K; ++k) {
    bool at_root = false;
    for (int g : oru->I_k[k]) at_root |= gain[g] == oru->N - 1;
    steady_node |= !at_root;
  }
  ASSERT_TRUE(steady_node);

  QuietTrace(*oru);  // histories away from the all-absent start
  ORU reference(*oru);
  oru->keep_trace = true;
  QuietTrace(*oru);

  std::vector<std::vector<std::vector<char>>> expected;
  for (int i = 0; i < 20 * reference.num_mcmc; ++i) {
    for (int g = 0; g < reference.G; ++g) {
      if (reference.I_f[g] == -1)
        reference.Update_Tg_null(g);
      else
        reference.Update_Tg(g, true);
    }
    expected.push_back(reference.Tg);
  }
  ASSERT_EQ(A::trace_Tg(*oru).size(), 60u);
  EXPECT_TRUE(A::trace_Tg(*oru) == expected);
  EXPECT_EQ(gsl_rng_uniform(oru->RNG), gsl_rng_uniform(reference.RNG));

  oru->BuildUpGroups();
  oru->CalcMeanMisMatch();
  ExpectSummariesOfStoredTrace(*oru, expected);
}

TEST(TraceStreaming, SnapshotsKeptOnlyOnRequestAndProgressMarks) {
  auto oru = RandomModel(6, 5, 1, 3);
  Partition(*oru, {0, 0, -1, 1, 1}, 2);
  testing::internal::CaptureStdout();
  oru->DrawTraceTg();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "Estimating the hidden Markov model (HMM) for each ECM:  "
            "10%  20%  30%  40%  50%  60%  70%  80%  90%  100%  \n");
  EXPECT_TRUE(A::trace_Tg(*oru).empty());
  EXPECT_EQ(A::trace_samples(*oru), 20);
}

class HandTrace : public ::testing::Test {
 protected:
  // Genes 0 and 1 form module 0; two samples set by hand (T = 2, n = 2).
  void SetUp() override {
    oru = PreparedModel(postfix::Profile({"110", "011"}, {0, 1}), ThreeLeafParents(), 0);
    Partition(*oru, {0, 0}, 1);
    testing::internal::CaptureStdout();
    oru->DrawTraceTg();  // no sweeps: only resets the accumulators
    testing::internal::GetCapturedStdout();
    A::trace_samples(*oru) = 2;
    // Gained at the root, so every node is summed sample by sample.
    oru->cl_glinks = {4, 4};
    oru->Tg = {{1, 0, 1, 1, 1}, {0, 0, 1, 1, 1}};
    A::Accumulate(*oru);
    oru->Tg = {{1, 1, 0, 1, 1}, {1, 0, 0, 1, 1}};
    A::Accumulate(*oru);
    A::glinks(*oru)[0] = 3;
    A::glinks(*oru)[1] = 3;
    A::no_info(*oru) = {false, false};
    oru->log_liks_null = {-3.0, -4.0};
  }
  std::unique_ptr<ORU> oru;
};

TEST_F(HandTrace, BranchSummariesAndMismatchFromSampledHistories) {
  oru->BuildUpGroups();
  const Group& rec = oru->groups[0];
  EXPECT_EQ(rec.proteins, (std::vector<int>{0, 1}));
  EXPECT_NEAR(rec.mq[0], 1.009 / 4.3, 1e-15);
  EXPECT_NEAR(rec.mq[1], 3.009 / 4.3, 1e-15);
  EXPECT_NEAR(rec.mq[2], 2.009 / 4.3, 1e-15);
  EXPECT_NEAR(rec.mq[3], 0.0045 / 2.15, 1e-15);
  EXPECT_EQ(rec.mq[4], 0.0);
  EXPECT_EQ(rec.n10, (std::vector<double>{0.25, 0.75, 0.5, 0.0, 0.0}));
  EXPECT_EQ(rec.n1, (std::vector<double>{1.0, 1.0, 1.0, 1.0, 0.0}));
  EXPECT_EQ(rec.mp, (std::vector<double>{0.75, 0.25, 0.5, 1.0, 1.0}));
  EXPECT_EQ(rec.ma, (std::vector<double>{0.25, 0.75, 0.5, 0.0, 0.0}));
  EXPECT_DOUBLE_EQ(rec.mean_ps, 2.0);
  EXPECT_NEAR(rec.TM[2][1][0], 2.009 / 4.3, 1e-15);

  oru->FindGainLink();
  EXPECT_EQ(rec.glink, 3);
  EXPECT_EQ(rec.in_hist, (std::vector<bool>{true, true, false, true, false}));
  // Outside the gain subtree the summaries are masked; TM keeps the estimate.
  EXPECT_EQ(rec.mq[2], 0.0);
  EXPECT_EQ(rec.mp[2], 0.0);
  EXPECT_EQ(rec.ma[2], 1.0);
  EXPECT_EQ(rec.ma[4], 1.0);
  EXPECT_NEAR(rec.TM[2][1][0], 2.009 / 4.3, 1e-15);
  EXPECT_NEAR(rec.mq[0], 1.009 / 4.3, 1e-15);

  oru->CalcMeanMisMatch();
  EXPECT_DOUBLE_EQ(rec.mean_mm, 6.0 / 4.0);
  EXPECT_DOUBLE_EQ(rec.mean_nmm, 0.75);
}

TEST_F(HandTrace, MismatchRatioDividesAsWrittenEvenWhenMembersArePresentNowhere) {
  A::prof_sum(*oru) = {0, 0};
  oru->BuildUpGroups();
  oru->CalcMeanMisMatch();
  const Group& rec = oru->groups[0];
  EXPECT_EQ(rec.mean_ps, 0.0);
  EXPECT_DOUBLE_EQ(rec.mean_mm, 6.0 / 4.0);
  EXPECT_TRUE(std::isinf(rec.mean_nmm) && rec.mean_nmm > 0) << rec.mean_nmm;
}

TEST_F(HandTrace, StrengthIsPerMemberLogBayesFactorOrZeroWithoutLossInformation) {
  oru->mar_log_lik["0, 1"] = -10.0;
  oru->BuildUpGroups();
  EXPECT_DOUBLE_EQ(oru->groups[0].strength, (-10.0 + 3.0 + 4.0) / 2);

  oru->mar_log_lik.clear();
  oru->BuildUpGroups();
  EXPECT_DOUBLE_EQ(oru->groups[0].strength, (3.0 + 4.0) / 2);

  oru->mar_log_lik["0, 1"] = -10.0;
  A::no_info(*oru)[1] = true;
  oru->BuildUpGroups();
  EXPECT_EQ(oru->groups[0].strength, 0.0);

  Partition(*oru, {-1, 0}, 1);
  A::no_info(*oru)[1] = false;
  oru->BuildUpGroups();
  EXPECT_DOUBLE_EQ(oru->groups[0].strength, 4.0);
  EXPECT_EQ(oru->groups[0].proteins, (std::vector<int>{1}));
}

// Probability of the rows below under the hand-built trees, summed over histories.
double PredLik(const std::vector<double>& q, double e, bool leaf1, bool leaf2) {
  auto obs = [e](bool present_state, bool observed) {
    return present_state == observed ? 1 - e : e;
  };
  const double below3 = (1 - q[3]) * ((1 - q[1]) * obs(true, leaf1) + q[1] * obs(false, leaf1)) +
                        q[3] * obs(false, leaf1);
  const double at2 = (1 - q[2]) * obs(true, leaf2) + q[2] * obs(false, leaf2);
  return below3 * at2;  // species 0 carries no observation
}

double NullLik(const std::vector<double>& q, double e, bool leaf0, bool leaf1, bool leaf2) {
  auto obs = [e](bool present_state, bool observed) {
    return present_state == observed ? 1 - e : e;
  };
  auto leaf = [&](int s, bool observed) { return (1 - q[s]) * obs(true, observed) + q[s] * obs(false, observed); };
  const double below3 =
      (1 - q[3]) * leaf(0, leaf0) * leaf(1, leaf1) + q[3] * obs(false, leaf0) * obs(false, leaf1);
  return below3 * leaf(2, leaf2);
}

TEST(MemberLLRs, DeviancesAndLLRsMatchHandComputedLikelihoods) {
  auto oru = PreparedModel(postfix::Profile({"110", "110", "111"}, {0, 1, 2}), ThreeLeafParents(), 0);
  for (int p = 0; p < 3; ++p) A::glinks(*oru)[p] = 4;
  const std::vector<double> q = {0.1, 0.2, 0.3, 0.4, 0.0};
  Group rec;
  rec.proteins = {1, 2, 0};
  rec.postprob = {1.0, 1.0, 1.0};
  rec.glink = 4;
  for (double v : q) rec.TM.push_back(TransMatrix{{{1.0, 0.0}, {v, 1.0 - v}}});
  oru->groups = {rec};
  oru->CalcLLRs();

  std::vector<double> q_null;
  for (const TransMatrix& tm : oru->TMNull()) q_null.push_back(tm[1][0]);
  const double e = 0.005;
  const double dev_110 = -2 * std::log(PredLik(q, e, true, false));
  const double dev_111 = -2 * std::log(PredLik(q, e, true, true));
  const double null_110 = -2 * std::log(NullLik(q_null, e, true, true, false));
  const double null_111 = -2 * std::log(NullLik(q_null, e, true, true, true));
  const double llr_110 = std::max(0.0, null_110 - dev_110);
  const double llr_111 = std::max(0.0, null_111 - dev_111);
  ASSERT_NE(llr_110, llr_111);

  const Group& out = oru->groups[0];
  // Proteins 0 and 1 share a profile, hence an LLR: ascending ids break the tie.
  const std::vector<int> expected_order =
      llr_111 > llr_110 ? std::vector<int>{2, 0, 1} : std::vector<int>{0, 1, 2};
  EXPECT_EQ(out.proteins, expected_order);
  for (size_t i = 0; i < 3; ++i) {
    const bool full = out.proteins[i] == 2;
    EXPECT_NEAR(out.deviance[i], full ? dev_111 : dev_110, 1e-9);
    EXPECT_NEAR(out.nulldevs[i], full ? null_111 : null_110, 1e-9);
    EXPECT_NEAR(out.llratios[i], full ? llr_111 : llr_110, 1e-9);
  }
  EXPECT_NEAR(out.mean_dev, (2 * dev_110 + dev_111) / 3, 1e-9);
  EXPECT_NEAR(out.mean_llr, (2 * llr_110 + llr_111) / 3, 1e-9);
}

class PostProcessRun : public ::testing::Test {
 protected:
  void SetUp() override {
    oru = RandomModel(6, 6, 1, 5);
    std::cout << std::fixed << std::setprecision(1);
  }
  std::string Run() {
    testing::internal::CaptureStdout();
    oru->PostProcess();
    return testing::internal::GetCapturedStdout();
  }
  static std::string Rule() { return "  " + std::string(75, '-') + " \n\n"; }
  static std::string Ppm(const std::string& value, int dashes) {
    return "  ---------------------------- PPM: " + value + " " + std::string(dashes, '-') +
           "----------------------------- \n";
  }
  std::unique_ptr<ORU> oru;
};

TEST_F(PostProcessRun, ReportsMergedPartitionAndMakesBackgroundGenesSingletons) {
  A::ppm_I_k(*oru)[0] = {{0, 2}, {3}};
  oru->ppm_lik[0] = -12345.4;
  A::ppm_trace_loglik(*oru)[0] = {1.0, 2.0, 3.0};
  const std::string out = Run();
  EXPECT_EQ(out.find(Ppm("-12345.4", 3) +
                     "  ECM 1: (GENE1 GENE3)\n"
                     "  ECM 2: (GENE4)\n"
                     "  Singletons: GENE2 GENE5 GENE6 \n" +
                     Rule()),
            0u);
  EXPECT_EQ(oru->K, 5);
  EXPECT_EQ(oru->groups.size(), 5u);
  std::vector<int> seen(6, 0);
  for (const Group& rec : oru->groups)
    for (int p : rec.proteins) ++seen[p];
  EXPECT_EQ(seen, std::vector<int>(6, 1));
  EXPECT_EQ(A::trace_loglik(*oru), (std::vector<double>{1.0, 2.0, 3.0}));
}

TEST_F(PostProcessRun, PpmDashesFollowTheDigitCountAndNoBackgroundGivesBareSingletons) {
  A::ppm_I_k(*oru)[0] = {{0, 1, 2, 3, 4, 5}};
  A::ppm_trace_loglik(*oru)[0] = {0.0, 0.0, 0.0};
  oru->ppm_lik[0] = 5.0;
  std::string out = Run();
  EXPECT_EQ(out.find(Ppm("5.0", 8)), 0u);
  EXPECT_NE(out.find("\n  Singletons: \n" + Rule()), std::string::npos);
  oru->ppm_lik[0] = -123456789.0;
  out = Run();
  EXPECT_EQ(out.find(Ppm("-123456789.0", 0)), 0u);
}

TEST_F(PostProcessRun, NoTriesStillGivesOneModulePerGene) {
  const std::string out = Run();
  EXPECT_EQ(out.find(Ppm("-10000000.0", 0) +
                     "  Singletons: GENE1 GENE2 GENE3 GENE4 GENE5 GENE6 \n"),
            0u);
  EXPECT_EQ(oru->groups.size(), 6u);
  for (const Group& rec : oru->groups) EXPECT_EQ(rec.proteins.size(), 1u);
  EXPECT_EQ(A::trace_loglik(*oru), std::vector<double>(3, 0.0));
}

TEST(GainLinkOfPresence, MostRecentCommonAncestorOfPresentSpecies) {
  auto oru = postfix::Model(postfix::Profile({"1111"}, {0}), postfix::FourLeafParents());
  EXPECT_EQ(oru->FindGainLink({true, true, false, false}), 4);
  EXPECT_EQ(oru->FindGainLink({true, false, true, false}), 6);
  EXPECT_EQ(oru->FindGainLink({false, false, true, true}), 5);
  EXPECT_EQ(oru->FindGainLink({false, false, true, false}), 2);
  EXPECT_EQ(oru->FindGainLink({false, false, false, false}), 6);
}

TEST(ModeHistories, FirstMostFrequentHistoryPerGeneAppended) {
  auto oru = postfix::Model(postfix::Profile({"110", "011"}, {0, 1}), ThreeLeafParents());
  oru->InitMCMC(1.0, 1, 4, 1, 1.0);
  const std::vector<char> a = {1, 1, 0, 1, 1}, b = {1, 0, 0, 1, 1}, c = {0, 1, 1, 1, 1};
  // Gene 0: a, b, b, b; gene 1: c, b, b, c (a tie, the first seen wins).
  A::trace_Tg(*oru) = {{a, c}, {b, b}, {b, b}, {b, c}};
  oru->FindModeTg();
  oru->FindModeTg();
  EXPECT_EQ(A::mode_Tg(*oru), (std::vector<std::vector<char>>{b, c, b, c}));
  EXPECT_EQ(A::Tg_probs(*oru), (std::vector<double>{0.75, 0.5, 0.75, 0.5}));
}

TEST(ModeHistories, WithoutKeptSnapshotsSaysSoAndAppendsNothing) {
  auto oru = RandomModel(5, 4, 1, 9);
  Partition(*oru, {0, 0, 1, -1}, 2);
  QuietTrace(*oru);
  testing::internal::CaptureStderr();
  oru->FindModeTg();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Warning: no trace samples were kept, so no history modes are found "
            "(set keep_trace before DrawTraceTg).\n");
  EXPECT_TRUE(A::mode_Tg(*oru).empty());
  EXPECT_TRUE(A::Tg_probs(*oru).empty());
}

TEST(ModeHistories, ReadsSnapshotsKeptByTheTrace) {
  auto oru = RandomModel(5, 4, 1, 9);
  Partition(*oru, {0, 0, 1, -1}, 2);
  oru->keep_trace = true;
  testing::internal::CaptureStdout();
  oru->DrawTraceTg();
  testing::internal::GetCapturedStdout();
  oru->FindModeTg();
  ASSERT_EQ(A::mode_Tg(*oru).size(), 4u);
  for (int g = 0; g < 4; ++g) {
    int count = 0;
    for (const auto& sample : A::trace_Tg(*oru)) count += sample[g] == A::mode_Tg(*oru)[g];
    EXPECT_EQ(A::Tg_probs(*oru)[g], count / 1.0);
    EXPECT_EQ(A::mode_Tg(*oru)[g][oru->GainLinks()[oru->cur_proteins[g]]], 1);
  }
}

}  // namespace
