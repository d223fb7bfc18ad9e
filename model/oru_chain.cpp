#include <gsl/gsl_rng.h>

#include <climits>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "input/utils.h"
#include "model/oru.h"

namespace {

// Log-likelihood row of a module that no gene has been scored against yet.
const double kUnscoredLogLik = -10000.0;
// Start of every best-so-far score and of the choice weights of a class chain.
const double kLogZero = -1e7;
// Floor of the maximum that the choice weights are scaled by.
const double kWeightFloor = -1e6;
// Kept sweeps of every marginal-likelihood estimate.
const int kMarLikSamples = 500;
// A class chain ending further than this below the best of earlier tries
// is run again.
const double kRerunGap = -0.01;
const int kMaxChainsPerClass = 3;

std::string Blanks(int n) { return n > 0 ? std::string(n, ' ') : std::string(); }

// The score printed in the chain summary, truncated toward zero; scores out
// of the int range (never seen in practice) print at the nearest end.
int TruncatedScore(double x) {
  if (std::isnan(x)) return 0;
  if (x <= static_cast<double>(INT_MIN)) return INT_MIN;
  if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(x);
}

}  // namespace

void ORU::InitMCMC(double _alpha, int _num_burn, int _num_mcmc, int _num_thin, double _T0) {
  alpha = _alpha;
  num_burn = _num_burn;
  num_mcmc = _num_mcmc;
  num_thin = _num_thin;
  T0 = _T0;
  K = 0;
  tcounts.assign(2, std::vector<double>(2, 0.0));
  Tg.assign(G, std::vector<char>(N, 0));
  pp.assign(G + 10, 0.0);
  qq.assign(G + 10, 0.0);
  buf_log_liks.clear();
  I_f.assign(G, -1);
  N_f.clear();
  N_n = G;
  pm_trace_loglik.assign(N, std::vector<double>(num_burn + num_mcmc, 0.0));
  Rebuild_Ik();
  pm_lik.assign(N, kLogZero);
  pm_I_k.assign(N, std::vector<std::vector<int>>());
  mean_K = 0;
}

void ORU::ClusterProteinInComplex(int chain_id) {
  std::vector<int> chains(N, 0);
  int classes = std::min(N, static_cast<int>(gl_prots.size()));
  for (cgl = 0; cgl < classes; ++cgl) {
    if (gl_prots[cgl].empty()) continue;
    do {
      chains[cgl] += 1;
      RunClassChain(chain_id);
    } while (pm_lik[cgl] - ppm_lik[cgl] < kRerunGap && chains[cgl] < kMaxChainsPerClass);
  }
}

void ORU::RunClassChain(int chain_id) {
  mean_K = 0;
  K = 0;
  Tg.assign(G, std::vector<char>(N, 0));
  pp.assign(G + 10, kLogZero);
  qq.assign(G + 10, kLogZero);
  buf_log_liks.clear();
  I_f.assign(G, -1);
  N_f.clear();
  Rebuild_Ik();

  std::cout << "  Chain " << chain_id;
  if (same_gl) std::cout << ", GL" << numutils::EnoughSpaces(4, cgl) << cgl;
  std::cout << ":  | ";

  gl_prot = gl_prots[cgl];
  concluded.assign(G, false);
  if (!noclust) PutSameProfileProts(gl_prot);
  for (int g : gl_prot)
    if (I_f[g] >= 0) concluded[g] = true;
  Rebuild_Ik();

  for (m = 0; m < num_burn + num_mcmc; ++m) {
    Rebuild_Ik();
    for (int k = 0; k < K; ++k)
      if (I_k[k].empty()) std::cout << "!!!!!!!!!!!!!!!! " << k << std::endl;
    BeginSweepCounts();
    if (!noclust) {
      for (int g : gl_prot)
        if (I_f[g] != -1) Update_Tg(g, false);
      for (int g : gl_prot)
        if (!concluded[g]) Update_Ig(g, m);
    }
    if (G > 1) CleanSingleton();
    EndSweepCounts();
    Rebuild_Ik();
    MonitorChain();
  }
  PrintChainSummary();
}

void ORU::PrintChainSummary() {
  int best = TruncatedScore(pm_lik[cgl]);
  std::cout << " MAP: " << best << "." << Blanks(7 - numutils::CountDigits(best));
  std::cout << std::fixed << std::setprecision(1);
  std::cout << "K = " << mean_K << "."
            << Blanks(4 - numutils::CountDigits(static_cast<int>(mean_K)));
  int memo = static_cast<int>(mar_log_lik.size());
  std::cout << "#L_DB: " << memo << "." << Blanks(5 - numutils::CountDigits(memo));
  if (pm_lik[cgl] > ppm_lik[cgl])
    std::cout << "++";
  else if (pm_lik[cgl] < ppm_lik[cgl])
    std::cout << "--";
  std::cout << std::endl;
}

