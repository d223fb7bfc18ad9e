#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/run.h"
#include "input/newick.h"
#include "tests/post_fixture.h"

struct ORUTestAccess {
  static auto& null_group(ORU& o) { return o.null_group; }
};

namespace {

// Sets SETA = {0, 1, 2} (0 and 1 paralogs) and SETB = {3, 4, 5}.
std::unique_ptr<ORU> TwoSetModel(int sets = 2) {
  PhyloProf prof = postfix::Profile({"1100", "1000", "0100", "1110", "0011", "1111"}, {0, 1, 2});
  prof.C = sets;
  prof.complexes_names = std::vector<std::string>{"SETA", "SETB"};
  prof.proteins_for_complexes = std::vector<std::vector<int>>{{0, 1, 2}, {3, 4, 5}};
  prof.complexes_names.resize(sets);
  prof.proteins_for_complexes.resize(sets);
  prof.paralogs = postfix::BothWays({{0, 1}});
  prof.samepfam = postfix::BothWays({{3, 4}, {0, 2}});
  return postfix::Model(prof, postfix::FourLeafParents(), 0);
}

Group Rec(int c, std::vector<int> proteins, double strength, int usize, std::vector<double> llrs) {
  Group rec = postfix::Record(proteins, strength);
  rec.c = c;
  rec.usize = usize;
  rec.llratios = llrs;
  return rec;
}

std::vector<Group> FiveRecords() {
  Group paralog_pair = Rec(0, {0, 1}, 0.0, 1, {4.0, 6.0});
  paralog_pair.umllr = 4.0;
  paralog_pair.upredsize = 1;
  paralog_pair.pred_proteins = {2};
  paralog_pair.pred_llratios = {20.0};
  paralog_pair.grey_out = {false, true, false};
  Group single = Rec(0, {2}, 5.0, 1, {0.0});
  Group three = Rec(1, {3, 4, 5}, 2.5, 3, {1.0, 2.0, 3.0});
  three.umllr = 10.0;
  three.pred_proteins = {0};
  three.pred_llratios = {19.99};
  three.grey_out = {false, false, false, false};
  Group weak = Rec(1, {4, 5}, -0.5, 2, {10.0, 50.0});
  weak.umllr = 30.0;
  weak.grey_out = {false, true};
  Group all_genes = Rec(-1, {1, 2}, 1.0, 2, {7.0, 7.0});
  return {paralog_pair, single, three, weak, all_genes};
}

class Reports : public ::testing::Test {
 protected:
  std::string Out() { return dir.File("run"); }
  std::string Read(const std::string& suffix) { return postfix::ReadFile(Out() + suffix); }
  postfix::ScratchDir dir;
};

TEST_F(Reports, EcmStatsKeepZeroStrengthDropWeakAndSingleRecords) {
  auto oru = TwoSetModel();
  oru->OutputSummaryECM(FiveRecords(), Out());
  EXPECT_EQ(ORUTestAccess::null_group(*oru), (std::vector<int>{2, 4, 5}));
  // The all-genes record names no set: it has no per-set row but keeps its ID.
  EXPECT_EQ(Read("_ecm_stats.txt"),
            "ECM ID\tGene set\tGene set ID\tNo. ECM\tNum Unique Gene Set Genes\tNum Unique ECM Genes\t"
            "Num High Quality Predicted Genes\tStrength\n"
            "1\tSETA\t1\t1\t2\t1\t1\t0\n"
            "2\tSETB\t2\t1\t3\t3\t0\t2.5\n");
  EXPECT_EQ(Read("_ecm_stats_p.txt"),
            "ECM ID\tGene Set ID\tNum Genes\tNum Unique Genes\tStrength\n"
            "1\t1\t2\t1\t0\n"
            "2\t2\t3\t3\t2.5\n"
            "3\t0\t2\t2\t1\n");
}

// The all-genes record (c = -1) has no set row but counts in every total:
// 9 genes in ECMs with LLRs summing to 90, and 7 in NS ECMs, 7 unique, whose
// unique members' LLRs (1, 2, 3, 10, 7, 7) sum to 30.
TEST_F(Reports, GeneSetStatisticsAndHighQualityCounts) {
  auto oru = TwoSetModel();
  testing::internal::CaptureStdout();
  oru->OutputSummary(FiveRecords(), Out());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Num high qual ECMs:  1\nNum high qual pred:  1\n");
  EXPECT_EQ(Read("_gs_stats.txt"),
            "\t\t# Genes\t# ECMs\t# NS ECMs\t# G in ECMs\t% G in ECMs\tAve. LLR\t# G in NS ECMs\t"
            "% G in NS ECMs\t# Uni Genes\t# Uni G in ECMs\t% Uni G in ECMs\tAve. Uni LLR\t"
            "% Cpl Share-seq\t% ECM Share-seq\t% E+P Share-seq\n"
            "\t\t6\t4\t3\t9\t1.5000\t10.0000\t7\t1.1667\t5\t7\t1.4000\t4.2857\t0.1667\t0.5000\t0.1667\t\n"
            "\n\n"
            "Gene Set ID\tGene Set Name\t# Genes\t# ECMs\t# NS ECMs\t# G in ECMs\t% G in ECMs\tEvo. Coh.\t"
            "Ave. LLR\t# G in NS ECMs\t% G in NS ECMs\t# Uni Genes\t# Uni G in ECMs\t% Uni G in ECMs\t"
            "Ave. Uni LLR\t% Cpl Share-seq\t% ECM Share-seq\t% E+P Share-seq\n"
            "1\tSETA\t3\t1\t0\t2\t0.6667\t0.3333\t5.0000\t0\t0.0000\t2\t0\t0.0000\t0.0000\t0.3333\t1.0000\t0.3333\n"
            "2\tSETB\t3\t2\t2\t5\t1.6667\t1.3333\t13.2000\t5\t1.6667\t3\t5\t1.6667\t3.2000\t0.0000\t0.0000\t"
            "0.0000\n");
}

TEST_F(Reports, NoSetsAndNoRecordsDivideByNothing) {
  auto oru = TwoSetModel(0);
  testing::internal::CaptureStdout();
  oru->OutputSummary({}, Out());
  oru->OutputSummaryECM({Rec(-1, {1, 2}, 1.0, 2, {1.0, 1.0})}, Out());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Num high qual ECMs:  0\nNum high qual pred:  0\n");
  const std::string gs = Read("_gs_stats.txt");
  const std::string totals =
      "\n\t\t0\t0\t0\t0\t0.0000\t0.0000\t0\t0.0000\t0\t0\t0.0000\t0.0000\t0.0000\t0.0000\t0.0000\t\n\n\n";
  ASSERT_NE(gs.find(totals), std::string::npos);
  // Only the second header follows the totals: no set rows.
  const std::string rest = gs.substr(gs.find(totals) + totals.size());
  EXPECT_EQ(rest.find("Gene Set ID\t"), 0u);
  EXPECT_EQ(rest.find('\n'), rest.size() - 1);
  EXPECT_EQ(Read("_ecm_stats_p.txt"), "ECM ID\tGene Set ID\tNum Genes\tNum Unique Genes\tStrength\n1\t0\t2\t2\t1\n");
}

TEST_F(Reports, PairSharesPerGeneSet) {
  auto oru = TwoSetModel();
  oru->CalcPercentParalog(FiveRecords(), Out());
  oru->CalcPercentPFam(FiveRecords(), Out());
  EXPECT_EQ(Read("_paralog.txt"),
            "Gene Set ID\tGene Set Name\tGene Set Size\tGene Set Paralog%\tECM Paralog%\tECM+Prediction Paralog%\n"
            "1\tSETA\t3\t0.333333\t1\t0.333333\n"
            "2\tSETB\t3\t0\t0\t0\n");
  EXPECT_EQ(Read("_pfam.txt"),
            "Gene Set ID\tGene Set Name\tGene Set Size\tGene Set pFam%\tECM pFam%\tECM+Prediction pFam%\n"
            "1\tSETA\t3\t0.333333\t0\t0.333333\n"
            "2\tSETB\t3\t0.333333\t0.25\t0.142857\n");
}

TEST_F(Reports, GroupsDumpedOneValuePerLine) {
  auto oru = TwoSetModel();
  oru->SaveGroupsBinary(Out());
  EXPECT_EQ(Read(""), "0\n0\n");

  Group rec = Rec(0, {0, 1}, 0.25, 2, {3.0, 4.0});
  rec.deviance = {1.5, 2.0};
  rec.glink = 6;
  rec.mq.assign(7, 0.03);
  rec.mp.assign(7, 1.0);
  rec.ma.assign(7, 0.0);
  rec.pred_proteins = {2};
  rec.pred_llratios = {20.5};
  rec.pred_deviance = {7.0};
  rec.num_preds = 1;
  rec.mean_dev = 1.75;
  rec.mean_llr = 3.5;
  rec.mean_ps = 1.5;
  rec.mean_mm = 0.1234567;
  rec.mean_nmm = 2.0 / 3.0;
  oru->groups = {rec};
  oru->SaveGroupsBinary(Out());
  std::string expected = "0\n1\n2\n0\n1\n1.5\n2\n3\n4\n1\n1\n6\n";
  for (int i = 0; i < 7; ++i) expected += "0.03\n";
  for (int i = 0; i < 7; ++i) expected += "1\n";
  for (int i = 0; i < 7; ++i) expected += "0\n";
  expected += "1\n2\n20.5\n7\n1\n1.75\n3.5\n0.25\n1.5\n0.123457\n0.666667\n";
  EXPECT_EQ(Read(""), expected);
}

// Every writer once on the records of a real (tiny) run on generated data.
class RealRunReports : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string cmd = "'" KOLVE_GEN_BIN "' --seed 4 --species 24 --genes 60 --modules 2"
                            " --module-size 6 --holdout 1 --set-size 16 --out '" + dir.path + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    testing::internal::CaptureStdout();
    PhyloProf prof = LoadPhyloProfiles(dir.File("prof.txt"));
    prof = LoadComplexes(prof, dir.File("genesets.txt"));
    prof = LoadpFams(prof, dir.File("domains.txt"));
    prof = LoadParalogys(prof, dir.File("paralogs.txt"));
    oru = std::make_unique<ORU>(prof, LoadPhyloTree(dir.File("tree.nwk")), 0, 0, 0, 0.0, 10.0, 0, 4,
                                0.03, 0.99);
    oru->InitMCMC(1.0, 4, 4, 1, 1.0);
    oru->PreProcess();
    oru->PrepFitnessMatrix("");
    oru->InitMCMC(1.0, 4, 4, 1, 1.0);
    oru->ClusterProteinInComplex(0);
    oru->GetPosteriorMode();
    oru->PostProcess();
    oru->PredictProteins(50, 200);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(prof.C, 1);
    set_size = static_cast<int>(prof.proteins_for_complexes[0].size());
    groups = oru->GetGroups();
    oru->FindParalogs(groups);
    oru->SortGroupsUni(groups, 0);
    FilterGroups(groups);
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
    return fields;
  }
  static long long Pairs(long long n) { return n < 2 ? 0 : n * (n - 1) / 2; }
  std::string Out() { return dir.File("run"); }

  postfix::ScratchDir dir;
  std::unique_ptr<ORU> oru;
  std::vector<Group> groups;
  int set_size = 0;
};

