#include <climits>
#include <iostream>
#include <map>
#include <string>
#include <utility>

#include "input/utils.h"
#include "model/oru.h"

namespace {

// Integer part of a score as the console rule reads it; scores beyond the int
// range get no dashes anyway, so they map to the widest int.
int TruncatedForDigits(double x) {
  if (x > INT_MIN && x < INT_MAX) return static_cast<int>(x);
  return INT_MIN;
}

bool ClassIsNonEmpty(const std::vector<std::vector<int>>& gl_prots, int gl) {
  return gl < static_cast<int>(gl_prots.size()) && !gl_prots[gl].empty();
}

}  // namespace

void ORU::PostProcess() {
  const int slots = num_thin > 0 ? (num_mcmc + num_burn) / num_thin : 0;
  trace_loglik.assign(slots > 0 ? slots : 0, 0.0);
  for (size_t i = 0; i < trace_loglik.size(); ++i)
    for (int gl = 0; gl < N; ++gl)
      // A class whose retained trace is shorter (no try ran) adds nothing.
      if (ClassIsNonEmpty(gl_prots, gl) && gl < static_cast<int>(ppm_trace_loglik.size()) &&
          i < ppm_trace_loglik[gl].size())
        trace_loglik[i] += ppm_trace_loglik[gl][i];

  I_k.clear();
  for (int gl = 0; gl < N && gl < static_cast<int>(ppm_I_k.size()); ++gl)
    for (const std::vector<int>& module : ppm_I_k[gl]) I_k.push_back(module);
  K = static_cast<int>(I_k.size());
  Rebuild_If();
  pppm_lik = 0;
  for (int gl = 0; gl < N && gl < static_cast<int>(ppm_lik.size()); ++gl)
    if (ClassIsNonEmpty(gl_prots, gl)) pppm_lik += ppm_lik[gl];
  Rebuild_Ik();

  ReportMergedPartition();

  Rebuild_Ik();
  DrawTraceTg();
  BuildUpGroups();
  FindGainLink();
  CalcLLRs();
  CalcMeanMisMatch();
  SortGroups();
}

void ORU::ReportMergedPartition() {
  std::cout << "  ---------------------------- PPM: " << pppm_lik << " ";
  const int dashes = 9 - numutils::CountDigits(TruncatedForDigits(pppm_lik));
  if (dashes > 0) std::cout << std::string(dashes, '-');
  std::cout << "----------------------------- " << std::endl;
  for (int k = 0; k < K; ++k) {
    std::cout << "  ECM " << k + 1 << ": " << "(";
    for (size_t i = 0; i < I_k[k].size(); ++i) {
      if (i > 0) std::cout << " ";
      std::cout << protein_names[cur_proteins[I_k[k][i]]];
    }
    std::cout << ")" << std::endl;
  }
  std::cout << "  Singletons: ";
  for (int g = 0; g < G; ++g) {
    if (I_f[g] != -1) continue;
    std::cout << protein_names[cur_proteins[g]] << " ";
    I_f[g] = K;
    ++K;
  }
  std::cout << std::endl;
  std::cout << "  " << std::string(75, '-') << " " << std::endl;
  std::cout << std::endl;
}

void ORU::BuildUpGroups() {
  groups.assign(K > 0 ? K : 0, Group());
  null_group.clear();
  for (int g = 0; g < G; ++g) {
    const int k = I_f[g];
    if (k >= 0 && k < K) {
      Group& rec = groups[k];
      rec.proteins.push_back(cur_proteins[g]);
      rec.concluded.push_back(g < static_cast<int>(concluded.size()) && concluded[g]);
      rec.postprob.push_back(1.0);
    } else {
      null_group.push_back(cur_proteins[g]);
    }
  }
  for (int k = 0; k < K; ++k) {
    Group& rec = groups[k];
    rec.strength = ModuleStrength(k);
    rec.c = c;
    const int n = static_cast<int>(rec.proteins.size());
    int presence = 0;
    for (int p : rec.proteins) presence += prof_sum[p];
    rec.mean_ps = n > 0 ? static_cast<double>(presence) / n : 0.0;
    if (k < static_cast<int>(trace_acc.size())) {
      const TraceAcc& acc = trace_acc[k];
      rec.mq = acc.mq;
      rec.mp = acc.mp;
      rec.ma = acc.ma;
      rec.n10 = acc.n10;
      rec.n1 = acc.n1;
    } else {
      rec.mq.assign(N, 0.0);
      rec.mp.assign(N, 0.0);
      rec.ma.assign(N, 0.0);
      rec.n10.assign(N, 0.0);
      rec.n1.assign(N, 0.0);
    }
    rec.TM.resize(N);
    for (int s = 0; s < N; ++s) rec.TM[s] = TransMatrix{{{1.0, 0.0}, {rec.mq[s], 1.0 - rec.mq[s]}}};
  }
}

double ORU::ModuleStrength(int k) {
  if (k >= static_cast<int>(I_k.size()) || I_k[k].empty()) return 0.0;
  const std::vector<int>& members = I_k[k];
  auto memo = mar_log_lik.find(GetGroupSig(k));
  double strength = memo == mar_log_lik.end() ? 0.0 : memo->second;
  for (int g : members) {
    if (no_info_protein[cur_proteins[g]]) return 0.0;
    strength -= log_liks_null[g];
  }
  return strength / static_cast<double>(members.size());
}

