#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <istream>
#include <map>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "input/file_writer.h"
#include "input/utils.h"
#include "model/oru.h"

namespace {

// Cache files read at the most: one more than the 5,000 that the limit was
// always stated as. Past it the newest are read.
const size_t kMaxCacheFilesRead = 5001;
// Kept sweeps behind every estimate this program writes.
const char* const kSampleSize = "500";

bool DirectoryExists(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return false;
  closedir(dir);
  return true;
}

// mkdir(2) rather than a shell command: the path comes from the parameters
// file and may hold any character. A failure shows up later, when the
// directory is listed or written.
void MakeDirectory(const std::string& path) { mkdir(path.c_str(), 0777); }

void EnsureDirectory(const std::string& path) {
  if (!DirectoryExists(path)) MakeDirectory(path);
}

bool IsReadableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && std::ifstream(path).is_open();
}

// A field reads as a number only when the whole of it does: "5abc" is damage,
// not 5. White space around it (a CR left by an editor) is not damage.
template <typename Number>
bool ReadWhole(const std::string& field, Number& value) {
  std::istringstream in(field);
  if (!(in >> value)) return false;
  in >> std::ws;
  return in.eof();
}

void WarnSaveFailed(const std::string& path, int err) {
  std::cerr << "Warning: cannot save the marginal-likelihood cache in " << path << ": "
            << std::strerror(err) << std::endl;
}

// 64-bit FNV-1a. Counts, text lengths and numbers go in as 8 bytes each and
// every list with its length, so that different inputs never give one stream.
class Fingerprint {
 public:
  void Byte(unsigned char b) { h_ = (h_ ^ b) * 1099511628211ULL; }
  void Count(uint64_t v) {
    for (int i = 0; i < 8; ++i) Byte(static_cast<unsigned char>(v >> (8 * i)));
  }
  void Real(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    Count(bits);
  }
  void Texts(const std::vector<std::string>& list) {
    Count(list.size());
    for (const std::string& t : list) {
      Count(t.size());
      for (unsigned char ch : t) Byte(ch);
    }
  }
  std::string Hex() const {
    char hex[17];
    snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h_));
    return hex;
  }

 private:
  uint64_t h_ = 14695981039346656037ULL;
};

const size_t kFingerprintDigits = 16;

// The fingerprint a cache file's name carries: 16 lowercase hex digits after
// a "." just before ".txt"; empty for the names earlier builds wrote
// ("<time>.txt", "<time>_1.txt"), which are read as before.
std::string NamedFingerprint(const std::string& path) {
  const size_t end = path.size() - 4;
  if (end <= kFingerprintDigits || path[end - kFingerprintDigits - 1] != '.') return "";
  std::string digits = path.substr(end - kFingerprintDigits, kFingerprintDigits);
  return digits.find_first_not_of("0123456789abcdef") == std::string::npos ? digits : "";
}

// Gives the complete temporary file its final "<stem><ending>" name without
// ever replacing an existing file: a colliding save moves on to
// "<stem>_1<ending>", "<stem>_2<ending>", ...
bool PublishExclusively(const std::string& tmp, const std::string& dir, const std::string& stem,
                        const std::string& ending) {
  for (long i = 0;; ++i) {
    std::string name = dir + "/" + stem + (i == 0 ? "" : "_" + std::to_string(i)) + ending;
    if (fileutils::PublishWithoutReplacing(tmp, name)) return true;
    if (errno != EEXIST) return false;
  }
}

// Merges one estimate of sig, weighting by sample size in likelihood space.
void MergeCacheEntry(std::map<std::string, double>& ml, std::map<std::string, double>& sizes,
                     const std::string& sig, double ll, double siz) {
  double old_ml = 0, old_siz = 0;
  auto it = ml.find(sig);
  if (it != ml.end()) {
    old_ml = it->second;
    old_siz = sizes[sig];
  }
  double new_siz = siz + old_siz;
  ml[sig] = ORU::log_exp_sum(log(siz) + ll - log(new_siz), old_ml + log(old_siz) - log(new_siz));
  sizes[sig] = new_siz;
}

void MergeCacheFile(std::istream& in, std::map<std::string, double>& ml,
                    std::map<std::string, double>& sizes) {
  const std::string blanks = " \t\n";
  std::string line;
  while (std::getline(in, line)) {
    line = strutils::trim(line, blanks);
    if (line.empty()) continue;
    std::vector<std::string> fields = strutils::split(line, '\t');
    if (fields.size() < 4) continue;
    std::string sig = strutils::trim(fields[1], blanks);
    long long tag = 0, siz = 0;
    double ll = 0;
    // A damaged line must never make a module win. The value is the log
    // probability of binary data, so it is finite and never above 0.
    if (!ReadWhole(fields[0], tag)) continue;
    if (!ReadWhole(fields[2], ll) || !std::isfinite(ll) || ll > 0) continue;
    if (!ReadWhole(fields[3], siz) || siz <= 0) continue;
    MergeCacheEntry(ml, sizes, sig, ll, static_cast<double>(siz));
  }
}

