#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST_F(Reports, GeneSetStatisticsAndHighQualityCounts) {
  auto oru = TwoSetModel();
  testing::internal::CaptureStdout();
  oru->OutputSummary(FiveRecords(), Out());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Num high qual ECMs:  1\nNum high qual pred:  1\n");
  EXPECT_EQ(Read("_gs_stats.txt"),
            "\t\t# Genes\t# ECMs\t# NS ECMs\t# G in ECMs\t% G in ECMs\tAve. LLR\t# G in NS ECMs\t"
            "% G in NS ECMs\t# Uni Genes\t# Uni G in ECMs\t% Uni G in ECMs\tAve. Uni LLR\t"
            "% Cpl Share-seq\t% ECM Share-seq\t% E+P Share-seq\n"
            "\t\t6\t4\t3\t7\t1.1667\t10.8571\t5\t0.8333\t5\t5\t1.0000\t3.2000\t0.1667\t0.5000\t0.1667\t\n"
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

}  // namespace
