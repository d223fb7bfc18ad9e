#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "input/profile.h"

namespace {

using Rows = std::vector<int>;
using Words = std::vector<std::string>;
using Bits = std::vector<bool>;
using Keys = std::set<std::string>;

testing::Matcher<const std::string&> StderrIs(const std::string& text) {
  return testing::Matcher<const std::string&>(text);
}

template <typename Map>
Keys KeysOf(const Map& map) {
  Keys keys;
  for (const auto& entry : map) keys.insert(entry.first);
  return keys;
}

class ProfileFiles : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kolve_profile_XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  PhyloProf Profile(const std::string& bytes) { return LoadPhyloProfiles(Write("profile.txt", bytes)); }

  // Rows 0..3: GA (id 10), GB (id 20|21), GC (id 30), GD (id 40); two species.
  PhyloProf FourGenes() {
    return Profile("ENTREZ\tSYMBOL\tsp1\tsp2\n10\tGA\t1\t0\n20|21\tGB\t1\t1\n30\tGC\t0\t1\n40\tGD\t1\t1\n");
  }
  PhyloProf GeneSets(const std::string& bytes) { return LoadComplexes(FourGenes(), Write("sets.txt", bytes)); }

  std::string dir_;
};

TEST_F(ProfileFiles, IdColumnsAreRecognisedByNameInAnyCase) {
  PhyloProf p = Profile("entrez\tSym\tsp1\tsp2\n1\tA\t1\t0\n");
  EXPECT_EQ(p.species_names, (Words{"SP1", "SP2"}));
  EXPECT_EQ(p.S, 2);
  EXPECT_EQ(p.G, 1);

  p = Profile("sp1\tSYMBOL\tsp2\tEntrez\n1\tA\t0\t1\n");
  EXPECT_EQ(p.species_names, (Words{"SP1", "SP2"}));
  EXPECT_EQ(p.X, (std::vector<Bits>{{false, true}}));
}

TEST_F(ProfileFiles, UnnamedIdColumnLosesItsEmptyFieldToCleaning) {
  const PhyloProf p = Profile("\tGeneID\tsp1\n1\tA\t1\n2\tB\t1\t0\n");
  EXPECT_EQ(p.species_names, (Words{"GENEID", "SP1"}));
  EXPECT_EQ(p.G, 1);
  EXPECT_EQ(p.protein_names, Words{"B"});
}

TEST_F(ProfileFiles, RowsWithAnotherFieldCountAreDropped) {
  const PhyloProf p = Profile(
      "ENTREZ\tSYM\ts1\ts2\ts3\n"
      "1\tA\t1\t\t\n"       // trailing empty cells vanish: too few fields
      "2\tB\t1\t\t1\n"      // inner empty cell: kept, absent
      "\t3\tC\t1\t1\n"      // empty id field vanishes: one short
      "\n"
      "4\tD\t1\t1\t1\t1\n"  // one too many
      "5\tE\t0\t0\t1\n");
  EXPECT_EQ(p.G, 2);
  EXPECT_EQ(p.protein_entrez, (Words{"2", "5"}));
  EXPECT_EQ(p.X, (std::vector<Bits>{{true, false, true}, {false, false, true}}));
  EXPECT_EQ(p.focus, (Bits{false, false}));
}

TEST_F(ProfileFiles, OnlyACellReadingOneIsPresent) {
  const PhyloProf p = Profile("ENTREZ\tSYM\ta\tb\tc\td\te\tf\tg\th\n1\tA\t1\t 1 \t1.0\t0\tyes\t\t1\r\t1\n");
  EXPECT_EQ(p.X[0], (Bits{true, true, false, false, false, false, false, true}));
}

TEST_F(ProfileFiles, CrLfFileReadsLikeItsLfTwin) {
  const std::string lf = "ENTREZ\tSYM\tsp1\tsp2\n1|9\tA\t1\t1\n2\t\t0\t1\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const PhyloProf a = Profile(lf);
  const PhyloProf b = Profile(crlf);
  EXPECT_EQ(b.species_names, (Words{"SP1", "SP2"}));
  EXPECT_EQ(a.species_names, b.species_names);
  EXPECT_EQ(a.X, b.X);
  EXPECT_EQ(b.X, (std::vector<Bits>{{true, true}, {false, true}}));
  EXPECT_EQ(a.protein_names, b.protein_names);
  EXPECT_EQ(a.protein_entrez, b.protein_entrez);
  EXPECT_EQ(a.entrez_to_prot, b.entrez_to_prot);
  EXPECT_EQ(a.protein_map, b.protein_map);
}

