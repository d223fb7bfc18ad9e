#include <algorithm>
#include <cmath>

#include "model/log_space.h"
#include "model/oru.h"

double ORU::log_exp_sum(double a, double b) { return logspace::Sum(a, b); }

ObsTerms ORU::ModelObsTerms() const {
  ObsTerms t;
  t[0][0] = std::log(P00);
  t[1][0] = std::log(1 - P00);
  t[1][1] = std::log(PO);
  t[0][1] = std::log(1 - PO);
  return t;
}

ObsTerms ORU::SymmetricObsTerms(double agree, double disagree) {
  ObsTerms t;
  t[0][0] = t[1][1] = std::log(agree);
  t[0][1] = t[1][0] = std::log(disagree);
  return t;
}

std::array<double, 2> ORU::LeafUp(const std::array<double, 2>& log_q, const ObsTerms* terms) {
  std::array<double, 2> up;
  for (int bit = 0; bit < 2; ++bit) {
    std::array<double, 2> self = terms ? (*terms)[bit] : std::array<double, 2>{{0.0, 0.0}};
    up[bit] = logspace::Sum(log_q[0] + self[0], log_q[1] + self[1]);
  }
  return up;
}

ORU::LeafEntry ORU::MakeLeafEntry(const std::array<double, 2>& log_q, const ObsTerms* terms) {
  LeafEntry e;
  e.up = LeafUp(log_q, terms);
  for (int d = 0; d < 2; ++d) {
    std::array<double, 2> from = {{-1e6, -1e6}};
    from[d] = 0.0;
    e.pi[d] = logspace::Prior(log_q, from);
    for (int bit = 0; bit < 2; ++bit) {
      std::array<double, 2> self = terms ? (*terms)[bit] : std::array<double, 2>{{0.0, 0.0}};
      e.p0[d][bit] = logspace::AbsentChance(e.pi[d][0] + self[0], e.pi[d][1] + self[1]);
    }
  }
  return e;
}

std::vector<ORU::LeafEntry> ORU::NullLeafEntries(const ObsTerms& obs, const ObsTerms* obs0) const {
  std::vector<LeafEntry> entries;
  for (int s = 0; s < S; ++s) entries.push_back(MakeLeafEntry(log_tm_null[s], s > 0 ? &obs : obs0));
  return entries;
}

void ORU::RefreshLogTmNull() {
  log_tm_null.resize(TM_null.size());
  for (size_t n = 0; n < TM_null.size(); ++n)
    log_tm_null[n] = {{std::log(TM_null[n][1][0]), std::log(TM_null[n][1][1])}};
  leaves_null_model = NullLeafEntries(model_obs, &model_obs);
  leaves_null_gain = NullLeafEntries(gain_obs, &gain_obs);
  leaves_null_search = NullLeafEntries(gain_obs, species0_in_gain_search ? &gain_obs0 : nullptr);
}

bool ORU::InSubtree(int n, int m) const {
  if (n < 0 || m < 0) return false;
  if (m < S) return leaf_lo[n] <= m && m <= leaf_hi[n];
  return int_lo[n] <= m && m <= n;
}

// Row 0 of every transition matrix is {1, 0}, so the state-0 message is
// log_exp_sum(0 + lambda[c][0], -inf) = lambda[c][0] exactly, and a node's
// zero own term adds nothing (x + 0 = x for every x the pass produces).
// message(c, l) gives the row-1 message of node c with subtree terms l.
template <typename Message>
double ORU::UpwardPassWith(const PassArrays& work, const std::vector<bool>& row, int gl, const ObsTerms& obs,
                           const ObsTerms* obs0, const LeafEntry* leaves, Message message) const {
  if (gl < 0) return 0.0;
  auto send_up = [&](int c) {
    const std::array<double, 2>& l = work.lambda[c];
    std::array<double, 2>& msg = work.children[parent[c]][slot[c]];
    msg[0] = l[0];
    msg[1] = message(c, l);
  };
  for (int s = leaf_lo[gl]; s <= leaf_hi[gl]; ++s) {
    int bit = row[s];
    std::array<double, 2> self = {{0.0, 0.0}};
    if (s > 0) {
      self = obs[bit];
    } else if (obs0) {
      self = (*obs0)[bit];
    }
    work.self[s] = self;
    work.lambda[s] = self;
    if (s == gl) continue;
    if (leaves) {
      std::array<double, 2>& msg = work.children[parent[s]][slot[s]];
      msg[0] = self[0];
      msg[1] = leaves[s].up[bit];
    } else {
      send_up(s);
    }
  }
  for (int c = int_lo[gl]; c <= gl; ++c) {
    const std::array<std::array<double, 2>, 2>& from = work.children[c];
    work.lambda[c] = {{from[0][0] + from[1][0], from[0][1] + from[1][1]}};
    if (c != gl) send_up(c);
  }
  return work.lambda[gl][1];
}

