#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "app/params.h"

namespace {

// The globals are process-wide; every test starts from the start values.
void ResetParams() {
  params_path = "params.txt";
  expid.clear();
  expid2.clear();
  num_trees = -1;
  phytree_path.clear();
  profile_path.clear();
  complex_path.clear();
  paralog_path.clear();
  pfamdom_path.clear();
  filter_path.clear();
  output_path.clear();
  alpha = 1.0;
  pred_num_min = 50;
  pred_num_max = 200;
  LLR_th = 0.0;
  filter_LLR = 10.0;
  sgl_grp = 0;
  sort_method = 0;
  pred = 1;
  noclust = 0;
  same_gl = false;
  seed = 0;
  num_tries = 5;
  num_burn = 0;
  num_mcmc = 0;
  num_thin = 1;
  T0 = 1.0;
  P00 = 0.99;
  prep_lrate = 0.03;
}

class ParamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetParams();
    char tmpl[] = "/tmp/kolve_params_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  std::string Write(const std::string& content, const std::string& name = "p.txt") {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Runs LoadParams on a file holding content, with extra arguments after it.
  void Load(const std::string& content, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"kolve", Write(content)};
    args.insert(args.end(), extra.begin(), extra.end());
    Run(args);
  }

  void Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    testing::internal::CaptureStdout();
    LoadParams(static_cast<int>(argv.size()), argv.data());
    loading_line_ = testing::internal::GetCapturedStdout();
  }

  std::string dir_;
  std::string loading_line_;
};

TEST_F(ParamsTest, EveryKeySetsItsSetting) {
  Load(
      "PHYTREE_FILE t.nwk\nPROFILE_FILE p.txt\nGENESET_FILE g.txt\nPARALOG_FILE pa.txt\n"
      "PFAMDOM_FILE d.txt\nFILTER_FILE f.txt\nRESULT_PREFIX out\nDATASET_NAME x\nALPHA 2.5\n"
      "PRED_NUM_MIN 3\nPRED_NUM_MAX 7\nLLR_THRESHOLD 1.5\nFILTER_LLR 4.5\nSGLGRP 1\nSORT 2\n"
      "PREDICT 0\nNOCLUST 1\nSAME_GL 1\nSEED 42\nTRIES 3\nBURNIN 11\nMCMC 12\nTHIN 2\n"
      "SA_T0 0.25\nERROR_RATE 0.05\nPREP_LRATE 0.1\n");
  EXPECT_EQ(loading_line_, "Loading input data and running parameters......\n");
  EXPECT_EQ(phytree_path, "t.nwk");
  EXPECT_EQ(profile_path, "p.txt");
  EXPECT_EQ(complex_path, "g.txt");
  EXPECT_EQ(paralog_path, "pa.txt");
  EXPECT_EQ(pfamdom_path, "d.txt");
  EXPECT_EQ(filter_path, "f.txt");
  EXPECT_EQ(output_path, "out");
  EXPECT_EQ(alpha, 2.5);
  EXPECT_EQ(pred_num_min, 3);
  EXPECT_EQ(pred_num_max, 7);
  EXPECT_EQ(LLR_th, 1.5);
  EXPECT_EQ(filter_LLR, 4.5);
  EXPECT_EQ(sgl_grp, 1);
  EXPECT_EQ(sort_method, 2);
  EXPECT_EQ(pred, 0);
  EXPECT_EQ(noclust, 1);
  EXPECT_TRUE(same_gl);
  EXPECT_EQ(seed, 42);
  EXPECT_EQ(num_tries, 3);
  EXPECT_EQ(num_burn, 11);
  EXPECT_EQ(num_mcmc, 12);
  EXPECT_EQ(num_thin, 2);
  EXPECT_EQ(T0, 0.25);
  EXPECT_EQ(P00, 1.0 - 0.05);
  EXPECT_EQ(prep_lrate, 0.1);
}

TEST_F(ParamsTest, IgnoredLinesLeaveStartValues) {
  Load("# SEED 5\n\nseed 9\nSEED=7\nUNKNOWN 3\nBURNIN\n   \nERROR_RATE\n");
  EXPECT_EQ(seed, 0);
  EXPECT_EQ(num_burn, 0);
  EXPECT_EQ(P00, 0.99);
  InitParams(10);
  EXPECT_EQ(num_burn, 600);
  EXPECT_EQ(num_mcmc, 400);
  EXPECT_EQ(num_thin, 1);
  EXPECT_EQ(num_tries, 5);
}

TEST_F(ParamsTest, LaterLinesAndSynonymsOverride) {
  Load("GENESET_FILE a.txt\nCOMPLEX_FILE b.txt\nHOMOLOG_FILE h.txt\nPARALOG_FILE q.txt\n"
       "SEED 1\nSEED 2\nERROR_RATE 0.1\nERROR_RATE\n");
  EXPECT_EQ(complex_path, "b.txt");
  EXPECT_EQ(paralog_path, "q.txt");
  EXPECT_EQ(seed, 2);
  EXPECT_EQ(P00, 1.0 - 0.1);  // a key without value keeps the earlier line's value
}

