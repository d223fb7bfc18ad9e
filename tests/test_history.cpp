#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "model/log_space.h"
#include "model/oru.h"

struct ORUTestAccess {
  static auto& glinks(ORU& o) { return o.glinks; }
  static auto& TM_null(ORU& o) { return o.TM_null; }
  static auto& TM_Int(ORU& o) { return o.TM_Int; }
  static auto& fit(ORU& o) { return o.fit; }
  static auto& Tgg(ORU& o) { return o.Tgg; }
  static auto& X(ORU& o) { return o.X; }
  static auto& XX(ORU& o) { return o.XX; }
  static void RefreshLogTmNull(ORU& o) { o.RefreshLogTmNull(); }
  static void SampleNullHistories(ORU& o, int p, int count, std::vector<char>& out) {
    o.SampleNullHistories(p, count, out);
  }
};
using A = ORUTestAccess;

#include "tests/model_setup.h"

using namespace modelsetup;

namespace {

const reference::Terms kModelObs = {
    {{{std::log(0.97), std::log(1 - 0.97)}}, {{std::log(1 - 0.97), std::log(0.97)}}}};
const reference::Terms kGainObs = {
    {{{std::log(0.995), std::log(0.005)}}, {{std::log(0.005), std::log(0.995)}}}};

struct Rng {
  gsl_rng* r;
  explicit Rng(gsl_rng* source) : r(gsl_rng_clone(source)) {}
  ~Rng() { gsl_rng_free(r); }
};

// The reference history of one gene: the step-by-step filter and sampler on
// a clone of the generator given.
std::vector<char> ReferenceHistory(Model& m, const std::vector<bool>& row, int gl,
                                   const std::vector<TransMatrix>& tm, const reference::Terms& obs,
                                   std::vector<char> start, gsl_rng* rng) {
  reference::Work w;
  reference::Upward(m.tree, row, gl, tm, [](int) { return true; }, [&](int) { return obs; }, w);
  reference::SampleDown(m.tree, gl, tm, w, start, rng);
  return start;
}

int SubtreeSize(Model& m, int gl) {
  int n = 0;
  for (int v = 0; v < m.o->N; ++v) n += m.tree.InSubtree(gl, v);
  return n;
}

}  // namespace

// ---- Chance of absence kept by the filtering pass ----

namespace {

bool SameBits(double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); }

}  // namespace

// The message and the present-parent chance must equal the separate Sum and
// draw from the prior, also where that prior is not the row itself (q of 0
// or 1 give -1e6 or minus infinity terms), at the gap of 40 and with
// infinite or NaN terms.
TEST(MessageAndPresentParentAbsentChance, EqualsTheSeparateComputationsBitForBit) {
  const double qs[] = {0.0, 1e-300, 0.03, 0.5, 0.97, 1.0, NAN};
  std::vector<std::array<double, 2>> rows;
  for (double q : qs) rows.push_back({{std::log(q), std::log(1 - q)}});
  rows.push_back({{-1e6, 0.0}});
  rows.push_back({{-1e6 + 30, -2.0}});
  rows.push_back({{-2.0, -1e6}});
  const double w[] = {-3.5, 0.0, -0.0, 2.0, -38.0, -40.0, -41.0, -1e6, -INFINITY, INFINITY, NAN};
  for (const auto& log_q : rows)
    for (double l0 : w)
      for (double l1 : w) {
        std::array<double, 2> l = {{l0, l1}};
        double absent = -7;
        double msg = logspace::MessageAndPresentParentAbsentChance(log_q, l, absent);
        double expected_absent =
            logspace::DrawAbsentChance(logspace::Prior(log_q, logspace::ParentMessage(1)), l);
        EXPECT_TRUE(SameBits(msg, logspace::Sum(log_q[0] + l0, log_q[1] + l1)))
            << log_q[0] << " " << log_q[1] << " " << l0 << " " << l1;
        EXPECT_TRUE(SameBits(absent, expected_absent)) << log_q[0] << " " << log_q[1] << " " << l0 << " " << l1;
      }
}

