#include "app/orut.h"

#include <gsl/gsl_rng.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "input/utils.h"

namespace {

// Start of every best-so-far value and of the choice weights of a chain.
const double kLogZero = -10000000.0;
// Upper bound of the smallest tree score that the prediction weights are
// taken relative to.
const double kWeightShiftCap = 10000000.0;
// Score of a gene that is not scored against a module.
const double kUnscored = -1000000.0;
// Kept sweeps of every marginal-likelihood estimate.
const int kMarLikSamples = 500;
// A pass whose best score stays further than this below the best of earlier
// tries is repeated, at most kMaxPassesPerClass passes per class and step.
const double kRepassGap = -0.01;
const int kMaxPassesPerClass = 3;
// Steps between two summary lines of the chain.
const int kReportStride = 50;
// LLR above which a prediction counts as a strong one.
const double kStrongLLR = 20.0;
// Protein-id stride of the diagnostic count of positive LLRs.
const int kDiagnosticStride = 5000;

// Truncation toward zero for the printed scores; values outside the int range
// (never seen in practice) print at the nearest end instead of being undefined.
int TruncatedInt(double x) {
  if (std::isnan(x)) return 0;
  if (x <= static_cast<double>(INT_MIN)) return INT_MIN;
  if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(x);
}

double SmallestOf(const std::vector<double>& x, double bound) {
  double mn = bound;
  for (double v : x)
    if (v < mn) mn = v;
  return mn;
}

// ---- Partition plumbing shared by the chain and the combination ----

void ImposePartition(ORU& o, const std::vector<std::vector<int>>& I_k) {
  o.I_k = I_k;
  o.Rebuild_If();
  o.K = static_cast<int>(o.I_k.size());
}

// The sampler state that every other tree takes from the current one.
void ImposeChainState(ORU& o, const ORU& cur, const std::vector<std::vector<int>>& I_k_cur) {
  ImposePartition(o, I_k_cur);
  o.N_f = cur.N_f;
  o.buf_log_liks = cur.buf_log_liks;
  o.N_n = cur.N_n;
}

double ModuleMarLik(ORU& o, int k) {
  std::string sig = o.GetGroupSig(k);
  auto it = o.mar_log_lik.find(sig);
  if (it != o.mar_log_lik.end()) return it->second;
  double ml = o.log_f_Xk(k, kMarLikSamples);
  o.mar_log_lik[sig] = ml;
  o.mar_log_lik_new[sig] = ml;
  return ml;
}

// Score of the model's current partition on its own tree: per module the
// larger of its marginal likelihood and its members' singleton likelihoods,
// plus the singleton likelihood of every background gene.
double ScorePartition(ORU& o) {
  double score = 0;
  for (int k = 0; k < o.K; ++k) {
    double s = 0;
    for (int g : o.I_k[k]) s += o.log_liks_sgl[g];
    double ml = ModuleMarLik(o, k);
    score += ml > s ? ml : s;
  }
  for (int g = 0; g < o.G; ++g)
    if (o.I_f[g] == -1) score += o.log_liks_sgl[g];
  return score;
}

std::vector<double> ScoreOnEveryTree(std::vector<ORU>& orut) {
  std::vector<double> scores(orut.size(), 0.0);
  for (size_t tr = 0; tr < orut.size(); ++tr) scores[tr] = ScorePartition(orut[tr]);
  return scores;
}

// The log(n!) terms of a partition, summed on their own before they join the
// tree mean, as the score is written.
double SumLogFactorials(const std::vector<std::vector<int>>& I_k) {
  double sum = 0;
  for (const std::vector<int>& members : I_k) sum += logfactorial(static_cast<int>(members.size()));
  return sum;
}

// log of the tree mean of exp(score), shifted by the smaller of 0 and the
// smallest score, plus log(n!) per module of n genes.
double TreeAveragedScore(const std::vector<double>& scores,
                         const std::vector<std::vector<int>>& I_k) {
  double mn = SmallestOf(scores, 0.0);
  return LogMeanExp(scores, mn) + SumLogFactorials(I_k);
}

// ---- Seeding of one tree's chain ----

bool ClassIsEmpty(const ORU& o, int gl) {
  return gl >= static_cast<int>(o.gl_prots.size()) || o.gl_prots[gl].empty();
}

// PutSameProfileProts numbers a class's seed modules from 0 on an empty
// partition; each class is therefore seeded on a fresh partition and its
// modules are appended after those of the classes before it.
void AppendSeedModules(ORU& o) {
  std::vector<int> I_f = o.I_f;
  std::vector<int> N_f = o.N_f;
  std::vector<std::vector<double>> buf = o.buf_log_liks;
  int K = o.K;

  o.I_f.assign(o.G, -1);
  o.N_f.clear();
  o.buf_log_liks.clear();
  o.PutSameProfileProts(o.gl_prot);

  for (int g = 0; g < o.G; ++g)
    if (o.I_f[g] >= 0) I_f[g] = o.I_f[g] + K;
  N_f.insert(N_f.end(), o.N_f.begin(), o.N_f.end());
  buf.insert(buf.end(), o.buf_log_liks.begin(), o.buf_log_liks.end());
  o.I_f.swap(I_f);
  o.N_f.swap(N_f);
  o.buf_log_liks.swap(buf);
  o.K += K;
}

void SeedClasses(ORU& o) {
  o.concluded.assign(o.G, false);
  for (o.cgl = 0; o.cgl < o.N; ++o.cgl) {
    if (ClassIsEmpty(o, o.cgl)) continue;
    o.gl_prot = o.gl_prots[o.cgl];
    if (!o.noclust) AppendSeedModules(o);
    for (int g : o.gl_prot)
      if (o.I_f[g] >= 0) o.concluded[g] = true;
  }
}

void StartTreeChain(ORU& o, int tr, int chain_id) {
  std::cout << "Tree " << tr << ", Chain " << chain_id;
  if (o.same_gl) std::cout << ", GL" << numutils::EnoughSpaces(4, o.cgl) << o.cgl;
  std::cout << ":  | ";

  o.mean_K = 0;
  o.K = 0;
  o.Tg.assign(o.G, std::vector<char>(o.N, 0));
  o.pp.assign(o.G + 10, kLogZero);
  o.qq.assign(o.G + 10, kLogZero);
  o.buf_log_liks.clear();
  o.I_f.assign(o.G, -1);
  o.N_f.clear();
  o.Rebuild_Ik();

  SeedClasses(o);
  o.Rebuild_Ik();
  std::cout << "\xEF\xBC\x8C Initial K:" << o.I_k.size() << std::endl;
}

// ---- One step on the current tree ----

void PrintStepSummary(const ORU& o, const ORU& max_model) {
  int best = TruncatedInt(o.pm_lik[o.cgl]);
  std::cout << " K curr: " << o.K << " K max: " << max_model.K << " MAP: " << best << "."
            << numutils::EnoughSpaces(7, best);
  std::cout << std::fixed << std::setprecision(1);
  std::cout << "K = " << o.mean_K << "." << numutils::EnoughSpaces(4, TruncatedInt(o.mean_K));
  int memo = static_cast<int>(o.mar_log_lik.size());
  std::cout << "#L_DB: " << memo << "." << numutils::EnoughSpaces(5, memo);
  if (o.pm_lik[o.cgl] > o.ppm_lik[o.cgl])
    std::cout << "++";
  else if (o.ppm_lik[o.cgl] > o.pm_lik[o.cgl])
    std::cout << "--";
  std::cout << std::endl;
}

void PassClass(ORU& o) {
  o.gl_prot = o.gl_prots[o.cgl];
  o.Rebuild_Ik();
  for (int k = 0; k < o.K; ++k)
    if (o.I_k[k].empty()) std::cout << "!!!!!!!!!!!!!!!! " << k << std::endl;
  o.BeginSweepCounts();
  if (!o.noclust) {
    for (int g : o.gl_prot)
      if (o.I_f[g] != -1) o.Update_Tg(g, false);
    for (int g : o.gl_prot) {
      if (o.concluded[g]) continue;
      LeaveModuleWithoutInfo(o, g);
      o.Update_Ig(g, o.m);
    }
  }
  if (o.G > 1) o.CleanSingleton();
  o.EndSweepCounts();
  o.Rebuild_Ik();
  o.MonitorChain();
}

void SweepClasses(std::vector<ORU>& orut, int id_tree_cur, int max_id_tree, bool report) {
  ORU& o = orut[id_tree_cur];
  std::vector<int> gl_tries(o.N, 0);
  for (o.cgl = 0; o.cgl < o.N;) {
    if (ClassIsEmpty(o, o.cgl)) {
      ++o.cgl;
      continue;
    }
    gl_tries[o.cgl] += 1;
    PassClass(o);
    if (report) PrintStepSummary(o, orut[max_id_tree]);
    bool behind = o.pm_lik[o.cgl] - o.ppm_lik[o.cgl] < kRepassGap;
    if (!(behind && gl_tries[o.cgl] < kMaxPassesPerClass)) ++o.cgl;
  }
}

// ---- Averages over trees ----

std::map<std::string, double> AverageModuleMarLiks(std::vector<ORU>& orut,
                                                   const std::vector<std::vector<int>>& I_k,
                                                   int ref) {
  std::map<std::string, double> averaged;
  std::vector<double> values(orut.size());
  for (size_t kk = 0; kk < I_k.size(); ++kk) {
    int k = static_cast<int>(kk);
    std::string sig = orut[ref].GetGroupSig(k);
    for (size_t tr = 0; tr < orut.size(); ++tr) values[tr] = ModuleMarLik(orut[tr], k);
    averaged[sig] = LogMeanExp(values, 0.0, MeanBy::kDivision);
  }
  return averaged;
}

std::vector<double> AverageNullLogLiks(const std::vector<ORU>& orut, int ref) {
  int G = orut[ref].G;
  std::vector<double> averaged(G);
  std::vector<double> values(orut.size());
  for (int g = 0; g < G; ++g) {
    for (size_t tr = 0; tr < orut.size(); ++tr) values[tr] = orut[tr].log_liks_null[g];
    averaged[g] = LogMeanExp(values);
  }
  return averaged;
}

// Imposes the partition on every model and replaces every model's module
// marginals and null likelihoods by their tree means.
void ImposeAndAverage(std::vector<ORU>& orut, const std::vector<std::vector<int>>& I_k, int ref) {
  for (ORU& o : orut) ImposePartition(o, I_k);
  std::map<std::string, double> mar_log_lik = AverageModuleMarLiks(orut, I_k, ref);
  std::cout << "G: " << orut[ref].G << std::endl;
  std::vector<double> log_liks_null = AverageNullLogLiks(orut, ref);
  for (ORU& o : orut) {
    o.mar_log_lik = mar_log_lik;
    o.log_liks_null = log_liks_null;
  }
}

std::string MemberNames(const ORU& o, const std::vector<int>& members) {
  std::string names;
  for (size_t i = 0; i < members.size(); ++i) {
    if (i > 0) names += " ";
    names += o.protein_names[o.cur_proteins[members[i]]];
  }
  return names;
}

// Prints the best partition and turns every background gene of the model into
// a module of its own.
void ReportBestPartition(ORU& o, double max_marloglik_tree) {
  int digits = numutils::CountDigits(TruncatedInt(max_marloglik_tree));
  std::cout << "  ---------------------------- PPM: " << max_marloglik_tree << " "
            << std::string(std::max(0, 9 - digits), '-') << "----------------------------- "
            << std::endl;
  for (int k = 0; k < o.K; ++k)
    std::cout << "  ECM " << k + 1 << ": (" << MemberNames(o, o.I_k[k]) << ")" << std::endl;
  std::cout << "  Singletons: ";
  for (int g = 0; g < o.G; ++g) {
    if (o.I_f[g] != -1) continue;
    std::cout << o.protein_names[o.cur_proteins[g]] << " ";
    o.I_f[g] = o.K;
    o.K += 1;
  }
  std::cout << std::endl;
  std::cout << "K curr!! : " << o.K << std::endl;
  std::cout << "  " << std::string(75, '-') << " " << std::endl;
  std::cout << std::endl;
}

void PostProcessModel(ORU& o) {
  o.Rebuild_Ik();
  o.DrawTraceTg();
  o.BuildUpGroups();
  o.FindGainLink();
  o.CalcLLRs();
  o.CalcMeanMisMatch();
  o.SortGroups();
}

// ---- Prediction ----

std::vector<int> SortedMembers(const Group& group) {
  std::vector<int> members = group.proteins;
  std::sort(members.begin(), members.end());
  return members;
}

// For every model, the position of the record holding the same members as
// each record of the reference model (-1 when it has none); the models order
// their records on their own, so positions alone may pair different modules.
std::vector<std::vector<int>> PairRecords(const std::vector<ORU>& orut, int ref) {
  const std::vector<Group>& ref_groups = orut[ref].groups;
  std::vector<std::vector<int>> paired(orut.size(), std::vector<int>(ref_groups.size(), -1));
  for (size_t tr = 0; tr < orut.size(); ++tr) {
    if (static_cast<int>(tr) == ref) {
      for (size_t k = 0; k < ref_groups.size(); ++k) paired[tr][k] = static_cast<int>(k);
      continue;
    }
    std::map<std::vector<int>, int> by_members;
    const std::vector<Group>& groups = orut[tr].groups;
    for (size_t k = 0; k < groups.size(); ++k) by_members.emplace(SortedMembers(groups[k]), k);
    for (size_t k = 0; k < ref_groups.size(); ++k) {
      auto it = by_members.find(SortedMembers(ref_groups[k]));
      if (it != by_members.end()) paired[tr][k] = it->second;
    }
  }
  return paired;
}

void PrintPredictionProgress(int k) {
  if (k % 10 == 0)
    std::cout << std::endl << "  ECM" << k + 1;
  else
    std::cout << "," << numutils::EnoughSpaces(4, k) << "ECM" << k + 1;
}

bool ModuleIsScored(const ORU& o, const Group& group) {
  if (group.proteins.empty()) return false;
  if (group.proteins.size() < 2 && o.sgl_grp == 0) return false;
  return !o.no_info_protein[group.proteins[0]];
}

// Tree weights exp(log[tr] + common). common is 0 unless a weight lies beyond
// the double range; the weights are then taken relative to the largest, so
// that the LLR forms only their ratios: added to a score near 1e16, a gene's
// own log-likelihood would be rounded away.
struct TreeWeights {
  std::vector<double> log;
  double common = 0.0;
};

TreeWeights PredictionWeights(const std::vector<double>& marlik_trees, double min_marlik_trees) {
  TreeWeights w;
  for (double m : marlik_trees) w.log.push_back(m - min_marlik_trees);
  if (w.log.empty()) return w;
  const double largest = *std::max_element(w.log.begin(), w.log.end());
  if (std::isfinite(largest) && !std::isfinite(std::exp(largest))) {
    w.common = largest;
    for (double& lw : w.log) lw -= largest;
  }
  return w;
}

// Tree-weighted LLR and deviance of every protein against one module; the
// weighted sums are taken relative to the reference model's own values.
struct ModuleScores {
  std::vector<double> llrs;
  std::vector<double> llrsG;
  int count = 0;
};

ModuleScores ScoreAgainstModule(std::vector<ORU>& orut, int ref, int k,
                                const std::vector<std::vector<int>>& paired,
                                const TreeWeights& weights) {
  const ORU& r = orut[ref];
  ModuleScores sc;
  sc.llrs.assign(r.GG, kUnscored);
  sc.llrsG.assign(r.GG, kUnscored);
  std::vector<double> pred, null, lw;
  for (int ig = 0; ig < r.GG; ++ig) {
    if (r.no_info_protein[ig]) continue;
    pred.clear();
    null.clear();
    lw.clear();
    for (size_t tr = 0; tr < orut.size(); ++tr) {
      int kt = paired[tr][k];
      if (kt < 0) continue;
      pred.push_back(orut[tr].log_f_Xg_pred(ig, kt));
      null.push_back(orut[tr].log_f_Xg_null(ig, kt));
      lw.push_back(weights.log[tr]);
    }
    double pred_max = orut[ref].log_f_Xg_pred(ig, k);
    double null_max = orut[ref].log_f_Xg_null(ig, k);
    ExpSum lik_G = SumShiftedExp(pred, pred_max, lw);
    ExpSum lik_0 = SumShiftedExp(null, null_max, lw);
    sc.llrs[ig] =
        2 * (std::log(lik_G.total) - std::log(lik_0.total)) + 2 * (lik_G.shift - lik_0.shift);
    sc.llrsG[ig] = -2 * std::log(lik_G.total) - 2 * lik_G.shift - 2 * weights.common;
    if (ig % kDiagnosticStride == 0 && sc.llrs[ig] >= 0.0) sc.count += 1;
  }
  return sc;
}

std::vector<bool> ChoosePredictions(const ORU& r, const Group& group, const ModuleScores& sc,
                                    const std::vector<bool>& in_complex, int num_min) {
  const double cand_llr_th = r.LLR_th;
  const double pred_llr_th = r.LLR_th;
  std::vector<bool> in_sub_group(r.GG, false);
  for (int p : group.proteins) in_sub_group[p] = true;
  std::vector<Candidate> candidates;
  for (int g = 0; g < r.GG; ++g) {
    if (in_sub_group[g] || !(sc.llrs[g] >= cand_llr_th)) continue;
    candidates.push_back(Candidate{in_complex[g], g, sc.llrs[g]});
  }
  std::stable_sort(candidates.begin(), candidates.end(), CompCandidates);
  std::vector<bool> predicts(r.GG, false);
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (static_cast<int>(i) >= num_min && candidates[i].llr < pred_llr_th) break;
    predicts[candidates[i].protein] = true;
  }
  return predicts;
}