TEST_F(ParamsTest, PathTokensAreTrimmedAndSurplusTokensIgnored) {
  Load("PROFILE_FILE \"prof.txt\" other.txt\nPHYTREE_FILE\t\"\"t.nwk\"\r\n"
       "RESULT_PREFIX res\r\n");
  EXPECT_EQ(profile_path, "prof.txt");
  EXPECT_EQ(phytree_path, "t.nwk");
  EXPECT_EQ(output_path, "res");
}

TEST_F(ParamsTest, NumbersReadAsStreamExtractionGivesThem) {
  Load("SEED 12abc\nTRIES 2.5\nBURNIN word\nMCMC 99999999999\nTHIN -99999999999\n"
       "ALPHA 1.5x\nSA_T0 abc\nPRED_NUM_MAX -3\n");
  EXPECT_EQ(seed, 12);
  EXPECT_EQ(num_tries, 2);
  EXPECT_EQ(num_burn, 0);
  EXPECT_EQ(num_mcmc, INT_MAX);
  EXPECT_EQ(num_thin, INT_MIN);
  EXPECT_EQ(alpha, 1.5);
  EXPECT_EQ(T0, 0.0);
  EXPECT_EQ(pred_num_max, -3);
}

TEST_F(ParamsTest, SameGlIsAnyNonZeroInteger) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"0", false}, {"1", true}, {"2", true}, {"-3", true}, {"12abc", true}, {"word", false}};
  for (const auto& [value, expected] : cases) {
    ResetParams();
    same_gl = !expected;
    Load("SAME_GL " + value + "\n");
    EXPECT_EQ(same_gl, expected) << value;
  }
  same_gl = true;
  Load("SAME_GL\n");
  EXPECT_TRUE(same_gl);
}

TEST_F(ParamsTest, FallBacksReplaceOnlyNonPositiveCounts) {
  Load("BURNIN -5\nMCMC 7\nTHIN 0\nTRIES 0\n");
  InitParams(3);
  EXPECT_EQ(num_burn, 600);
  EXPECT_EQ(num_mcmc, 7);
  EXPECT_EQ(num_thin, 1);
  EXPECT_EQ(num_tries, 0);
  EXPECT_EQ(sgl_grp, 0);
  InitParams(3);
  EXPECT_EQ(num_burn, 600);
  InitParams(2);
  EXPECT_EQ(sgl_grp, 1);
}

TEST_F(ParamsTest, LinesOfAnyLengthAreReadWhole) {
  std::string long_path(5000, 'a');
  std::string comment = "#" + std::string(3000, 'x');
  Load(comment + "\nPROFILE_FILE " + long_path + "\nSEED 9");
  EXPECT_EQ(profile_path, long_path);
  EXPECT_EQ(seed, 9);  // a last line without its newline counts too
}

TEST_F(ParamsTest, CrLfFileReadsLikeItsLfTwin) {
  Load("SEED 3\r\nGENESET_FILE g.txt\r\nSAME_GL 1\r\n");
  EXPECT_EQ(seed, 3);
  EXPECT_EQ(complex_path, "g.txt");
  EXPECT_TRUE(same_gl);
}

TEST_F(ParamsTest, ArgumentsAreTrimmedAndFourthIgnored) {
  Load("SEED 1\n", {" 3\t", "\n2 ", "ignored"});
  EXPECT_EQ(expid, "3");
  EXPECT_EQ(expid2, "2");
}

TEST_F(ParamsTest, NoArgumentReadsParamsTxtInWorkingDirectory) {
  Write("SEED 77\n", "params.txt");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  Run({"kolve"});
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(params_path, "params.txt");
  EXPECT_EQ(seed, 77);
  EXPECT_EQ(expid, "");
  EXPECT_EQ(expid2, "");
}

TEST_F(ParamsTest, UnopenableParametersFileEndsWithStatusOne) {
  std::string missing = dir_ + "/missing.txt";
  EXPECT_EXIT(Run({"kolve", missing}), ::testing::ExitedWithCode(1),
              "^Cannot open the parameters file: " + missing + "\n$");
  EXPECT_EXIT(Run({"kolve", dir_}), ::testing::ExitedWithCode(1),
              "^Cannot open the parameters file: " + dir_ + "\n$");
}

TEST_F(ParamsTest, ProbabilitiesOutsideTheOpenUnitIntervalAreRefused) {
  for (std::string v : {"0", "1", "1.5", "-0.1", "word"})
    EXPECT_EXIT(Load("ERROR_RATE " + v + "\n"), ::testing::ExitedWithCode(1),
                "^Error\\. ERROR_RATE must be above 0 and below 1\\.\n$")
        << v;
  for (std::string v : {"0", "1", "2", "-0.5", "nan"})
    EXPECT_EXIT(Load("PREP_LRATE " + v + "\n"), ::testing::ExitedWithCode(1),
                "^Error\\. PREP_LRATE must be above 0 and below 1\\.\n$")
        << v;
  Load("ERROR_RATE 0.5\nPREP_LRATE 0.999\n");
  EXPECT_EQ(P00, 0.5);
}

