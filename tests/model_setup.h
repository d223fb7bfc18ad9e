#pragma once

// Random models for the likelihood and history tests. Include after the
// test file's ORUTestAccess, which must offer glinks, TM_null, fit and
// RefreshLogTmNull.

#include <memory>
#include <random>

#include "model/oru.h"
#include "tests/model_fixtures.h"
#include "tests/model_reference.h"

namespace modelsetup {

struct Model {
  std::unique_ptr<ORU> o;
  reference::Tree tree;
  std::vector<double> q;  // background loss probability per node
};

// A model on a random tree with random rows, random background losses, every
// gene compatible with every other and random gain nodes and histories.
inline Model MakeModel(int S, int G, std::mt19937& gen, std::vector<std::string> names = {}) {
  if (names.empty()) names = modeldata::Names(S);
  PhyloTree tree = modeldata::RandomTree(S, gen);
  tree.species_names = names;
  PhyloProf prof = modeldata::Profile(names, modeldata::RandomRows(G, S, gen));
  testing::internal::CaptureStdout();
  Model m;
  m.o = std::make_unique<ORU>(prof, tree, -1, 0, 0, 0.0, 0.0, 0, 3, 0.03, 0.97);
  testing::internal::GetCapturedStdout();
  ORU& o = *m.o;
  m.tree.S = S;
  m.tree.parent = o.parent;
  std::uniform_real_distribution<double> loss(0.01, 0.6);
  std::uniform_int_distribution<int> node(0, o.N - 1);
  m.q.assign(o.N, 0.0);
  for (int n = 0; n < o.N - 1; ++n) m.q[n] = loss(gen);
  for (int n = 0; n < o.N; ++n) ORUTestAccess::TM_null(o)[n] = {{{{1.0, 0.0}}, {{m.q[n], 1 - m.q[n]}}}};
  ORUTestAccess::RefreshLogTmNull(o);
  ORUTestAccess::glinks(o).assign(o.GG, 0);
  for (int& gl : ORUTestAccess::glinks(o)) gl = node(gen);
  o.cl_glinks.assign(o.G, 0);
  for (int g = 0; g < o.G; ++g) o.cl_glinks[g] = ORUTestAccess::glinks(o)[o.cur_proteins[g]];
  ORUTestAccess::fit(o).assign(o.G, std::vector<bool>(o.G, true));
  std::bernoulli_distribution bit(0.6);
  o.Tg.assign(o.G, std::vector<char>(o.N, 0));
  for (auto& h : o.Tg)
    for (char& x : h) x = bit(gen);
  return m;
}

inline double ModelObs(double p, int bit, int state) { return state == 1 ? (bit ? p : 1 - p) : (bit ? 1 - p : p); }

// Literal module loss probabilities of gene g under the member list: counts
// of every member (g itself only with count_self) whose gain subtree holds
// the branch's upper end.
inline std::vector<double> ModuleLosses(Model& m, int g, const std::vector<int>& members,
                                        const std::vector<std::vector<char>>& histories,
                                        bool count_self = false) {
  ORU& o = *m.o;
  std::vector<double> q(o.N, 0.0);
  for (int s = 0; s < o.N - 1; ++s) {
    if (!m.tree.InSubtree(o.cl_glinks[g], s)) continue;
    double counts[2][2] = {{0, 0}, {0, 0}};
    for (int mem : members) {
      if (mem == g && !count_self) continue;
      if (m.tree.InSubtree(o.cl_glinks[mem], o.parent[s]))
        counts[(int)histories[mem][o.parent[s]]][(int)histories[mem][s]] += 1;
    }
    q[s] = (counts[1][0] + 0.0045) / (counts[1][0] + counts[1][1] + 0.15);
  }
  return q;
}

inline std::vector<TransMatrix> Matrices(const std::vector<double>& q) {
  std::vector<TransMatrix> tm;
  for (double x : q) tm.push_back({{{{1.0, 0.0}}, {{x, 1 - x}}}});
  return tm;
}

}  // namespace modelsetup