void OrderAndCapPredictions(Group& group, int num_max) {
  std::vector<int>& prots = group.pred_proteins;
  std::vector<double>& llrs = group.pred_llratios;
  std::vector<double>& devs = group.pred_deviance;
  for (size_t i = 0; i < llrs.size(); ++i) {
    for (size_t j = i + 1; j < llrs.size(); ++j) {
      if (llrs[j] > llrs[i]) {
        std::swap(prots[i], prots[j]);
        std::swap(llrs[i], llrs[j]);
        std::swap(devs[i], devs[j]);
      }
    }
  }
  if (llrs.size() > static_cast<size_t>(num_max)) {
    prots.resize(num_max);
    llrs.resize(num_max);
    devs.resize(num_max);
  }
  group.num_preds = 0;
  for (double llr : llrs)
    if (llr > kStrongLLR) group.num_preds += 1;
}

}  // namespace

// ---- Partition housekeeping ----

void LeaveModuleWithoutInfo(ORU& o, int g) {
  int old = o.I_f[g];
  if (old == -1 || !o.no_info_protein[o.cur_proteins[g]]) return;
  // The edits below bypass a sweep's module counts, which are retaken after them.
  bool counting = o.EndSweepCounts();
  std::vector<int>& members = o.I_k[old];
  members.erase(std::remove(members.begin(), members.end(), g), members.end());
  o.I_f[g] = -1;
  o.N_n += 1;
  o.N_f[old] -= 1;
  if (o.N_f[old] == 0) {
    o.K -= 1;
    o.I_k.erase(o.I_k.begin() + old);
    o.N_f.erase(o.N_f.begin() + old);
    o.buf_log_liks.erase(o.buf_log_liks.begin() + old);
    for (int& f : o.I_f)
      if (f > old) f -= 1;
  }
  if (counting) o.BeginSweepCounts();
}

