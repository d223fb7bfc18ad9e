// Multi-tree runs of the real binary on generated data whose per-tree trees
// differ by a few branch swaps: per-tree files and caches, the driver's console
// lines, the single table of tree 0, reruns, refusals and the edge settings.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/binary_run.h"

namespace {

// Every cache file of one tree, in name order, joined.
std::string CacheEntries(const std::string& dir, int tree) {
  std::string path = dir + "/caches/marlik/params_" + std::to_string(tree) + "_txt";
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::string all;
  for (const std::string& name : names) all += ReadFile(path + "/" + name);
  return all;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

int Count(const std::string& text, const std::string& piece) {
  int n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

// Every line that starts with the given text.
std::vector<std::string> LinesStarting(const std::string& text, const std::string& start) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, start.size(), start) == 0) lines.push_back(line);
  return lines;
}

// The console without its elapsed-time line, which depends on the clock.
std::string WithoutTime(const std::string& out) {
  size_t at = out.find("time used:  ");
  return at == std::string::npos ? out : out.substr(0, at);
}

class MultiTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeDir(); }
  void TearDown() override {
    for (const std::string& d : dirs_) std::system(("rm -rf '" + d + "'").c_str());
  }

  std::string MakeDir() {
    const std::string dir = MakeTempDir("multi");
    EXPECT_FALSE(dir.empty());
    dirs_.push_back(dir);
    return dir;
  }

  void Generate(const std::string& dir, int trees) {
    std::string cmd = "'" KOLVE_GEN_BIN
                      "' --seed 5 --species 30 --genes 100 --modules 3 "
                      "--module-size 6 --set-size 60 --burnin 20 --mcmc 60 --tries 2 --trees " +
                      std::to_string(trees) + " --out '" + dir + "' >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  // A shell command run in the working directory.
  void Shell(const std::string& command) {
    ASSERT_EQ(std::system(("cd '" + dir_ + "' && " + command).c_str()), 0) << command;
  }

  void Append(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name, std::ios::app) << text;
  }

  Result Run(const std::string& dir, const std::string& args) {
    std::string cmd =
        "cd '" + dir + "' && '" KOLVE_BIN "' " + args + " >.stdout 2>.stderr </dev/null";
    int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFile(dir + "/.stdout"),
            ReadFile(dir + "/.stderr")};
  }
  Result Run(const std::string& args) { return Run(dir_, args); }

  std::string dir_;
  std::vector<std::string> dirs_;
};

TEST_F(MultiTreeTest, ThreeTreesReadTheirOwnFilesAndWriteOneTable) {
  Generate(dir_, 3);
  Result r = Run("params.txt 0 3");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Number of trees:3\n"), std::string::npos);
  for (int i = 0; i < 3; ++i) {
    std::string n = std::to_string(i);
    EXPECT_NE(r.out.find("Index of trees: " + n + ", starting\n"), std::string::npos);
    EXPECT_NE(r.out.find("Params done, index of trees: " + n + ", starting\n"), std::string::npos);
    EXPECT_NE(r.out.find("Initiated, index of trees: " + n + ", starting\n"), std::string::npos);
    EXPECT_NE(r.out.find("Tree " + n + ", Chain 1:  | \xEF\xBC\x8C Initial K:"), std::string::npos);
    EXPECT_NE(r.out.find("done: i_tr:" + n + "\n"), std::string::npos);
    EXPECT_TRUE(Exists(dir_ + "/caches/marlik/params_" + n + "_txt"));
  }
  EXPECT_NE(r.out.find("MCMC, index of map trees "), std::string::npos);
  EXPECT_NE(r.out.find("Predicting... \n"), std::string::npos);
  EXPECT_NE(r.out.find("Predicted.  \n"), std::string::npos);
  // The elapsed time closes the report.
  size_t at = r.out.find("done: i_tr:2\n\n\ntime used:  ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.size() - 5), " s.\n\n");

  EXPECT_TRUE(Exists(dir_ + "/results_0_3_tr1_0.txt"));
  EXPECT_FALSE(Exists(dir_ + "/results_0_3_tr1_1.txt"));
  EXPECT_FALSE(Exists(dir_ + "/results_0_3_tr1_2.txt"));
  EXPECT_FALSE(Exists(dir_ + "/results_0_3.txt"));
  EXPECT_NE(ReadFile(dir_ + "/results_0_3_tr1_0.txt").find("\tECM\t"), std::string::npos);
}

TEST_F(MultiTreeTest, AMissingPerTreeProfileNamesItsIndex) {
  Generate(dir_, 3);
  ASSERT_EQ(std::remove((dir_ + "/prof_2.txt").c_str()), 0);
  Result r = Run("params.txt 0 3");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("prof_2.txt"), std::string::npos);
  EXPECT_NE(r.out.find("Index of trees: 1, starting\n"), std::string::npos);
}

