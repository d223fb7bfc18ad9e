#include <iostream>

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
  for (int i = 1; i <= sweeps; ++i) {
    if (i % (sweeps / 10) == 0)
      std::cout << (100LL * i / 20) / num_mcmc << "%  " << std::flush;
    for (int g = 0; g < G; ++g) {
      if (I_f[g] == -1)
        Update_Tg_null(g);
      else
        Update_Tg(g, true);
    }
    AccumulateTraceSample();
    if (keep_trace) trace_Tg.push_back(Tg);
  }
  std::cout << std::endl;
}

void ORU::AccumulateTraceSample() {
  const double T = trace_samples;
  for (size_t k = 0; k < trace_acc.size(); ++k) {
    const std::vector<int>& members = I_k[k];
    TraceAcc& acc = trace_acc[k];
    const double n = static_cast<double>(members.size());
    for (int s = 0; s < N; ++s) {
      const bool root = (s == N - 1);
      const int p = root ? s : parent[s];
      int c10 = 0, c11 = 0, d0 = 0, d1 = 0;
      for (int g : members) {
        const char at_s = Tg[g][s];
        if (at_s == 1)
          ++d1;
        else
          ++d0;
        if (!root && Tg[g][p] == 1) {
          if (at_s == 1)
            ++c11;
          else
            ++c10;
        }
      }
      const double lost = c10, kept = c11, absent = d0, present = d1;
      if (!root) {
        acc.mq[s] += ((lost + 0.0045) / (lost + kept + 0.15)) / T;
        if (n > 0) {
          acc.n10[s] += lost / n / T;
          acc.n1[s] += (lost + kept) / n / T;
        }
      }
      if (absent + present > 0) {
        acc.mp[s] += present / (absent + present) / T;
        acc.ma[s] += absent / (absent + present) / T;
      }
    }
    for (int g : members)
      for (int s = 0; s < S; ++s)
        if (X[g][s] != (Tg[g][s] == 1)) ++acc.mismatches;
  }
}
