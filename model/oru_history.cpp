#include <cmath>

#include "model/log_space.h"
#include "model/oru.h"

namespace {

// With b ahead by more than 40 the chance of absence is e^(a-b) < 1e-17, so
// the draw is 1 unless u is tinier still (AbsentChance itself saves the
// exp() when a is ahead); the uniform is consumed either way.
int DrawWith(double a, double b, gsl_rng* rng) {
  double u = gsl_rng_uniform(rng);
  if (b > a && a - b < -40.0 && u >= 1e-17) return 1;
  return logspace::AbsentChance(a, b) > u ? 0 : 1;
}

}  // namespace

int ORU::DrawFromTwo(double a, double b) { return DrawWith(a, b, RNG); }

int ORU::DrawFromTwo_Xk(double a, double b, gsl_rng* rng) { return DrawWith(a, b, rng); }

// After UpwardPassForDraws. A node under a present parent is drawn from the
// chance of absence its message kept; under an absent parent from its prior,
// which no later step reads, so pi and pi_from_parent are not written. Leaves
// take that chance from the leaf entries when given.
template <typename Draw>
void ORU::SampleDown(const std::vector<bool>& row, int gl, const std::array<double, 2>* log_q,
                     const LeafEntry* leaves, char* H, Draw draw) {
  if (gl < 0) return;
  const std::array<double, 2>* l = lambda.data();
  const double* absent = absent_under_present.data();
  auto draw_with = [&](int c, const std::array<double, 2>& prior) {
    H[c] = (char)draw(prior[0] + l[c][0], prior[1] + l[c][1]);
  };
  auto draw_below = [&](int c) {
    if (H[parent[c]])
      H[c] = (char)draw.with_chance(absent[c]);
    else
      draw_with(c, logspace::Prior(log_q[c], logspace::ParentMessage(0)));
  };
  draw_with(gl, logspace::GainNodePrior());
  for (int c = gl - 1; c >= int_lo[gl]; --c) draw_below(c);
  for (int s = leaf_lo[gl]; s <= leaf_hi[gl]; ++s) {
    if (s == gl) continue;
    if (leaves)
      H[s] = (char)draw.with_chance(leaves[s].p0[H[parent[s]]][row[s]]);
    else
      draw_below(s);
  }
}

namespace {

// One uniform per draw, from the model's or the caller's generator.
struct Drawer {
  gsl_rng* rng;
  int operator()(double a, double b) const { return DrawWith(a, b, rng); }
  int with_chance(double p0) const { return p0 > gsl_rng_uniform(rng) ? 0 : 1; }
};

}  // namespace

ORU::SamplingRows ORU::SetSamplingTm(int g, const std::vector<std::vector<char>>& histories,
                                      bool count_self) {
  int k = I_f[g];
  if (k == -1) {
    TM_Int = TM_null;
    return {log_tm_null.data(), leaves_null_model.data()};
  }
  if (!I_k[k].empty()) {
    WriteModuleRows(g, k, histories, count_self);
  } else {
    ForSubtree(cl_glinks[g], true, [&](int s) {
      if (s != N - 1) WriteModuleRow(s, empty_module_row);
    });
  }
  return {log_tm_int.data(), leaves_int.data()};
}

void ORU::DrawGeneHistory(int g, SamplingRows rows, char* H, gsl_rng* rng) {
  UpwardPassForDraws(X[g], cl_glinks[g], rows.first, model_obs, &model_obs, rows.second);
  SampleDown(X[g], cl_glinks[g], rows.first, rows.second, H, Drawer{rng});
}

// g's module moves g's share from its old history to the new one.
void ORU::Update_Tg(int g, bool t) {
  SamplingRows rows = SetSamplingTm(g, Tg, t);
  TallyOwnModule(g, -1);
  DrawGeneHistory(g, rows, Tg[g].data(), RNG);
  TallyOwnModule(g, 1);
}

void ORU::TallyOwnModule(int g, int sign) {
  int k = I_f[g];
  if (sweep_counting && k >= 0) TallyMember(sweep_counts[k], g, sign * TimesListed(g, k));
}

void ORU::Update_Tg_Xk(int g, gsl_rng* rng) {
  DrawGeneHistory(g, SetSamplingTm(g, Tgg, false), Tgg[g].data(), rng);
}

void ORU::Update_Tg_null(int g) {
  DrawGeneHistory(g, {log_tm_null.data(), leaves_null_model.data()}, Tg[g].data(), RNG);
}

std::vector<char> ORU::Update_Tg_null2(int p) {
  std::vector<char> history;
  SampleNullHistories(p, 1, history);
  return history;
}

void ORU::SampleNullHistories(int p, int count, std::vector<char>& out) {
  out.assign((size_t)count * N, 0);
  int gl = glinks[p];
  UpwardPassForDraws(XX[p], gl, log_tm_null.data(), gain_obs, &gain_obs, leaves_null_gain.data());
  for (int i = 0; i < count; ++i)
    SampleDown(XX[p], gl, log_tm_null.data(), leaves_null_gain.data(), out.data() + (size_t)i * N, Drawer{RNG});
}