// ---- Numerics ----

namespace {

double Exponent(const std::vector<double>& x, const std::vector<double>& log_w, size_t i) {
  return log_w.empty() ? x[i] : x[i] + log_w[i];
}

// The same sum taken relative to its largest term, which is then exp(0) = 1.
ExpSum RescaledByLargest(const std::vector<double>& x, const std::vector<double>& log_w) {
  double largest = -HUGE_VAL;
  for (size_t i = 0; i < x.size(); ++i) largest = std::max(largest, Exponent(x, log_w, i));
  ExpSum rescaled{0.0, largest};
  for (size_t i = 0; i < x.size(); ++i) rescaled.total += std::exp(Exponent(x, log_w, i) - largest);
  return rescaled;
}

}  // namespace

ExpSum SumShiftedExp(const std::vector<double>& x, double shift, const std::vector<double>& log_w) {
  ExpSum as_written{0.0, shift};
  bool finite = true;
  for (size_t i = 0; i < x.size(); ++i) {
    double term = std::exp(x[i] - shift);
    if (!log_w.empty()) term = term * std::exp(log_w[i]);
    finite = finite && std::isfinite(term);
    as_written.total += term;
  }
  if (finite && std::isfinite(as_written.total) && as_written.total > 0) return as_written;
  ExpSum rescaled = RescaledByLargest(x, log_w);
  // Infinite or NaN exponents leave nothing to re-scale by.
  return std::isfinite(rescaled.shift) ? rescaled : as_written;
}

