#pragma once

// Straightforward versions of the pruning pass and the history sampler,
// written step by step (whole-tree arrays, subtree tests by walking up the
// parents, logs of the matrix entries taken at each use), and a brute-force
// sum over every no-regain history. The model's fast kernels must agree with
// the first exactly and with the second to rounding.

#include <gsl/gsl_rng.h>

#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "model/figures.h"

namespace reference {

typedef std::array<std::array<double, 2>, 2> Terms;  // [observed][state], log

struct Tree {
  int S = 0;
  std::vector<int> parent;  // -1 for the root
  int N() const { return (int)parent.size(); }
  bool InSubtree(int n, int m) const {
    for (; m != -1; m = parent[m])
      if (m == n) return true;
    return false;
  }
  // Slot 0 holds the lower-numbered child.
  int Slot(int c) const {
    for (int o = 0; o < c; ++o)
      if (parent[o] == parent[c]) return 1;
    return 0;
  }
  std::vector<int> Children(int p) const {
    std::vector<int> out;
    for (int c = 0; c < N(); ++c)
      if (parent[c] == p) out.push_back(c);
    return out;
  }
};

inline double LogExpSum(double a, double b) {
  if (a == -INFINITY && b == -INFINITY) return -INFINITY;
  if (a >= b) return a + std::log(1 + std::exp(b - a));
  return b + std::log(1 + std::exp(a - b));
}

inline int DrawFromTwo(double a, double b, gsl_rng* rng) {
  double m = a >= b ? a : b;
  double p0 = std::exp(a - m) / (std::exp(b - m) + std::exp(a - m));
  double u = gsl_rng_uniform(rng);
  return p0 > u ? 0 : 1;
}

struct Work {
  std::vector<std::array<double, 2>> self, lambda, pi, pi_from_parent;
  std::vector<std::array<std::array<double, 2>, 2>> children;
  void Reset(int N) {
    self.assign(N, {{0, 0}});
    lambda.assign(N, {{0, 0}});
    pi.assign(N, {{0, 0}});
    pi_from_parent.assign(N, {{0, 0}});
    children.assign(N, {{{{0, 0}}, {{0, 0}}}});
  }
};

// observed(s) says whether leaf s carries an observation; terms(s) gives them.
inline double Upward(const Tree& t, const std::vector<bool>& row, int gl, const std::vector<TransMatrix>& TM,
                     const std::function<bool(int)>& observed, const std::function<Terms(int)>& terms,
                     Work& w) {
  w.Reset(t.N());
  for (int s = 0; s < t.S; ++s)
    if (t.InSubtree(gl, s) && observed(s)) w.self[s] = terms(s)[row[s]];
  for (int c = 0; c < gl; ++c) {
    if (!t.InSubtree(gl, c)) continue;
    for (int b = 0; b < 2; ++b) w.lambda[c][b] = w.self[c][b] + w.children[c][0][b] + w.children[c][1][b];
    int p = t.parent[c], j = t.Slot(c);
    for (int a = 0; a < 2; ++a)
      w.children[p][j][a] = LogExpSum(std::log(TM[c][a][0]) + w.lambda[c][0], std::log(TM[c][a][1]) + w.lambda[c][1]);
  }
  for (int b = 0; b < 2; ++b) w.lambda[gl][b] = w.self[gl][b] + w.children[gl][0][b] + w.children[gl][1][b];
  return w.lambda[gl][1];
}

// Backward sampling after Upward; writes H inside the subtree of gl.
inline void SampleDown(const Tree& t, int gl, const std::vector<TransMatrix>& TM, Work& w, std::vector<char>& H,
                       gsl_rng* rng) {
  w.pi[gl] = {{-1e7, 0}};
  auto prior = [&](int c) {
    for (int b = 0; b < 2; ++b)
      w.pi[c][b] = LogExpSum(std::log(TM[c][0][b]) + w.pi_from_parent[c][0],
                             std::log(TM[c][1][b]) + w.pi_from_parent[c][1]);
  };
  for (int c = gl; c >= t.S; --c) {
    if (!t.InSubtree(gl, c)) continue;
    if (c != gl) prior(c);
    H[c] = (char)DrawFromTwo(w.pi[c][0] + w.lambda[c][0], w.pi[c][1] + w.lambda[c][1], rng);
    for (int child : t.Children(c)) {
      w.pi_from_parent[child] = {{-1e6, -1e6}};
      w.pi_from_parent[child][(int)H[c]] = 0;
    }
  }
  for (int s = 0; s < t.S; ++s) {
    if (!t.InSubtree(gl, s)) continue;
    if (s != gl) prior(s);
    H[s] = (char)DrawFromTwo(w.pi[s][0] + w.lambda[s][0], w.pi[s][1] + w.lambda[s][1], rng);
  }
}

// log of the sum over every history of the subtree of gl that is present at
// gl and never regains: product of branch probabilities (loss q[n] on the
// branch above n) and of the observation probabilities obs(s, bit, state)
// of the observed leaves.
inline double BruteForce(const Tree& t, const std::vector<bool>& row, int gl, const std::vector<double>& q,
                         const std::function<bool(int)>& observed,
                         const std::function<double(int, int, int)>& obs) {
  std::vector<int> nodes;
  for (int n = 0; n < t.N(); ++n)
    if (t.InSubtree(gl, n)) nodes.push_back(n);
  std::vector<int> state(t.N(), 0);
  double total = 0;
  for (long mask = 0; mask < (1L << nodes.size()); ++mask) {
    for (size_t i = 0; i < nodes.size(); ++i) state[nodes[i]] = (mask >> i) & 1;
    if (state[gl] != 1) continue;
    double p = 1;
    for (int n : nodes) {
      if (n != gl) {
        int up = state[t.parent[n]];
        if (up == 0) p *= state[n] == 0 ? 1.0 : 0.0;
        else p *= state[n] == 0 ? q[n] : 1 - q[n];
      }
      if (n < t.S && observed(n)) p *= obs(n, row[n], state[n]);
    }
    total += p;
  }
  return std::log(total);
}

}  // namespace reference