TEST_F(ProfileFiles, AliasesGiveLookupKeys) {
  const PhyloProf p = Profile(
      "ENTREZ\tSYM\tsp1\n"
      "100|200\tABC|Xyz\t1\n"
      "7\t\t1\n"
      "300|400\t\t0\n"
      "8\tdup\t1\n"
      "9\tDup\t1\n");
  EXPECT_EQ(p.protein_entrez, (Words{"100|200", "7", "300|400", "8", "9"}));
  EXPECT_EQ(p.protein_names, (Words{"ABC|Xyz", "7", "300|400", "dup", "Dup"}));
  EXPECT_EQ(p.entrez_to_prot,
            (std::map<std::string, int>{{"100", 0}, {"200", 0}, {"7", 1}, {"300", 2}, {"400", 2}, {"8", 3}, {"9", 4}}));
  EXPECT_EQ(p.protein_map, (std::map<std::string, int>{{"100|200", 0},
                                                       {"ABC", 0},
                                                       {"XYZ", 0},
                                                       {"7", 1},
                                                       {"300|400", 2},
                                                       {"300", 2},
                                                       {"400", 2},
                                                       {"8", 3},
                                                       {"DUP", 4},
                                                       {"9", 4}}));
  EXPECT_TRUE(p.entrez_to_prot_str.empty());
}

TEST_F(ProfileFiles, EmptyBarPartsBecomeKeys) {
  const PhyloProf p = Profile("ENTREZ\tSYM\tsp\n5||6\tX\t1\n");
  EXPECT_EQ(KeysOf(p.entrez_to_prot), (Keys{"", "5", "6"}));
}

TEST_F(ProfileFiles, EmptyFileGivesAnEmptyRecord) {
  const PhyloProf p = Profile("");
  EXPECT_EQ(p.G, 0);
  EXPECT_EQ(p.S, 0);
  EXPECT_TRUE(p.species_names.empty());
  EXPECT_TRUE(p.X.empty());
  EXPECT_TRUE(p.protein_map.empty());
}

TEST_F(ProfileFiles, HeaderWithoutSpeciesKeepsTwoFieldRows) {
  const PhyloProf p = Profile("ENTREZ\tSYM\n1\tA\n2\tB\t1\n");
  EXPECT_EQ(p.S, 0);
  EXPECT_EQ(p.G, 1);
  EXPECT_EQ(p.X, (std::vector<Bits>{{}}));
}

TEST_F(ProfileFiles, UnreadableProfileEndsTheRun) {
  const std::string path = dir_ + "/none.txt";
  EXPECT_EXIT(LoadPhyloProfiles(path), testing::ExitedWithCode(1),
              StderrIs("(Error. Cannot open the phylogenetic profile input file: " + path + ")\n"));
}

TEST(ProfileRecord, InitSizesTheRowsOnly) {
  PhyloProf p;
  p.C = 4;
  p.Init(2, 3);
  EXPECT_EQ(p.G, 2);
  EXPECT_EQ(p.S, 3);
  EXPECT_EQ(p.X, (std::vector<Bits>(2, Bits(3, false))));
  EXPECT_EQ(p.focus, (Bits(2, false)));
  EXPECT_EQ(p.C, 4);
}

