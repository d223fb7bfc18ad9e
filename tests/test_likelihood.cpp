#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "model/oru.h"
#include "tests/model_fixtures.h"
#include "tests/model_reference.h"

struct ORUTestAccess {
  static auto& glinks(ORU& o) { return o.glinks; }
  static auto& TM_null(ORU& o) { return o.TM_null; }
  static auto& TM_Int(ORU& o) { return o.TM_Int; }
  static auto& fit(ORU& o) { return o.fit; }
  static auto& lambda(ORU& o) { return o.lambda; }
  static auto& lambda_from_children(ORU& o) { return o.lambda_from_children; }
  static auto& X(ORU& o) { return o.X; }
  static auto& XX(ORU& o) { return o.XX; }
  static double PO(ORU& o) { return o.PO; }
  static void RefreshLogTmNull(ORU& o) { o.RefreshLogTmNull(); }
};
using A = ORUTestAccess;

#include "tests/model_setup.h"

using namespace modelsetup;

namespace {

const double kTol = 1e-12;

}  // namespace

// ---- Two-term log-sum-exp ----

TEST(LogExpSum, EdgeCases) {
  for (double x : {0.0, -3.5, 12.25, -1e6}) {
    EXPECT_EQ(ORU::log_exp_sum(x, -INFINITY), x);
    EXPECT_EQ(ORU::log_exp_sum(-INFINITY, x), x);
  }
  EXPECT_EQ(ORU::log_exp_sum(-INFINITY, -INFINITY), -INFINITY);
  EXPECT_DOUBLE_EQ(ORU::log_exp_sum(std::log(2.0), std::log(3.0)), std::log(5.0));
  EXPECT_EQ(ORU::log_exp_sum(0.0, 0.0), std::log(2.0));
}

TEST(LogExpSum, SameBitsAsTheFullFormulaAcrossTheShortcutGap) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> base(-50, 5), gap(0, 60);
  for (int i = 0; i < 20000; ++i) {
    double a = base(gen), b = a - gap(gen);
    if (i % 3 == 0) std::swap(a, b);
    EXPECT_EQ(ORU::log_exp_sum(a, b), reference::LogExpSum(a, b)) << a << " " << b;
    EXPECT_EQ(ORU::log_exp_sum(a, b), ORU::log_exp_sum(b, a));
  }
  for (double g : {39.999999, 40.0, 40.000001, 36.0, 37.0, 38.0})
    EXPECT_EQ(ORU::log_exp_sum(-1.5, -1.5 - g), reference::LogExpSum(-1.5, -1.5 - g));
}

// The shortcut returns the larger term once 1 + exp(gap) is 1 in double, so
// it must agree bit for bit with the formula even where a tiny addend would
// still change the larger term (|larger| near 0), and on both sides of the
// gap where 1 + exp(gap) starts to round to 1 (about -36.74).
TEST(LogExpSum, SameBitsAsTheFormulaForSmallTermsAndGapsNearTheRoundingPoint) {
  auto same_bits = [](double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; };
  const double rounding_gap = std::log(std::ldexp(1.0, -53));
  std::vector<double> gaps = {-34.0, -36.0, -36.7, -36.75, -37.0, -37.5, -39.0, -39.999999, -40.0,
                              -40.000001, -41.0, -45.0, -700.0, -1e6, -INFINITY};
  for (int i = -2000; i <= 2000; ++i) gaps.push_back(rounding_gap + i * 1e-6);
  for (int i = -2000; i <= 2000; ++i) gaps.push_back(-40.0 + i * 1e-6);
  for (double hi : {0.0, -0.0, 1e-3, -1e-3, 1e-18, -1e-18, 4e-18, 1e-300, -5e-324, 0.04, -0.04, -1e6, -1e7}) {
    for (double gap : gaps) {
      const double lo = hi + gap;
      const double literal = hi + std::log(1 + std::exp(lo - hi));
      ASSERT_TRUE(same_bits(ORU::log_exp_sum(hi, lo), literal)) << hi << " " << gap;
      ASSERT_TRUE(same_bits(ORU::log_exp_sum(lo, hi), literal)) << hi << " " << gap;
    }
  }
}

// ---- Pruning variants against every no-regain history ----