double LogMeanExp(const std::vector<double>& x, double shift, MeanBy by) {
  const double n = static_cast<double>(x.size());
  auto log_mean = [&](const ExpSum& s) {
    double mean = by == MeanBy::kInverseCount ? (1.0 / n) * s.total : s.total / n;
    return std::log(mean) + s.shift;
  };
  ExpSum s = SumShiftedExp(x, shift);
  double v = log_mean(s);
  if (std::isfinite(v) || s.shift != shift) return v;
  // A positive total too small to survive the division by the tree count.
  ExpSum rescaled = RescaledByLargest(x, std::vector<double>());
  return std::isfinite(rescaled.shift) ? log_mean(rescaled) : v;
}

double logfactorial(int n) {
  double v = 0;
  for (int i = 2; i <= n; ++i) v = std::log(static_cast<double>(i)) + v;
  return v;
}

// ---- Joint chain ----

int SampleTree(std::vector<ORU>& orut, int id_tree_cur, std::vector<double>& logpp_trees_cur) {
  int n = static_cast<int>(orut.size());
  if (n == 0) {
    std::cout << "sum: 0!!!" << std::endl;
    return id_tree_cur;
  }
  std::vector<double> w(n);
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    w[i] = std::exp(logpp_trees_cur[i]);
    sum += w[i];
  }
  if (sum == 0) {
    std::cout << "sum: 0!!!" << std::endl;
    return id_tree_cur;
  }
  if (!std::isfinite(sum)) {
    // Weights beyond the double range: the same proportions, taken relative
    // to the largest one.
    ExpSum rescaled = RescaledByLargest(logpp_trees_cur, std::vector<double>());
    for (int i = 0; i < n; ++i) w[i] = std::exp(logpp_trees_cur[i] - rescaled.shift);
    sum = rescaled.total;
  }
  for (int i = 0; i < n; ++i) w[i] = w[i] / sum;
  for (int i = 1; i < n; ++i) w[i] = w[i - 1] + w[i];
  double u = gsl_rng_uniform(orut[id_tree_cur].RNG);
  for (int i = 0; i < n; ++i)
    if (w[i] >= u) return i;
  return n - 1;
}