TEST_F(MultiTreeTest, RerunsWithTheSameSeedAreByteIdentical) {
  Generate(dir_, 2);
  std::string again = MakeDir();
  Generate(again, 2);
  Result a = Run("params.txt 1 2");
  Result b = Run(again, "params.txt 1 2");
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(WithoutTime(a.out), WithoutTime(b.out));
  EXPECT_EQ(a.err, b.err);
  EXPECT_EQ(ReadFile(dir_ + "/results_1_2_tr1_0.txt"), ReadFile(again + "/results_1_2_tr1_0.txt"));
  // Cache files are named by the clock; their entries must agree.
  for (int tree = 0; tree < 2; ++tree) {
    EXPECT_FALSE(CacheEntries(dir_, tree).empty());
    EXPECT_EQ(CacheEntries(dir_, tree), CacheEntries(again, tree));
  }
}

TEST_F(MultiTreeTest, IdenticalTreesScoreTheBestPartitionAlike) {
  Generate(dir_, 2);
  Shell("cp tree_0.nwk tree_1.nwk && cp prof_0.txt prof_1.txt");
  Result r = Run("params.txt 0 2");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> scores = LinesStarting(r.out, "marloglik: ");
  ASSERT_EQ(scores.size(), 2u);
  EXPECT_EQ(scores[0], scores[1]);
  EXPECT_NE(scores[0], "marloglik: -10000000.0");
}

TEST_F(MultiTreeTest, InconsistentPerTreeProfilesAreRefused) {
  Generate(dir_, 2);
  // Tree 1's profile lists two genes the other way round.
  Shell(
      "(sed -n 1p prof_1.txt; sed -n 3p prof_1.txt; sed -n 2p prof_1.txt; sed -n '4,$p' prof_1.txt)"
      " > p && mv p prof_1.txt");
  Result r = Run("params.txt 0 2");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.err, "\n"), 1) << r.err;
  EXPECT_EQ(r.err.rfind("Error. ", 0), 0u) << r.err;
  EXPECT_EQ(r.out.find("Tree 0, Chain"), std::string::npos);
  EXPECT_FALSE(Exists(dir_ + "/results_0_2_tr1_0.txt"));
}

TEST_F(MultiTreeTest, SameGainClassesRunWithSeveralClasses) {
  Generate(dir_, 2);
  Append("params.txt", "SAME_GL 1\n");
  Result r = Run("params.txt 0 2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Tree 0, Chain 0, GL   0:  | "), std::string::npos);
  EXPECT_NE(r.out.find("Tree 1, Chain 1, GL"), std::string::npos);
  EXPECT_EQ(r.out.find("!!!!!!!!!!!!!!!! "), std::string::npos);
  EXPECT_TRUE(Exists(dir_ + "/results_0_2_tr1_0.txt"));
}

TEST_F(MultiTreeTest, NoTriesStillWritesTheTable) {
  Generate(dir_, 2);
  Append("params.txt", "TRIES 0\nPREDICT 0\n");
  Result r = Run("params.txt 0 2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("Chain"), std::string::npos);
  EXPECT_NE(r.out.find("MCMC, index of map trees 0.\n"), std::string::npos);
  EXPECT_NE(r.out.find("maxid:  0, K: "), std::string::npos);
  EXPECT_EQ(r.out.find("Predicting"), std::string::npos);
  EXPECT_EQ(r.out.find("Predicted"), std::string::npos);
  EXPECT_TRUE(Exists(dir_ + "/results_0_2_tr1_0.txt"));
  EXPECT_NE(r.out.find("done: i_tr:1\n"), std::string::npos);
}

}  // namespace
