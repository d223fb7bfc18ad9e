#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <sstream>
#include <vector>

#include "app/orut.h"
#include "model/oru.h"
#include "tests/model_fixtures.h"

struct ORUTestAccess {
  static auto& counts(ORU& o) { return o.sweep_counts; }
  static auto& no_info(ORU& o) { return o.no_info_protein; }
  static auto& fit(ORU& o) { return o.fit; }
  static auto& TM_Int(ORU& o) { return o.TM_Int; }
  static void DeleteModule(ORU& o, int k) { o.DeleteModule(k); }
};
using A = ORUTestAccess;

namespace {

class Quiet {
 public:
  Quiet() : saved(std::cout.rdbuf(sink.rdbuf())) {}
  ~Quiet() { std::cout.rdbuf(saved); }

 private:
  std::ostringstream sink;
  std::streambuf* saved;
};

bool Below(const ORU& o, int n, int top) {
  for (; n >= 0; n = n == o.N - 1 ? -1 : o.parent[n])
    if (n == top) return true;
  return false;
}

// The counts straight from their definition: per listing m and branch s,
// m's loss or retention on s when parent[s] lies at or below m's gain node.
void ExpectCountsAsRecounted(ORU& o) {
  auto& counts = A::counts(o);
  ASSERT_EQ(counts.size(), o.I_k.size());
  for (size_t k = 0; k < o.I_k.size(); ++k) {
    for (int s = 0; s < o.N - 1; ++s) {
      int lost = 0, kept = 0;
      for (int m : o.I_k[k]) {
        const std::vector<char>& h = o.Tg[m];
        if (o.cl_glinks[m] < 0 || !Below(o, o.parent[s], o.cl_glinks[m]) || !h[o.parent[s]]) continue;
        (h[s] ? kept : lost) += 1;
      }
      ASSERT_EQ(counts[k].lost[s], lost) << "module " << k << " branch " << s;
      ASSERT_EQ(counts[k].kept[s], kept) << "module " << k << " branch " << s;
    }
  }
}

// Genes gained at nested and disjoint nodes (some at the root), random
// histories, every pair compatible, and a random partition of 4 modules.
ORU MakeModel(unsigned seed) {
  const int S = 10, G = 24;
  std::mt19937 gen(seed);
  Quiet quiet;
  ORU o(modeldata::Profile(modeldata::Names(S), modeldata::RandomRows(G, S, gen)),
        modeldata::RandomTree(S, gen), 0, 0, 0, 0.0, 0.0, 0, 3, 0.03, 0.99);
  o.InitMCMC(1.0, 10, 10, 1, 0.5);
  o.PreProcess();
  std::uniform_int_distribution<int> internal(S, o.N - 1), module(-1, 3);
  for (int g = 0; g < o.G; ++g) o.cl_glinks[g] = g % 3 == 0 ? o.N - 1 : internal(gen);
  A::fit(o).assign(o.G, std::vector<bool>(o.G, true));
  A::no_info(o).assign(A::no_info(o).size(), false);
  o.CalcSglLogLik();
  std::bernoulli_distribution bit(0.6);
  for (auto& h : o.Tg)
    for (char& c : h) c = bit(gen);
  o.I_k.assign(4, {});
  for (int g = 0; g < o.G; ++g) {
    int k = module(gen);
    if (k >= 0) o.I_k[k].push_back(g);
  }
  o.Rebuild_If();
  o.K = 4;
  o.N_f.clear();
  for (const auto& members : o.I_k) o.N_f.push_back(static_cast<int>(members.size()));
  o.N_n = o.G;
  for (int n : o.N_f) o.N_n -= n;
  o.buf_log_liks.assign(o.K, std::vector<double>(o.G, 0.0));
  o.gl_prot.clear();
  for (int g = 0; g < o.G; ++g) o.gl_prot.push_back(g);
  o.concluded.assign(o.G, false);
  return o;
}

void ExpectSameState(const ORU& a, const ORU& b) {
  ASSERT_EQ(a.Tg, b.Tg);
  ASSERT_EQ(a.I_k, b.I_k);
  ASSERT_EQ(a.I_f, b.I_f);
  ASSERT_EQ(a.N_f, b.N_f);
  ASSERT_EQ(a.K, b.K);
}

TEST(SweepCounts, StartFromTheDefinition) {
  ORU o = MakeModel(1);
  o.I_k[0].push_back(o.I_k[0].front());  // a gene listed twice counts twice
  o.BeginSweepCounts();
  ExpectCountsAsRecounted(o);
  EXPECT_TRUE(o.EndSweepCounts());
  EXPECT_FALSE(o.EndSweepCounts());
}

// Scores and rows taken from the counts are the literal recount's, bit for
// bit, whether or not the scored gene is a member.
TEST(SweepCounts, ScoresEqualTheRecount) {
  for (unsigned seed : {1u, 2u, 3u}) {
    ORU counted = MakeModel(seed);
    ORU literal = counted;
    counted.BeginSweepCounts();
    for (int g = 0; g < counted.G; ++g) {
      for (int k = 0; k < counted.K; ++k) {
        ASSERT_EQ(counted.log_f_Xg(g, k), literal.log_f_Xg(g, k)) << "gene " << g << " module " << k;
        ASSERT_EQ(A::TM_Int(counted), A::TM_Int(literal));
      }
    }
  }
}

// A sweep run on the counts makes the same draws, partitions and histories
// as one run on the recount, and after every step the counts still match
// their definition.
TEST(SweepCounts, SweepsEqualTheRecountStepByStep) {
  for (unsigned seed : {4u, 5u, 6u}) {
    ORU counted = MakeModel(seed);
    ORU literal = counted;
    Quiet quiet;
    for (int sweep = 0; sweep < 4; ++sweep) {
      counted.Rebuild_Ik();
      literal.Rebuild_Ik();
      counted.BeginSweepCounts();
      for (int g = 0; g < counted.G; ++g) {
        if (counted.I_f[g] == -1) continue;
        bool t = g % 2 == 1;
        counted.Update_Tg(g, t);
        literal.Update_Tg(g, t);
        ExpectSameState(counted, literal);
        ExpectCountsAsRecounted(counted);
      }
      for (int g = 0; g < counted.G; ++g) {
        counted.Update_Ig(g, sweep);
        literal.Update_Ig(g, sweep);
        ExpectSameState(counted, literal);
        ExpectCountsAsRecounted(counted);
      }
      counted.CleanSingleton();
      literal.CleanSingleton();
      ExpectSameState(counted, literal);
      ExpectCountsAsRecounted(counted);
      counted.EndSweepCounts();
    }
  }
}

TEST(SweepCounts, DeletedModulesTakeTheirCountsAlong) {
  ORU o = MakeModel(7);
  o.BeginSweepCounts();
  A::DeleteModule(o, 1);
  ExpectCountsAsRecounted(o);
  A::DeleteModule(o, o.K - 1);
  ExpectCountsAsRecounted(o);
}

// The multi-tree pass drops a gene without loss information from its module
// by direct edits; the counts are retaken, a sole member's module included.
TEST(SweepCounts, LeavingWithoutInformationRetakesTheCounts) {
  ORU o = MakeModel(8);
  o.I_k[2] = {o.I_k[2].front()};
  o.Rebuild_If();
  o.N_f[2] = 1;
  int lone = o.I_k[2].front(), member = o.I_k[0].front();
  A::no_info(o)[o.cur_proteins[lone]] = true;
  A::no_info(o)[o.cur_proteins[member]] = true;
  o.BeginSweepCounts();
  LeaveModuleWithoutInfo(o, member);
  EXPECT_EQ(o.I_f[member], -1);
  ExpectCountsAsRecounted(o);
  LeaveModuleWithoutInfo(o, lone);
  EXPECT_EQ(o.K, 3);
  ExpectCountsAsRecounted(o);
  EXPECT_TRUE(o.EndSweepCounts());
}

}  // namespace
