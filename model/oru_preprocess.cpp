#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <iomanip>
#include <iostream>

#include "input/utils.h"
#include "model/oru.h"

namespace {

// A candidate gain node must beat this score to be taken at all.
const double kGainSearchFloor = -1e6;
// Weight of one sampled loss in q10_probs: 1 / PREP_MM.
const double kLossWeight = 0.02;
// A node counts as lost by a protein when it is lost in at least half of the
// protein's background histories.
const double kLossShareThreshold = 0.5;
const double kMaxMismatchRatio = 0.4;

}  // namespace

void ORU::PreProcess() {
  FillSubtreeMembership();

  std::cout << "Preprocessing: Inferring gain branches for genes......" << std::endl;
  glinks.assign(GG, -1);
  GainSearch search;
  for (int p = 0; p < GG; ++p) glinks[p] = BestGainNode(p, search);

  std::cout << "Preprocessing: Calculating null loss probabilities:" << std::flush;
  const std::vector<double> q = EstimateBackgroundLosses();
  std::cout << "\n";

  SetBackgroundModel(q);
  PrintBackgroundModel(q);

  PrepNoInfoProteins();
  PrepClGlinks();
  CalcSglLogLik();
  CalcNullLogLik();
  std::cout << "\n";
}

void ORU::FillSubtreeMembership() {
  in_hist.assign(N, std::vector<bool>(N, false));
  for (int n = 0; n < N; ++n) {
    for (int m : offlinks[n]) in_hist[n][m] = true;
    in_hist[n][n] = true;
  }
}

int ORU::InferGainLink(int p) {
  GainSearch w;
  return BestGainNode(p, w);
}

// One upward pass from the root gives every node's subtree value, equal bit for
// bit to a pass rooted at that node, since a node's value depends only on its
// subtree. Adding the outside terms one at a time for every candidate would
// cost N x S additions per protein; instead each candidate gets an extended-
// precision estimate from prefix sums, and only candidates whose bound reaches
// the best lower bound are scored in the literal order, which alone decides
// near-ties. The rest score strictly below some candidate that is scored.
int ORU::BestGainNode(int p, GainSearch& w, long double error_scale) {
  if (N < 1) return -1;
  const std::vector<bool>& row = XX[p];
  const ObsTerms* obs0 = species0_in_gain_search ? &gain_obs0 : nullptr;
  UpwardPass(row, N - 1, log_tm_null.data(), gain_obs, obs0);
  PrepareOutsideTerms(row, w);

  const long double total = w.prefix[S];
  w.estimate.resize(N);
  w.error.resize(N);
  long double best_lower = -std::numeric_limits<long double>::infinity();
  for (int n = 0; n < N; ++n) {
    const long double subtree = lambda[n][1];
    w.estimate[n] = (subtree + w.prefix[leaf_lo[n]]) + (total - w.prefix[leaf_hi[n] + 1]);
    w.error[n] = error_scale * GainScoreErrorBound(subtree, w.outside_abs);
    const long double lower = w.estimate[n] - w.error[n];
    if (lower > best_lower) best_lower = lower;
  }

  w.first_of_size.assign(S + 1, -1);
  double best = kGainSearchFloor;
  int result = -1;
  for (int n = 0; n < N; ++n) {
    // Written so that a bound that is not a number never rules a node out.
    const long double upper = w.estimate[n] + w.error[n];
    if (upper < best_lower || upper <= kGainSearchFloor) continue;
    if (RepeatsEarlierScore(n, w)) continue;
    const double v = AddOutsideTerms(lambda[n][1], row, n, gain_obs, obs0);
    int& first = w.first_of_size[leaf_hi[n] - leaf_lo[n] + 1];
    if (first < 0 && leaf_lo[n] > 0) first = n;
    // Strictly greater: the lowest-numbered node keeps a tie.
    if (v > best) {
      best = v;
      result = n;
    }
  }
  return result;
}

void ORU::PrepareOutsideTerms(const std::vector<bool>& row, GainSearch& w) const {
  const bool species0 = species0_in_gain_search;
  w.outside.resize(S);
  w.prefix.resize(S + 1);
  w.run_end.resize(S);
  w.prefix[0] = 0.0L;
  w.outside_abs = 0.0L;
  for (int s = 0; s < S; ++s) {
    w.outside[s] = s > 0 ? gain_obs[row[s]][0] : species0 ? gain_obs0[row[s]][0] : 0.0;
    w.prefix[s + 1] = w.prefix[s] + w.outside[s];
    w.outside_abs += std::fabs(static_cast<long double>(w.outside[s]));
  }
  for (int s = S - 1; s >= 0; --s)
    w.run_end[s] = s + 1 < S && w.outside[s + 1] == w.outside[s] ? w.run_end[s + 1] : s;
}

