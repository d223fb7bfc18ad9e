#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "model/oru.h"

struct ORUTestAccess {
  static std::map<std::string, double>& sizes(ORU& o) { return o.mar_log_lik_siz; }
  static std::string& path(ORU& o) { return o.mldb_path; }
  static std::string& fingerprint(ORU& o) { return o.mldb_fingerprint; }
};

namespace {

namespace fs = std::filesystem;

// Two species under one root: the smallest model with tree nodes.
ORU TinyModel() {
  PhyloTree tree;
  tree.S = 2;
  tree.species_names = {"a", "b"};
  tree.dag.assign(3, std::vector<bool>(3, false));
  tree.dag[2][0] = tree.dag[2][1] = true;
  tree.distances.assign(3, 0.0);
  PhyloProf prof;
  prof.G = 1;
  prof.S = 2;
  prof.C = 1;
  prof.species_names = {"a", "b"};
  prof.protein_names = {"G0"};
  prof.protein_entrez = {"0"};
  prof.X = {{true, false}};
  prof.complexes_names = {"set"};
  prof.proteins_for_complexes = {{0}};
  return ORU(prof, tree, 0, 0, 0, 0.0, 0.0, 0, 1, 0.03, 0.995);
}

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Every test runs in a fresh working directory of its own.
class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kolve_cache_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    old = fs::current_path();
    fs::current_path(dir);
  }
  void TearDown() override {
    fs::current_path(old);
    fs::remove_all(dir);
  }
  // Prepares the cache directory of params.txt with the given files.
  void Prepare(const std::map<std::string, std::string>& files) {
    fs::create_directories("caches/marlik/params_txt");
    for (const auto& f : files) Write("caches/marlik/params_txt/" + f.first, f.second);
  }
  std::string dir;
  fs::path old;
};

TEST_F(CacheTest, ParamsPathMapsToItsOwnDirectory) {
  ORU o = TinyModel();
  o.LoadMarLikDB("../runs/p1.txt", false);
  EXPECT_EQ(ORUTestAccess::path(o), "caches/marlik/___runs_p1_txt");
  EXPECT_TRUE(fs::is_directory("caches/marlik/___runs_p1_txt"));
  EXPECT_TRUE(o.mar_log_lik.empty());
}

TEST_F(CacheTest, ShellCharactersInThePathStayInTheName) {
  const std::string params = "a b;touch pwned;$HOME'\"q.txt";
  ORU o = TinyModel();
  o.LoadMarLikDB(params, false);
  const std::string expected = "caches/marlik/a b;touch pwned;$HOME'\"q_txt";
  EXPECT_EQ(ORUTestAccess::path(o), expected);
  EXPECT_TRUE(fs::is_directory(expected));
  EXPECT_FALSE(fs::exists("pwned"));
  EXPECT_FALSE(fs::exists("caches/marlik/a"));

  o.mar_log_lik_new["3, 5"] = -12.5;
  o.SaveMarLikDB();
  ORU back = TinyModel();
  back.LoadMarLikDB(params, false);
  ASSERT_EQ(back.mar_log_lik.count("3, 5"), 1u);
  EXPECT_EQ(back.mar_log_lik["3, 5"], -12.5);
}

TEST_F(CacheTest, NewDirectoryLoadsNothingAndExploreLoadsNothing) {
  ORU o = TinyModel();
  o.mar_log_lik["x"] = 1;
  o.mar_log_lik_new["x"] = 1;
  o.LoadMarLikDB("params.txt", false);
  EXPECT_TRUE(o.mar_log_lik.empty());
  EXPECT_TRUE(o.mar_log_lik_new.empty());

  Write("caches/marlik/params_txt/1.txt", "0\t1, 2\t-5\t500\n");
  o.LoadMarLikDB("params.txt", true);
  EXPECT_TRUE(o.mar_log_lik.empty());
  o.LoadMarLikDB("params.txt", false);
  EXPECT_EQ(o.mar_log_lik["1, 2"], -5);
}

