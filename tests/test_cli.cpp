// Runs of the real binary: notices, console lines of the driver, and every
// fatal message with its exact text and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/binary_run.h"

namespace {

const std::string kTreeNotice =
    "No number of trees specified. Running KOLVE analysis on single tree\n\n";
const std::string kSetNotice =
    "No gene set ID specified. Running KOLVE analysis on all genes in the input gene set file...\n\n";
const std::string kLoading = "Loading input data and running parameters......\n";

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("cli");
    ASSERT_FALSE(dir_.empty());
    Write("prof.txt",
          "ENTREZ\tSYMBOL\tA\tB\tC\tD\n"
          "1\tG1\t1\t1\t0\t0\n2\tG2\t1\t0\t1\t0\n3\tG3\t0\t1\t1\t1\n");
    Write("tree.nwk", "((A:1,B:1):1,(C:1,D:1):1);\n");
    Write("sets.txt", "GENE\tSET\n1\tS1\n2\tS1\n3\tS1\n");
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  void Write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << content;
  }

  // Parameters naming the hand-made files, then the given lines.
  void WriteParams(const std::string& extra) {
    Write("params.txt",
          "PROFILE_FILE prof.txt\nPHYTREE_FILE tree.nwk\nGENESET_FILE sets.txt\n"
          "RESULT_PREFIX res\nBURNIN 2\nMCMC 2\nTRIES 1\n" +
              extra);
  }

  Result Run(const std::string& args) {
    std::string cmd = "cd '" + dir_ + "' && '" KOLVE_BIN "' " + args +
                      " >.stdout 2>.stderr </dev/null";
    int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFile(dir_ + "/.stdout"),
            ReadFile(dir_ + "/.stderr")};
  }

  // Generated data with planted modules, small enough for a quick full run.
  void Generate() {
    std::string cmd = "'" KOLVE_GEN_BIN "' --seed 3 --species 16 --genes 40 --modules 2 "
                      "--module-size 5 --set-size 20 --burnin 5 --mcmc 5 --tries 1 --out '" +
                      dir_ + "' >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  std::string dir_;
};

TEST_F(CliTest, MissingParametersFile) {
  Result r = Run("nope.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLoading);
  EXPECT_EQ(r.err, "Cannot open the parameters file: nope.txt\n");

  r = Run("");  // no argument: params.txt of the working directory
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Cannot open the parameters file: params.txt\n");
}

TEST_F(CliTest, MissingProfile) {
  Write("params.txt", "PROFILE_FILE missing.txt\n");
  Result r = Run("params.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLoading + "Number of trees: single\n");
  EXPECT_EQ(r.err,
            kTreeNotice + "(Error. Cannot open the phylogenetic profile input file: missing.txt)\n");
}

TEST_F(CliTest, MissingAnnotationFilesEndWith255) {
  const std::pair<std::string, std::string> cases[] = {
      {"GENESET_FILE none.txt\n", "(Error. Cannot open the complexes annotation file.)\n"},
      {"GENESET_FILE \"\"\n", "(Error. Cannot open the complexes annotation file.)\n"},
      {"PFAMDOM_FILE none.txt\n", "(Error. Cannot open the pfam domains file.)\n"},
      {"PARALOG_FILE none.txt\n", "(Error. Cannot open the paralogys file.)\n"},
      {"FILTER_FILE none.txt\n", "(Error. Cannot open the filters file: none.txt.)\n"},
  };
  for (const auto& [line, message] : cases) {
    WriteParams(line);
    Result r = Run("params.txt");
    EXPECT_EQ(r.status, 255) << line;
    EXPECT_EQ(r.err, kTreeNotice + message) << line;
  }
}

TEST_F(CliTest, SpeciesCountMismatchEndsWith255) {
  Write("tree.nwk", "((A:1,B:1):1,C:1);\n");
  WriteParams("");
  Result r = Run("params.txt");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err,
            kTreeNotice + kSetNotice +
                "Error. The phylogenetic profile and tree have different number of species. (4, 3)\n");
}

TEST_F(CliTest, GeneSetIdNamingNoSet) {
  WriteParams("");
  Result r = Run("params.txt 3");  // one set: 0, 1 and 2 are valid
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kTreeNotice + "Error. The gene set ID 3 names no gene set (there are 1).\n");
  EXPECT_NE(r.out.find("  # Genes = 3 (3). # Species = 4. # Gene sets = 1."), std::string::npos);

  r = Run("params.txt 99999999999");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kTreeNotice +
                       "Error. The gene set ID 99999999999 names no gene set (there are 1).\n");
}

// Beyond an int, and within one but more models than any machine holds.
TEST_F(CliTest, TreeCountsTooLargeAreRefusedBeforeLoadingWithoutCrash) {
  WriteParams("");
  for (const std::string count : {"3000000000", "2147483647"}) {
    Result r = Run("params.txt 1 " + count);
    EXPECT_EQ(r.status, 1) << count;
    EXPECT_EQ(r.out, kLoading) << count;
    EXPECT_EQ(r.err, "Error. The number of trees " + count + " is too large.\n");
  }
}

TEST_F(CliTest, ProbabilitiesOutsideUnitIntervalRefused) {
  WriteParams("ERROR_RATE 1\n");
  Result r = Run("params.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLoading);
  EXPECT_EQ(r.err, "Error. ERROR_RATE must be above 0 and below 1.\n");
  WriteParams("PREP_LRATE 0\n");
  r = Run("params.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error. PREP_LRATE must be above 0 and below 1.\n");
}

TEST_F(CliTest, NoArgumentsGiveBothNoticesAndTheAllGenesRun) {
  Generate();
  Result r = Run("");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, kTreeNotice + kSetNotice);
  EXPECT_EQ(r.out.rfind(kLoading + "Number of trees: single\n", 0), 0u);
  EXPECT_NE(r.out.find("  # Genes = 40 ("), std::string::npos);
  // Two modules of five with one member each held out, topped up to 20.
  EXPECT_NE(r.out.find("Clustering all genes in the input geneset file (# Genes = 20) ...\n"),
            std::string::npos);
  EXPECT_TRUE(std::ifstream(dir_ + "/results.txt").good());
}

TEST_F(CliTest, GeneSetAndTreeCountArgumentsNameTheOutput) {
  Generate();
  Result r = Run("params.txt 1 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Clustering Gene Set 1/1 - SET1 (# Genes = 20) ...\n"), std::string::npos);
  EXPECT_TRUE(std::ifstream(dir_ + "/results_1_1.txt").good());

  r = Run("params.txt 2 0");  // C + 1: all genes, no notice
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Clustering all genes"), std::string::npos);
  EXPECT_TRUE(std::ifstream(dir_ + "/results_2_0.txt").good());

  r = Run("params.txt word");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, kTreeNotice + kSetNotice);
  EXPECT_TRUE(std::ifstream(dir_ + "/results_word.txt").good());
}

TEST_F(CliTest, UnwritableResultsTableIsAFailure) {
  Generate();
  std::ofstream(dir_ + "/params.txt", std::ios::app) << "RESULT_PREFIX no/such/dir/res\n";
  Result r = Run("params.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kTreeNotice + kSetNotice +
                       "Error. Cannot write the results table: no/such/dir/res.txt: No such file or directory\n");
}

}  // namespace