void MonitorChainTree(std::vector<ORU>& orut, std::vector<std::vector<int>>& max_I_k_tree,
                      int& max_id_tree, double& max_marloglik_tree, int id_tree_cur,
                      std::vector<double>& logpp_trees_cur, std::vector<double>& marloglik_trees) {
  const int T = static_cast<int>(orut.size());
  ORU& cur = orut[id_tree_cur];
  const std::vector<std::vector<int>> I_k_cur = cur.I_k;
  for (int tr = 0; tr < T; ++tr)
    if (tr != id_tree_cur) ImposeChainState(orut[tr], cur, I_k_cur);
  std::vector<double> scores = ScoreOnEveryTree(orut);

  double mn = SmallestOf(scores, 0.0);
  double marlik = TreeAveragedScore(scores, I_k_cur);
  bool sampling = cur.m > cur.num_burn;
  if (marlik > max_marloglik_tree && sampling) {
    std::cout << std::endl
              << "!!!! Maxlik updated. From " << max_marloglik_tree << "by: " << marlik
              << ", max tree id: " << id_tree_cur << " step " << cur.m << "; marg_likdone. "
              << std::endl;
    max_marloglik_tree = marlik;
    max_I_k_tree = I_k_cur;
    max_id_tree = id_tree_cur;
    marloglik_trees = scores;
  }
  if (sampling) {
    double step_K = static_cast<double>(cur.K) / static_cast<double>(cur.num_mcmc);
    for (int tr = 0; tr < T; ++tr)
      if (tr != id_tree_cur) orut[tr].mean_K += step_K;
  }
  logpp_trees_cur.assign(T, 0.0);
  for (int tr = 0; tr < T; ++tr) logpp_trees_cur[tr] = scores[tr] - mn;
}

