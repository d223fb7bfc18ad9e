// libFuzzer target: any bytes as the annotation files of a small fixed
// profile; the gene-set loader first, then the other four loaders.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "input/profile.h"

namespace {

struct TempFile {
  std::string path;
  explicit TempFile(const char* contents) {
    char pattern[] = "/tmp/kolve_fuzz_geneset_XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    path = pattern;
    std::ofstream(path, std::ios::binary) << contents;
  }
  ~TempFile() { std::remove(path.c_str()); }
};

bool RowsInRange(const std::vector<std::vector<int>>& lists, int end) {
  for (const auto& list : lists)
    for (int k : list)
      if (k < 0 || k >= end) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TempFile profile_file(
      "ENTREZ\tSYMBOL\tsp1\tsp2\tsp3\n"
      "10\tGA\t1\t0\t1\n"
      "20|21\tGB|gb2\t1\t1\t0\n"
      "30\t\t0\t1\t1\n"
      "40\tGA\t1\t1\t1\n");
  static const PhyloProf profile = LoadPhyloProfiles(profile_file.path);
  static const TempFile annotations("");
  std::ofstream(annotations.path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);

  const PhyloProf sets = LoadComplexes(profile, annotations.path);
  const PhyloProf domains = LoadpFams(profile, annotations.path);
  const PhyloProf paralogs = LoadParalogys(profile, annotations.path);
  const PhyloProf filters = LoadFilters(profile, annotations.path);
  LoadFocuses(profile, annotations.path);

  const bool consistent =
      sets.C == static_cast<int>(sets.complexes_names.size()) &&
      sets.C == static_cast<int>(sets.proteins_for_complexes.size()) &&
      sets.C == static_cast<int>(sets.complex_name_no_disp.size()) &&
      RowsInRange(sets.complexes_for_proteins, sets.C) && RowsInRange(sets.proteins_for_complexes, sets.G) &&
      domains.P == static_cast<int>(domains.pfam_names.size()) && RowsInRange(domains.pfam_for_protein, domains.P) &&
      RowsInRange(domains.protein_for_pfam, domains.G) && paralogs.paralogs.size() <= size &&
      RowsInRange({filters.filters}, filters.G);
  if (!consistent) __builtin_trap();
  return 0;
}
