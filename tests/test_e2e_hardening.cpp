// Runs of the real binary on messy files and under faults: results that must
// not come out silently wrong, failures that must not crash, and failures
// that must neither lose the previous table nor pass as success.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/binary_run.h"

#if defined(__SANITIZE_ADDRESS__)
#define KOLVE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KOLVE_ASAN 1
#endif
#endif

namespace {

const std::string kHeader =
    "ECM ID\tNum ECM Genes\tNum Unique ECM Genes\tNum Predicted Genes\tECM Strength\t"
    "Gene Entrez\tGene Symbol\tECM/ECM+\tParalog Group\tFirst Gene in Paralog Group\tLLR\t";
const int kEntrez = 5;
const int kFirstSpecies = 11;

// Species in another order than the tree's leaves, so that a column taken by
// position instead of by name shows.
const std::string kProfile =
    "ENTREZ\tSYMBOL\tD\tC\tB\tA\n"
    "1\tG1\t0\t0\t1\t1\n2\tG2\t0\t1\t0\t1\n3\tG3\t1\t1\t1\t0\n"
    "4\tG4\t0\t0\t1\t1\n5\tG5\t1\t0\t0\t1\n";
const std::string kSets = "GENE\tSET\n1\tS1\n2\tS1\n3\tS1\n4\tS1\n5\tS1\n";
const std::string kCrLfTree = "((A:1,\r\nB:1):1,\r\n(C:1,\r\nD:1):1);\r\n";

std::vector<std::string> Split(const std::string& text, char delim) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, delim);) parts.push_back(part);
  return parts;
}

std::string LastLine(const std::string& text) {
  std::vector<std::string> lines = Split(text, '\n');
  return lines.empty() ? "" : lines.back();
}

