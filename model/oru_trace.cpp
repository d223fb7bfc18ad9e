#include <algorithm>
#include <iostream>
#include <map>

#include "model/oru.h"

void ORU::DrawTraceTg() {
  std::cout << "Estimating the hidden Markov model (HMM) for each ECM:  " << std::flush;
  const int sweeps = 20 * num_mcmc;
  // Streaming keeps memory independent of the number of sweeps; every term is
  // added in the order a stored trace would be read, so sums are unchanged.
  trace_samples = sweeps > 0 ? sweeps : 0;
  trace_acc.assign(I_k.size(), TraceAcc());
  for (TraceAcc& acc : trace_acc) {
    acc.mq.assign(N, 0.0);
    acc.mp.assign(N, 0.0);
    acc.ma.assign(N, 0.0);
    acc.n10.assign(N, 0.0);
    acc.n1.assign(N, 0.0);
  }
  StartTraceCounts();
  BeginSweepCounts();
  for (int i = 1; i <= sweeps; ++i) {
    if (i % (sweeps / 10) == 0)
      std::cout << (100LL * i / 20) / num_mcmc << "%  " << std::flush;
    for (int g = 0; g < G; ++g) RedrawTraceHistory(g);
    AccumulateTraceSample();
    if (keep_trace) trace_Tg.push_back(Tg);
  }
  EndSweepCounts();
  AddSteadyTerms(trace_samples);
  // The per-module counts hold several values per node and module; nothing
  // reads them once the sums are in trace_acc.
  std::vector<TraceModule>().swap(trace_modules);
  std::cout << std::endl;
}

void ORU::StartTraceCounts() {
  trace_terms.clear();
  trace_modules.assign(I_k.size(), TraceModule());
  std::vector<char> live(N);
  for (size_t k = 0; k < I_k.size(); ++k) {
    TraceModule& tm = trace_modules[k];
    tm.n = static_cast<int>(I_k[k].size());
    for (std::vector<int>* counts : {&tm.c10, &tm.c11, &tm.d1}) counts->assign(N, 0);
    for (std::vector<double>* terms : {&tm.mq, &tm.mp, &tm.ma, &tm.n10, &tm.n1}) terms->assign(N, 0.0);
    std::fill(live.begin(), live.end(), 0);
    for (int m : I_k[k]) {
      for (int s = 0; s < N; ++s) CountTraceNode(tm, m, Tg[m].data(), s, 1);
      ForSubtree(cl_glinks[m], true, [&](int s) { live[s] = 1; });
    }
    TermsForMembers(tm.n);
    for (int s = 0; s < N; ++s) {
      SetTraceTerms(tm, s);
      if (live[s]) tm.live.push_back(s);
    }
  }
}

// The same expressions as a per-sample recount, so every term is the same double.
const ORU::TraceTerms& ORU::TermsForMembers(int n) {
  if (static_cast<int>(trace_terms.size()) <= n) trace_terms.resize(n + 1);
  TraceTerms& t = trace_terms[n];
  if (!t.mq.empty()) return t;
  const double T = trace_samples, members = n;
  t.mq.resize((size_t)(n + 1) * (n + 1));
  for (int l = 0; l <= n; ++l)
    for (int k = 0; k <= n; ++k) {
      const double lost = l, kept = k;
      t.mq[(size_t)l * (n + 1) + k] = ((lost + 0.0045) / (lost + kept + 0.15)) / T;
    }
  t.per_member.assign(n + 1, 0.0);
  t.mp.assign(n + 1, 0.0);
  t.ma.assign(n + 1, 0.0);
  if (n == 0) return t;  // no member: those summaries are never added to
  for (int j = 0; j <= n; ++j) {
    const double count = j, present = j, absent = n - j;
    t.per_member[j] = count / members / T;
    t.mp[j] = present / (absent + present) / T;
    t.ma[j] = absent / (absent + present) / T;
  }
  return t;
}

void ORU::CountTraceNode(TraceModule& tm, int g, const char* h, int s, int sign) {
  const bool present = h[s] == 1;
  if (present) tm.d1[s] += sign;
  if (s != N - 1 && h[parent[s]] == 1) (present ? tm.c11 : tm.c10)[s] += sign;
  if (s < S && X[g][s] != present) tm.mismatches += sign;
}

void ORU::SetTraceTerms(TraceModule& tm, int s) {
  const TraceTerms& t = trace_terms[tm.n];
  if (s != N - 1) {
    const int lost = tm.c10[s], crossed = lost + tm.c11[s];
    tm.mq[s] = t.mq[(size_t)lost * (tm.n + 1) + tm.c11[s]];
    tm.n10[s] = t.per_member[lost];
    tm.n1[s] = t.per_member[crossed];
  }
  tm.mp[s] = t.mp[tm.d1[s]];
  tm.ma[s] = t.ma[tm.d1[s]];
}

// The trace runs on lists rebuilt from I_f, so g is listed once, in I_f[g].
void ORU::TallyTraceChange(int g, const char* before) {
  if (I_f[g] == -1) return;
  TraceModule& tm = trace_modules[I_f[g]];
  const char* after = Tg[g].data();
  ForSubtree(cl_glinks[g], true, [&](int s) {
    const int up = s == N - 1 ? s : parent[s];
    if (before[s] == after[s] && before[up] == after[up]) return;
    CountTraceNode(tm, g, before, s, -1);
    CountTraceNode(tm, g, after, s, 1);
    SetTraceTerms(tm, s);
  });
}

// The sweep counts give Update_Tg(g, true) its rows without a recount.
void ORU::RedrawTraceHistory(int g) {
  trace_before = Tg[g];
  if (I_f[g] == -1)
    Update_Tg_null(g);
  else
    Update_Tg(g, true);
  TallyTraceChange(g, trace_before.data());
}

void ORU::AccumulateTraceSample() {
  for (size_t k = 0; k < trace_acc.size(); ++k) {
    const TraceModule& tm = trace_modules[k];
    TraceAcc& acc = trace_acc[k];
    for (int s : tm.live) {
      acc.mq[s] += tm.mq[s];
      acc.mp[s] += tm.mp[s];
      acc.ma[s] += tm.ma[s];
      acc.n10[s] += tm.n10[s];
      acc.n1[s] += tm.n1[s];
    }
    acc.mismatches += tm.mismatches;
  }
}

// A node outside every member's gain subtree adds the same term in every
// sample, so its sum is that term added count times from zero, once per
// distinct term. (Adding an exact zero leaves a sum of non-negative terms as
// it is, so the summaries a recount would skip come out the same.)
void ORU::AddSteadyTerms(int count) {
  if (count == 0) return;  // the sums stay zero (and the terms divide by no samples)
  std::map<double, double> sums;
  auto steady = [&](double term) {
    auto at = sums.find(term);
    if (at != sums.end()) return at->second;
    double sum = 0.0;
    for (int i = 0; i < count; ++i) sum += term;
    sums.emplace(term, sum);
    return sum;
  };
  for (size_t k = 0; k < trace_acc.size(); ++k) {
    const TraceModule& tm = trace_modules[k];
    TraceAcc& acc = trace_acc[k];
    size_t next_live = 0;
    for (int s = 0; s < N; ++s) {
      if (next_live < tm.live.size() && tm.live[next_live] == s) {
        ++next_live;
        continue;
      }
      acc.mq[s] = steady(tm.mq[s]);
      acc.mp[s] = steady(tm.mp[s]);
      acc.ma[s] = steady(tm.ma[s]);
      acc.n10[s] = steady(tm.n10[s]);
      acc.n1[s] = steady(tm.n1[s]);
    }
  }
}