TEST(PruningBruteForce, SingletonAndNullUseTheBackgroundModel) {
  std::mt19937 gen(1);
  for (int S = 3; S <= 5; ++S) {
    Model m = MakeModel(S, 12, gen);
    ORU& o = *m.o;
    for (int g = 0; g < o.G; ++g) {
      for (int gl = 0; gl < o.N; ++gl) {
        o.cl_glinks[g] = gl;
        A::glinks(o)[o.cur_proteins[g]] = gl;
        double expected = reference::BruteForce(
            m.tree, A::X(o)[g], gl, m.q, [](int) { return true; },
            [](int, int bit, int state) { return ModelObs(0.97, bit, state); });
        EXPECT_NEAR(o.CalcSglLogLik(g), expected, kTol);
        EXPECT_NEAR(o.CalcNullLogLik(g), expected, kTol);
      }
    }
    o.CalcSglLogLik();
    o.CalcNullLogLik();
    EXPECT_EQ(o.log_liks_sgl.size(), (size_t)o.G);
    EXPECT_EQ(o.log_liks_sgl, o.log_liks_null);
  }
}

TEST(PruningBruteForce, GainSearchScoreWithOutsideTermsAndSpeciesZeroRule) {
  std::mt19937 gen(2);
  for (std::string first : {"Prokaryotes", "prokaryotes", "sp0"}) {
    bool prok = first == "Prokaryotes";
    for (int S = 3; S <= 5; ++S) {
      std::vector<std::string> names = modeldata::Names(S);
      names[0] = first;
      Model m = MakeModel(S, 8, gen, names);
      ORU& o = *m.o;
      auto obs = [](int s, int bit, int state) {
        double err = s == 0 ? 1e-7 : 0.005;
        return bit == state ? 1 - err : err;
      };
      for (int p = 0; p < o.GG; ++p) {
        for (int gl = 0; gl < o.N; ++gl) {
          const std::vector<bool>& row = A::XX(o)[p];
          double expected = reference::BruteForce(
              m.tree, row, gl, m.q, [&](int s) { return s > 0 || prok; }, obs);
          for (int s = 0; s < S; ++s)
            if ((s > 0 || prok) && !m.tree.InSubtree(gl, s)) expected += std::log(obs(s, row[s], 0));
          EXPECT_NEAR(o.log_f_Xg_null_gl(p, gl), expected, kTol) << first << " p" << p << " gl" << gl;
        }
      }
    }
  }
}

TEST(PruningBruteForce, PredictionNeverCountsSpeciesZero) {
  std::mt19937 gen(3);
  for (int S = 3; S <= 5; ++S) {
    Model m = MakeModel(S, 8, gen);
    ORU& o = *m.o;
    std::uniform_real_distribution<double> loss(0.0, 0.9);
    for (int gl = 0; gl < o.N; ++gl) {
      std::vector<double> q(o.N);
      for (double& x : q) x = loss(gen);
      Group group;
      group.glink = gl;
      group.TM = Matrices(q);
      o.groups = {Group(), group};
      for (int p = 0; p < o.GG; ++p) {
        const std::vector<bool>& row = A::XX(o)[p];
        double expected = reference::BruteForce(
            m.tree, row, gl, q, [](int s) { return s > 0; },
            [](int, int bit, int state) { return ModelObs(0.97, bit, state); });
        for (int s = 1; s < S; ++s)
          if (!m.tree.InSubtree(gl, s)) expected += std::log(ModelObs(0.97, row[s], 0));
        EXPECT_NEAR(o.log_f_Xg_pred(p, 1), expected, kTol);
      }
    }
  }
}

TEST(PruningBruteForce, NullAgainstAModuleChoosesTheGainNode) {
  std::mt19937 gen(4);
  // ((0,1)5,(2,(3,4)6)7)8
  PhyloTree tree = modeldata::TreeFromChildren(5, {{0, 1}, {3, 4}, {2, 6}, {5, 7}});
  PhyloProf prof = modeldata::Profile(modeldata::Names(5), modeldata::RandomRows(4, 5, gen));
  testing::internal::CaptureStdout();
  ORU o(prof, tree, -1, 0, 0, 0.0, 0.0, 0, 3, 0.03, 0.97);
  testing::internal::GetCapturedStdout();
  reference::Tree t;
  t.S = 5;
  t.parent = o.parent;
  std::vector<double> q(o.N, 0.03);
  A::glinks(o).assign(o.GG, 7);
  o.groups.assign(1, Group());
  struct Case {
    int protein_gl, module_gl, expected_gl;
  } cases[] = {{7, 8, 7}, {7, 6, 6}, {7, 3, 3}, {7, 5, 7}, {7, 7, 7}, {6, 8, 6}, {2, 0, 2}};
  for (const Case& cs : cases) {
    A::glinks(o)[1] = cs.protein_gl;
    o.groups[0].glink = cs.module_gl;
    double expected = reference::BruteForce(
        t, A::XX(o)[1], cs.expected_gl, q, [](int) { return true; },
        [](int, int bit, int state) { return ModelObs(0.97, bit, state); });
    EXPECT_NEAR(o.log_f_Xg_null(1, 0), expected, kTol) << cs.protein_gl << " vs " << cs.module_gl;
  }
}

