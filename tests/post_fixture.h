#pragma once

// Small models and module records for the posterior, prediction, ordering and
// report tests.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "model/oru.h"
#include "tests/prep_random_data.h"

namespace postfix {

// ((0,1)4,(2,3)5)6
inline std::vector<int> FourLeafParents() { return {4, 4, 5, 5, 6, 6, -1}; }

inline std::set<std::string> BothWays(const std::vector<std::pair<int, int>>& pairs) {
  std::set<std::string> keys;
  for (const auto& pr : pairs) {
    keys.insert(std::to_string(pr.first) + "=" + std::to_string(pr.second));
    keys.insert(std::to_string(pr.second) + "=" + std::to_string(pr.first));
  }
  return keys;
}

inline PhyloProf Profile(const std::vector<std::string>& rows, const std::vector<int>& gene_set) {
  const int S = static_cast<int>(rows.front().size());
  return prepdata::ProfileFromRows(prepdata::RowsFromText(rows), prepdata::SpeciesNames(S), gene_set);
}

// c, SGLGRP and the LLR threshold as the driver would pass them; error rate 0.005.
inline std::unique_ptr<ORU> Model(const PhyloProf& prof, const std::vector<int>& parents, int c = 0,
                                  int sgl_grp = 0, double llr_th = 0.0) {
  return std::make_unique<ORU>(prof, prepdata::TreeFromParents(parents), c, 0, sgl_grp, llr_th, 0.0, 0,
                               7, 0.03, 0.995);
}

inline Group Record(std::vector<int> proteins, double strength = 0.0) {
  Group rec;
  rec.proteins = proteins;
  rec.strength = strength;
  const size_t n = proteins.size();
  rec.deviance.assign(n, 1.0);
  rec.nulldevs.assign(n, 2.0);
  rec.llratios.assign(n, 1.0);
  rec.postprob.assign(n, 1.0);
  rec.pgroupid.assign(n, -1);
  rec.grey_out.assign(n, false);
  return rec;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A fresh directory under /tmp, removed with everything in it.
struct ScratchDir {
  ScratchDir() {
    char pattern[] = "/tmp/kolve_post_XXXXXX";
    const char* made = mkdtemp(pattern);
    path = made ? made : "";
  }
  ~ScratchDir() {
    if (!path.empty()) std::filesystem::remove_all(path);
  }
  std::string File(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

}  // namespace postfix