TEST_F(ProfileFiles, LinesWithoutASetNameJoinTheDefaultSet) {
  const PhyloProf p = GeneSets("GENE\tALL\nGD\nga\tS1\nGB\tx\ty\n30\tS1\n");
  EXPECT_EQ(p.complex_name_all, "ALL");
  EXPECT_EQ(p.complexes_names, (Words{"ALL", "S1"}));
  EXPECT_EQ(p.C, 2);
  EXPECT_EQ(p.CG, 4);
  EXPECT_EQ(p.complexes_for_proteins, (std::vector<Rows>{{1}, {0}, {1}, {0}}));
  EXPECT_EQ(p.proteins_for_complexes, (std::vector<Rows>{{1, 3}, {0, 2}}));
  EXPECT_EQ(p.complexes_map, (std::map<std::string, int>{{"ALL", 0}, {"S1", 1}}));
  EXPECT_EQ(p.complex_name_no_disp, (Bits{true, false}));
  EXPECT_EQ(p.has_complexes, (Bits{true, true, true, true}));
  EXPECT_TRUE(p.no_complex_proteins.empty());
}

TEST_F(ProfileFiles, HeaderWithoutTwoFieldsGivesAnEmptyDefaultName) {
  const PhyloProf p = GeneSets("GENE\tSET\tMORE\nGA\nGC\tS1\n");
  EXPECT_EQ(p.complex_name_all, "");
  EXPECT_EQ(p.complexes_names, (Words{"", "S1"}));
  EXPECT_EQ(p.complex_name_no_disp, (Bits{true, false}));
  EXPECT_EQ(p.CG, 2);
  EXPECT_EQ(p.no_complex_proteins, (Rows{1, 3}));
  EXPECT_EQ(p.has_complexes, (Bits{true, false, true, false}));
}

TEST_F(ProfileFiles, DefaultNameKeepsItsBlankWhileMemberLinesLoseIt) {
  const PhyloProf p = GeneSets("GENE\tALL \nGA\tALL \nGB\n");
  EXPECT_EQ(p.complexes_names, (Words{"ALL", "ALL "}));
  EXPECT_EQ(p.proteins_for_complexes, (std::vector<Rows>{{0}, {1}}));
}

TEST_F(ProfileFiles, RepeatedMembershipIsRecordedOnce) {
  const PhyloProf p = GeneSets("h\tD\nGC\tS1\nGC\tS1\n30\tS1\nGc\tS2\n");
  EXPECT_EQ(p.complexes_for_proteins[2], (Rows{0, 1}));
  EXPECT_EQ(p.proteins_for_complexes, (std::vector<Rows>{{2}, {2}}));
  EXPECT_EQ(p.CG, 1);
}

TEST_F(ProfileFiles, GenesAreFoundByAnyOfTheirNames) {
  const PhyloProf p = GeneSets("h\tD\nga\tS\n21\tS\n20|21\tS\ngd\tS\n");
  EXPECT_EQ(p.proteins_for_complexes, (std::vector<Rows>{{0, 1, 3}}));
}

TEST_F(ProfileFiles, UnknownGeneWarnsAndCreatesNoSet) {
  testing::internal::CaptureStderr();
  const PhyloProf p = GeneSets("h\tD\nnope\tS9\nGA\tS1\nmissing\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Warning: no S9 gene NOPE found in database.\nWarning: no D gene MISSING found in database.\n");
  EXPECT_EQ(p.complexes_names, Words{"S1"});
  EXPECT_EQ(p.C, 1);
  EXPECT_EQ(p.complex_name_no_disp, Bits{false});
}

TEST_F(ProfileFiles, EmptyGeneSetFile) {
  const PhyloProf p = GeneSets("");
  EXPECT_EQ(p.C, 0);
  EXPECT_EQ(p.CG, 0);
  EXPECT_TRUE(p.complexes_names.empty());
  EXPECT_TRUE(p.complex_name_no_disp.empty());
  EXPECT_EQ(p.no_complex_proteins, (Rows{0, 1, 2, 3}));
  EXPECT_EQ(p.complexes_for_proteins, std::vector<Rows>(4));
}

TEST_F(ProfileFiles, SingleSetWithTheDefaultNameIsShown) {
  const PhyloProf p = GeneSets("GENE\tALL\nGA\nGB\tALL\n");
  EXPECT_EQ(p.complexes_names, Words{"ALL"});
  EXPECT_EQ(p.complex_name_no_disp, Bits{false});
}