double ORU::UpwardPassOn(const PassArrays& work, const std::vector<bool>& row, int gl,
                         const std::array<double, 2>* log_q, const ObsTerms& obs, const ObsTerms* obs0,
                         const LeafEntry* leaves) const {
  return UpwardPassWith(work, row, gl, obs, obs0, leaves, [log_q](int c, const std::array<double, 2>& l) {
    return logspace::Sum(log_q[c][0] + l[0], log_q[c][1] + l[1]);
  });
}

double ORU::UpwardPass(const std::vector<bool>& row, int gl, const std::array<double, 2>* log_q,
                       const ObsTerms& obs, const ObsTerms* obs0, const LeafEntry* leaves) {
  PassArrays work = {lambda_from_self.data(), lambda_from_children.data(), lambda.data()};
  return UpwardPassOn(work, row, gl, log_q, obs, obs0, leaves);
}

void ORU::UpwardPassForDraws(const std::vector<bool>& row, int gl, const std::array<double, 2>* log_q,
                             const ObsTerms& obs, const ObsTerms* obs0, const LeafEntry* leaves) {
  double* absent = absent_under_present.data();
  PassArrays work = {lambda_from_self.data(), lambda_from_children.data(), lambda.data()};
  UpwardPassWith(work, row, gl, obs, obs0, leaves, [log_q, absent](int c, const std::array<double, 2>& l) {
    return logspace::MessageAndPresentParentAbsentChance(log_q[c], l, absent[c]);
  });
}

double ORU::AddOutsideTerms(double value, const std::vector<bool>& row, int gl, const ObsTerms& obs,
                            const ObsTerms* obs0) const {
  int lo = gl < 0 ? S : leaf_lo[gl];
  int hi = gl < 0 ? S - 1 : leaf_hi[gl];
  auto add = [&](int s) {
    if (s > 0) {
      value += obs[row[s]][0];
    } else if (obs0) {
      value += (*obs0)[row[s]][0];
    }
  };
  for (int s = 0; s < lo; ++s) add(s);
  for (int s = hi + 1; s < S; ++s) add(s);
  return value;
}

void ORU::GrowModuleRows(int needed) {
  module_q_stride = std::max(needed, 2 * module_q_stride);
  module_q_memo.assign((size_t)module_q_stride * module_q_stride, ModuleQ());
  module_q_known.assign(module_q_memo.size(), 0);
}

void ORU::FillModuleRow(size_t at, int lost, int kept) {
  double l = lost, k = kept;
  double q = (l + 0.0045) / (l + k + 0.15);
  module_q_memo[at] = ModuleRow(q, 1 - q);
  module_q_known[at] = 1;
}

ORU::ModuleQ ORU::ModuleRow(double q, double one_minus_q) const {
  ModuleQ r;
  r.q = q;
  r.one_minus_q = one_minus_q;
  r.log_q = {{std::log(q), std::log(one_minus_q)}};
  r.leaf = MakeLeafEntry(r.log_q, &model_obs);
  return r;
}

void ORU::RebuildModuleTm(int g, const std::vector<int>& members,
                          const std::vector<std::vector<char>>& histories, bool count_self) {
  int gl = cl_glinks[g];
  if (gl < 0) return;
  int* lost = lost_counts.data();
  int* kept = kept_counts.data();
  ForSubtree(gl, true, [&](int s) { lost[s] = kept[s] = 0; });

  // A member counts on branch s when s's upper end lies in its gain subtree.
  // A member gained at or above gl covers every branch of gl's subtree (the
  // branch above gl only when gained strictly above) and is summed per
  // branch below; one gained inside the subtree counts only on its own.
  covering_members.clear();
  for (int m : members) {
    int gm = cl_glinks[m];
    if (m == g && !count_self) continue;
    if (InSubtree(gm, gl)) {
      covering_members.push_back({histories[m].data(), gm != gl});
    } else if (InSubtree(gl, gm)) {
      const char* h = histories[m].data();
      ForSubtree(gm, false, [&](int s) { AddCrossing(h, s, 1, lost[s], kept[s]); });
    }
  }

  ForSubtree(gl, true, [&](int s) {
    if (s == N - 1) return;
    int l = lost[s], k = kept[s];
    for (const CoveringMember& cm : covering_members) {
      if (s == gl && !cm.above) continue;
      AddCrossing(cm.history, s, 1, l, k);
    }
    WriteModuleRow(s, ModuleLossRow(l, k));
  });
}

// A listing counts on the branches whose upper end lies in its gain subtree:
// every branch of that subtree but the one above its top.
void ORU::TallyMember(ModuleCounts& counts, int g, int times) {
  int gl = cl_glinks[g];
  if (gl < 0 || times == 0) return;
  const char* h = Tg[g].data();
  ForSubtree(gl, false, [&](int s) { AddCrossing(h, s, times, counts.lost[s], counts.kept[s]); });
}

