#pragma once

// The one definition of ORUTestAccess for the benchmark executable (every
// bench file links into it): include this header rather than defining another.

#include "model/oru.h"

struct ORUTestAccess {
  static auto& glinks(ORU& o) { return o.glinks; }
  static auto& TM_null(ORU& o) { return o.TM_null; }
  static auto& fit(ORU& o) { return o.fit; }
  static auto& Tgg(ORU& o) { return o.Tgg; }
  static void RefreshLogTmNull(ORU& o) { o.RefreshLogTmNull(); }
  // The gain-node search of every protein, with one work space as in preprocessing.
  static void GainNodes(ORU& o, std::vector<int>& out) {
    ORU::GainSearch w;
    out.resize(o.GG);
    for (int p = 0; p < o.GG; ++p) out[p] = o.BestGainNode(p, w);
  }
  static void SampleNullHistories(ORU& o, int p, int count, std::vector<char>& out) {
    o.SampleNullHistories(p, count, out);
  }
};