TEST_F(CacheTest, EstimatesMergeBySampleSizeInLikelihoodSpace) {
  Prepare({{"1.txt", "0\tsame\t-100\t500\n0\tdiff\t-100\t500\n0\tthird\t-100\t500\n"},
           {"2.txt", "0\tsame\t-100\t500\n0\tdiff\t-101\t500\n0\tthird\t-100\t500\n"},
           {"3.txt", "0\tthird\t-103\t500\n"}});
  ORU o = TinyModel();
  o.LoadMarLikDB("params.txt", false);
  EXPECT_NEAR(o.mar_log_lik["same"], -100, 1e-12);
  EXPECT_EQ(ORUTestAccess::sizes(o)["same"], 1000);
  EXPECT_NEAR(o.mar_log_lik["diff"], std::log((std::exp(-100.0) + std::exp(-101.0)) / 2), 1e-12);
  EXPECT_NEAR(o.mar_log_lik["third"],
              std::log((1000 * std::exp(-100.0) + 500 * std::exp(-103.0)) / 1500), 1e-12);
  EXPECT_EQ(ORUTestAccess::sizes(o)["third"], 1500);
}

TEST_F(CacheTest, DamagedLinesAreSkipped) {
  Prepare({{"1.txt",
            "\n"
            "0\tthree\t-1\n"
            "0\tinf\tinf\t500\n"
            "0\tnan\tnan\t500\n"
            "0\tword\tabc\t500\n"
            "0\tzero\t-1\t0\n"
            "0\tnegative\t-1\t-500\n"
            "0\tbadsize\t-1\tx\n"
            "0\tbigsize\t-1\t1e999\n"
            "0\ttrailing\t5abc\t500\n"
            "0\tpositive\t2\t500\n"
            "0\tabsurd\t1e300\t500\n"
            "0\tsizejunk\t-1\t500x\n"
            "0\tfraction\t-1\t0.5\n"
            "x\ttag\t-1\t500\n"
            "0\tcrlf\t-3\t500\r\n"
            "  0\t 7, 8 \t-2.5\t500\textra\t \n"}});
  ORU o = TinyModel();
  o.LoadMarLikDB("params.txt", false);
  ASSERT_EQ(o.mar_log_lik.size(), 2u);
  EXPECT_EQ(o.mar_log_lik["7, 8"], -2.5);
  EXPECT_EQ(o.mar_log_lik["crlf"], -3);
}

TEST_F(CacheTest, OnlyTxtFilesAreRead) {
  Prepare({{"a.txt.bak", "0\tbak\t-1\t500\n"},
           {"a.TXT", "0\tupper\t-1\t500\n"},
           {"a.txt", "0\tgood\t-1\t500\n"}});
  fs::create_directory("caches/marlik/params_txt/dir.txt");
  ORU o = TinyModel();
  o.LoadMarLikDB("params.txt", false);
  ASSERT_EQ(o.mar_log_lik.size(), 1u);
  EXPECT_EQ(o.mar_log_lik.count("good"), 1u);
}

TEST_F(CacheTest, AtMost5001FilesAreReadTheNewestPastThat) {
  fs::create_directories("caches/marlik/params_txt");
  // Written in reverse, so that name order is not creation order.
  for (int i = 5001; i >= 0; --i) {
    char name[64];
    snprintf(name, sizeof name, "caches/marlik/params_txt/f%05d.txt", i);
    Write(name, "0\ts" + std::to_string(i) + "\t-1\t500\n");
  }
  ORU o = TinyModel();
  o.LoadMarLikDB("params.txt", false);
  EXPECT_EQ(o.mar_log_lik.size(), 5001u);
  EXPECT_EQ(o.mar_log_lik.count("s0"), 0u);
  EXPECT_EQ(o.mar_log_lik.count("s1"), 1u);
  EXPECT_EQ(o.mar_log_lik.count("s5001"), 1u);

  // At the limit every file is read.
  fs::remove("caches/marlik/params_txt/f05001.txt");
  o.LoadMarLikDB("params.txt", false);
  EXPECT_EQ(o.mar_log_lik.size(), 5001u);
  EXPECT_EQ(o.mar_log_lik.count("s0"), 1u);
}