void ClusterProteinInComplexTree(int chain_id, std::vector<ORU>& orut,
                                 std::vector<std::vector<int>>& max_I_k_tree, int& max_id_tree,
                                 std::vector<double>& marloglik_trees, double& max_marloglik_tree) {
  const int T = static_cast<int>(orut.size());
  if (T == 0) return;
  std::vector<double> logpp_trees_cur(T, 0.0);
  int id_tree_cur = SampleTree(orut, 0, logpp_trees_cur);
  const int num_burn = orut[id_tree_cur].num_burn;
  const int num_mcmc = orut[id_tree_cur].num_mcmc;

  for (int tr = 0; tr < T; ++tr) StartTreeChain(orut[tr], tr, chain_id);

  max_id_tree = id_tree_cur;
  std::cout << "MCMC starting, tree: " << id_tree_cur << std::endl;
  std::cout << "Max tree: " << max_id_tree << ", max loglik: " << max_marloglik_tree << std::endl;

  for (int m_tr = 0; m_tr < num_burn + num_mcmc; ++m_tr) {
    bool flag = m_tr % kReportStride == 0;
    bool report = m_tr > orut[id_tree_cur].num_burn && flag;
    if (report)
      std::cout << "Current step: " << m_tr << ", as of "
                << ((m_tr + 1) * 100LL) / (num_burn + num_mcmc) << "%." << std::endl;
    for (ORU& o : orut) o.m = m_tr;
    SweepClasses(orut, id_tree_cur, max_id_tree, report);
    MonitorChainTree(orut, max_I_k_tree, max_id_tree, max_marloglik_tree, id_tree_cur,
                     logpp_trees_cur, marloglik_trees);
    id_tree_cur = SampleTree(orut, id_tree_cur, logpp_trees_cur);
    if (m_tr > orut[id_tree_cur].num_burn && flag)
      std::cout << " New tree: " << id_tree_cur << std::endl;
  }
}