int ORU::CountProfDiff2(int g1, int g2) {
  if (cl_glinks[g1] != cl_glinks[g2]) return S;
  int diff = 0;
  for (int s = 0; s < S; ++s)
    if (X[g1][s] != X[g2][s]) diff += 1;
  return diff;
}

void ORU::PutSameProfileProts(std::vector<int> gl_prot) {
  K = 0;
  int n = static_cast<int>(gl_prot.size());
  std::vector<char> in_group(n, 0);
  std::vector<int> group;
  for (int i = 0; i < n; ++i) {
    if (I_f[gl_prot[i]] >= 0) continue;
    group.assign(1, i);
    in_group.assign(n, 0);
    in_group[i] = 1;
    for (bool added = true; added;) {
      added = false;
      for (int j = 0; j < n; ++j) {
        if (in_group[j]) continue;
        for (int member : group) {
          if (CountProfDiff2(gl_prot[j], gl_prot[member]) == 0) {
            group.push_back(j);
            in_group[j] = 1;
            added = true;
            break;
          }
        }
      }
    }
    int size = static_cast<int>(group.size());
    int uninformative = 0;
    for (int pos : group)
      if (no_info_protein[cur_proteins[gl_prot[pos]]]) uninformative += 1;
    // Identical profiles with the same gain node cannot be told apart by the
    // sampler; groups it would never form on its own are seeded.
    if (size > 3 || (size != 1 && uninformative == size)) {
      for (int pos : group) I_f[gl_prot[pos]] = K;
      K += 1;
      buf_log_liks.push_back(std::vector<double>(G, kUnscoredLogLik));
      N_f.push_back(size);
    }
  }
}

double ORU::AnnealTemperature(int m, int num_burn, int num_mcmc, double T0) {
  double T;
  if (m >= 0.8 * num_burn)
    T = 1;
  else
    T = T0 + (m / (0.8 * num_burn)) * (1 - T0);
  if (m >= num_burn + 0.7 * num_mcmc)
    T = 1 - 0.5 * ((m - num_burn) - 0.7 * num_mcmc) / (0.3 * num_mcmc);
  if (m >= num_burn + 0.95 * num_mcmc) T = 0.05;
  return T;
}

void ORU::Update_Ig(int g, int m) {
  if (no_info_protein[cur_proteins[g]]) {
    I_f[g] = -1;
    return;
  }
  int old = I_f[g];
  for (int k = 0; k < K; ++k) {
    double v = log_f_Xg(g, k);
    buf_log_liks[k][g] = v;
    pp[k] = v;
  }
  pp[K] = log_liks_sgl[g];
  pp[K + 1] = log_liks_sgl[g];

  int kk = DrawChoice(K + 2, AnnealTemperature(m, num_burn, num_mcmc, T0));
  if (kk < K) {
    I_f[g] = kk;
    N_f[kk] += 1;
  } else if (kk == K) {
    I_f[g] = -1;
    N_n += 1;
  } else {
    K += 1;
    I_f[g] = K - 1;
    N_f.push_back(1);
    buf_log_liks.push_back(std::vector<double>(G, kUnscoredLogLik));
    I_k.push_back(std::vector<int>());
    if (sweep_counting) sweep_counts.push_back(NoModuleCounts());
  }

  if (I_f[g] != old) {
    if (old != -1 && RemoveFromList(I_k[old], g)) TallyListing(old, g, -1);
    if (I_f[g] != -1) {
      I_k[I_f[g]].push_back(g);
      TallyListing(I_f[g], g, 1);
    }
    Update_Tg(g, false);
  }

  if (old == -1) {
    N_n -= 1;
  } else {
    N_f[old] -= 1;
    if (N_f[old] == 0) DeleteModule(old);
  }
}