int Count(const std::string& text, const std::string& piece) {
  int n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

using Names = std::vector<std::string>;

// The visible names in dir, or the hidden ones but "." and "..".
Names NamesIn(const std::string& dir, bool hidden) {
  Names names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if ((name[0] == '.') == hidden && name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  return names;
}

class Hardening : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("hard");
    ASSERT_FALSE(dir_.empty());
    Write("prof.txt", kProfile);
    Write("sets.txt", kSets);
    Write("tree.nwk", "((A:1,B:1):1,(C:1,D:1):1);\n");
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  bool Exists(const std::string& name) const { return access(Path(name).c_str(), F_OK) == 0; }

  void Write(const std::string& name, const std::string& content) {
    std::ofstream(Path(name), std::ios::binary) << content;
  }

  void WriteParams(const std::string& extra) {
    Write("params.txt",
          "PROFILE_FILE prof.txt\nPHYTREE_FILE tree.nwk\nGENESET_FILE sets.txt\n"
          "RESULT_PREFIX res\nBURNIN 2\nMCMC 2\nTRIES 1\n" +
              extra);
  }

  // shell_prefix runs in the same shell first (limits, traps); the binary
  // runs under bash, so that process substitution is at hand.
  Result Run(const std::string& args, const std::string& shell_prefix = "") {
    std::string script = "cd '" + dir_ + "' && " + shell_prefix + " '" KOLVE_BIN "' " + args +
                         " >.stdout 2>.stderr </dev/null";
    std::string cmd = "bash -c \"" + script + "\"";
    int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFile(Path(".stdout")),
            ReadFile(Path(".stderr"))};
  }

  // A refused run: status 1 and message as the last line on standard error.
  Result ExpectRefused(const std::string& args, const std::string& message,
                       const std::string& shell_prefix = "") {
    Result r = Run(args, shell_prefix);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(LastLine(r.err), message) << args;
    return r;
  }

  // The table names the species A to D in leaf order, without any TAB or
  // line break of the tree text, and every row carries the profile's cell
  // of each species under that species' name.
  void ExpectTableFollowsTheProfile(const std::string& table) {
    std::vector<std::string> lines = Split(ReadFile(Path(table)), '\n');
    ASSERT_GT(lines.size(), 1u) << table;
    EXPECT_EQ(lines[0], kHeader + "A\tB\tC\tD\t");
    std::vector<std::string> header = Split(lines[0], '\t');

    std::map<std::string, std::map<std::string, std::string>> cell;  // by gene, species
    std::vector<std::string> prof = Split(kProfile, '\n');
    std::vector<std::string> species = Split(prof[0], '\t');
    for (size_t i = 1; i < prof.size(); ++i) {
      std::vector<std::string> f = Split(prof[i], '\t');
      for (size_t s = 2; s < f.size(); ++s) cell[f[0]][species[s]] = f[s];
    }
    for (size_t i = 1; i < lines.size(); ++i) {
      std::vector<std::string> row = Split(lines[i], '\t');
      ASSERT_EQ(row.size(), header.size()) << lines[i];
      for (size_t s = kFirstSpecies; s < row.size(); ++s)
        EXPECT_EQ(row[s], cell[row[kEntrez]][header[s]]) << row[kEntrez] << " " << header[s];
    }
  }

  // The generated case with a warm cache; returns its table, which every
  // later run of the same parameters must write byte for byte.
  std::string GenerateCase() {
    std::string gen = "'" KOLVE_GEN_BIN "' --seed 3 --species 30 --genes 60 --modules 2 "
                      "--module-size 5 --set-size 30 --burnin 5 --mcmc 5 --tries 1 --out '" +
                      dir_ + "' >/dev/null";
    EXPECT_EQ(std::system(gen.c_str()), 0);
    EXPECT_EQ(Run("params.txt").status, 0);
    std::string table = ReadFile(Path("results.txt"));
    EXPECT_GT(table.size(), 1024u);
    return table;
  }

  // Shell prefix that runs the binary with the named calls failing.
  static std::string Faults(const std::string& calls) {
    return "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" KOLVE_FAULT_SHIM "' KOLVE_FAULTS=" +
           calls + " ";
  }

  // Runs the binary and tells whether the file that replaced a table was,
  // from the moment it existed, never open to anyone but its owner.
  void ExpectReplacementNeverOpenToOthers(const std::string& args, const std::string& shell_prefix) {
    std::remove(Path(".looks").c_str());
    const Result r =
        Run(args, shell_prefix + " KOLVE_LOOK_LOG='" + Path(".looks") + "' " + Faults("looklog"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> modes = Split(ReadFile(Path(".looks")), '\n');
    EXPECT_FALSE(modes.empty());
    for (const std::string& mode : modes) EXPECT_EQ(std::stoi(mode, nullptr, 8) & 077, 0) << mode;
  }

  std::string dir_;
};

// Temporary files of the table and cache writers left in dir.
Names TempFilesIn(const std::string& dir) {
  Names temps;
  for (const std::string& name : NamesIn(dir, true))
    if (name.rfind(".kolve_", 0) == 0 || name.rfind(".saving_", 0) == 0) temps.push_back(name);
  return temps;
}

int ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

TEST_F(Hardening, MessyTreesAndRepeatedSpeciesNeverGiveWrongTables) {
  WriteParams("");
  Write("tree.nwk", kCrLfTree);
  Result r = Run("params.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "match perfectly"), 1);
  ExpectTableFollowsTheProfile("res.txt");

  Write("tree.nwk", "((A:1,\tB:1):1,(C:1,\tD:1):1);\n");
  r = Run("params.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "match perfectly"), 1);
  ExpectTableFollowsTheProfile("res.txt");

  // Two trees, both saved with CR-LF.
  for (const std::string i : {"0", "1"}) {
    Write("prof_" + i + ".txt", kProfile);
    Write("tree_" + i + ".nwk", kCrLfTree);
  }
  r = Run("params.txt 0 2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "match perfectly"), 2);
  ExpectTableFollowsTheProfile("res_0_2_tr1_0.txt");

  std::remove(Path("res.txt").c_str());
  Write("prof.txt", "ENTREZ\tSYMBOL\tD\tC\tc \tA\n1\tG1\t0\t0\t1\t1\n");
  Write("tree.nwk", "((A:1,B:1):1,(C:1,D:1):1);\n");
  r = ExpectRefused("params.txt",
                    "Error. The phylogenetic profile names the species C twice (letter case and "
                    "surrounding blanks are ignored): prof.txt");
  EXPECT_EQ(r.out.find("-----------"), std::string::npos) << "refused before the tree is read";
  EXPECT_FALSE(Exists("res.txt"));
}

TEST_F(Hardening, UnreadableInputsAndOversizedRunsEndWithOneLine) {
  WriteParams("PHYTREE_FILE none.nwk\n");
  ExpectRefused("params.txt", "Error. Cannot open the species tree file: none.nwk");

  // A directory reads exactly like a path that cannot be opened.
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
  for (const std::string key : {"PHYTREE_FILE", "PROFILE_FILE", "GENESET_FILE", "PARALOG_FILE",
                                "PFAMDOM_FILE", "FILTER_FILE"}) {
    WriteParams(key + " none\n");
    Result missing = Run("params.txt");
    WriteParams(key + " folder\n");
    Result folder = Run("params.txt");
    EXPECT_NE(missing.status, 0) << key;
    EXPECT_EQ(folder.status, missing.status) << key;
    std::string expected = LastLine(missing.err);
    const size_t at = expected.find("none");
    if (at != std::string::npos) expected.replace(at, 4, "folder");
    EXPECT_EQ(LastLine(folder.err), expected) << key;
  }

  // Pipes are no directories: process substitution keeps working.
  WriteParams("PROFILE_FILE /dev/fd/3\nPHYTREE_FILE /dev/fd/4\n");
  Result r = Run("params.txt 3< <(cat prof.txt) 4< <(cat tree.nwk)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "match perfectly"), 1);
  EXPECT_TRUE(Exists("res.txt"));

  const std::pair<std::string, std::string> oversized[] = {
      {"BURNIN 2147483647\n", "Error. BURNIN 2147483647 with MCMC 2"},
      {"MCMC 200000000\n", "Error. BURNIN 2 with MCMC 200000000"},
  };
  for (const auto& [line, counts] : oversized) {
    WriteParams(line);
    ExpectRefused("params.txt", counts + " is more sweeps than the run can count or hold.");
  }

#ifndef KOLVE_ASAN  // the sanitizer's allocator ends the run itself
  // 7 nodes of 20 million scores each do not fit in 400 MB.
  WriteParams("MCMC 20000000\n");
  ExpectRefused("params.txt",
                "Error. Out of memory: the inputs or the sweep counts need more memory than the "
                "run can get.",
                "ulimit -v 400000; timeout 120");
#endif
}

TEST_F(Hardening, FailedRunsKeepTheOldTableAndNeverPassAsSuccess) {
  GenerateCase();

  // A disk that fills up after the first block (the warm cache adds no file).
  // The limit's signal is left as it comes: the run must not die of it.
  Write("results.txt", "OLD\n");
  ExpectRefused("params.txt", "Error. Cannot write the results table: results.txt: File too large",
                "ulimit -f 1;");
  EXPECT_EQ(ReadFile(Path("results.txt")), "OLD\n");
  for (const std::string& name : NamesIn(dir_, false))
    EXPECT_TRUE(name.rfind("results", 0) != 0 || name == "results.txt") << name;
  EXPECT_EQ(TempFilesIn(dir_), Names{});

  // Unwritable output directories are refused before anything is computed.
  std::system(("rm -rf '" + Path("caches") + "'").c_str());
  const std::pair<std::string, std::string> unwritable[] = {
      {"params.txt", "prof.txt/res.txt"},
      {"params.txt 0 2", "prof.txt/res_0_2_tr1_0.txt"},
  };
  for (const auto& [args, table] : unwritable) {
    std::ofstream(Path("params.txt"), std::ios::app) << "RESULT_PREFIX prof.txt/res\n";
    ExpectRefused(args, "Error. Cannot write the results table: " + table + ": Not a directory");
    EXPECT_FALSE(Exists("caches")) << args;
  }

  // Nothing to cluster: an empty gene-set file, or a profile of a header only.
  const std::string nothing =
      "Error. Nothing to cluster: the gene-set file names no gene of the profile.";
  WriteParams("");
  Write("tree.nwk", "((A:1,B:1):1,(C:1,D:1):1);\n");
  Write("prof.txt", kProfile);
  Write("sets.txt", "GENE\tSET\n");
  ExpectRefused("params.txt", nothing);
  Write("sets.txt", kSets);
  Write("prof.txt", "ENTREZ\tSYMBOL\tD\tC\tB\tA\n");
  ExpectRefused("params.txt", nothing);
  EXPECT_FALSE(Exists("res.txt"));
  EXPECT_FALSE(Exists("caches"));
}

// Tables kept where users keep them: behind links, private, under long names,
// and on file systems that refuse chmod or hard links.
TEST_F(Hardening, TablesKeepTheirLinksModesAndNamesOnEveryFileSystem) {
  const std::string table = GenerateCase();
  const std::string elsewhere = Path("elsewhere");
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
  ASSERT_EQ(std::remove(Path("results.txt").c_str()), 0);
  ASSERT_EQ(symlink("elsewhere/kept.txt", Path("results.txt").c_str()), 0);
  struct stat st;

  // A dangling link: its target is created, with the usual mode.
  ASSERT_EQ(Run("params.txt", "umask 027;").status, 0);
  EXPECT_EQ(ReadFile(elsewhere + "/kept.txt"), table);
  EXPECT_EQ(ModeOf(elsewhere + "/kept.txt"), 0640);
  // A private table behind the link: rewritten there, still private and,
  // where the run may give it, still its owner's.
  Write("elsewhere/kept.txt", "OLD\n");
  ASSERT_EQ(chmod((elsewhere + "/kept.txt").c_str(), 0600), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((elsewhere + "/kept.txt").c_str(), 65534, 65534), 0);
  }
  ExpectReplacementNeverOpenToOthers("params.txt", "umask 000;");
  EXPECT_EQ(ReadFile(elsewhere + "/kept.txt"), table);
  EXPECT_EQ(ModeOf(elsewhere + "/kept.txt"), 0600);
  ASSERT_EQ(stat((elsewhere + "/kept.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, root ? 65534u : geteuid());
  ASSERT_EQ(lstat(Path("results.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(TempFilesIn(dir_), Names{});
  EXPECT_EQ(TempFilesIn(elsewhere), Names{});

  // The longest name a file system allows (255 bytes).
  const std::string longest(251, 'r');
  std::ofstream(Path("params.txt"), std::ios::app) << "RESULT_PREFIX " << longest << "\n";
  ASSERT_EQ(Run("params.txt").status, 0);
  EXPECT_EQ(ReadFile(Path(longest + ".txt")), table);

  // A directory in the way is found before anything is computed.
  std::ofstream(Path("params.txt"), std::ios::app) << "RESULT_PREFIX res\n";
  ASSERT_EQ(mkdir(Path("res.txt").c_str(), 0755), 0);
  Result r = ExpectRefused("params.txt", "Error. Cannot write the results table: res.txt: Is a "
                                         "directory");
  EXPECT_EQ(r.out.find("Clustering"), std::string::npos);

  // File systems without chmod or hard links, cold cache: the table is
  // written and the cache saved whole, under its own name only.
  // New files still get the usual mode there.
  const std::string cache = Path("caches/marlik/params_txt");
  std::system(("rm -rf '" + Path("caches") + "' '" + Path("res.txt") + "'").c_str());
  r = Run("params.txt", "umask 022; " + Faults("chmod,link"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(Path("res.txt")), table);
  EXPECT_EQ(ModeOf(Path("res.txt")), 0644);
  ASSERT_EQ(NamesIn(cache, false).size(), 1u);
  EXPECT_EQ(ModeOf(cache + "/" + NamesIn(cache, false)[0]), 0644);
  // There a replaced table stays as closed as the new file was made.
  for (const auto& [umask, old_mode] : {std::pair<std::string, int>{"022", 0600}, {"000", 0640}}) {
    ASSERT_EQ(chmod(Path("res.txt").c_str(), old_mode), 0);
    ASSERT_EQ(Run("params.txt", "umask " + umask + "; " + Faults("chmod")).status, 0);
    EXPECT_EQ(ModeOf(Path("res.txt")) & ~old_mode, 0) << umask;
  }
  // No atomic way to publish: a warning, no cache file, nothing left over.
  std::system(("rm -rf '" + Path("caches") + "'").c_str());
  r = Run("params.txt", Faults("link,rename2"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Warning: cannot save the marginal-likelihood cache in "
                       "caches/marlik/params_txt: Operation not permitted"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(NamesIn(cache, false), Names{});
  EXPECT_EQ(TempFilesIn(cache), Names{});
}

// A read-only table is refused up front; a writable table in a folder that
// takes no new files is written in place, and a file-size limit there still
// leaves the old table whole. Root passes every permission check, so as root
// these run as nobody.
TEST_F(Hardening, ReadOnlyTablesAndClosedFoldersAreHandledAsInPlace) {
  const bool root = geteuid() == 0;
  const std::string as_user = root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  const std::string table = GenerateCase();
  if (root) {
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
    if (std::system((as_user + "test -x '" KOLVE_BIN "'").c_str()) != 0)
      GTEST_SKIP() << "cannot run the binary as user nobody (setpriv, or folders it cannot enter)";
  }
  auto give_to_user = [&](const std::string& name) {
    if (!root) return;
    ASSERT_EQ(chown(Path(name).c_str(), 65534, 65534), 0);
  };

  Write("results.txt", "OLD\n");
  give_to_user("results.txt");
  ASSERT_EQ(chmod(Path("results.txt").c_str(), 0444), 0);
  Result r = ExpectRefused(
      "params.txt", "Error. Cannot write the results table: results.txt: Permission denied", as_user);
  EXPECT_EQ(r.out.find("Clustering"), std::string::npos);
  EXPECT_EQ(ReadFile(Path("results.txt")), "OLD\n");

  ASSERT_EQ(mkdir(Path("closed").c_str(), 0755), 0);
  Write("closed/results.txt", "OLD\n");
  give_to_user("closed/results.txt");
  ASSERT_EQ(chmod(Path("closed").c_str(), 0555), 0);
  std::ofstream(Path("params.txt"), std::ios::app) << "RESULT_PREFIX closed/results\n";
  // A file-size limit below the new table: the old table stays whole, be it
  // shorter or longer than the new one, with fallocate or without it (ext2).
  for (const std::string& old : {std::string("OLD\n"), std::string(2 * table.size(), 'O')}) {
    for (const std::string& faults : {std::string(), Faults("fallocate")}) {
      Write("closed/results.txt", old);
      ExpectRefused("params.txt",
                    "Error. Cannot write the results table: closed/results.txt: File too large",
                    "ulimit -f 1; " + faults + as_user);
      EXPECT_TRUE(ReadFile(Path("closed/results.txt")) == old) << old.size() << faults;
    }
  }

  // Another program's lock on the table: the run says that it waits, and
  // writes once the lock is gone.
  const std::string before = ReadFile(Path("closed/results.txt"));
  const int held = open(Path("closed/results.txt").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  std::remove(Path(".stderr").c_str());
  std::thread waiting([&] { r = Run("params.txt", as_user); });
  const std::string notice =
      "Notice: waiting for another program to release its lock on closed/results.txt.";
  for (int i = 0; i < 600 && ReadFile(Path(".stderr")).find(notice) == std::string::npos; ++i)
    usleep(100000);
  EXPECT_TRUE(ReadFile(Path("closed/results.txt")) == before);
  close(held);
  waiting.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.err, notice), 1) << r.err;
  EXPECT_EQ(ReadFile(Path("closed/results.txt")), table);

  // Eight runs writing one table in place at once on a slow disk: it ends as
  // one run's whole output. Their tables differ in length, so a mix shows;
  // with no cache to keep, each writes what it wrote alone.
  ASSERT_EQ(chmod(Path("caches/marlik").c_str(), 0555), 0);
  std::set<std::string> outputs;
  for (const std::string k : {"0", "1", "2", "3", "4", "5", "6", "7"}) {
    Write("p" + k, ReadFile(Path("params.txt")) + "SGLGRP 1\nLLR_THRESHOLD -1e6\nPRED_NUM_MAX " + k);
    ASSERT_EQ(Run("p" + k, as_user).status, 0);
    outputs.insert(ReadFile(Path("closed/results.txt")));
  }
  ASSERT_EQ(outputs.size(), 8u);
  const std::string at_once = "bash -c \"cd '" + dir_ + "' && for p in p?; do " +
                              Faults("slowwrite") + as_user + "'" KOLVE_BIN "' \\$p &>/dev/null & done; wait\"";
  for (int round = 0; round < 15; ++round) {
    std::system(at_once.c_str());
    EXPECT_EQ(outputs.count(ReadFile(Path("closed/results.txt"))), 1u) << "round " << round;
  }
  ASSERT_EQ(chmod(Path("caches/marlik").c_str(), 0755), 0);
  ASSERT_EQ(chmod(Path("closed").c_str(), 0755), 0);

  // Another user's table open to all, in a shared sticky folder.
  if (!root) return;
  ASSERT_EQ(mkdir(Path("shared").c_str(), 0755), 0);
  ASSERT_EQ(chmod(Path("shared").c_str(), 01777), 0);
  Write("shared/results.txt", "OLD\n");
  ASSERT_EQ(chmod(Path("shared/results.txt").c_str(), 0666), 0);
  std::ofstream(Path("params.txt"), std::ios::app) << "RESULT_PREFIX shared/results\n";
  r = Run("params.txt", as_user);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(Path("shared/results.txt")), table);
  EXPECT_EQ(TempFilesIn(Path("shared")), Names{});
}

// What the kernel enforced on a plain open of the table still holds: a link
// or a file that another user planted in a shared sticky folder is refused,
// new files get what their folder gives any new file, a table keeps its ACL,
// and a table that is a mount point is written in place. Run as root, with
// nobody as the other user.
TEST_F(Hardening, TablesKeepTheRulesOfAPlainOpen) {
  const std::string table = GenerateCase();
  if (geteuid() != 0) GTEST_SKIP() << "planting another user's files needs root";
  auto shell = [&](const std::string& command) {
    return std::system(("cd '" + dir_ + "' && { " + command + "; } >/dev/null 2>&1").c_str()) == 0;
  };
  auto write_to = [&](const std::string& prefix) {
    std::ofstream(Path("params.txt"), std::ios::app) << "RESULT_PREFIX " << prefix << "\n";
  };
  ASSERT_TRUE(shell("mkdir -m 1777 tmp && echo MINE >mine.txt && ln -s ../mine.txt tmp/results.txt "
                    "&& chown -h nobody tmp/results.txt"));
  write_to("tmp/results");
  const std::string refused =
      "Error. Cannot write the results table: tmp/results.txt: Permission denied";
  EXPECT_EQ(ExpectRefused("params.txt", refused).out.find("Clustering"), std::string::npos);
  EXPECT_EQ(ReadFile(Path("mine.txt")), "MINE\n");
  ASSERT_TRUE(shell("chown -h root tmp/results.txt"));
  ASSERT_EQ(Run("params.txt").status, 0);
  EXPECT_TRUE(ReadFile(Path("mine.txt")) == table);
  ASSERT_TRUE(shell("rm tmp/results.txt && echo PLANTED >tmp/results.txt && chmod 666 "
                    "tmp/results.txt && chown nobody tmp/results.txt"));
  ExpectRefused("params.txt", refused);
  EXPECT_EQ(ReadFile(Path("tmp/results.txt")), "PLANTED\n");

  std::string skipped;
  write_to("volume");  // a container's file volume
  if (shell("echo OLD >host.txt && touch volume.txt && mount --bind host.txt volume.txt")) {
    const Result r = Run("params.txt");
    shell("umount volume.txt");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(Path("host.txt")) == table);
  } else {
    skipped += " a bind mount;";
  }
  if (shell("rm -rf caches && mkdir caches acl && setfacl -d -m u::rwx,u:nobody:rwx,g::rx,o::- "
            "caches acl")) {
    write_to("acl/results");
    ASSERT_EQ(Run("params.txt", "umask 022;").status, 0);
    const std::string cache = "caches/marlik/params_txt/";
    EXPECT_EQ(ModeOf(Path("acl/results.txt")) & 07, 0);
    EXPECT_EQ(ModeOf(Path(cache + NamesIn(Path(cache), false).at(0))) & 07, 0);
    // Made private, it is never replaced by a file that the folder's ACL
    // opens to nobody, not even for a moment.
    ASSERT_EQ(chmod(Path("acl/results.txt").c_str(), 0600), 0);
    ExpectReplacementNeverOpenToOthers("params.txt", "umask 022;");
    EXPECT_EQ(ModeOf(Path("acl/results.txt")), 0600);
    write_to("results");
    ASSERT_TRUE(shell("echo OLD >results.txt && chmod 640 results.txt && setfacl -m u:nobody:rw "
                      "results.txt && getfacl -cp results.txt >acl.before"));
    ASSERT_EQ(Run("params.txt").status, 0);
    ASSERT_TRUE(shell("getfacl -cp results.txt >acl.after"));
    EXPECT_EQ(ReadFile(Path("acl.after")), ReadFile(Path("acl.before")));
  } else {
    skipped += " ACL tools;";
  }
  if (!skipped.empty()) GTEST_SKIP() << "not staged here:" << skipped;
}

}  // namespace