TEST_F(ProfileFiles, CrLfGeneSetFileReadsLikeItsLfTwin) {
  const PhyloProf p = GeneSets("GENE\tALL\r\nGA\r\nGB\tS1\r\n");
  EXPECT_EQ(p.complex_name_all, "ALL");
  EXPECT_EQ(p.complexes_names, (Words{"ALL", "S1"}));
  EXPECT_EQ(p.complex_name_no_disp, (Bits{true, false}));
}

TEST_F(ProfileFiles, DomainsGiveSharedDomainPairs) {
  const PhyloProf p = LoadpFams(FourGenes(), Write("pfam.txt",
                                                   "GENE\tDOMAIN\n"
                                                   "GC\tkinase\n"
                                                   "GA\tkinase\n"
                                                   "ga\tSH2\n"
                                                   "30\tSH2\n"
                                                   "GB\tlonely\n"
                                                   "GD\tx\ty\n"
                                                   "nope\tkinase\n"
                                                   "GA\tkinase\r\n"));
  EXPECT_EQ(p.P, 3);
  EXPECT_EQ(p.pfam_names, (Words{"kinase", "SH2", "lonely"}));
  EXPECT_EQ(p.pfam_for_protein, (std::vector<Rows>{{0, 1}, {2}, {0, 1}, {}}));
  EXPECT_EQ(p.protein_for_pfam, (std::vector<Rows>{{0, 2}, {0, 2}, {1}}));
  EXPECT_EQ(p.has_pfam, (Bits{true, true, true, false}));
  EXPECT_EQ(p.no_pfam_proteins, Rows{3});
  EXPECT_EQ(p.samepfam, (Keys{"0=2", "2=0"}));
}

TEST_F(ProfileFiles, ParalogPairsNameGenesById) {
  const PhyloProf p = LoadParalogys(FourGenes(), Write("para.txt",
                                                       "10 30\n30\t10\r\n"
                                                       "21 40\n"
                                                       "GA 30\n"
                                                       "20|21 40\n"
                                                       "99 10\n"
                                                       "40 40\n"
                                                       "10"));
  EXPECT_EQ(p.paralogs, (Keys{"0=2", "2=0", "1=3", "3=1", "3=3"}));
  EXPECT_TRUE(LoadParalogys(FourGenes(), Write("empty.txt", "")).paralogs.empty());
}

TEST_F(ProfileFiles, FiltersPreferTheIdThenTheSymbol) {
  const PhyloProf p = LoadFilters(FourGenes(), Write("filters.txt",
                                                     "30 GA\n"
                                                     "99 gd\n"
                                                     "99 none\n"
                                                     "30 x\r\n"
                                                     "10"));
  EXPECT_EQ(p.filters, (Rows{2, 3, 2}));
  EXPECT_EQ(p.focus, (Bits{false, false, true, true}));
}

TEST_F(ProfileFiles, FocusLinesNameGenesByAnyMapKey) {
  const PhyloProf p = LoadFocuses(FourGenes(), Write("focus.txt", "gb\r\n\n20|21\n 30 \n21\nnone\n"));
  EXPECT_EQ(p.focus, (Bits{false, true, true, false}));
}

TEST_F(ProfileFiles, UnopenableAnnotationFilesEndTheRun) {
  const PhyloProf p = FourGenes();
  const std::string missing = dir_ + "/missing.txt";
  EXPECT_EXIT(LoadComplexes(p, ""), testing::ExitedWithCode(255),
              StderrIs("(Error. Cannot open the complexes annotation file.)\n"));
  EXPECT_EXIT(LoadpFams(p, missing), testing::ExitedWithCode(255),
              StderrIs("(Error. Cannot open the pfam domains file.)\n"));
  EXPECT_EXIT(LoadParalogys(p, missing), testing::ExitedWithCode(255),
              StderrIs("(Error. Cannot open the paralogys file.)\n"));
  EXPECT_EXIT(LoadFilters(p, missing), testing::ExitedWithCode(255),
              StderrIs("(Error. Cannot open the filters file: " + missing + ".)\n"));
  EXPECT_EXIT(LoadFocuses(p, missing), testing::ExitedWithCode(255),
              StderrIs("(Error. Cannot open the focus proteins file.)\n"));
}

}  // namespace