// The ".txt" files of a cache directory listing that are read, in name order:
// those of this fingerprint and those without one. Names are save times, so
// past the limit the last names are the newest: a cache shared by thousands
// of runs keeps reading what they add. Files of other inputs are only counted
// (in foreign), so that they never push this run's files out.
std::vector<std::string> CacheFilesToRead(std::vector<std::string> entries,
                                          const std::string& fingerprint, size_t& foreign) {
  std::sort(entries.begin(), entries.end());
  std::vector<std::string> newest;
  foreign = 0;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (!strutils::endsWith(*it, ".txt")) continue;
    std::string named = NamedFingerprint(*it);
    if (!named.empty() && named != fingerprint)
      ++foreign;
    else if (newest.size() < kMaxCacheFilesRead && IsReadableFile(*it))
      newest.push_back(*it);
  }
  std::reverse(newest.begin(), newest.end());
  return newest;
}

}  // namespace

// What an estimate, and the gene each protein id of its signature names,
// depend on: every protein's id, symbol and presence row in leaf order (the
// profile and how its columns were matched to the leaves), the leaf names,
// the topology, the observation error, and PREP_LRATE, under which the gain
// node of every gene is searched. Not the seed: an estimate draws from a
// generator of its own with a fixed seed. Not the gene set: a signature names
// proteins, not positions in the set.
std::string ORU::CacheFingerprint() const {
  Fingerprint f;
  f.Texts(species_names);
  f.Count(N);
  for (int n = 0; n < N; ++n) {
    f.Count(static_cast<uint64_t>(children[n][0]));
    f.Count(static_cast<uint64_t>(children[n][1]));
    f.Count(static_cast<uint64_t>(parent[n]));
  }
  f.Texts(prof.protein_entrez);
  f.Texts(protein_names);
  f.Count(XX.size());
  for (const std::vector<bool>& row : XX) {
    f.Count(row.size());
    for (bool present : row) f.Byte(present ? 1 : 0);
  }
  f.Real(PO);
  f.Real(P00);
  f.Real(ind_lrate);
  return f.Hex();
}

void ORU::LoadMarLikDB(std::string params_path, bool explore) {
  mldb_fingerprint = CacheFingerprint();
  EnsureDirectory("caches");
  EnsureDirectory("caches/marlik");
  mar_log_lik.clear();
  mar_log_lik_siz.clear();
  mar_log_lik_new.clear();

  std::string name = strutils::replace(params_path, "/", "_");
  name = strutils::replace(name, ".", "_");
  mldb_path = "caches/marlik/" + name;
  if (!DirectoryExists(mldb_path)) {
    MakeDirectory(mldb_path);
    return;
  }
  if (explore) return;

  // Name order, so that the merge (and the file limit) do not depend on the
  // file system's listing order.
  size_t foreign = 0;
  const std::vector<std::string> paths =
      CacheFilesToRead(fileutils::getdir(mldb_path), mldb_fingerprint, foreign);
  for (const std::string& path : paths) {
    std::ifstream in(path);
    if (in) MergeCacheFile(in, mar_log_lik, mar_log_lik_siz);
  }
  if (foreign > 0)
    std::cerr << "Notice: " << foreign << " marginal-likelihood cache files in " << mldb_path
              << " hold estimates of other inputs and were not read." << std::endl;
}

void ORU::SaveMarLikDB() {
  if (N < 1 || mar_log_lik_new.empty()) return;

  // Non-finite estimates are used by the chain but never cached.
  std::ostringstream text;
  bool any = false;
  for (const auto& entry : mar_log_lik_new) {
    if (!std::isfinite(entry.second)) continue;
    text << "0\t" << entry.first << "\t" << entry.second << "\t" << kSampleSize << "\n";
    any = true;
  }
  if (!any) return;
  if (mldb_path.empty()) {
    WarnSaveFailed("(no cache directory)", ENOENT);
    return;
  }

  std::string tmp = fileutils::WriteTempFile(mldb_path + "/.saving_", text.str());
  if (tmp.empty()) {
    WarnSaveFailed(mldb_path, errno);
    return;
  }
  if (PublishExclusively(tmp, mldb_path, std::to_string(static_cast<long long>(time(nullptr))),
                         "." + mldb_fingerprint + ".txt"))
    return;
  WarnSaveFailed(mldb_path, errno);
  unlink(tmp.c_str());
}