// The absent-parent chance must equal the draw from the separately formed
// prior, also where l[1] brings the second weight within 40 of l[0], with a
// log q above 0, and with infinite or NaN terms.
TEST(AbsentParentAbsentChance, EqualsTheSeparateComputationBitForBit) {
  const double qs[] = {0.0, 1e-300, 0.03, 0.5, 0.97, 1.0, NAN};
  std::vector<std::array<double, 2>> rows;
  for (double q : qs) rows.push_back({{std::log(q), std::log(1 - q)}});
  rows.push_back({{1e6, -2.0}});
  rows.push_back({{-2.0, -INFINITY}});
  rows.push_back({{-2.0, INFINITY}});
  const double w[] = {-3.5, 0.0, -0.0, 2.0, -41.0, 1e6 - 39.0, 1e6 - 40.0, 1e6 - 41.0, 1e6, 2e6,
                      -1e6, -INFINITY, INFINITY, NAN};
  for (const auto& log_q : rows)
    for (double l0 : w)
      for (double l1 : w) {
        std::array<double, 2> l = {{l0, l1}};
        double expected = logspace::DrawAbsentChance(logspace::Prior(log_q, logspace::ParentMessage(0)), l);
        EXPECT_TRUE(SameBits(logspace::AbsentParentAbsentChance(log_q, l), expected))
            << log_q[0] << " " << log_q[1] << " " << l0 << " " << l1;
      }
}

// ---- Two-way draw ----

TEST(DrawFromTwo, OneUniformPerCallAndTheStatedRule) {
  std::mt19937 gen(1);
  Model m = MakeModel(3, 1, gen);
  ORU& o = *m.o;
  Rng ref(o.RNG);
  std::uniform_real_distribution<double> base(-30, 0), gap(0, 60);
  for (int i = 0; i < 20000; ++i) {
    double a = base(gen), b = a - gap(gen);
    if (i % 2) std::swap(a, b);
    ASSERT_EQ(o.DrawFromTwo(a, b), reference::DrawFromTwo(a, b, ref.r)) << a << " " << b;
  }
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(o.DrawFromTwo(-1e7, 0), 1);
    ASSERT_EQ(o.DrawFromTwo(0, -1e7), 0);
    gsl_rng_uniform(ref.r);
    gsl_rng_uniform(ref.r);
  }
  EXPECT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(ref.r));
}

// Near the gap of 40 where the draw skips the exponentials, and with weights
// close to 0, the draw must still be the formula's.
TEST(DrawFromTwo, SmallWeightsAndGapsAroundTheShortcut) {
  std::mt19937 gen(12);
  Model m = MakeModel(3, 1, gen);
  ORU& o = *m.o;
  Rng ref(o.RNG);
  for (double a : {0.0, -1e-3, 1e-3, -1e-18, -1e6}) {
    for (int i = -400; i <= 400; ++i) {
      const double gap = 40.0 + i * 0.0125;
      ASSERT_EQ(o.DrawFromTwo(a, a - gap), reference::DrawFromTwo(a, a - gap, ref.r)) << a << " " << gap;
      ASSERT_EQ(o.DrawFromTwo(a - gap, a), reference::DrawFromTwo(a - gap, a, ref.r)) << a << " " << gap;
    }
  }
  EXPECT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(ref.r));
}