void ORU::FindGainLink() {
  for (Group& rec : groups) {
    int glink = -1;
    for (int p : rec.proteins)
      if (glinks[p] >= 0 && glinks[p] > glink) glink = glinks[p];
    rec.glink = glink >= 0 ? glink : 0;
    rec.in_hist.assign(N, false);
    rec.in_hist[rec.glink] = true;
    for (int o : offlinks[rec.glink]) rec.in_hist[o] = true;
    for (int s = 0; s < N; ++s) {
      if (rec.in_hist[s]) continue;
      rec.mq[s] = 0;
      rec.mp[s] = 0;
      rec.ma[s] = 1.0;
    }
  }
}

void ORU::CalcLLRs() {
  for (size_t k = 0; k < groups.size(); ++k) {
    Group& rec = groups[k];
    rec.deviance.clear();
    rec.nulldevs.clear();
    rec.llratios.clear();
    rec.mean_dev = 0;
    rec.mean_llr = 0;
    for (int p : rec.proteins) {
      const double dev = -2 * log_f_Xg_pred(p, static_cast<int>(k));
      const double nulldev = -2 * log_f_Xg_null(p, static_cast<int>(k));
      double llr = nulldev - dev;
      if (llr < 0) llr = 0;
      rec.llratios.push_back(llr);
      rec.nulldevs.push_back(nulldev);
      rec.deviance.push_back(dev);
      rec.mean_dev += dev;
      rec.mean_llr += llr;
    }
    const size_t n = rec.proteins.size();
    if (n > 0) {
      rec.mean_dev /= static_cast<double>(n);
      rec.mean_llr /= static_cast<double>(n);
    }
    for (size_t i = 0; i < n; ++i)
      for (size_t j = i + 1; j < n; ++j) {
        const bool better = rec.llratios[j] > rec.llratios[i] ||
                            (rec.llratios[j] == rec.llratios[i] && rec.proteins[i] > rec.proteins[j]);
        if (!better) continue;
        std::swap(rec.proteins[i], rec.proteins[j]);
        std::swap(rec.deviance[i], rec.deviance[j]);
        std::swap(rec.nulldevs[i], rec.nulldevs[j]);
        std::swap(rec.llratios[i], rec.llratios[j]);
        std::swap(rec.postprob[i], rec.postprob[j]);
      }
  }
}

void ORU::CalcMeanMisMatch() {
  for (size_t k = 0; k < groups.size(); ++k) {
    Group& rec = groups[k];
    // A record without members has no average; every other record divides as
    // written, so a member present nowhere (mean_ps 0) gives an infinite ratio.
    if (rec.proteins.empty()) {
      rec.mean_mm = 0.0;
      rec.mean_nmm = 0.0;
      continue;
    }
    const long long count = k < trace_acc.size() ? trace_acc[k].mismatches : 0;
    const double samples_x_members =
        static_cast<double>(trace_samples) * static_cast<double>(rec.proteins.size());
    rec.mean_mm = static_cast<double>(count) / samples_x_members;
    rec.mean_nmm = rec.mean_mm / rec.mean_ps;
  }
}

std::vector<Group> ORU::GetGroups() { return groups; }

int ORU::FindGainLink(std::vector<bool> Xg) {
  std::vector<bool> below(N, false), both_sides(N, false);
  int best = -1;
  for (int n = 0; n < N; ++n) {
    if (n < S) {
      below[n] = n < static_cast<int>(Xg.size()) && Xg[n];
      both_sides[n] = below[n];
    } else {
      const bool left = below[children[n][0]], right = below[children[n][1]];
      below[n] = left || right;
      both_sides[n] = left && right;
    }
    if (both_sides[n]) best = n;
  }
  return best >= 0 ? best : N - 1;
}

void ORU::FindModeTg() {
  if (trace_Tg.empty()) {
    // The run streams the trace; snapshots are kept only on request.
    std::cerr << "Warning: no trace samples were kept, so no history modes are found "
                 "(set keep_trace before DrawTraceTg)." << std::endl;
    return;
  }
  const int recorded = num_thin > 0 ? num_mcmc / num_thin : 0;
  for (int g = 0; g < G; ++g) {
    std::map<std::vector<char>, int> index;
    std::vector<int> counts;
    std::vector<const std::vector<char>*> seen;
    for (const std::vector<std::vector<char>>& sample : trace_Tg) {
      auto found = index.emplace(sample[g], static_cast<int>(counts.size()));
      if (found.second) {
        counts.push_back(0);
        seen.push_back(&sample[g]);
      }
      ++counts[found.first->second];
    }
    size_t mode = 0;
    for (size_t h = 1; h < counts.size(); ++h)
      if (counts[h] > counts[mode]) mode = h;
    mode_Tg.push_back(*seen[mode]);
    Tg_probs.push_back(recorded != 0 ? static_cast<double>(counts[mode]) / recorded : 0.0);
  }
}