// The literal score sums at most S + 1 doubles one after the other; the
// estimate sums the same terms in long double through prefix sums and three
// further operations. Each error is at most gamma(k) times the sum of the
// magnitudes (k roundings of unit u); the factor 2 covers the rounding of the
// bound itself and of outside_abs.
long double ORU::GainScoreErrorBound(long double subtree, long double outside_abs) const {
  const long double u = std::numeric_limits<double>::epsilon() / 2;
  const long double u_long = std::numeric_limits<long double>::epsilon() / 2;
  const long double roundings = (S + 1) * u + (3.0L * S + 3) * u_long;
  return 2.1L * roundings * (std::fabs(subtree) + 2 * outside_abs);
}

// Two candidates with equal leaf counts leave out equally long runs of the
// outside terms; when one run of equal terms spans both subtrees' leaves, the
// terms that remain form the same sequence. Species 0 is kept out, since it
// may carry no term at all.
bool ORU::RepeatsEarlierScore(int n, const GainSearch& w) const {
  const int m = w.first_of_size[leaf_hi[n] - leaf_lo[n] + 1];
  if (m < 0 || leaf_lo[n] == 0) return false;
  if (std::memcmp(&lambda[m][1], &lambda[n][1], sizeof(double)) != 0) return false;
  return w.run_end[std::min(leaf_lo[m], leaf_lo[n])] >= std::max(leaf_hi[m], leaf_hi[n]);
}

std::vector<double> ORU::EstimateBackgroundLosses() {
  // Only the clustered genes' shares are ever compared, so only their rows are
  // kept: a row per protein would grow with the whole profile times the tree.
  q10_probs.assign(GG, std::vector<double>());
  for (int p : cur_proteins) q10_probs[p].assign(N, 0.0);
  std::vector<long long> crossed(N, 0), lost(N, 0);
  std::vector<char> histories;
  const int step = GG / 10;
  for (int p = 0; p < GG; ++p) {
    const int i = p + 1;
    // Fewer than ten proteins leave no usable step: no marks then.
    if (step > 0 && i % step == 0) std::cout << "  " << (i / step) * 10 << "%" << std::flush;
    // A protein without a gain node has an empty subtree: nothing to draw.
    if (glinks[p] < 0) continue;
    SampleNullHistories(p, PREP_MM, histories);
    for (int h = 0; h < PREP_MM; ++h)
      TallyBackgroundHistory(p, histories.data() + static_cast<size_t>(h) * N, crossed, lost);
  }

  std::vector<double> q(N, 0.0);
  for (int s = 0; s + 1 < N; ++s) {
    // A branch that no history crosses keeps the starting loss probability.
    q[s] = crossed[s] > 0 ? static_cast<double>(lost[s]) / static_cast<double>(crossed[s])
                          : ind_lrate;
  }
  return q;
}

// Only nodes strictly inside the gain subtree can have a present parent: the
// history holds 0 everywhere else, the gain node's parent included.
void ORU::TallyBackgroundHistory(int p, const char* h, std::vector<long long>& crossed,
                                 std::vector<long long>& lost) {
  const int gl = glinks[p];
  if (gl < S) return;
  double* share = q10_probs[p].empty() ? nullptr : q10_probs[p].data();
  auto tally = [&](int s) {
    if (h[parent[s]] != 1) return;
    ++crossed[s];
    if (h[s] == 0) {
      ++lost[s];
      if (share) share[s] += kLossWeight;
    }
  };
  ForSubtree(gl, false, tally);
}

void ORU::SetBackgroundModel(const std::vector<double>& q) {
  for (int n = 0; n < N; ++n) TM_null[n] = TransMatrix{{{{1.0, 0.0}}, {{q[n], 1.0 - q[n]}}}};
  TM_Int = TM_null;
  RefreshLogTmNull();
  log_tm_int = log_tm_null;
  leaves_int = leaves_null_model;
}

void ORU::PrintBackgroundModel(const std::vector<double>& q) const {
  std::cout << std::fixed << std::setprecision(3);
  std::cout << "\n" << "Background model (branch: loss probability): " << "\n";
  for (int n = 0; n < N; ++n) {
    std::cout << numutils::EnoughSpaces(3, n) << n << ": " << q[n] << ";  ";
    if ((n + 1) % 10 == 0) std::cout << "\n";
  }
  std::cout << "\n";
  std::cout << std::setprecision(4);
}

