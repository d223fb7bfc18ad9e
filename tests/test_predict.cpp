#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/post_fixture.h"

struct ORUTestAccess {
  static auto& no_info(ORU& o) { return o.no_info_protein; }
  static auto& ppm_I_k(ORU& o) { return o.ppm_I_k; }
};

namespace {

using A = ORUTestAccess;

// Balanced tree over eight species, post-order: 8=(0,1) 9=(2,3) 10=(8,9) 11=(4,5) 12=(6,7) 13=(11,12) 14=root.
std::vector<int> EightLeafParents() { return {8, 8, 9, 9, 11, 11, 12, 12, 10, 10, 14, 13, 13, 14, -1}; }

void Prepare(ORU& oru) {
  oru.InitMCMC(1.0, 2, 1, 1, 1.0);
  oru.PreProcess();
  oru.PrepFitnessMatrix("");
}

Group RecordAtRoot(const std::vector<int>& proteins, int N, int lossy_node) {
  Group rec;
  rec.proteins = proteins;
  rec.glink = N - 1;
  for (int s = 0; s < N; ++s) {
    const double q = s == lossy_node ? 0.9 : 0.05;
    rec.TM.push_back(TransMatrix{{{1.0, 0.0}, {q, 1.0 - q}}});
  }
  return rec;
}

double ExpectedLLR(ORU& oru, int g, int k) {
  if (A::no_info(oru)[g]) return -1000000.0;
  return 2 * (oru.log_f_Xg_pred(g, k) - oru.log_f_Xg_null(g, k));
}

std::string Predict(ORU& oru, int min, int max) {
  testing::internal::CaptureStdout();
  oru.PredictProteins(min, max);
  return testing::internal::GetCapturedStdout();
}

class HandRecord : public ::testing::Test {
 protected:
  // Members 0 and 4 and candidate 3 share a profile; 1 and 2 share another.
  void SetUp() override {
    const std::vector<std::string> rows = {"11011100", "11101100", "11101100", "11011100", "11011100"};
    oru = postfix::Model(postfix::Profile(rows, {0, 3, 4}), EightLeafParents(), 0, 0, -1e9);
    Prepare(*oru);
    oru->groups = {RecordAtRoot({0, 4}, oru->N, 2)};
  }
  std::unique_ptr<ORU> oru;
};

TEST_F(HandRecord, EqualLLRsEndInExchangeOrder) {
  const double llr_a = ExpectedLLR(*oru, 1, 0), llr_b = ExpectedLLR(*oru, 2, 0);
  const double llr_c = ExpectedLLR(*oru, 3, 0);
  ASSERT_EQ(llr_a, llr_b);
  ASSERT_GT(llr_c, llr_a);
  Predict(*oru, 50, 200);
  const Group& rec = oru->groups[0];
  // a, b, c in protein order with LLRs x, x, y (y > x) end as c, b, a; protein 3
  // belongs to the clustered set but not to this module.
  EXPECT_EQ(rec.pred_proteins, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(rec.pred_llratios, (std::vector<double>{llr_c, llr_b, llr_a}));
  EXPECT_EQ(rec.pred_deviance[0], -2 * oru->log_f_Xg_pred(3, 0));
  EXPECT_EQ(rec.num_preds, static_cast<int>(std::count_if(rec.pred_llratios.begin(), rec.pred_llratios.end(),
                                                          [](double v) { return v > 20.0; })));
}

TEST_F(HandRecord, CapsOnThePredictionCount) {
  Predict(*oru, 50, 2);
  EXPECT_EQ(oru->groups[0].pred_proteins, (std::vector<int>{3, 2}));
  EXPECT_EQ(oru->groups[0].pred_deviance.size(), 2u);

  oru->groups = {RecordAtRoot({0, 4}, oru->N, 2)};
  Predict(*oru, 50, 0);
  EXPECT_TRUE(oru->groups[0].pred_proteins.empty());
  EXPECT_TRUE(oru->groups[0].pred_llratios.empty());
  EXPECT_EQ(oru->groups[0].num_preds, 0);

  oru->groups = {RecordAtRoot({0, 4}, oru->N, 2)};
  Predict(*oru, 50, -1);
  EXPECT_EQ(oru->groups[0].pred_proteins.size(), 3u);
}

TEST_F(HandRecord, SkippedRecordsKeepEmptyPredictions) {
  oru->groups = {RecordAtRoot({0}, oru->N, 2), RecordAtRoot({}, oru->N, 2)};
  Predict(*oru, 50, 200);
  EXPECT_TRUE(oru->groups[0].pred_proteins.empty());
  EXPECT_TRUE(oru->groups[1].pred_proteins.empty());

  oru->sgl_grp = 1;
  Predict(*oru, 50, 200);
  EXPECT_EQ(oru->groups[0].pred_proteins.size(), 4u);

  oru->groups = {RecordAtRoot({0, 4}, oru->N, 2)};
  A::no_info(*oru)[0] = true;
  Predict(*oru, 50, 200);
  EXPECT_TRUE(oru->groups[0].pred_proteins.empty());
}

TEST(PredictionProgress, TwelveRecordsAndNone) {
  auto oru = postfix::Model(postfix::Profile({"1100", "0110"}, {0}), postfix::FourLeafParents());
  const std::string heading = "Calculating the LLR scores for all genes by the HMMs:  ";
  oru->groups.assign(12, Group());
  EXPECT_EQ(Predict(*oru, 50, 200), heading +
                                        "\n  ECM1,   ECM2,   ECM3,   ECM4,   ECM5,   ECM6,   ECM7,   ECM8,   ECM9,"
                                        "   ECM10\n  ECM11,  ECM12\n");
  oru->groups.clear();
  EXPECT_EQ(Predict(*oru, 50, 200), heading + "\n");
}

// Rows with each species present at random: mostly genes with loss information.
std::unique_ptr<ORU> RandomModel(int S, int GG, int G, int sgl_grp, double llr_th, unsigned seed) {
  std::mt19937 rng(seed);
  std::bernoulli_distribution present(0.6);
  const std::vector<int> parents = prepdata::RandomParents(S, rng);
  std::vector<std::vector<bool>> rows(GG, std::vector<bool>(S));
  for (auto& row : rows)
    for (int s = 0; s < S; ++s) row[s] = present(rng);
  std::vector<int> set(G);
  for (int g = 0; g < G; ++g) set[g] = g;
  auto oru = postfix::Model(prepdata::ProfileFromRows(rows, prepdata::SpeciesNames(S), set), parents, 0,
                            sgl_grp, llr_th);
  Prepare(*oru);
  return oru;
}

TEST(PredictionScores, EveryQualifyingRecordScoresEveryProfileGene) {
  auto oru = RandomModel(12, 60, 12, 1, 0.0, 21);
  A::ppm_I_k(*oru)[0] = {{0, 1, 2}, {3, 4}, {5, 6, 7}};
  testing::internal::CaptureStdout();
  oru->PostProcess();
  testing::internal::GetCapturedStdout();
  Predict(*oru, 50, -1);

  int scored = 0;
  for (size_t k = 0; k < oru->groups.size(); ++k) {
    const Group& rec = oru->groups[k];
    std::vector<int> expected;
    const bool qualifies = !A::no_info(*oru)[rec.proteins[0]];
    for (int g = 0; qualifies && g < oru->GG; ++g)
      if (std::find(rec.proteins.begin(), rec.proteins.end(), g) == rec.proteins.end() &&
          ExpectedLLR(*oru, g, static_cast<int>(k)) >= 0.0)
        expected.push_back(g);
    std::vector<int> got = rec.pred_proteins;
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
    for (size_t j = 0; j < rec.pred_proteins.size(); ++j) {
      const int g = rec.pred_proteins[j];
      EXPECT_EQ(rec.pred_llratios[j], ExpectedLLR(*oru, g, static_cast<int>(k)));
      EXPECT_EQ(rec.pred_deviance[j], -2 * oru->log_f_Xg_pred(g, static_cast<int>(k)));
      if (j > 0) {
        EXPECT_GE(rec.pred_llratios[j - 1], rec.pred_llratios[j]);
      }
    }
    scored += qualifies;
  }
  EXPECT_GT(scored, 3);
}

TEST(PredictionScores, CapKeepsTheHighestOfTwoHundredFifty) {
  auto oru = RandomModel(8, 252, 252, 0, -1e9, 4);
  int first = 0;
  while (A::no_info(*oru)[first]) ++first;
  oru->groups = {RecordAtRoot({first, first == 0 ? 1 : 0}, oru->N, 3)};
  std::vector<double> all;
  for (int g = 0; g < oru->GG; ++g)
    if (g != oru->groups[0].proteins[0] && g != oru->groups[0].proteins[1]) all.push_back(ExpectedLLR(*oru, g, 0));
  ASSERT_EQ(all.size(), 250u);
  std::sort(all.begin(), all.end(), std::greater<double>());
  all.resize(200);

  Predict(*oru, 50, 200);
  const Group& rec = oru->groups[0];
  EXPECT_EQ(rec.pred_llratios, all);
  EXPECT_EQ(rec.num_preds, static_cast<int>(std::count_if(all.begin(), all.end(), [](double v) { return v > 20.0; })));
}

}  // namespace
