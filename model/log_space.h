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
inline double AbsentChance(double a, double b) {
  double m = a >= b ? a : b;
  bool finite = std::isfinite(m);
  double ea = a == m && finite ? 1.0 : std::exp(a - m);
  double eb = b == m && finite ? 1.0 : std::exp(b - m);
  return ea / (eb + ea);
}

}  // namespace logspace