// Two impossible states (possible with an error rate of 0): the chance of
// absence is 0/0 by the formula, never above u, so the draw is 1.
TEST(DrawFromTwo, TwoMinusInfinityWeightsDrawOne) {
  std::mt19937 gen(13);
  Model m = MakeModel(3, 1, gen);
  ORU& o = *m.o;
  Rng ref(o.RNG);
  gsl_rng* other = gsl_rng_alloc(gsl_rng_mt19937);
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(o.DrawFromTwo(-INFINITY, -INFINITY), 1);
    ASSERT_EQ(o.DrawFromTwo_Xk(-INFINITY, -INFINITY, other), 1);
    ASSERT_EQ(reference::DrawFromTwo(-INFINITY, -INFINITY, ref.r), 1);
  }
  EXPECT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(ref.r));
  gsl_rng_free(other);
}

TEST(DrawFromTwo, EqualWeightsSplitEvenly) {
  std::mt19937 gen(2);
  Model m = MakeModel(3, 1, gen);
  int ones = 0;
  for (int i = 0; i < 20000; ++i) ones += m.o->DrawFromTwo(-2.5, -2.5);
  EXPECT_NEAR(ones / 20000.0, 0.5, 0.02);
}

TEST(DrawFromTwo, CallersGeneratorLeavesTheModelStreamAlone) {
  std::mt19937 gen(3);
  Model m = MakeModel(3, 1, gen);
  Rng before(m.o->RNG);
  gsl_rng* other = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(other, 99);
  Rng other_ref(other);
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(m.o->DrawFromTwo_Xk(-1.0, -1.2, other), reference::DrawFromTwo(-1.0, -1.2, other_ref.r));
  EXPECT_EQ(gsl_rng_uniform(m.o->RNG), gsl_rng_uniform(before.r));
  gsl_rng_free(other);
}

// ---- Samplers against the step-by-step sampler ----

TEST(Samplers, BackgroundDrawsMatchTheReferenceAndCountOneUniformPerNode) {
  std::mt19937 gen(4);
  Model m = MakeModel(30, 4, gen);
  ORU& o = *m.o;
  std::vector<TransMatrix> tm = A::TM_null(o);
  for (int gl = 0; gl < o.N; ++gl) {
    for (int g = 0; g < o.G; ++g) {
      o.cl_glinks[g] = gl;
      Rng ref(o.RNG), counted(o.RNG);
      std::vector<char> before = o.Tg[g];
      std::vector<char> expected = ReferenceHistory(m, A::X(o)[g], gl, tm, kModelObs, before, ref.r);
      o.Update_Tg_null(g);
      ASSERT_EQ(o.Tg[g], expected) << "gl " << gl;
      ASSERT_EQ(o.Tg[g][gl], 1);
      for (int n = 0; n < o.N; ++n) {
        if (!m.tree.InSubtree(gl, n)) {
          ASSERT_EQ(o.Tg[g][n], before[n]);
        }
      }
      for (int i = SubtreeSize(m, gl); i > 0; --i) gsl_rng_uniform(counted.r);
      ASSERT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(counted.r));
      gsl_rng_uniform(ref.r);
    }
  }
}

// Error rate 0 and a branch never lost: leaf 1 is observed absent below a
// branch that cannot lose the gene while leaf 0 is observed present, so node 4
// and the root have both states impossible; every draw follows the formula.
TEST(Samplers, ErrorRateZeroWithImpossibleStatesFollowsTheFormula) {
  const std::vector<std::string> names = modeldata::Names(4);
  PhyloTree tree = modeldata::TreeFromChildren(4, {{0, 1}, {2, 3}, {4, 5}});
  PhyloProf prof = modeldata::Profile(names, {{true, false, true, true}});
  testing::internal::CaptureStdout();
  ORU o(prof, tree, -1, 0, 0, 0.0, 0.0, 0, 3, 0.03, 1.0);
  testing::internal::GetCapturedStdout();
  reference::Tree t;
  t.S = 4;
  t.parent = o.parent;
  A::TM_null(o)[1] = {{{{1.0, 0.0}}, {{0.0, 1.0}}}};
  A::RefreshLogTmNull(o);
  const reference::Terms exact = {{{{0.0, -INFINITY}}, {{-INFINITY, 0.0}}}};
  o.cl_glinks = {6};
  o.Tg.assign(1, std::vector<char>(o.N, 0));
  for (int i = 0; i < 100; ++i) {
    Rng ref(o.RNG);
    reference::Work w;
    reference::Upward(t, A::X(o)[0], 6, A::TM_null(o), [](int) { return true; }, [&](int) { return exact; }, w);
    std::vector<char> expected = o.Tg[0];
    reference::SampleDown(t, 6, A::TM_null(o), w, expected, ref.r);
    o.Update_Tg_null(0);
    ASSERT_EQ(o.Tg[0], expected) << i;
    ASSERT_EQ(o.Tg[0][6], 1);
    ASSERT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(ref.r));
  }
}