void ORU::PrepClGlinks() {
  cl_glinks.assign(G, -1);
  for (int g = 0; g < G; ++g) cl_glinks[g] = glinks[cur_proteins[g]];
}

void ORU::PrepNoInfoProteins() {
  no_info_protein.assign(GG, false);
  for (int p = 0; p < GG; ++p) {
    if (prof_sum[p] < 3 || prof_sum[p] >= S - 2) {
      no_info_protein[p] = true;
      continue;
    }
    const int gl = glinks[p];
    if (gl < 0) {
      no_info_protein[p] = true;
      continue;
    }
    const std::vector<bool>& row = XX[p];
    int first = 0, last = S - 1;
    while (first < S && !row[first]) ++first;
    while (last >= 0 && !row[last]) --last;
    if (first > last) {
      first = 0;
      last = S - 1;
    }
    const int lo = std::max(first, leaf_lo[gl]);
    const int hi = std::min(last, leaf_hi[gl]);
    bool gap = false;
    for (int s = lo; s <= hi && !gap; ++s) gap = !row[s];
    no_info_protein[p] = !gap;
  }
}

void ORU::PrepFitnessMatrix(std::string path) {
  (void)path;
  gl_prots.assign(std::max(N, 0), std::vector<int>());
  for (int g = 0; g < G; ++g) {
    if (!same_gl) {
      gl_prots[0].push_back(g);
    } else if (cl_glinks[g] >= 0) {
      // A gene without a gain node joins no class.
      gl_prots[cl_glinks[g]].push_back(g);
    }
  }

  fit.assign(G, std::vector<bool>(G, false));
  for (const std::vector<int>& cls : gl_prots) {
    // The test is symmetric, so each unordered pair is decided once.
    for (size_t i = 0; i < cls.size(); ++i) {
      for (size_t j = i; j < cls.size(); ++j) {
        const int g1 = cls[i], g2 = cls[j];
        if (same_gl && cl_glinks[g1] != cl_glinks[g2]) continue;
        if (Compatible(g1, g2)) {
          fit[g1][g2] = true;
          fit[g2][g1] = true;
        }
      }
    }
  }
}

// Information is checked first: a gene without a gain node has none.
bool ORU::Compatible(int g1, int g2) {
  const int p1 = cur_proteins[g1], p2 = cur_proteins[g2];
  if (no_info_protein[p1] || no_info_protein[p2]) return false;
  if (cl_glinks[g1] < 0 || cl_glinks[g2] < 0) return false;
  if (std::abs(offsps[cl_glinks[g1]] - offsps[cl_glinks[g2]]) >= S / 4) return false;
  const int fewer = std::min(prof_sum[p1], prof_sum[p2]);
  if (fewer == 0) return false;
  if (static_cast<double>(CountMismatches(g1, g2)) / fewer >= kMaxMismatchRatio) return false;
  return IsFit(g1, g2);
}

int ORU::CountMismatches(int g1, int g2) const {
  int m = 0;
  for (int s = 0; s < S; ++s) m += X[g1][s] != X[g2][s];
  return m;
}

bool ORU::IsFit(int g1, int g2) {
  const std::vector<double>& a = q10_probs[cur_proteins[g1]];
  const std::vector<double>& b = q10_probs[cur_proteins[g2]];
  int shared = 0;
  for (int n = 0; n < N; ++n) shared += a[n] >= kLossShareThreshold && b[n] >= kLossShareThreshold;
  return shared > 1;
}

int ORU::CountSepLosses(int g1, int g2) {
  const std::vector<double>& a = q10_probs[cur_proteins[g1]];
  const std::vector<double>& b = q10_probs[cur_proteins[g2]];
  int separate = 0;
  for (int n = 0; n < N; ++n) {
    if (offsps[n] <= 2) continue;
    separate += (a[n] > kLossShareThreshold && b[n] < kLossShareThreshold) ||
                (a[n] < kLossShareThreshold && b[n] > kLossShareThreshold);
  }
  return separate;
}

int ORU::CountRun(std::vector<bool> x) {
  const int n = std::min(S, static_cast<int>(x.size()));
  int runs = 0;
  for (int s = 0; s + 1 < n; ++s) runs += x[s] != x[s + 1];
  return runs;
}

std::vector<int> ORU::FindNullProteins() const {
  std::vector<bool> in_module(GG, false);
  for (const Group& grp : groups)
    for (int p : grp.proteins) in_module[p] = true;
  std::vector<int> null_proteins;
  for (int g = 0; g < G; ++g)
    if (!in_module[cur_proteins[g]]) null_proteins.push_back(cur_proteins[g]);
  return null_proteins;
}