int ORU::TimesListed(int g, int k) const {
  return static_cast<int>(std::count(I_k[k].begin(), I_k[k].end(), g));
}

// g's own share lies on the same branches as its rows except the top one.
void ORU::WriteCountedRows(int g, int k, bool count_self) {
  int gl = cl_glinks[g];
  if (gl < 0) return;
  const ModuleCounts& counts = sweep_counts[k];
  int own = count_self ? 0 : TimesListed(g, k);
  const char* h = Tg[g].data();
  ForSubtree(gl, true, [&](int s) {
    if (s == N - 1) return;
    int l = counts.lost[s], kept = counts.kept[s];
    if (s != gl) AddCrossing(h, s, -own, l, kept);
    WriteModuleRow(s, ModuleLossRow(l, kept));
  });
}

void ORU::WriteModuleRows(int g, int k, const std::vector<std::vector<char>>& histories, bool count_self) {
  if (sweep_counting && &histories == &Tg)
    WriteCountedRows(g, k, count_self);
  else
    RebuildModuleTm(g, I_k[k], histories, count_self);
}

const std::array<double, 2>* ORU::GroupLogTm(int k) {
  if (pred_tm_seen.size() < groups.size()) {
    pred_tm_seen.resize(groups.size());
    pred_log_tm.resize(groups.size());
  }
  const std::vector<TransMatrix>& tm = groups[k].TM;
  if (!(pred_tm_seen[k] == tm)) {
    pred_tm_seen[k] = tm;
    pred_log_tm[k].resize(tm.size());
    for (size_t n = 0; n < tm.size(); ++n)
      pred_log_tm[k][n] = {{std::log(tm[n][1][0]), std::log(tm[n][1][1])}};
  }
  return pred_log_tm[k].data();
}

double ORU::CalcSglLogLik(int g) {
  return UpwardPass(X[g], cl_glinks[g], log_tm_null.data(), model_obs, &model_obs, leaves_null_model.data());
}

void ORU::CalcSglLogLik() {
  log_liks_sgl.assign(G, 0.0);
  for (int g = 0; g < G; ++g) log_liks_sgl[g] = CalcSglLogLik(g);
}

double ORU::CalcNullLogLik(int g) {
  return UpwardPass(X[g], glinks[cur_proteins[g]], log_tm_null.data(), model_obs, &model_obs,
                    leaves_null_model.data());
}

void ORU::CalcNullLogLik() {
  log_liks_null.assign(G, 0.0);
  for (int g = 0; g < G; ++g) log_liks_null[g] = CalcNullLogLik(g);
}

double ORU::log_f_Xg(int g, int k) {
  for (int m : I_k[k])
    if (!fit[g][m]) return -100000.0;
  WriteModuleRows(g, k, Tg, false);
  return UpwardPass(X[g], cl_glinks[g], log_tm_int.data(), model_obs, &model_obs, leaves_int.data());
}

// The estimate scores every member with the same losses, so their logs and
// the leaves' messages (only .up is used) are kept until the losses change.
double ORU::log_f_Xg(int g, std::vector<double>& l) {
  if (l != scratch_losses) {
    scratch_losses = l;
    for (int n = 0; n < N - 1; ++n) scratch_log_q[n] = {{std::log(l[n]), std::log(1 - l[n])}};
    for (int s = 0; s < S && s < N - 1; ++s) scratch_leaves[s].up = LeafUp(scratch_log_q[s], &model_obs);
  }
  PassArrays work = {scratch_self.data(), scratch_children.data(), scratch_lambda.data()};
  return UpwardPassOn(work, X[g], cl_glinks[g], scratch_log_q.data(), model_obs, &model_obs,
                      scratch_leaves.data());
}

double ORU::log_f_Xg_null(int p, int k) {
  int a = glinks[p];
  int b = groups[k].glink;
  int gl = a;
  if (!InSubtree(b, a) && InSubtree(a, b)) gl = b;
  return UpwardPass(XX[p], gl, log_tm_null.data(), model_obs, &model_obs, leaves_null_model.data());
}

double ORU::log_f_Xg_null_gl(int p, int gl) {
  const ObsTerms* obs0 = species0_in_gain_search ? &gain_obs0 : nullptr;
  double v = UpwardPass(XX[p], gl, log_tm_null.data(), gain_obs, obs0, leaves_null_search.data());
  return AddOutsideTerms(v, XX[p], gl, gain_obs, obs0);
}

double ORU::log_f_Xg_pred(int p, int k) {
  int gl = groups[k].glink;
  const std::array<double, 2>* log_q = GroupLogTm(k);
  double v = UpwardPass(XX[p], gl, log_q, model_obs, nullptr);
  return AddOutsideTerms(v, XX[p], gl, model_obs, nullptr);
}

void ORU::RecompBufLogLiks() {
  for (int k = 0; k < K; ++k)
    for (int g = 0; g < G; ++g) buf_log_liks[k][g] = log_f_Xg(g, k);
}
