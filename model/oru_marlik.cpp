#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "model/log_space.h"
#include "model/oru.h"
#include "model/owned_rng.h"

namespace {

// Beta(a0, b0) prior of a branch's loss probability.
const double kPriorLoss = 0.0045;
const double kPriorKeep = 0.1455;
const double kPriorTotal = 0.15;
const double kEmptyModuleMean = 0.03;
const int kDiscardedSweeps = 50;
const double kHighMean = 0.7, kHighValue = 0.95;
const double kLowMean = 0.3, kLowValue = 0.01;
const double kLogSumStart = -1e7;

// Loss and retention counts of one branch in one sample, packed as
// n_loss * (members + 1) + n_keep (the packing of xk_counts).
struct CountKey {
  int stride;
  int Lost(int key) const { return key / stride; }
  int Kept(int key) const { return key % stride; }
};

// Within one estimate the Beta log-density of a branch depends only on the
// sample's counts, so each (lost, kept) pair is evaluated once per branch.
class BranchDensityMemo {
 public:
  explicit BranchDensityMemo(int keys) : value(keys), stamp(keys, -1) {}
  double Get(int branch, int key, double x, double a, double b) {
    if (stamp[key] != branch) {
      stamp[key] = branch;
      value[key] = log(gsl_ran_beta_pdf(x, a, b));
    }
    return value[key];
  }

 private:
  std::vector<double> value;
  std::vector<int> stamp;
};

// A node's row-1 message to its parent, with its chances of absence given
// each parent state.
double MessageAndAbsentChances(const std::array<double, 2>& log_q, const std::array<double, 2>& l,
                               std::array<double, 2>& absent) {
  absent[0] = logspace::AbsentParentAbsentChance(log_q, l);
  return logspace::MessageAndPresentParentAbsentChance(log_q, l, absent[1]);
}

double ClampMean(double v) {
  if (v >= kHighMean) return kHighValue;
  if (v < kLowMean) return kLowValue;
  return v;
}

}  // namespace

double ORU::log_exp_sum(std::vector<double>& v, int n) {
  double mx = kLogSumStart;
  int at = -1;
  for (int i = 0; i < n; ++i) {
    if (v[i] > mx) {
      mx = v[i];
      at = i;
    }
  }
  double sum = 0;
  for (int i = 0; i < n; ++i)
    if (i != at) sum += exp(v[i] - mx);
  return mx + log(1 + sum);
}

double ORU::log_f_Xk(int k, int M) {
  OwnedRng rng;
  rng.Reset(gsl_rng_alloc(gsl_rng_default));
  // A fixed seed at every call: repeated estimates of a module agree, and
  // the chain's own generator is never touched.
  gsl_rng_set(rng, explore ? seed : 0);

  const std::vector<int> members = I_k[k];
  int gl = 0;
  for (int g : members)
    if (cl_glinks[g] > gl) gl = cl_glinks[g];
  std::vector<int> D;
  for (int s = 0; s < N - 1; ++s)
    if (in_hist[gl][s]) D.push_back(s);

  Tgg.assign(G, std::vector<char>(N, 0));
  // Every history starts absent everywhere, so nothing is counted yet.
  xk_counts.assign(N, 0);
  const CountKey key{static_cast<int>(members.size()) + 1};
  xk_stride = key.stride;
  if (module_q_stride < key.stride) GrowModuleRows(key.stride);
  xk_rows.assign(static_cast<size_t>(key.stride) * key.stride, nullptr);
  xk_stale.assign(N, 0);
  xk_passes.resize(members.size());
  for (MemberPass& pass : xk_passes) {
    pass.lambda.resize(N);
    pass.from_children.resize(N);
    pass.row_key.assign(N, -1);
    pass.absent.resize(N);
    pass.crossing.assign(N, 0);
  }
  const int size = static_cast<int>(members.size());
  for (int sweep = 0; sweep < kDiscardedSweeps; ++sweep)
    for (int j = 0; j < size; ++j) DrawModuleHistory(j, members[j], rng);

  // Per sample and branch of D, only the counts are kept: sample i of
  // branch D[d] is keys[d * M + i].
  std::vector<int> keys(D.size() * static_cast<size_t>(M));
  for (int i = 0; i < M; ++i) {
    for (int j = 0; j < size; ++j) DrawModuleHistory(j, members[j], rng);
    for (size_t d = 0; d < D.size(); ++d)
      keys[d * M + i] = xk_counts[D[d]];
  }

  std::vector<double> lbar(N, 0.0);
  for (size_t d = 0; d < D.size(); ++d) {
    int s = D[d];
    for (int i = 0; i < M; ++i) {
      double value = kEmptyModuleMean;
      if (!members.empty()) {
        int lost = key.Lost(keys[d * M + i]), kept = key.Kept(keys[d * M + i]);
        value = (lost + kPriorLoss) / (lost + kept + kPriorTotal);
      }
      lbar[s] += value / M;
    }
  }
  for (int s : D) lbar[s] = ClampMean(lbar[s]);

  double sum_lik = 0;
  for (int g : members) sum_lik += log_f_Xg(g, lbar);
  double sum_prior = 0;
  for (int s : D) sum_prior += log(gsl_ran_beta_pdf(lbar[s], kPriorLoss, kPriorKeep));

  // Branch-major so each branch's memo is filled once; every c[i] still sums
  // its terms in ascending branch order.
  std::vector<double> c(M, 0.0);
  BranchDensityMemo memo(key.stride * key.stride);
  for (size_t d = 0; d < D.size(); ++d) {
    int s = D[d];
    for (int i = 0; i < M; ++i) {
      int packed = keys[d * M + i];
      int lost = key.Lost(packed), kept = key.Kept(packed);
      c[i] += memo.Get(s, packed, lbar[s], lost + kPriorLoss, kept + kPriorKeep);
    }
  }

  return ChibEstimate(M, sum_lik, sum_prior, c);
}