TEST_F(CacheTest, SaveWritesNewFiniteEntriesInSignatureOrder) {
  ORU o = TinyModel();
  o.LoadMarLikDB("params.txt", false);
  o.mar_log_lik["old"] = -1;
  o.mar_log_lik_new["7, 9"] = -1234.56789;
  o.mar_log_lik_new["10, 2"] = -0.0000123;
  o.mar_log_lik_new["bad"] = std::nan("");
  o.mar_log_lik_new["worse"] = -INFINITY;
  time_t before = time(nullptr);
  o.SaveMarLikDB();
  time_t after = time(nullptr);
  std::vector<std::string> files = Files("caches/marlik/params_txt");
  ASSERT_EQ(files.size(), 1u);
  long stamp = std::stol(files[0]);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(files[0], std::to_string(stamp) + "." + ORUTestAccess::fingerprint(o) + ".txt");
  EXPECT_EQ(Slurp("caches/marlik/params_txt/" + files[0]),
            "0\t10, 2\t-1.23e-05\t500\n0\t7, 9\t-1234.57\t500\n");

  ORU back = TinyModel();
  back.LoadMarLikDB("params.txt", false);
  EXPECT_EQ(back.mar_log_lik["7, 9"], -1234.57);
}

TEST_F(CacheTest, NothingNewWritesNoFile) {
  ORU o = TinyModel();
  o.LoadMarLikDB("params.txt", false);
  o.SaveMarLikDB();
  EXPECT_TRUE(Files("caches/marlik/params_txt").empty());
  o.mar_log_lik_new["nan"] = std::nan("");
  o.SaveMarLikDB();
  EXPECT_TRUE(Files("caches/marlik/params_txt").empty());
}

TEST_F(CacheTest, ExistingFileOfTheSameSecondIsKept) {
  ORU o = TinyModel();
  o.LoadMarLikDB("params.txt", false);
  o.mar_log_lik_new["1"] = -3;
  time_t now = time(nullptr);
  const std::string ending = "." + ORUTestAccess::fingerprint(o) + ".txt";
  std::set<std::string> taken;
  for (time_t t = now; t <= now + 2; ++t) {
    taken.insert(std::to_string(t) + ending);
    Write("caches/marlik/params_txt/" + std::to_string(t) + ending, "0\tkeep\t-1\t500\n");
  }
  o.SaveMarLikDB();
  std::vector<std::string> files = Files("caches/marlik/params_txt");
  ASSERT_EQ(files.size(), 4u);
  for (const std::string& f : files) {
    if (taken.count(f))
      EXPECT_EQ(Slurp("caches/marlik/params_txt/" + f), "0\tkeep\t-1\t500\n");
    else
      EXPECT_EQ(f.substr(f.size() - ending.size() - 2), "_1" + ending);
  }
}

TEST_F(CacheTest, ConcurrentSavesLoseNoEntry) {
  const int kProcs = 8;
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(go[1]);
      ORU o = TinyModel();
      o.LoadMarLikDB("params.txt", false);
      for (int e = 0; e < 50; ++e)
        o.mar_log_lik_new[std::to_string(p) + ", " + std::to_string(e)] = -p - e;
      char c;
      // Released together, so that the saves fall in the same second.
      if (read(go[0], &c, 1) != 0) _exit(2);
      o.SaveMarLikDB();
      _exit(0);
    }
    kids.push_back(pid);
  }
  close(go[0]);
  usleep(200000);
  close(go[1]);
  for (pid_t pid : kids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<std::string> files = Files("caches/marlik/params_txt");
  EXPECT_EQ(files.size(), static_cast<size_t>(kProcs));
  for (const std::string& f : files) EXPECT_EQ(f.substr(f.size() - 4), ".txt");

  ORU o = TinyModel();
  o.LoadMarLikDB("params.txt", false);
  ASSERT_EQ(o.mar_log_lik.size(), static_cast<size_t>(kProcs * 50));
  for (int p = 0; p < kProcs; ++p)
    for (int e = 0; e < 50; ++e)
      EXPECT_EQ(o.mar_log_lik[std::to_string(p) + ", " + std::to_string(e)], -p - e);
}

TEST_F(CacheTest, FailedSaveWarnsAndGoesOn) {
  ORU o = TinyModel();
  o.LoadMarLikDB("params.txt", false);
  fs::remove("caches/marlik/params_txt");
  o.mar_log_lik_new["1"] = -3;
  testing::internal::CaptureStderr();
  o.SaveMarLikDB();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Warning: cannot save the marginal-likelihood cache"), std::string::npos);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
  EXPECT_FALSE(fs::exists("caches/marlik/params_txt"));
}

}  // namespace
