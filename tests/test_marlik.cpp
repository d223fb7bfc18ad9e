#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <iostream>
#include <random>
#include <sstream>
#include <vector>

#include "model/log_space.h"
#include "model/oru.h"
#include "tests/model_fixtures.h"

struct ORUTestAccess {
  static std::vector<std::vector<bool>>& in_hist(ORU& o) { return o.in_hist; }
  static std::vector<std::vector<char>>& Tgg(ORU& o) { return o.Tgg; }
  static std::vector<std::array<double, 2>>& lambda(ORU& o) { return o.lambda; }
  static std::vector<std::array<double, 2>>& last_pass(ORU& o) { return o.xk_passes.back().lambda; }
  static double Chib(ORU& o, int M, double lik, double prior, std::vector<double>& c) {
    return o.ChibEstimate(M, lik, prior, c);
  }
};

namespace {

// log_f_Xk written out step by step: whole histories kept per sample,
// counts recounted over every member, one Beta density per term.
double ReferenceLogFXk(ORU& o, int k, int M) {
  const std::vector<std::vector<bool>>& in_hist = ORUTestAccess::in_hist(o);
  gsl_rng* rng = gsl_rng_alloc(gsl_rng_default);
  gsl_rng_set(rng, 0);
  const std::vector<int> members = o.I_k[k];
  int gl = 0;
  for (int g : members) gl = std::max(gl, o.cl_glinks[g]);
  ORUTestAccess::Tgg(o).assign(o.G, std::vector<char>(o.N, 0));
  for (int sweep = 0; sweep < 50; ++sweep)
    for (int g : members) o.Update_Tg_Xk(g, rng);
  std::vector<std::vector<std::vector<char>>> H(M);
  for (int i = 0; i < M; ++i)
    for (int g : members) {
      o.Update_Tg_Xk(g, rng);
      H[i].push_back(ORUTestAccess::Tgg(o)[g]);
    }
  auto counts = [&](int i, int s, double& lost, double& kept) {
    double t[2][2] = {{0, 0}, {0, 0}};
    int p = o.parent[s];
    for (size_t j = 0; j < members.size(); ++j)
      if (in_hist[o.cl_glinks[members[j]]][p]) t[(int)H[i][j][p]][(int)H[i][j][s]] += 1;
    lost = t[1][0];
    kept = t[1][1];
  };
  std::vector<double> lbar(o.N, 0.0);
  for (int i = 0; i < M; ++i)
    for (int s = 0; s < o.N - 1; ++s) {
      if (!in_hist[gl][s]) continue;
      double value = 0.03, lost, kept;
      if (!members.empty()) {
        counts(i, s, lost, kept);
        value = (lost + 0.0045) / (lost + kept + 0.15);
      }
      lbar[s] += value / M;
    }
  for (int s = 0; s < o.N - 1; ++s) {
    if (!in_hist[gl][s]) continue;
    if (lbar[s] >= 0.7)
      lbar[s] = 0.95;
    else if (lbar[s] < 0.3)
      lbar[s] = 0.01;
  }
  double sum_lik = 0, sum_prior = 0;
  for (int g : members) sum_lik += o.log_f_Xg(g, lbar);
  for (int s = 0; s < o.N - 1; ++s)
    if (in_hist[gl][s]) sum_prior += log(gsl_ran_beta_pdf(lbar[s], 0.0045, 0.1455));
  std::vector<double> c(M, 0.0);
  for (int i = 0; i < M; ++i)
    for (int s = 0; s < o.N - 1; ++s) {
      if (!in_hist[gl][s]) continue;
      double lost = 0, kept = 0;
      if (!members.empty()) counts(i, s, lost, kept);
      c[i] += log(gsl_ran_beta_pdf(lbar[s], lost + 0.0045, kept + 0.1455));
    }
  gsl_rng_free(rng);
  return log(M) + sum_lik + sum_prior - o.log_exp_sum(c, M);
}

// A preprocessed model on a random tree; stdout of preprocessing is dropped.
struct Model {
  explicit Model(int S, const std::vector<std::vector<bool>>& rows, double p00 = 0.99,
                 const PhyloTree* tree = nullptr)
      : model(MakeModel(S, rows, p00, tree)) {}
  static ORU MakeModel(int S, const std::vector<std::vector<bool>>& rows, double p00,
                       const PhyloTree* tree) {
    std::mt19937 gen(5);
    PhyloTree t = tree ? *tree : modeldata::RandomTree(S, gen);
    std::ostringstream sink;
    std::streambuf* saved = std::cout.rdbuf(sink.rdbuf());
    ORU o(modeldata::Profile(modeldata::Names(S), rows), t, 0, 0, 0, 0.0, 0.0, 0, 3, 0.03, p00);
    o.InitMCMC(1.0, 10, 10, 1, 0.5);
    o.PreProcess();
    o.PrepFitnessMatrix("params.txt");
    std::cout.rdbuf(saved);
    return o;
  }
  // One module of the given genes, every other gene in the background.
  void SetModule(const std::vector<int>& genes) {
    model.I_f.assign(model.G, -1);
    for (int g : genes) model.I_f[g] = 0;
    model.K = 1;
    model.Rebuild_Ik();
  }
  ORU model;
};

std::vector<std::vector<bool>> RandomRows(int G, int S, unsigned seed) {
  std::mt19937 gen(seed);
  return modeldata::RandomRows(G, S, gen, 0.7);
}

TEST(LogExpSumVector, EqualValuesGiveTheValuePlusLogCount) {
  ORU o = Model(4, RandomRows(2, 4, 1)).model;
  std::vector<double> c(7, -42.5);
  EXPECT_NEAR(o.log_exp_sum(c, 7), -42.5 + std::log(7.0), 1e-12);
  std::vector<double> v = {-1, -3, -2, -1};
  EXPECT_NEAR(o.log_exp_sum(v, 4), std::log(2 * std::exp(-1.0) + std::exp(-2.0) + std::exp(-3.0)),
              1e-12);
  // Only the first n entries count.
  EXPECT_NEAR(o.log_exp_sum(v, 1), -1, 0);
}

// The shared exp() must give exactly the two separate results, at ties, at
// the gap of 40 from either side, and with infinite or NaN weights.
TEST(SumAndAbsentChance, EqualsTheSeparateComputationsBitForBit) {
  const double w[] = {-3.5, -3.5 + 1e-12, 0.0, -0.0, 2.0, -38.0, -40.0, -41.0, -1e6,
                      -INFINITY, INFINITY, NAN};
  for (double a : w)
    for (double b : w) {
      double absent = 0;
      double sum = logspace::SumAndAbsentChance(a, b, absent);
      double expected_sum = logspace::Sum(a, b), expected_absent = logspace::AbsentChance(a, b);
      EXPECT_TRUE(sum == expected_sum || (std::isnan(sum) && std::isnan(expected_sum))) << a << " " << b;
      EXPECT_TRUE(absent == expected_absent || (std::isnan(absent) && std::isnan(expected_absent)))
          << a << " " << b;
    }
}

TEST(ChibEstimate, PosteriorAtOrBelowTheSearchStartGivesMinusInfinity) {
  ORU o = Model(4, RandomRows(2, 4, 1)).model;
  std::vector<double> low = {-1e7, -INFINITY, -2e7};
  EXPECT_EQ(ORUTestAccess::Chib(o, 3, -5, -6, low), -INFINITY);
  std::vector<double> equal = {-2, -2};
  EXPECT_NEAR(ORUTestAccess::Chib(o, 2, -5, -6, equal), -5 - 6 + 2, 1e-12);
}

class MarLikTest : public ::testing::Test {
 protected:
  MarLikTest() : m(24, RandomRows(14, 24, 3)) {}
  Model m;
};

TEST_F(MarLikTest, RepeatedEstimatesAgreeAndLeaveTheChainStreamAlone) {
  m.SetModule({0, 2, 3, 5, 8, 9, 13});
  gsl_rng* before = gsl_rng_clone(m.model.RNG);
  double first = m.model.log_f_Xk(0, 500);
  double second = m.model.log_f_Xk(0, 500);
  EXPECT_TRUE(std::isfinite(first));
  EXPECT_EQ(first, second);
  EXPECT_EQ(gsl_rng_uniform(m.model.RNG), gsl_rng_uniform(before));
  gsl_rng_free(before);
}

TEST_F(MarLikTest, MatchesTheStepByStepComputationBitForBit) {
  const std::vector<std::vector<int>> modules = {
      {0, 1}, {1, 4, 6, 7, 10}, {0, 2, 3, 5, 8, 9, 11, 12, 13}, {3}};
  for (const auto& genes : modules) {
    m.SetModule(genes);
    double fast = m.model.log_f_Xk(0, 60);
    double reference = ReferenceLogFXk(m.model, 0, 60);
    EXPECT_EQ(fast, reference) << "module of " << genes.size() << " genes";
  }
}

// Members gained at the root, at nested internal nodes and at a leaf, so
// that branches are crossed by different subsets of members; estimates of
// several modules in a row must not carry anything over.
TEST_F(MarLikTest, NestedGainNodesMatchTheStepByStepComputation) {
  ORU& o = m.model;
  const int root = o.N - 1, leaf = 5;
  int inner = leaf;
  while (o.parent[inner] != root) inner = o.parent[inner];
  int middle = o.parent[leaf];
  const std::vector<int> gains = {root, inner, middle, leaf, root, inner, middle};
  for (size_t g = 0; g < gains.size(); ++g) o.cl_glinks[g] = gains[g];
  const std::vector<std::vector<int>> modules = {{0, 1, 2, 3, 4, 5, 6}, {1, 2, 3, 6}, {3}, {0, 3}};
  for (const auto& genes : modules) {
    m.SetModule(genes);
    double fast = o.log_f_Xk(0, 40);
    EXPECT_EQ(fast, ReferenceLogFXk(o, 0, 40)) << "module of " << genes.size() << " genes";
  }
}

// The last member's kept filtering pass, updated only where rows changed,
// equals a full pass over the rows its last draw was made with.
TEST_F(MarLikTest, KeptPassEqualsAFullPass) {
  ORU& o = m.model;
  for (const std::vector<int>& genes : {std::vector<int>{0, 2, 3, 5, 8, 9, 13}, {1, 4, 6, 7, 10}}) {
    m.SetModule(genes);
    // Each sample count ends the estimate on another draw of that member.
    for (int M = 1; M <= 80; ++M) {
      o.log_f_Xk(0, M);
      int last = genes.back();
      gsl_rng* rng = gsl_rng_alloc(gsl_rng_default);
      o.Update_Tg_Xk(last, rng);  // the full pass of Update_Tg_Xk, from the same rows
      gsl_rng_free(rng);
      const auto& full = ORUTestAccess::lambda(o);
      const auto& kept = ORUTestAccess::last_pass(o);
      for (int n = 0; n < o.N; ++n)
        if (ORUTestAccess::in_hist(o)[o.cl_glinks[last]][n]) {
          ASSERT_EQ(kept[n], full[n]) << "node " << n;
        }
    }
  }
}

TEST_F(MarLikTest, OneMemberModuleIsFinite) {
  m.SetModule({4});
  EXPECT_TRUE(std::isfinite(m.model.log_f_Xk(0, 500)));
}

TEST_F(MarLikTest, EmptyModuleGivesZero) {
  m.SetModule({});
  EXPECT_NEAR(m.model.log_f_Xk(0, 500), 0.0, 1e-9);
}

// ((A,B),(C,D)) with near-certain observations: every sample repeats the
// observed histories, so the estimate follows from the counts by hand.
TEST(MarLikClamp, HandCountedBranchesEndAtTheirClampedMeans) {
  PhyloTree tree = modeldata::TreeFromChildren(4, {{0, 1}, {2, 3}, {4, 5}});
  // Leaves A B C D: B lost by 3 of 4 members, D by 2 of 4.
  std::vector<std::vector<bool>> rows = {
      {1, 0, 1, 1}, {1, 0, 1, 1}, {1, 0, 1, 0}, {1, 1, 1, 0}};
  Model m(4, rows, 1 - 1e-12, &tree);
  ORU& o = m.model;
  o.cl_glinks.assign(4, 6);
  m.SetModule({0, 1, 2, 3});

  // Branch: {lost, kept} in every sample.
  const int lost[6] = {0, 3, 0, 2, 0, 0};
  const int kept[6] = {4, 1, 4, 2, 4, 4};
  std::vector<double> lbar(7, 0.0);
  for (int s = 0; s < 6; ++s) lbar[s] = 0.01;  // (0 + 0.0045) / 4.15 is below 0.3
  lbar[1] = 0.95;                               // 3.0045 / 4.15 is above 0.7
  lbar[3] = 2.0045 / 4.15;                      // kept as it is
  double lik = 0, prior = 0, post = 0;
  for (int g = 0; g < 4; ++g) lik += o.log_f_Xg(g, lbar);
  for (int s = 0; s < 6; ++s) {
    prior += std::log(gsl_ran_beta_pdf(lbar[s], 0.0045, 0.1455));
    post += std::log(gsl_ran_beta_pdf(lbar[s], lost[s] + 0.0045, kept[s] + 0.1455));
  }
  EXPECT_NEAR(o.log_f_Xk(0, 500), lik + prior - post, 1e-7);
}

}  // namespace
