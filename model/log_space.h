#pragma once

#include <array>
#include <cmath>

namespace logspace {

// log(e^a + e^b) as larger + log(1 + exp(smaller - larger)). Once the gap
// passes 40, exp() is below half an ulp of 1, so 1 + exp(..) rounds to 1 and
// the full formula gives larger + 0.0; that value is returned without the
// two library calls. Two minus-infinity terms give minus infinity.
inline double Sum(double a, double b) {
  double hi = a >= b ? a : b;
  double lo = a >= b ? b : a;
  if (hi == -HUGE_VAL) return hi;
  double gap = lo - hi;
  if (gap < -40.0) return hi + 0.0;
  return hi + std::log(1 + std::exp(gap));
}

// Log prior of a node's two states given the one-hot log message of its
// parent's drawn state and the node's loss row {log q, log(1 - q)}; row 0
// of the matrix is {1, 0}, whose logs are 0 and minus infinity.
inline std::array<double, 2> Prior(const std::array<double, 2>& log_q, const std::array<double, 2>& from) {
  return {{Sum(0.0 + from[0], log_q[0] + from[1]), Sum(-HUGE_VAL + from[0], log_q[1] + from[1])}};
}

// Chance of drawing state 0 from log-weights a and b:
// e^(a-m) / (e^(b-m) + e^(a-m)) with m the larger weight. e^(x-m) is exactly 1
// when x equals a finite m; with both weights minus infinity x - m is NaN,
// and so is the chance, as the formula gives (the draw then yields 1).
// With a ahead by more than 40, e^(b-a) + 1 rounds to 1 and the chance is
// exactly 1, returned without the exp() call.
inline double AbsentChance(double a, double b) {
  double m = a >= b ? a : b;
  bool finite = std::isfinite(m);
  if (finite && a == m && b - a < -40.0) return 1.0;
  double ea = a == m && finite ? 1.0 : std::exp(a - m);
  double eb = b == m && finite ? 1.0 : std::exp(b - m);
  return ea / (eb + ea);
}

// Sum(a, b), with absent set to AbsentChance(a, b): when both weights are
// finite and within 40 of each other the two share the one exp() of the gap.
inline double SumAndAbsentChance(double a, double b, double& absent) {
  double hi = a >= b ? a : b;
  double gap = (a >= b ? b : a) - hi;
  if (!std::isfinite(hi) || !(gap >= -40.0)) {
    absent = AbsentChance(a, b);
    return Sum(a, b);
  }
  double e = std::exp(gap);
  absent = a >= b ? 1.0 / (e + 1.0) : e / (1.0 + e);
  return hi + std::log(1 + e);
}

// The gain node's log prior: present with certainty.
inline std::array<double, 2> GainNodePrior() { return {{-1e7, 0.0}}; }

// One-hot log message of a parent's drawn state to its children.
inline std::array<double, 2> ParentMessage(int state) {
  std::array<double, 2> from{{-1e6, -1e6}};
  from[state] = 0.0;
  return from;
}

// Chance of drawing a node absent from its log prior and upward message.
inline double DrawAbsentChance(const std::array<double, 2>& prior, const std::array<double, 2>& lambda) {
  return AbsentChance(prior[0] + lambda[0], prior[1] + lambda[1]);
}

// Chance of drawing a node absent under an absent parent,
// DrawAbsentChance(Prior(log_q, ParentMessage(0)), l). With log q at most 0
// that prior is {0, log(1 - q) - 1e6}, so a finite l[0] ahead of the second
// weight by more than 40 makes the chance exactly 1, found without forming
// the prior.
inline double AbsentParentAbsentChance(const std::array<double, 2>& log_q, const std::array<double, 2>& l) {
  if (log_q[0] <= 0.0 && std::isfinite(l[0]) && (log_q[1] + -1e6) + l[1] - l[0] < -40.0) return 1.0;
  return DrawAbsentChance(Prior(log_q, ParentMessage(0)), l);
}

// A node's row-1 message Sum(log_q[0] + l[0], log_q[1] + l[1]) to its parent,
// with absent set to its chance of being drawn absent under a present parent.
// That parent's prior is the row itself (log q is far above -1e6), so the draw
// weighs the message's two terms and their exp() is shared; any other prior
// (q of 0 or 1, NaN) is weighed on its own.
inline double MessageAndPresentParentAbsentChance(const std::array<double, 2>& log_q,
                                                  const std::array<double, 2>& l, double& absent) {
  std::array<double, 2> present = Prior(log_q, ParentMessage(1));
  double a = log_q[0] + l[0], b = log_q[1] + l[1];
  if (present[0] + l[0] == a && present[1] + l[1] == b) return SumAndAbsentChance(a, b, absent);
  absent = DrawAbsentChance(present, l);
  return Sum(a, b);
}

}  // namespace logspace
