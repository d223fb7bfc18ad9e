#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/post_fixture.h"

struct ORUTestAccess {
  static std::vector<std::string>& species_names(ORU& o) { return o.species_names; }
};

namespace {

// Six proteins over four species ((0,1),(2,3)).
PhyloProf SixProteins(const std::vector<int>& gene_set, std::set<std::string> paralogs = {}) {
  PhyloProf prof = postfix::Profile({"1100", "1000", "0100", "1110", "0011", "1111"}, gene_set);
  prof.paralogs = paralogs;
  return prof;
}

TEST(ParalogFamilies, ChainedPairsFormOneFamilyGreyingAllButTheFirst) {
  // x=0, y=1, z=2 with the pairs x=z and z=y only.
  auto oru = postfix::Model(SixProteins({0, 1, 2}, postfix::BothWays({{0, 2}, {2, 1}})),
                            postfix::FourLeafParents());
  std::vector<Group> recs = {postfix::Record({0, 1, 2})};
  recs[0].llratios = {7.0, 3.0, 2.0};
  oru->FindParalogs(recs);
  EXPECT_EQ(recs[0].pgroupid, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(recs[0].grey_out, (std::vector<bool>{false, true, true}));
  EXPECT_EQ(recs[0].usize, 1);
  EXPECT_DOUBLE_EQ(recs[0].umllr, 7.0);
}

TEST(ParalogFamilies, FamiliesNumberedPerRecordAcrossMembersAndPredictions) {
  auto oru = postfix::Model(SixProteins({0, 1, 2, 3}, postfix::BothWays({{0, 2}, {4, 5}})),
                            postfix::FourLeafParents());
  Group first = postfix::Record({0, 3});
  first.llratios = {5.0, 2.0};
  first.pred_proteins = {2, 4, 5};
  first.pred_llratios = {30.0, 20.0, 25.0};
  Group second = postfix::Record({4, 5});
  std::vector<Group> recs = {first, second};
  oru->FindParalogs(recs);

  EXPECT_EQ(recs[0].pgroupid, (std::vector<int>{0, -1, 0, 1, 1}));
  EXPECT_EQ(recs[0].grey_out, (std::vector<bool>{false, false, true, false, true}));
  EXPECT_EQ(recs[0].usize, 2);
  EXPECT_DOUBLE_EQ(recs[0].umllr, 3.5);
  // The paralog of a member is greyed and not counted; 20.0 itself counts.
  EXPECT_EQ(recs[0].upredsize, 1);
  EXPECT_EQ(recs[1].pgroupid, (std::vector<int>{0, 0}));
  EXPECT_EQ(recs[1].usize, 1);
}

TEST(ParalogFamilies, PairCountersLookUpOneOrientationOnly) {
  PhyloProf prof = SixProteins({0, 1, 2});
  prof.paralogs = {"2=0"};
  prof.samepfam = {"0=1", "1=2", "0=2"};
  auto oru = postfix::Model(prof, postfix::FourLeafParents());
  EXPECT_EQ(oru->CountParalogPairs({0, 2}), 0);
  EXPECT_EQ(oru->CountParalogPairs({2, 0, 1}), 1);
  EXPECT_EQ(oru->CountPFamPairs({0, 1, 2}), 3);
  EXPECT_EQ(oru->CountPFamPairs({}), 0);
}

TEST(ModuleOrder, SortGroupsPutsMultiMemberRecordsFirstByStrength) {
  auto oru = postfix::Model(SixProteins({0, 1, 2}), postfix::FourLeafParents());
  std::vector<Group> recs = {postfix::Record({1}, 5.0), postfix::Record({0, 2}, 1.0),
                             postfix::Record({0, 1, 2}, 3.0), postfix::Record({2}, 7.0),
                             postfix::Record({}, 2.0)};
  oru->SortGroups(recs);
  std::vector<double> strengths;
  for (const Group& rec : recs) strengths.push_back(rec.strength);
  EXPECT_EQ(strengths, (std::vector<double>{3.0, 2.0, 1.0, 7.0, 5.0}));
}

class SortUni : public ::testing::Test {
 protected:
  // Presence scores with S = 4: "1000" 4, "0100" 3, "1100" 7, "1110" 9, "0011" 3.
  void SetUp() override {
    oru = postfix::Model(SixProteins({0, 1, 2, 3}), postfix::FourLeafParents());
    Group single_second = postfix::Record({2});   // score 3
    Group single_first = postfix::Record({1});    // score 4
    Group one_family = postfix::Record({4, 5}, 100.0);
    one_family.usize = 1;
    Group high_presence = postfix::Record({0, 3}, 1.0);  // (7 + 9) / 2 = 8
    high_presence.usize = 2;
    Group low_presence = postfix::Record({0, 1, 4}, 2.0);  // (7 + 4 + 3) / 3
    low_presence.usize = 3;
    recs = {single_second, single_first, one_family, high_presence, low_presence};
  }
  std::vector<double> Strengths() const {
    std::vector<double> s;
    for (const Group& rec : recs) s.push_back(rec.strength);
    return s;
  }
  std::unique_ptr<ORU> oru;
  std::vector<Group> recs;
};

TEST_F(SortUni, PresenceRuleOrdersClassTwoThenLeavesClassOneBeforeSingles) {
  recs[0].strength = -1;
  recs[1].strength = -2;
  oru->SortGroupsUni(recs, 0);
  EXPECT_EQ(Strengths(), (std::vector<double>{1.0, 2.0, 100.0, -2.0, -1.0}));
  EXPECT_DOUBLE_EQ(recs[0].mean_mm, 8.0);
  EXPECT_DOUBLE_EQ(recs[1].mean_mm, 14.0 / 3.0);
  EXPECT_DOUBLE_EQ(recs[3].mean_mm, 4.0);
}

TEST_F(SortUni, StrengthRuleOrdersClassTwoByStrength) {
  recs[0].strength = -1;
  recs[1].strength = -2;
  oru->SortGroupsUni(recs, 1);
  EXPECT_EQ(Strengths(), (std::vector<double>{2.0, 1.0, 100.0, -2.0, -1.0}));
}

TEST_F(SortUni, PresenceScoreDividesInDouble) {
  std::vector<Group> odd = {postfix::Record({0, 1})};  // (7 + 4) / 2
  oru->SortGroupsUni(odd, 0);
  EXPECT_DOUBLE_EQ(odd[0].mean_mm, 5.5);
}

TEST_F(SortUni, MembersReorderedByDevianceKeepTheirOwnMarks) {
  Group rec = postfix::Record({5, 3, 4});
  rec.deviance = {3.0, 1.0, 1.0};
  rec.llratios = {9.0, 8.0, 7.0};
  rec.pgroupid = {-1, 0, 0, 1};
  rec.grey_out = {false, false, true, false};
  rec.pred_proteins = {2};
  std::vector<Group> one = {rec};
  oru->SortGroupsUni(one, 0);
  EXPECT_EQ(one[0].proteins, (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(one[0].deviance, (std::vector<double>{1.0, 1.0, 3.0}));
  EXPECT_EQ(one[0].llratios, (std::vector<double>{8.0, 7.0, 9.0}));
  EXPECT_EQ(one[0].pgroupid, (std::vector<int>{0, 0, -1, 1}));
  EXPECT_EQ(one[0].grey_out, (std::vector<bool>{false, true, false, false}));
}

TEST_F(SortUni, NearPerfectFitKeepsMemberOrder) {
  Group rec = postfix::Record({5, 3, 4});
  rec.deviance = {3.0, 0.0005, 1.0};
  std::vector<Group> one = {rec};
  oru->SortGroupsUni(one, 0);
  EXPECT_EQ(one[0].proteins, (std::vector<int>{5, 3, 4}));
}

class ResultsTable : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) { return dir.File(name); }
  postfix::ScratchDir dir;
  const std::string header =
      "ECM ID\tNum ECM Genes\tNum Unique ECM Genes\tNum Predicted Genes\tECM Strength\tGene Entrez\t"
      "Gene Symbol\tECM/ECM+\tParalog Group\tFirst Gene in Paralog Group\tLLR\t";
};

TEST_F(ResultsTable, WritesHeaderAndRowsOfMembersAndPredictions) {
  auto oru = postfix::Model(SixProteins({0, 1, 2, 3}), postfix::FourLeafParents());
  ORUTestAccess::species_names(*oru) = {"SP0", "SP\n1", "SP2\r", "SP3"};
  Group first = postfix::Record({0, 1}, 3.0);
  first.usize = 2;
  first.pred_proteins = {4};
  first.pred_llratios = {12.3456};
  first.pgroupid = {0, -1, 27};
  first.grey_out = {false, false, false};
  Group single = postfix::Record({2}, 123456.0);
  single.usize = 1;
  single.pred_proteins = {5};
  single.pred_llratios = {123456.0};
  single.pgroupid = {-1, 0};
  single.grey_out = {false, true};
  std::vector<Group> recs = {first, single};
  ASSERT_TRUE(oru->SaveResultsTxt(recs, Path("out")));
  const std::string expected = header + "SP0\tSP1\tSP2\tSP3\t\n" +
                               "1\t2\t2\t1\t3\t1\tGENE1\tECM\tA\t1\t0\t1\t1\t0\t0\t\n"
                               "1\t2\t2\t1\t3\t2\tGENE2\tECM\t\t1\t0\t1\t0\t0\t0\t\n"
                               "1\t2\t2\t1\t3\t5\tGENE5\tECM+\tb\t1\t12.35\t0\t0\t1\t1\t\n"
                               "2\t1\t1\t1\t0\t3\tGENE3\tECM\t\t1\t0\t0\t1\t0\t0\t\n"
                               "2\t1\t1\t1\t0\t6\tGENE6\tECM+\tA\t0\t1.235e+05\t1\t1\t1\t1\t\n";
  EXPECT_EQ(postfix::ReadFile(Path("out.txt")), expected);
}

TEST_F(ResultsTable, NoPredictedRowsWhenEveryProfileGeneIsClustered) {
  auto oru = postfix::Model(SixProteins({0, 1, 2, 3, 4, 5}), postfix::FourLeafParents(), -1);
  Group rec = postfix::Record({3, 0}, 0.5);
  rec.pred_proteins = {4};
  rec.pred_llratios = {40.0};
  std::vector<Group> recs = {rec};
  ASSERT_TRUE(oru->SaveResultsTxt(recs, Path("all")));
  EXPECT_EQ(postfix::ReadFile(Path("all.txt")),
            header + "SP0\tSP1\tSP2\tSP3\t\n" +
                "1\t2\t0\t1\t0.5\t4\tGENE4\tECM\t\t1\t0\t1\t1\t1\t0\t\n"
                "1\t2\t0\t1\t0.5\t1\tGENE1\tECM\t\t1\t0\t1\t1\t0\t0\t\n");
}

TEST_F(ResultsTable, FamilyLabelsPastFiftyTwoUseTwoLetters) {
  auto oru = postfix::Model(SixProteins({0, 1, 2, 3}), postfix::FourLeafParents());
  Group rec = postfix::Record({0, 1, 2, 3, 4, 5});
  rec.pgroupid = {25, 26, 51, 52, 53, 104};
  std::vector<Group> recs = {rec};
  ASSERT_TRUE(oru->SaveResultsTxt(recs, Path("labels")));
  std::istringstream lines(postfix::ReadFile(Path("labels.txt")));
  std::string line;
  std::getline(lines, line);
  std::vector<std::string> labels;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream row(line);
    for (std::string f; std::getline(row, f, '\t');) fields.push_back(f);
    labels.push_back(fields.at(8));
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"Z", "a", "z", "AA", "AB", "BA"}));
}

TEST_F(ResultsTable, EmptyListWritesHeaderOnlyAndUnwritablePathFails) {
  auto oru = postfix::Model(SixProteins({0, 1}), postfix::FourLeafParents());
  std::vector<Group> none;
  ASSERT_TRUE(oru->SaveResultsTxt(none, Path("empty")));
  EXPECT_EQ(postfix::ReadFile(Path("empty.txt")), header + "SP0\tSP1\tSP2\tSP3\t\n");
  EXPECT_FALSE(oru->SaveResultsTxt(none, Path("missing/dir/out")));
  // The table is renamed into place last; a directory in the way fails it.
  std::filesystem::create_directory(Path("taken.txt"));
  EXPECT_FALSE(oru->SaveResultsTxt(none, Path("taken")));
}

}  // namespace