TEST(PruningBruteForce, ModuleLikelihoodFromMembersHistories) {
  std::mt19937 gen(5);
  for (int S = 3; S <= 5; ++S) {
    Model m = MakeModel(S, 7, gen);
    ORU& o = *m.o;
    std::vector<std::vector<int>> modules = {{0, 1, 2}, {3}, {}, {1, 4, 5, 6}};
    o.I_k = modules;
    o.K = (int)modules.size();
    for (int g = 0; g < o.G; ++g) {
      for (int k = 0; k < o.K; ++k) {
        std::vector<double> q = ModuleLosses(m, g, modules[k], o.Tg);
        double expected = reference::BruteForce(
            m.tree, A::X(o)[g], o.cl_glinks[g], q, [](int) { return true; },
            [](int, int bit, int state) { return ModelObs(0.97, bit, state); });
        EXPECT_NEAR(o.log_f_Xg(g, k), expected, kTol) << "g" << g << " k" << k;
      }
    }
  }
}

TEST(PruningBruteForce, CallerLossesLeaveTheModelWorkArraysAlone) {
  std::mt19937 gen(6);
  for (int S = 3; S <= 5; ++S) {
    Model m = MakeModel(S, 5, gen);
    ORU& o = *m.o;
    o.CalcSglLogLik(0);
    auto lambda_before = A::lambda(o);
    auto children_before = A::lambda_from_children(o);
    auto tm_before = A::TM_Int(o);
    std::uniform_real_distribution<double> loss(0.0, 1.0);
    for (int g = 0; g < o.G; ++g) {
      std::vector<double> l(o.N);
      for (double& x : l) x = loss(gen);
      double expected = reference::BruteForce(
          m.tree, A::X(o)[g], o.cl_glinks[g], l, [](int) { return true; },
          [](int, int bit, int state) { return ModelObs(0.97, bit, state); });
      EXPECT_NEAR(o.log_f_Xg(g, l), expected, kTol);
    }
    EXPECT_EQ(A::lambda(o), lambda_before);
    EXPECT_EQ(A::lambda_from_children(o), children_before);
    EXPECT_EQ(A::TM_Int(o), tm_before);
  }
}

TEST(ModuleLikelihood, IncompatibleMemberGivesTheSentinel) {
  std::mt19937 gen(7);
  Model m = MakeModel(4, 4, gen);
  ORU& o = *m.o;
  o.I_k = {{0, 1}, {2, 3}};
  o.K = 2;
  A::fit(o)[0][3] = false;
  A::fit(o)[2][2] = false;
  EXPECT_EQ(o.log_f_Xg(0, 1), -100000.0);
  EXPECT_NE(o.log_f_Xg(0, 0), -100000.0);
  EXPECT_EQ(o.log_f_Xg(2, 1), -100000.0);  // g is a member and incompatible with itself
  o.buf_log_liks.assign(2, std::vector<double>(4, 0.0));
  o.RecompBufLogLiks();
  EXPECT_EQ(o.buf_log_liks[1][0], -100000.0);
  EXPECT_EQ(o.buf_log_liks[0][1], o.log_f_Xg(1, 0));
}

TEST(ModuleLikelihood, UncrossedBranchesGetThreePercent) {
  std::mt19937 gen(8);
  Model m = MakeModel(4, 3, gen);
  ORU& o = *m.o;
  // The only other member is gained at a leaf: it crosses no branch.
  o.cl_glinks = {o.N - 1, 0, o.N - 1};
  o.I_k = {{0, 1}};
  o.K = 1;
  o.log_f_Xg(0, 0);
  for (int s = 0; s < o.N - 1; ++s) {
    EXPECT_EQ(A::TM_Int(o)[s][1][0], 0.0045 / 0.15);
    EXPECT_EQ(A::TM_Int(o)[s][0][0], 1.0);
  }
}

// ---- Edge values ----

