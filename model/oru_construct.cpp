#include <algorithm>
#include <cstdint>
#include <utility>

#include "model/oru.h"

ORU::ORU(PhyloProf _prof, PhyloTree _tree, int _c, int _noclust, int _sgl_grp, double _LLR_th,
         double _filter_LLR, int _same_gl, int _seed, double _prep_lrate, double _P00) {
  c = _c;
  GG = G = _prof.G;
  S = _prof.S;
  N = 2 * S - 1;
  noclust = _noclust;
  sgl_grp = _sgl_grp;
  LLR_th = _LLR_th;
  same_gl = (_same_gl != 0);
  ind_lrate = _prep_lrate;
  P00 = _P00;
  PO = _P00;
  filter_LLR = _filter_LLR;
  T0 = 0;

  MatchProfAndTree(_prof, _tree);
  prof = std::move(_prof);
  XX = prof.X;
  CompProfSum();
  species_names = prof.species_names;
  protein_names = prof.protein_names;

  const std::vector<std::vector<int>>& sets = prof.proteins_for_complexes;
  if (c >= 0 && c < (int)sets.size()) {
    cur_proteins = sets[c];
  } else {
    for (const std::vector<int>& set : sets) cur_proteins.insert(cur_proteins.end(), set.begin(), set.end());
  }
  std::sort(cur_proteins.begin(), cur_proteins.end());
  cur_proteins.erase(std::unique(cur_proteins.begin(), cur_proteins.end()), cur_proteins.end());
  is_cur_proteins.assign(GG, false);
  for (int p : cur_proteins) is_cur_proteins[p] = true;

  G = (int)cur_proteins.size();
  for (int p : cur_proteins) X.push_back(XX[p]);
  cur_ps.assign(GG, -1);
  for (int g = 0; g < G; ++g) cur_ps[cur_proteins[g]] = g;

  model_obs = ModelObsTerms();
  gain_obs = SymmetricObsTerms(0.995, 0.005);
  gain_obs0 = SymmetricObsTerms(1 - 1e-7, 1e-7);
  species0_in_gain_search = S > 0 && species_names[0] == "Prokaryotes";

  TransMatrix background = {{{{1.0, 0.0}}, {{ind_lrate, 1 - ind_lrate}}}};
  TM_null.assign(N, background);
  TM_Int = TM_null;
  RefreshLogTmNull();
  log_tm_int = log_tm_null;
  leaves_int = leaves_null_model;
  empty_module_row = ModuleRow(0.03, 0.97);

  InitPhyloTree(_tree);
  CountOffsprings();
  BuildSubtreeRanges();

  const std::array<double, 2> zero2 = {{0.0, 0.0}};
  const std::array<std::array<double, 2>, 2> zero22 = {{zero2, zero2}};
  pi_from_parent.assign(N, zero2);
  lambda.assign(N, zero2);
  pi.assign(N, zero2);
  lambda_from_self.assign(N, zero2);
  absent_under_present.assign(N, 0.0);
  lambda_from_children.assign(N, zero22);
  scratch_self.assign(N, zero2);
  scratch_lambda.assign(N, zero2);
  scratch_log_q.assign(N, zero2);
  scratch_children.assign(N, zero22);
  scratch_leaves.assign(S, LeafEntry());
  lost_counts.assign(N, 0);
  kept_counts.assign(N, 0);
  tcounts.assign(2, std::vector<double>(2, 0.0));

  ppm_lik.assign(N, -10000000.0);
  ppm_I_k.assign(N, std::vector<std::vector<int>>());
  ppm_trace_loglik.assign(N, std::vector<double>());

  seed = (uint64_t)(int64_t)_seed;
  RNG.Reset(gsl_rng_alloc(gsl_rng_default));
  gsl_rng_set(RNG, seed);
}

// Every member copies by value; the generator member clones its state.
ORU::ORU(const ORU& other) = default;

ORU::~ORU() = default;

std::string ORU::GetGroupSig(int k) {
  std::string sig;
  for (size_t i = 0; i < I_k[k].size(); ++i) {
    if (i > 0) sig += ", ";
    sig += std::to_string(cur_proteins[I_k[k][i]]);
  }
  return sig;
}

void ORU::Rebuild_If() {
  I_f.assign(G, -1);
  for (size_t k = 0; k < I_k.size(); ++k)
    for (int g : I_k[k]) I_f[g] = (int)k;
}

void ORU::CompProfSum() {
  prof_sum.clear();
  for (int p = 0; p < GG; ++p) {
    int sum = 0;
    for (int s = 0; s < S; ++s) sum += XX[p][s] ? 1 : 0;
    prof_sum.push_back(sum);
  }
}
