#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>

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
// n_loss * (members + 1) + n_keep.
struct CountKey {
  int stride;
  int Pack(int lost, int kept) const { return lost * stride + kept; }
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
  xk_counts.assign(N, std::array<int, 2>{0, 0});
  const CountKey key{static_cast<int>(members.size()) + 1};
  xk_stride = key.stride;
  xk_written.assign(N, -1);
  xk_stale.assign(N, 0);
  xk_passes.resize(members.size());
  for (MemberPass& pass : xk_passes) {
    pass.lambda.resize(N);
    pass.from_children.resize(N);
    pass.row_key.assign(N, -1);
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
      keys[d * M + i] = key.Pack(xk_counts[D[d]][0], xk_counts[D[d]][1]);
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
// counts (minus g's own history) instead of recounting every member, and the
// filtering pass of member j redone only where its rows changed.
void ORU::DrawModuleHistory(int j, int g, gsl_rng* rng) {
  int gl = cl_glinks[g];
  if (gl < 0) return;
  MemberPass& pass = xk_passes[j];
  std::swap(lambda, pass.lambda);
  std::swap(lambda_from_children, pass.from_children);
  RefreshMemberPass(pass, g, gl);
  SampleDownWith(X[g], gl, log_tm_int.data(), leaves_int.data(), Tgg[g].data(), rng);
  std::swap(lambda, pass.lambda);
  std::swap(lambda_from_children, pass.from_children);
  CountCrossings(g);
}

// Takes member g's own history out of node s's counts and brings the
// node's loss row up to them; true when it differs from the row the
// member's last pass used.
bool ORU::RefreshModuleRow(MemberPass& pass, int g, int s) {
  if (s == N - 1) return false;
  const char* h = Tgg[g].data();
  if (s != cl_glinks[g] && h[parent[s]] == 1) xk_counts[s][h[s] == 1 ? 1 : 0] -= 1;
  int lost = xk_counts[s][0], kept = xk_counts[s][1];
  int packed = lost * xk_stride + kept;
  if (xk_written[s] != packed) {
    WriteModuleRow(s, ModuleLossRow(lost, kept));
    xk_written[s] = packed;
  }
  if (pass.row_key[s] == packed) return false;
  pass.row_key[s] = packed;
  return true;
}

// The upward pass of UpwardPass (leaf messages from leaves_int) on the
// member's kept arrays, recomputing a message only when the sending node's
// row or its own lambda changed; the results are those of a full pass.
void ORU::RefreshMemberPass(MemberPass& pass, int g, int gl) {
  const std::vector<bool>& row = X[g];
  for (int c = int_lo[gl]; c <= gl; ++c) xk_stale[c] = 0;
  for (int s = leaf_lo[gl]; s <= leaf_hi[gl]; ++s) {
    const std::array<double, 2>& self = model_obs[row[s]];
    lambda[s] = self;
    if (!RefreshModuleRow(pass, g, s) || s == gl) continue;
    std::array<double, 2>& msg = lambda_from_children[parent[s]][slot[s]];
    msg[0] = self[0];
    msg[1] = leaves_int[s].up[row[s]];
    xk_stale[parent[s]] = 1;
  }
  for (int c = int_lo[gl]; c <= gl; ++c) {
    bool row_changed = RefreshModuleRow(pass, g, c);
    if (xk_stale[c]) {
      const std::array<std::array<double, 2>, 2>& from = lambda_from_children[c];
      lambda[c] = {{from[0][0] + from[1][0], from[0][1] + from[1][1]}};
    }
    if (c == gl || !(row_changed || xk_stale[c])) continue;
    const std::array<double, 2>& l = lambda[c];
    const std::array<double, 2>& log_q = log_tm_int[c];
    std::array<double, 2>& msg = lambda_from_children[parent[c]][slot[c]];
    msg[0] = l[0];
    msg[1] = logspace::Sum(log_q[0] + l[0], log_q[1] + l[1]);
    xk_stale[parent[c]] = 1;
  }
}

void ORU::CountCrossings(int g) {
  int own = cl_glinks[g];
  const char* h = Tgg[g].data();
  auto count = [&](int s) {
    if (h[parent[s]] == 1) xk_counts[s][h[s] == 1 ? 1 : 0] += 1;
  };
  for (int s = leaf_lo[own]; s <= leaf_hi[own]; ++s)
    if (s != own) count(s);
  for (int s = int_lo[own]; s < own; ++s) count(s);
}