// ---- Combination and post-processing ----

void PostProcessTree(std::vector<ORU>& orut, std::vector<std::vector<int>>& max_I_k_tree,
                     int& max_id_tree, std::vector<double>& marloglik_trees) {
  const int T = static_cast<int>(orut.size());
  if (T == 0) return;
  const int max_id = max_id_tree;
  ImposeAndAverage(orut, max_I_k_tree, max_id);

  ORU& ref = orut[max_id];
  double max_marloglik_tree = TreeAveragedScore(marloglik_trees, ref.I_k);
  ReportBestPartition(ref, max_marloglik_tree);

  for (int i = 0; i < T; ++i) {
    ORU& o = orut[i];
    std::cout << "i_tr:" << i << std::endl;
    std::cout << "marloglik: " << marloglik_trees[i] << std::endl;
    std::cout << "K size:" << o.I_k.size() << std::endl;
    if (i != max_id) {
      o.K = ref.K;
      o.I_f = ref.I_f;
    }
    PostProcessModel(o);
  }
}

int combineORUTreeCluster(std::vector<ORU>& orut, std::vector<std::vector<int>>& max_I_k_tree,
                          double& max_marlik_tree, std::vector<double>& marloglik_trees) {
  const int T = static_cast<int>(orut.size());
  int max_id = -1;
  std::vector<std::vector<std::vector<int>>> I_k_all;
  for (const ORU& o : orut) I_k_all.push_back(o.I_k);

  for (int i_tr1 = 0; i_tr1 < T; ++i_tr1) {
    for (ORU& o : orut) ImposePartition(o, I_k_all[i_tr1]);
    std::vector<double> scores = ScoreOnEveryTree(orut);
    double score = LogMeanExp(scores) + SumLogFactorials(I_k_all[i_tr1]);
    std::cout << "current: " << score << ", tree2s Ik: " << i_tr1 << "; marg_likdone. "
              << std::endl;
    if (score > max_marlik_tree) {
      std::cout << "maxlik updated by: " << score << ", tree2s Ik: " << i_tr1 << "; marg_likdone. "
                << std::endl;
      max_marlik_tree = score;
      max_I_k_tree = I_k_all[i_tr1];
      marloglik_trees = scores;
      max_id = i_tr1;
    }
  }
  // Every model holds the same partition from here on, so any of them can
  // supply the signatures when no candidate won.
  if (T > 0) ImposeAndAverage(orut, max_I_k_tree, max_id >= 0 ? max_id : 0);
  return max_id;
}