TEST(DispParams, BannerLines) {
  ResetParams();
  InitParams(5);
  PhyloProf p;
  p.G = 5;
  p.S = 4;
  p.C = 2;
  p.CG = 3;
  p.proteins_for_complexes = {{0}, {1, 2}};
  std::ostringstream expected;
  expected << "  # Genes = 5 (3). # Species = 4. # Gene sets = 2. Mean gene set size = 1.50.\n"
           << "  # Burn-ins = 600. # MCMC Updates = 400. DP alpha = 1.00. Starting T of SA = 1.00."
              " LLR THRE = 0.00. RND SEED = 17.\n\n";
  std::cout << std::fixed << std::setprecision(2);
  testing::internal::CaptureStdout();
  DispParams(p, 17);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected.str());

  p.C = 0;
  p.proteins_for_complexes.clear();
  testing::internal::CaptureStdout();
  DispParams(p, 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("# Gene sets = 0. Mean gene set size = 0.00.\n"), std::string::npos) << out;
}

const char* kTreeNotice = "No number of trees specified. Running KOLVE analysis on single tree\n\n";
const char* kSetNotice =
    "No gene set ID specified. Running KOLVE analysis on all genes in the input gene set file...\n\n";

int TreeCount(const std::string& arg, std::string* notice) {
  expid2 = arg;
  testing::internal::CaptureStderr();
  ApplyTreeCountRule();
  *notice = testing::internal::GetCapturedStderr();
  return num_trees;
}

TEST(TreeCountRule, DigitsGiveTheCountOthersOneTree) {
  std::string notice;
  EXPECT_EQ(TreeCount("2", &notice), 2);
  EXPECT_EQ(notice, "");
  EXPECT_EQ(TreeCount("0", &notice), 0);
  EXPECT_EQ(notice, "");
  EXPECT_EQ(TreeCount("0003", &notice), 3);
  EXPECT_EQ(TreeCount("", &notice), -1);
  EXPECT_EQ(notice, kTreeNotice);
  EXPECT_EQ(TreeCount("-2", &notice), -1);
  EXPECT_EQ(notice, kTreeNotice);
  EXPECT_EQ(TreeCount("two", &notice), -1);
  EXPECT_EQ(TreeCount("2147483647", &notice), INT_MAX);
}

TEST(TreeCountRule, CountBeyondIntIsRefused) {
  expid2 = "2147483648";
  EXPECT_EXIT(ApplyTreeCountRule(), ::testing::ExitedWithCode(1),
              "^Error\\. The number of trees 2147483648 is too large\\.\n$");
}

int SetIndex(const std::string& arg, int C, std::string* notice) {
  expid = arg;
  testing::internal::CaptureStderr();
  int index = GeneSetIndex(C);
  *notice = testing::internal::GetCapturedStderr();
  return index;
}

TEST(GeneSetRule, OneBasedIdsAndAllSets) {
  std::string notice;
  EXPECT_EQ(SetIndex("3", 4, &notice), 2);
  EXPECT_EQ(notice, "");
  EXPECT_EQ(SetIndex("1", 4, &notice), 0);
  EXPECT_EQ(SetIndex("0", 4, &notice), -1);
  EXPECT_EQ(notice, "");
  EXPECT_EQ(SetIndex("5", 4, &notice), -1);  // one above the number of sets
  EXPECT_EQ(notice, "");
  EXPECT_EQ(SetIndex("04", 4, &notice), 3);
  EXPECT_EQ(SetIndex("", 4, &notice), -1);
  EXPECT_EQ(notice, kSetNotice);
  EXPECT_EQ(SetIndex("word", 4, &notice), -1);
  EXPECT_EQ(notice, kSetNotice);
  EXPECT_EQ(SetIndex("1", 0, &notice), -1);  // C + 1 with no set at all
}

TEST(GeneSetRule, IdNamingNoSetIsRefused) {
  expid = "6";
  EXPECT_EXIT(GeneSetIndex(4), ::testing::ExitedWithCode(1),
              "^Error\\. The gene set ID 6 names no gene set \\(there are 4\\)\\.\n$");
  expid = "99999999999";
  EXPECT_EXIT(GeneSetIndex(4), ::testing::ExitedWithCode(1), "^Error\\. The gene set ID ");
}

TEST(OutputName, ArgumentsAppendedAsTyped) {
  output_path = "res";
  expid = "07";
  expid2 = "1";
  EXPECT_EQ(OutputName(), "res_07_1");
  expid2 = "";
  EXPECT_EQ(OutputName(), "res_07");
  expid = "word";
  EXPECT_EQ(OutputName(), "res_word");
  expid = "";
  expid2 = "2";
  EXPECT_EQ(OutputName(), "res_2");
  output_path = "";
  expid2 = "";
  EXPECT_EQ(OutputName(), "");
}

}  // namespace