TEST(Samplers, NullTwoUsesTheGainSearchErrorAndZerosOutside) {
  std::mt19937 gen(5);
  Model m = MakeModel(25, 5, gen);
  ORU& o = *m.o;
  std::vector<TransMatrix> tm = A::TM_null(o);
  for (int p = 0; p < o.GG; ++p) {
    for (int gl : {0, 7, o.N / 2, o.N - 1}) {
      A::glinks(o)[p] = gl;
      Rng ref(o.RNG);
      std::vector<char> expected =
          ReferenceHistory(m, A::XX(o)[p], gl, tm, kGainObs, std::vector<char>(o.N, 0), ref.r);
      EXPECT_EQ(o.Update_Tg_null2(p), expected);
      EXPECT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(ref.r));
    }
  }
}

TEST(Samplers, ManyNullHistoriesFromOneFilterEqualRepeatedCalls) {
  std::mt19937 gen(6);
  Model m = MakeModel(20, 3, gen);
  ORU& o = *m.o;
  A::glinks(o)[1] = o.N - 3;
  ORU twin(o);
  std::vector<char> batch;
  A::SampleNullHistories(o, 1, 50, batch);
  ASSERT_EQ(batch.size(), (size_t)(50 * o.N));
  for (int i = 0; i < 50; ++i) {
    std::vector<char> one = twin.Update_Tg_null2(1);
    EXPECT_EQ(std::vector<char>(batch.begin() + i * o.N, batch.begin() + (i + 1) * o.N), one) << i;
  }
  EXPECT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(twin.RNG));
}

TEST(Samplers, ModuleDrawsRebuildTheMatricesFromTheMembers) {
  std::mt19937 gen(7);
  Model m = MakeModel(20, 6, gen);
  ORU& o = *m.o;
  o.I_k = {{0, 1, 2}, {3, 4}};
  o.K = 2;
  o.Rebuild_If();  // gene 5 stays in the background
  for (int round = 0; round < 3; ++round) {
    for (int g = 0; g < o.G; ++g) {
      for (bool t : {false, true}) {
        int k = o.I_f[g];
        std::vector<TransMatrix> tm =
            k == -1 ? A::TM_null(o) : Matrices(ModuleLosses(m, g, o.I_k[k], o.Tg, t));
        Rng ref(o.RNG);
        std::vector<char> expected = ReferenceHistory(m, A::X(o)[g], o.cl_glinks[g], tm, kModelObs, o.Tg[g], ref.r);
        o.Update_Tg(g, t);
        ASSERT_EQ(o.Tg[g], expected) << g << " " << t;
        ASSERT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(ref.r));
        if (k == -1) {
          ASSERT_EQ(A::TM_Int(o), A::TM_null(o));
        } else {
          for (int s = 0; s < o.N - 1; ++s) {
            if (m.tree.InSubtree(o.cl_glinks[g], s)) {
              ASSERT_EQ(A::TM_Int(o)[s], tm[s]);
            }
          }
        }
      }
    }
  }
}