double ORU::ChibEstimate(int M, double sum_lik, double sum_prior, std::vector<double>& c) {
  // With every term at or below the search start there is no maximum to
  // scale by; the posterior density is then taken as zero.
  bool any_above = false;
  for (int i = 0; i < M; ++i)
    if (c[i] > kLogSumStart) any_above = true;
  if (!any_above) return -std::numeric_limits<double>::infinity();
  double log_post = log_exp_sum(c, M);
  return log(M) + sum_lik + sum_prior - log_post;
}

// Update_Tg_Xk(g, rng) with the module's loss rows taken from the running
// counts (minus g's own history) instead of recounting every member, the
// filtering pass of member j redone only where its rows changed, and the
// draw made from the member's kept chances of absence.
void ORU::DrawModuleHistory(int j, int g, gsl_rng* rng) {
  int gl = cl_glinks[g];
  if (gl < 0) return;
  MemberPass& pass = xk_passes[j];
  RefreshMemberPass(pass, g, gl);
  DrawFromPass(pass, g, gl, rng);
}

// The upward pass of UpwardPass (the module rows of the counts without the
// member's own history, leaf messages from the rows' leaf entries) on the
// member's kept arrays. A node's message, and the chances of absence
// SampleDown would draw it with, are recomputed only when its row or its
// own lambda changed; the results are those of a full pass.
void ORU::RefreshMemberPass(MemberPass& pass, int g, int gl) {
  const std::vector<bool>& row = X[g];
  const int* up = parent.data();
  int* counts = xk_counts.data();
  const int* own = pass.crossing.data();
  int* row_key = pass.row_key.data();
  char* stale = xk_stale.data();
  std::array<double, 2>* lambda = pass.lambda.data();
  std::array<std::array<double, 2>, 2>* from_children = pass.from_children.data();
  std::array<double, 2>* absent = pass.absent.data();
  // Takes the member's own crossing out of the counts of branch s; true when
  // the row they give differs from the one the member's last pass used.
  auto row_changed = [&](int s) {
    int packed = counts[s] -= own[s];
    bool changed = row_key[s] != packed;
    row_key[s] = packed;
    return changed;
  };
  if (gl < S) {
    lambda[gl] = model_obs[row[gl]];
  } else {
    for (int s = leaf_lo[gl]; s <= leaf_hi[gl]; ++s) {
      if (!row_changed(s)) continue;
      const LeafEntry& leaf = PackedLossRow(counts[s]).leaf;
      const std::array<double, 2>& self = model_obs[row[s]];
      lambda[s] = self;
      absent[s] = {{leaf.p0[0][row[s]], leaf.p0[1][row[s]]}};
      from_children[up[s]][slot[s]] = {{self[0], leaf.up[row[s]]}};
      stale[up[s]] = 1;
    }
    for (int c = int_lo[gl]; c < gl; ++c) {
      if (!(row_changed(c) | stale[c])) continue;
      if (stale[c]) SumChildMessages(pass, c);
      const std::array<double, 2>& l = lambda[c];
      const std::array<double, 2>& log_q = PackedLossRow(counts[c]).log_q;
      from_children[up[c]][slot[c]] = {{l[0], MessageAndAbsentChances(log_q, l, absent[c])}};
      stale[up[c]] = 1;
    }
    if (stale[gl]) SumChildMessages(pass, gl);
  }
  double at_gain = logspace::DrawAbsentChance(logspace::GainNodePrior(), lambda[gl]);
  absent[gl] = {{at_gain, at_gain}};
}

void ORU::SumChildMessages(MemberPass& pass, int c) {
  xk_stale[c] = 0;
  const std::array<std::array<double, 2>, 2>& from = pass.from_children[c];
  pass.lambda[c] = {{from[0][0] + from[1][0], from[0][1] + from[1][1]}};
}

// SampleDown's order of draws and uniforms, each node drawn against its kept
// chance of absence given its parent's new state; the new history's
// crossings go into the counts as they are drawn.
void ORU::DrawFromPass(MemberPass& pass, int g, int gl, gsl_rng* rng) {
  char* h = Tgg[g].data();
  const int* up = parent.data();
  int* counts = xk_counts.data();
  int* own = pass.crossing.data();
  const std::array<double, 2>* absent = pass.absent.data();
  const int step[2] = {xk_stride, 1};
  h[gl] = absent[gl][0] > gsl_rng_uniform(rng) ? 0 : 1;
  // The uniform first: nothing of the node need be kept across the call.
  auto draw_below = [&](int s) {
    double u = gsl_rng_uniform(rng);
    int d = h[up[s]];
    int state = absent[s][d] > u ? 0 : 1;
    h[s] = (char)state;
    own[s] = d * step[state];
    counts[s] += own[s];
  };
  for (int c = gl - 1; c >= int_lo[gl]; --c) draw_below(c);
  if (gl < S) return;
  for (int s = leaf_lo[gl]; s <= leaf_hi[gl]; ++s) draw_below(s);
}