// ---- Prediction ----

void predictProteinORUTree(std::vector<ORU>& orut, int max_id, std::vector<double>& marlik_trees,
                           int PRED_PROT_NUM_MIN, int PRED_PROT_NUM_MAX) {
  const ORU& r = orut[max_id];
  std::vector<bool> in_complex(r.GG, false);
  for (int p : r.cur_proteins) in_complex[p] = true;

  std::cout << "Calculating the LLR scores for all genes by the HMMs:  ";
  double min_marlik_trees = SmallestOf(marlik_trees, kWeightShiftCap);
  std::cout << "min_lik: " << min_marlik_trees << std::endl;
  const TreeWeights weights = PredictionWeights(marlik_trees, min_marlik_trees);

  std::vector<std::vector<int>> paired = PairRecords(orut, max_id);
  for (size_t kk = 0; kk < r.groups.size(); ++kk) {
    int k = static_cast<int>(kk);
    PrintPredictionProgress(k);
    const Group& group = r.groups[k];
    if (!ModuleIsScored(r, group)) continue;
    std::cout << "# all genes:  " << r.GG << std::endl;

    ModuleScores sc = ScoreAgainstModule(orut, max_id, k, paired, weights);
    std::cout << "Gene ECM+ LLR #pos: " << sc.count << std::endl;
    std::vector<bool> predicts = ChoosePredictions(r, group, sc, in_complex, PRED_PROT_NUM_MIN);

    for (int g = 0; g < r.GG; ++g) {
      if (!predicts[g]) continue;
      for (size_t tr = 0; tr < orut.size(); ++tr) {
        if (paired[tr][k] < 0) continue;
        Group& target = orut[tr].groups[paired[tr][k]];
        target.pred_proteins.push_back(g);
        target.pred_llratios.push_back(sc.llrs[g]);
        target.pred_deviance.push_back(sc.llrsG[g]);
      }
    }
    for (size_t tr = 0; tr < orut.size(); ++tr)
      if (paired[tr][k] >= 0)
        OrderAndCapPredictions(orut[tr].groups[paired[tr][k]], PRED_PROT_NUM_MAX);
  }
  std::cout << std::endl;
}

// ---- Consistency of the per-tree models ----

namespace {

std::vector<std::string> SpeciesKeys(const ORU& o) {
  std::vector<std::string> keys;
  for (const std::string& name : o.SpeciesNames())
    keys.push_back(strutils::ToLowerCase(strutils::trim(name, " \t\r\n")));
  std::sort(keys.begin(), keys.end());
  return keys;
}

}  // namespace

std::string FindModelMismatch(const std::vector<ORU>& orut) {
  if (orut.empty()) return std::string();
  const ORU& first = orut[0];
  std::vector<std::string> species = SpeciesKeys(first);
  for (size_t tr = 1; tr < orut.size(); ++tr) {
    const ORU& o = orut[tr];
    std::string pair = "tree 0 and tree " + std::to_string(tr);
    if (o.Prof().protein_entrez != first.Prof().protein_entrez ||
        o.cur_proteins != first.cur_proteins)
      return "The profiles of " + pair + " do not hold the same genes in the same order";
    if (SpeciesKeys(o) != species)
      return "The profiles of " + pair + " do not have the same species";
  }
  return std::string();
}