TEST(Samplers, EmptyModuleUsesTheLiteralThreePercent) {
  std::mt19937 gen(8);
  Model m = MakeModel(6, 2, gen);
  ORU& o = *m.o;
  o.cl_glinks[0] = o.N - 1;
  o.I_k = {{}};
  o.I_f = {0, -1};
  o.Update_Tg(0, false);
  TransMatrix expected = {{{{1.0, 0.0}}, {{0.03, 0.97}}}};
  for (int s = 0; s < o.N - 1; ++s) EXPECT_EQ(A::TM_Int(o)[s], expected);
}

TEST(Samplers, EstimateDrawsUseTheirOwnHistoriesAndGenerator) {
  std::mt19937 gen(9);
  Model m = MakeModel(15, 5, gen);
  ORU& o = *m.o;
  o.I_k = {{0, 1, 2, 3}};
  o.K = 1;
  o.Rebuild_If();
  A::Tgg(o) = o.Tg;
  std::bernoulli_distribution bit(0.5);
  for (auto& h : A::Tgg(o))
    for (char& x : h) x = bit(gen);
  gsl_rng* rng = gsl_rng_alloc(gsl_rng_mt19937);
  gsl_rng_set(rng, 17);
  Rng model_before(o.RNG);
  std::vector<std::vector<char>> tg_before = o.Tg;
  for (int g = 0; g < 4; ++g) {
    std::vector<TransMatrix> tm = Matrices(ModuleLosses(m, g, o.I_k[0], A::Tgg(o)));
    Rng ref(rng);
    std::vector<char> expected = ReferenceHistory(m, A::X(o)[g], o.cl_glinks[g], tm, kModelObs, A::Tgg(o)[g], ref.r);
    o.Update_Tg_Xk(g, rng);
    EXPECT_EQ(A::Tgg(o)[g], expected);
    EXPECT_EQ(gsl_rng_uniform(rng), gsl_rng_uniform(ref.r));
  }
  EXPECT_EQ(o.Tg, tg_before);
  EXPECT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(model_before.r));
  gsl_rng_free(rng);
}

TEST(Samplers, LeafGainNodeDrawsOnePresentState) {
  std::mt19937 gen(10);
  Model m = MakeModel(5, 1, gen);
  ORU& o = *m.o;
  o.cl_glinks[0] = 3;
  o.Tg[0].assign(o.N, 0);
  Rng counted(o.RNG);
  o.Update_Tg_null(0);
  std::vector<char> expected(o.N, 0);
  expected[3] = 1;
  EXPECT_EQ(o.Tg[0], expected);
  gsl_rng_uniform(counted.r);
  EXPECT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(counted.r));
}

TEST(Samplers, CopiedModelDrawsLikeItsSourceAfterTheSourceIsGone) {
  std::mt19937 gen(11);
  Model m = MakeModel(12, 3, gen);
  m.o->Update_Tg_null(0);
  ORU copy(*m.o);
  ORU witness(*m.o);
  m.o.reset();
  for (int i = 0; i < 5; ++i) {
    for (int g = 0; g < 3; ++g) {
      copy.Update_Tg_null(g);
      witness.Update_Tg_null(g);
      EXPECT_EQ(copy.Tg[g], witness.Tg[g]);
    }
  }
  EXPECT_EQ(copy.CalcSglLogLik(1), witness.CalcSglLogLik(1));
}

TEST(Samplers, NoGainNodeDrawsNothing) {
  std::mt19937 gen(12);
  Model m = MakeModel(6, 2, gen);
  ORU& o = *m.o;
  A::glinks(o)[0] = -1;
  o.cl_glinks[1] = -1;
  std::vector<char> before = o.Tg[1];
  Rng counted(o.RNG);
  EXPECT_EQ(o.Update_Tg_null2(0), std::vector<char>(o.N, 0));
  o.Update_Tg_null(1);
  EXPECT_EQ(o.Tg[1], before);
  EXPECT_EQ(gsl_rng_uniform(o.RNG), gsl_rng_uniform(counted.r));
}