TEST_F(RealRunReports, EveryWriterAgreesWithTheRecords) {
  ASSERT_FALSE(groups.empty());
  int multi = 0, genes_in_multi = 0, kept = 0;
  size_t dropped_genes = 0;
  long long module_pairs = 0;
  for (const Group& rec : groups) {
    const int n = static_cast<int>(rec.proteins.size());
    module_pairs += Pairs(n);
    if (n >= 2) {
      ++multi;
      genes_in_multi += n;
    }
    if (n >= 2 && rec.strength >= 0.0)
      ++kept;
    else
      dropped_genes += rec.proteins.size();
  }
  ASSERT_GT(multi, 0) << "the planted modules should give at least one module";

  // The dump holds the model's own records, one value per line, in field order.
  oru->SaveGroupsBinary(Out() + ".groups");
  std::istringstream dump(postfix::ReadFile(Out() + ".groups"));
  const int N = oru->N;
  auto next = [&dump]() {
    std::string line;
    EXPECT_TRUE(static_cast<bool>(std::getline(dump, line)));
    return line;
  };
  EXPECT_EQ(next(), "0");
  EXPECT_EQ(next(), std::to_string(oru->groups.size()));
  for (const Group& rec : oru->groups) {
    const size_t n = rec.proteins.size();
    EXPECT_EQ(next(), std::to_string(n));
    for (int p : rec.proteins) EXPECT_EQ(next(), std::to_string(p));
    for (size_t i = 0; i < 3 * n; ++i) next();
    EXPECT_EQ(next(), std::to_string(rec.glink));
    for (int i = 0; i < 3 * N; ++i) next();
    const size_t m = rec.pred_proteins.size();
    EXPECT_EQ(next(), std::to_string(m));
    for (int p : rec.pred_proteins) EXPECT_EQ(next(), std::to_string(p));
    for (size_t i = 0; i < 2 * m; ++i) next();
    EXPECT_EQ(next(), std::to_string(rec.num_preds));
    for (int i = 0; i < 6; ++i) next();
  }
  std::string rest;
  EXPECT_FALSE(static_cast<bool>(std::getline(dump, rest))) << "extra line: " << rest;

  // Module rows: kept records numbered from 1, all in the one set, ranked in order.
  const size_t null_before = ORUTestAccess::null_group(*oru).size();
  oru->OutputSummaryECM(groups, Out());
  EXPECT_EQ(ORUTestAccess::null_group(*oru).size() - null_before, dropped_genes);
  const std::vector<std::string> ecm = Lines(postfix::ReadFile(Out() + "_ecm_stats.txt"));
  const std::vector<std::string> ecm_p = Lines(postfix::ReadFile(Out() + "_ecm_stats_p.txt"));
  ASSERT_EQ(ecm.size(), static_cast<size_t>(kept) + 1);
  ASSERT_EQ(ecm_p.size(), static_cast<size_t>(kept) + 1);
  for (int k = 1; k <= kept; ++k) {
    const std::vector<std::string> row = Fields(ecm[k]), row_p = Fields(ecm_p[k]);
    ASSERT_EQ(row.size(), 8u);
    EXPECT_EQ(row[0], std::to_string(k));
    EXPECT_EQ(row[1], "SET1");
    EXPECT_EQ(row[2], "1");
    EXPECT_EQ(row[3], std::to_string(k));
    EXPECT_LE(std::stoi(row[4]), set_size);
    ASSERT_EQ(row_p.size(), 5u);
    EXPECT_EQ(row_p[0], std::to_string(k));
    EXPECT_EQ(row_p[1], "1");
    EXPECT_GE(std::stoi(row_p[2]), 2);
    EXPECT_EQ(row_p[3], row[5]);
    EXPECT_EQ(row_p[4], row[7]);
  }

  // Gene-set statistics: the gene and module counts of the one set.
  testing::internal::CaptureStdout();
  oru->OutputSummary(groups, Out());
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(console.find("Num high qual ECMs:  "), 0u);
  EXPECT_NE(console.find("\nNum high qual pred:  "), std::string::npos);
  const std::vector<std::string> gs = Lines(postfix::ReadFile(Out() + "_gs_stats.txt"));
  ASSERT_EQ(gs.size(), 6u);
  EXPECT_EQ(gs[2], "");
  EXPECT_EQ(gs[3], "");
  const std::vector<std::string> set_row = Fields(gs[5]);
  ASSERT_EQ(set_row.size(), 18u);
  EXPECT_EQ(set_row[1], "SET1");
  EXPECT_EQ(set_row[2], std::to_string(set_size));
  EXPECT_EQ(set_row[3], std::to_string(multi));
  EXPECT_EQ(set_row[5], std::to_string(genes_in_multi));
  std::ostringstream share, coherence;
  share.setf(std::ios::fixed, std::ios::floatfield);
  share.precision(4);
  share << static_cast<double>(genes_in_multi) / set_size;
  coherence.setf(std::ios::fixed, std::ios::floatfield);
  coherence.precision(4);
  coherence << static_cast<double>(module_pairs) / Pairs(set_size);
  EXPECT_EQ(set_row[6], share.str());
  EXPECT_EQ(set_row[7], coherence.str());
  // With one set the totals repeat the set's counts.
  const std::vector<std::string> totals = Fields(gs[1]);
  EXPECT_EQ(totals[2], set_row[2]);
  EXPECT_EQ(totals[3], set_row[3]);
  EXPECT_EQ(totals[5], set_row[5]);

  // Pair shares: one row for the set, ratios between 0 and 1.
  oru->CalcPercentPFam(groups, Out());
  oru->CalcPercentParalog(groups, Out());
  for (const std::string suffix : {"_pfam.txt", "_paralog.txt"}) {
    const std::vector<std::string> lines = Lines(postfix::ReadFile(Out() + suffix));
    ASSERT_EQ(lines.size(), 2u) << suffix;
    const std::vector<std::string> row = Fields(lines[1]);
    ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(row[0], "1");
    EXPECT_EQ(row[2], std::to_string(set_size));
    for (int i = 3; i < 6; ++i) {
      EXPECT_GE(std::stod(row[i]), 0.0) << suffix;
      EXPECT_LE(std::stod(row[i]), 1.0) << suffix;
    }
  }
  // The planted modules share a domain, so some module pair does too.
  EXPECT_GT(std::stod(Fields(Lines(postfix::ReadFile(Out() + "_pfam.txt"))[1])[4]), 0.0);
}

}  // namespace
