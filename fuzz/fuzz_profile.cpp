// libFuzzer target: any bytes as a profile matrix file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "input/profile.h"

namespace {

struct TempFile {
  std::string path;
  TempFile() {
    char pattern[] = "/tmp/kolve_fuzz_profile_XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    path = pattern;
  }
  ~TempFile() { std::remove(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TempFile file;
  std::ofstream(file.path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
  const PhyloProf p = LoadPhyloProfiles(file.path);
  bool consistent = p.S == static_cast<int>(p.species_names.size()) && p.G == static_cast<int>(p.X.size()) &&
                    p.G == static_cast<int>(p.protein_entrez.size()) &&
                    p.G == static_cast<int>(p.protein_names.size()) && p.G == static_cast<int>(p.focus.size());
  for (const auto& row : p.X) consistent = consistent && static_cast<int>(row.size()) == p.S;
  for (const auto& key : p.protein_map) consistent = consistent && key.second >= 0 && key.second < p.G;
  for (const auto& key : p.entrez_to_prot) consistent = consistent && key.second >= 0 && key.second < p.G;
  if (!consistent) __builtin_trap();
  return 0;
}