TEST(PruningEdges, LeafGainNodeScoresItsOwnObservation) {
  std::mt19937 gen(9);
  Model m = MakeModel(4, 1, gen);
  ORU& o = *m.o;
  int leaf = 2;
  A::X(o)[0][leaf] = true;
  A::XX(o)[0][leaf] = true;
  o.cl_glinks[0] = leaf;
  EXPECT_EQ(o.CalcSglLogLik(0), std::log(0.97));
  double expected = std::log(0.995);
  for (int s = 1; s < 4; ++s)
    if (s != leaf) expected += std::log(A::XX(o)[0][s] ? 0.005 : 0.995);
  EXPECT_EQ(o.log_f_Xg_null_gl(0, leaf), expected);
}

// ---- The fast kernel against the step-by-step pass, bit for bit ----

TEST(PruningExactness, SameBitsAsTheStepByStepPass) {
  std::mt19937 gen(10);
  Model m = MakeModel(40, 40, gen);
  ORU& o = *m.o;
  std::vector<int> large;
  for (int g = 6; g < 40; ++g) large.push_back(g);
  o.I_k = {{0, 1, 2, 3}, {4, 5}, large};
  o.K = 3;
  std::vector<TransMatrix> tm_null = A::TM_null(o);
  reference::Terms model_obs = {{{{std::log(0.97), std::log(1 - 0.97)}}, {{std::log(1 - 0.97), std::log(0.97)}}}};
  reference::Terms gain_obs = {{{{std::log(0.995), std::log(0.005)}}, {{std::log(0.005), std::log(0.995)}}}};
  auto all = [](int) { return true; };
  reference::Work w;
  for (int gl = 0; gl < o.N; ++gl) {
    for (int g = 0; g < 7; ++g) {
      int saved = o.cl_glinks[g];
      o.cl_glinks[g] = gl;
      double ref = reference::Upward(m.tree, A::X(o)[g], gl, tm_null, all, [&](int) { return model_obs; }, w);
      ASSERT_EQ(o.CalcSglLogLik(g), ref) << gl;
      for (int n = 0; n < o.N; ++n) {
        if (m.tree.InSubtree(gl, n)) {
          ASSERT_EQ(A::lambda(o)[n], w.lambda[n]) << n;
        }
      }

      for (int k = 0; k < o.K; ++k) {
        std::vector<TransMatrix> tm = Matrices(ModuleLosses(m, g, o.I_k[k], o.Tg));
        ref = reference::Upward(m.tree, A::X(o)[g], gl, tm, all, [&](int) { return model_obs; }, w);
        ASSERT_EQ(o.log_f_Xg(g, k), ref);
        for (int s = 0; s < o.N - 1; ++s) {
          if (m.tree.InSubtree(gl, s)) {
            ASSERT_EQ(A::TM_Int(o)[s], tm[s]);
          }
        }
      }
      std::vector<double> l(o.N);
      for (int n = 0; n < o.N; ++n) l[n] = (n * 7 + g) % 10 / 10.0;
      ref = reference::Upward(m.tree, A::X(o)[g], gl, Matrices(l), all, [&](int) { return model_obs; }, w);
      ASSERT_EQ(o.log_f_Xg(g, l), ref);
      if (g >= 6) o.cl_glinks[g] = saved;  // keep the large module's gain nodes spread
    }
    const std::vector<bool>& row = A::XX(o)[0];
    double ref = reference::Upward(m.tree, row, gl, tm_null, [](int s) { return s > 0; },
                                   [&](int) { return gain_obs; }, w);
    for (int s = 1; s < 40; ++s)
      if (!m.tree.InSubtree(gl, s)) ref += gain_obs[row[s]][0];
    ASSERT_EQ(o.log_f_Xg_null_gl(0, gl), ref);
  }
}

// A protein whose gain-node search found no node has an empty subtree:
// nothing observed inside, every counted species outside.
TEST(PruningEdges, NoGainNodeIsAnEmptySubtree) {
  std::mt19937 gen(12);
  Model m = MakeModel(4, 2, gen);
  ORU& o = *m.o;
  A::glinks(o)[1] = -1;
  o.cl_glinks[1] = -1;
  EXPECT_EQ(o.CalcSglLogLik(1), 0.0);
  const std::vector<bool>& row = A::XX(o)[1];
  double expected = 0.0;
  for (int s = 1; s < 4; ++s) expected += std::log(row[s] ? 0.005 : 0.995);
  EXPECT_EQ(o.log_f_Xg_null_gl(1, -1), expected);
}