int ORU::DrawChoice(int choices, double T) {
  double mx = kWeightFloor;
  for (int i = 0; i < choices; ++i)
    if (pp[i] > mx) mx = pp[i];
  double sum = 0;
  for (int i = 0; i < choices; ++i) {
    qq[i] = pow(exp(pp[i] - mx), 1 / T);
    sum += qq[i];
  }
  for (int i = 0; i < choices; ++i) qq[i] = qq[i] / sum;
  for (int i = 1; i < choices; ++i) qq[i] = qq[i - 1] + qq[i];

  double u = gsl_rng_uniform(RNG);
  for (int i = 0; i < choices; ++i)
    if (qq[i] >= u) return i;

  // Rounding (or NaN weights) left every cumulative weight below the draw:
  // take the last choice that had a positive weight, else the background.
  int background = choices - 2;
  for (int i = choices - 1; i >= 0; --i)
    if (pow(exp(pp[i] - mx), 1 / T) / sum > 0) return i;
  return background;
}

bool ORU::RemoveFromList(std::vector<int>& list, int g) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == g) {
      list.erase(list.begin() + i);
      return true;
    }
  }
  return false;
}

void ORU::DeleteModule(int k) {
  K -= 1;
  I_k.erase(I_k.begin() + k);
  if (sweep_counting) sweep_counts.erase(sweep_counts.begin() + k);
  N_f.erase(N_f.begin() + k);
  buf_log_liks.erase(buf_log_liks.begin() + k);
  for (int& f : I_f)
    if (f > k) f -= 1;
}

void ORU::CleanSingleton() {
  for (int k = 0; k < K;) {
    if (I_k[k].size() == 1) {
      I_f[I_k[k][0]] = -1;
      N_n += 1;
      DeleteModule(k);
    } else {
      k += 1;
    }
  }
}

void ORU::BeginSweepCounts() {
  sweep_counts.assign(I_k.size(), NoModuleCounts());
  for (size_t k = 0; k < I_k.size(); ++k)
    for (int m : I_k[k]) TallyMember(sweep_counts[k], m, 1);
  sweep_counting = true;
}

bool ORU::EndSweepCounts() {
  bool was_counting = sweep_counting;
  sweep_counting = false;
  sweep_counts.clear();
  return was_counting;
}

void ORU::Rebuild_Ik() {
  // Lists are cleared rather than reallocated: this runs twice per sweep.
  I_k.resize(K);
  for (std::vector<int>& list : I_k) list.clear();
  for (int g = 0; g < G; ++g)
    if (I_f[g] != -1) I_k[I_f[g]].push_back(g);
}

void ORU::MonitorChain() {
  int t = m / num_thin;
  int total = num_burn + num_mcmc;
  if ((10LL * (m + 1)) % total == 0)
    std::cout << K << Blanks(5 - numutils::CountDigits(K)) << "| ";
  if (m < num_burn) {
    pm_trace_loglik[cgl][t] = 0;
    std::cout.flush();
    return;
  }

  double score = 0;
  for (int k = 0; k < K; ++k) {
    double s = 0;
    for (int g : I_k[k]) s += log_liks_sgl[g];
    double ml = ModuleMarLik(k);
    score += ml > s ? ml : s;
  }
  for (int g : gl_prot)
    if (I_f[g] == -1) score += log_liks_sgl[g];

  pm_trace_loglik[cgl][t] = score;
  if (score > pm_lik[cgl]) {
    pm_lik[cgl] = score;
    Rebuild_Ik();
    pm_I_k[cgl] = I_k;
  }
  if (m > num_burn) mean_K += static_cast<double>(K) / num_mcmc;
  std::cout.flush();
}

double ORU::ModuleMarLik(int k) {
  std::string sig = GetGroupSig(k);
  auto it = mar_log_lik.find(sig);
  if (it != mar_log_lik.end()) return it->second;
  double ml = log_f_Xk(k, kMarLikSamples);
  if (!std::isfinite(ml)) {
    std::cout << "\n!! INF|NAN !!:  " << ml << "\n";
    for (int g : I_k[k]) std::cout << "\t\t" << protein_names[cur_proteins[g]] << "\n";
  }
  mar_log_lik[sig] = ml;
  mar_log_lik_new[sig] = ml;
  return ml;
}

void ORU::GetPosteriorMode() {
  for (int gl = 0; gl < N; ++gl) {
    if (pm_lik[gl] > ppm_lik[gl]) {
      ppm_lik[gl] = pm_lik[gl];
      ppm_I_k[gl] = pm_I_k[gl];
      ppm_trace_loglik[gl] = pm_trace_loglik[gl];
    }
  }
  double retained = 0;
  for (int gl = 0; gl < N && gl < static_cast<int>(gl_prots.size()); ++gl)
    if (!gl_prots[gl].empty()) retained += ppm_lik[gl];
  std::cout << "  Maximum marginal likelihood retained: " << retained << "\n" << std::endl;
}
