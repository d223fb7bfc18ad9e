#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "model/oru.h"
#include "tests/prep_random_data.h"

struct ORUTestAccess {
  static std::vector<int>& glinks(ORU& o) { return o.glinks; }
  static std::vector<std::vector<double>>& q10(ORU& o) { return o.q10_probs; }
  static std::vector<int>& offsps(ORU& o) { return o.offsps; }
  static std::vector<int>& parent(ORU& o) { return o.parent; }
  static double ind_lrate(const ORU& o) { return o.ind_lrate; }
  static std::vector<double> GainScores(ORU& o, int p) {
    std::vector<double> scores;
    for (int n = 0; n < o.N; ++n) scores.push_back(o.log_f_Xg_null_gl(p, n));
    return scores;
  }
  static int GainNodeWithErrorScale(ORU& o, int p, long double scale) {
    ORU::GainSearch w;
    return o.BestGainNode(p, w, scale);
  }
  static std::vector<double> EstimateBackgroundLosses(ORU& o) {
    return o.EstimateBackgroundLosses();
  }
  static void Tally(ORU& o, int p, const std::vector<char>& h, std::vector<long long>& crossed,
                    std::vector<long long>& lost) {
    o.TallyBackgroundHistory(p, h.data(), crossed, lost);
  }
};

namespace {

using prepdata::AllIds;
using prepdata::ProfileFromRows;
using prepdata::RowsFromText;
using prepdata::SpeciesNames;
using prepdata::TreeFromParents;

// (((0,1)8,(2,3)9)10,((4,5)11,(6,7)12)13)14
const std::vector<int> kEightLeaves = {8, 8, 9, 9, 11, 11, 12, 12, 10, 10, 14, 13, 13, 14, -1};
// ((((0,1)12,(2,3)13)14,((4,5)15,(6,7)16)17)18,((8,9)19,(10,11)20)21)22
const std::vector<int> kTwelveLeaves = {12, 12, 13, 13, 15, 15, 16, 16, 19, 19, 20, 20,
                                        14, 14, 18, 17, 17, 18, 22, 21, 21, 22, -1};
// ((0,1)4,(2,3)5)6
const std::vector<int> kFourLeaves = {4, 4, 5, 5, 6, 6, -1};

struct ModelArgs {
  std::vector<std::string> species;  // empty: SP0, SP1, ...
  double prep_lrate = 0.03;
  bool same_gl = false;
  int seed = 7;
};

ORU MakeModel(const std::vector<int>& parent, const std::vector<std::vector<bool>>& rows,
              const ModelArgs& args = ModelArgs()) {
  const int S = (static_cast<int>(parent.size()) + 1) / 2;
  const std::vector<std::string> names = args.species.empty() ? SpeciesNames(S) : args.species;
  testing::internal::CaptureStdout();
  ORU model(ProfileFromRows(rows, names, AllIds(static_cast<int>(rows.size()))),
            TreeFromParents(parent, names), 0, 0, 0, 0.0, 0.0, args.same_gl ? 1 : 0, args.seed,
            args.prep_lrate, 0.99);
  testing::internal::GetCapturedStdout();
  return model;
}

std::string PreProcessOutput(ORU& model) {
  testing::internal::CaptureStdout();
  model.PreProcess();
  const std::string out = testing::internal::GetCapturedStdout();
  std::cout.unsetf(std::ios::floatfield);
  std::cout.precision(6);
  return out;
}

void PreProcessQuietly(ORU& model) { PreProcessOutput(model); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The search as the model defines it: one pruning pass per candidate node.
int GainNodeOnePassPerNode(ORU& model, int p) {
  double best = -1e6;
  int result = -1;
  for (int n = 0; n < model.N; ++n) {
    const double v = model.log_f_Xg_null_gl(p, n);
    if (v > best) {
      best = v;
      result = n;
    }
  }
  return result;
}

}  // namespace

// ---- Gain-node search ----

TEST(GainNode, SinglePresenceIsGainedAtThatLeafAndCarriesNoInformation) {
  ORU model = MakeModel(kEightLeaves, RowsFromText({"00010000", "11111111", "01101000"}));
  PreProcessQuietly(model);
  EXPECT_EQ(model.GainLinks()[0], 3);
  EXPECT_TRUE(model.no_info_protein[0]);
  // Its own observation and six outside absences (species 0 carries nothing).
  EXPECT_NEAR(ORUTestAccess::GainScores(model, 0)[3], 7 * std::log(0.995), 1e-12);
}

TEST(GainNode, TiesGoToTheLowerNumberedNode) {
  const std::vector<std::vector<bool>> rows = RowsFromText({"00000000"});
  // With species 0 unobserved, leaf 0 explains an empty row best.
  ORU plain = MakeModel(kEightLeaves, rows);
  EXPECT_EQ(plain.InferGainLink(0), 0);
  // Observed with its tiny error, species 0 loses, and leaves 1..7 score
  // exactly alike: the first of them wins.
  ModelArgs args;
  args.species = SpeciesNames(8);
  args.species[0] = "Prokaryotes";
  ORU prok = MakeModel(kEightLeaves, rows, args);
  const std::vector<double> scores = ORUTestAccess::GainScores(prok, 0);
  for (int leaf = 2; leaf < 8; ++leaf) EXPECT_TRUE(SameBits(scores[1], scores[leaf]));
  EXPECT_EQ(prok.InferGainLink(0), 1);
}

namespace {

// ((..((0,1),2)..),S-1): every subtree is a prefix of the leaves.
std::vector<int> CaterpillarParents(int S) {
  std::vector<int> parent(2 * S - 1, -1);
  if (S < 2) return parent;
  parent[0] = parent[1] = S;
  for (int leaf = 2; leaf < S; ++leaf) parent[leaf] = parent[S + leaf - 2] = S + leaf - 1;
  return parent;
}

// Rows where many candidates tie in exact arithmetic, so that only the
// order of the additions tells them apart.
std::vector<std::vector<bool>> DegenerateRows(int S, std::mt19937& rng) {
  std::vector<std::vector<bool>> rows = {std::vector<bool>(S, false), std::vector<bool>(S, true)};
  std::uniform_int_distribution<int> species(0, S - 1);
  for (int i = 0; i < 6; ++i) {
    std::vector<bool> one(S, false), two(S, false);
    one[species(rng)] = true;
    two[species(rng)] = two[species(rng)] = true;
    rows.push_back(one);
    rows.push_back(two);
  }
  return rows;
}

}  // namespace

// The search rules candidates out by bounds on rounding errors; it must still
// pick the node the literal rule picks, near-ties included, and it must be the
// bound that makes it so: without it the picks differ.
TEST(GainNode, FastSearchPicksTheLiteralNodeAndNeedsItsErrorBound) {
  std::mt19937 rng(11);
  int unbounded_differs = 0;
  for (bool caterpillar : {false, true}) {
    for (int S : {1, 2, 3, 5, 8, 13, 21, 60, 150}) {
      for (bool prokaryotes : {false, true}) {
        const std::vector<int> parent = caterpillar ? CaterpillarParents(S) : prepdata::RandomParents(S, rng);
        std::vector<std::vector<bool>> rows = prepdata::SimulateRows(parent, 30, 0.25, 0.05, rng);
        const std::vector<std::vector<bool>> degenerate = DegenerateRows(S, rng);
        rows.insert(rows.end(), degenerate.begin(), degenerate.end());
        ModelArgs args;
        args.species = SpeciesNames(S);
        if (prokaryotes) args.species[0] = "Prokaryotes";
        ORU model = MakeModel(parent, rows, args);
        // Before preprocessing every branch has the starting rate; afterwards
        // the estimated ones, some of them 0.
        for (int round = 0; round < 2; ++round) {
          for (int p = 0; p < model.GG; ++p) {
            const int literal = GainNodeOnePassPerNode(model, p);
            ASSERT_EQ(model.InferGainLink(p), literal)
                << "S " << S << " caterpillar " << caterpillar << " protein " << p;
            unbounded_differs += ORUTestAccess::GainNodeWithErrorScale(model, p, 0.0L) != literal;
          }
          PreProcessQuietly(model);
        }
      }
    }
  }
  EXPECT_GT(unbounded_differs, 0);
}

// ---- Loss information ----

TEST(LossInformation, NeedsAnAbsenceInsideTheGainSubtreeBetweenFirstAndLastPresence) {
  struct Case {
    const char* row;
    int gain_node;
    bool flagged;
  };
  const std::vector<Case> cases = {
      {"01101000", 14, false},  // species 3 is absent between 1 and 4
      {"01101000", 10, false},  // the gap at 3 lies inside leaves 0..3
      {"01101000", 8, true},    // leaves 0..1 hold only species 1 of 1..4
      {"10111000", 9, true},    // the gap at 1 lies outside leaves 2..3
      {"00011101", 11, true},   // the gap at 6 lies outside leaves 4..5
      {"01110000", 14, true},   // no gap, though absent elsewhere
      {"11000000", 14, true},   // present in 2 species
      {"11101110", 14, true},   // present in S - 2 species
      {"11101100", 14, false},  // present in S - 3 species, with a gap
      {"01101000", -1, true},   // no gain node
  };
  std::vector<std::string> text;
  for (const Case& c : cases) text.push_back(c.row);
  ORU model = MakeModel(kEightLeaves, RowsFromText(text));
  PreProcessQuietly(model);
  for (size_t p = 0; p < cases.size(); ++p) ORUTestAccess::glinks(model)[p] = cases[p].gain_node;
  model.PrepNoInfoProteins();
  for (size_t p = 0; p < cases.size(); ++p)
    EXPECT_EQ(model.no_info_protein[p], cases[p].flagged) << "case " << p;
}

// ---- Gain-node classes ----

TEST(GainClasses, OneClassUnlessSameGlThenOnePerGainNode) {
  const auto rows = RowsFromText({"11101100", "11011100", "00110000", "11111100"});
  ORU model = MakeModel(kEightLeaves, rows);
  PreProcessQuietly(model);
  model.cl_glinks = {13, 9, 13, -1};

  model.same_gl = false;
  model.PrepFitnessMatrix("params.txt");
  ASSERT_EQ(model.gl_prots.size(), 15u);
  EXPECT_EQ(model.gl_prots[0], (std::vector<int>{0, 1, 2, 3}));
  for (int b = 1; b < 15; ++b) EXPECT_TRUE(model.gl_prots[b].empty());

  model.same_gl = true;
  model.PrepFitnessMatrix("params.txt");
  EXPECT_EQ(model.gl_prots[13], (std::vector<int>{0, 2}));
  EXPECT_EQ(model.gl_prots[9], (std::vector<int>{1}));
  for (int b : {0, 8, 10, 11, 12, 14}) EXPECT_TRUE(model.gl_prots[b].empty());
}

// ---- Compatibility ----

namespace {

// Every gene informative, at gain node `node`, and lost by all at nodes 0
// and 1 in every background history: only the tested condition can fail.
void MakeOtherwiseCompatible(ORU& model, int node) {
  model.cl_glinks.assign(model.G, node);
  model.no_info_protein.assign(model.GG, false);
  for (std::vector<double>& row : ORUTestAccess::q10(model)) {
    std::fill(row.begin(), row.end(), 0.0);
    row[0] = row[1] = 1.0;
  }
}

int NodeWithSubtreeSize(ORU& model, int size) {
  const std::vector<int>& offsps = ORUTestAccess::offsps(model);
  for (int n = 0; n < model.N; ++n)
    if (offsps[n] == size) return n;
  return -1;
}

// Two identical genes, gained at a leaf and at a cherry (3 nodes).
bool CompatibleAcrossLeafAndCherry(const std::vector<int>& parent, const std::string& row) {
  ORU model = MakeModel(parent, RowsFromText({row, row}));
  PreProcessQuietly(model);
  MakeOtherwiseCompatible(model, 0);
  model.cl_glinks[1] = NodeWithSubtreeSize(model, 3);
  model.PrepFitnessMatrix("");
  EXPECT_TRUE(model.Fit()[0][0]);
  EXPECT_TRUE(model.Fit()[1][1]);
  EXPECT_EQ(model.Fit()[0][1], model.Fit()[1][0]);
  return model.Fit()[0][1];
}

}  // namespace

TEST(Compatibility, SubtreeSizesMustDifferByLessThanAQuarterOfTheSpecies) {
  // Sizes 1 and 3 differ by 2: exactly S / 4 for 8 species, S / 4 - 1 for 12.
  EXPECT_FALSE(CompatibleAcrossLeafAndCherry(kEightLeaves, "11101100"));
  EXPECT_TRUE(CompatibleAcrossLeafAndCherry(kTwelveLeaves, "111011000000"));
}

TEST(Compatibility, MismatchesMustStayBelowFortyPercentOfTheSmallerPresence) {
  const auto rows = RowsFromText({"111110000000",    // 5 present
                                  "111101000000",    // 2 mismatches with row 0
                                  "111111000000"});  // 1 mismatch with rows 0 and 1
  ORU model = MakeModel(kTwelveLeaves, rows);
  PreProcessQuietly(model);
  MakeOtherwiseCompatible(model, 22);
  model.PrepFitnessMatrix("");
  EXPECT_FALSE(model.Fit()[0][1]);  // 2 / 5 = 0.4
  EXPECT_TRUE(model.Fit()[0][2]);   // 1 / 5
  EXPECT_TRUE(model.Fit()[1][2]);
  EXPECT_TRUE(model.Fit()[2][0]);
}

TEST(Compatibility, SharedLossesNeedTwoNodesLostInHalfTheHistories) {
  const auto rows = RowsFromText({"11101100", "11101100"});
  ORU model = MakeModel(kEightLeaves, rows);
  PreProcessQuietly(model);
  auto& q10 = ORUTestAccess::q10(model);
  const int root = model.N - 1;
  std::vector<long long> crossed(model.N, 0), lost(model.N, 0);
  // Both proteins gained at the root; node 0 lost in 25 histories by both,
  // node 2 in 25 by protein 0 and in 24 by protein 1.
  for (int p = 0; p < 2; ++p) {
    ORUTestAccess::glinks(model)[p] = root;
    std::fill(q10[p].begin(), q10[p].end(), 0.0);
    for (int h = 0; h < PREP_MM; ++h) {
      std::vector<char> hist(model.N, 1);
      if (h < 25) hist[0] = 0;
      if (h < 25 - p) hist[2] = 0;
      ORUTestAccess::Tally(model, p, hist, crossed, lost);
    }
  }
  EXPECT_EQ(crossed[0], 100);
  EXPECT_EQ(lost[0], 50);
  EXPECT_EQ(lost[2], 49);
  EXPECT_EQ(lost[1], 0);
  EXPECT_EQ(crossed[root], 0);
  EXPECT_GE(q10[0][2], 0.5);
  EXPECT_LT(q10[1][2], 0.5);
  EXPECT_NEAR(q10[1][2], 0.48, 1e-12);
  EXPECT_TRUE(model.IsFit(0, 0));
  EXPECT_FALSE(model.IsFit(0, 1));
  EXPECT_FALSE(model.IsFit(1, 1));
}

TEST(Compatibility, IdenticalInformativeRowsAreCompatible) {
  // Present at the root, lost on the branches above the cherries (2,3) and
  // (8,9); the other rows give the background something else to estimate.
  const auto rows = RowsFromText(
      {"110011110011", "110011110011", "111111111111", "000000001111", "011111011110"});
  ORU model = MakeModel(kTwelveLeaves, rows);
  PreProcessQuietly(model);
  model.PrepFitnessMatrix("");
  EXPECT_EQ(model.cl_glinks[0], 22);
  EXPECT_EQ(model.cl_glinks[1], 22);
  EXPECT_FALSE(model.no_info_protein[0]);
  const auto& q10 = model.Q10Probs();
  for (int p = 0; p < 2; ++p) {
    EXPECT_GE(q10[p][13], 0.5);
    EXPECT_GE(q10[p][19], 0.5);
  }
  EXPECT_TRUE(model.Fit()[0][1]);
  EXPECT_TRUE(model.Fit()[1][0]);
  EXPECT_TRUE(model.Fit()[0][0]);
}

TEST(Compatibility, NothingIsCompatibleWithFewerThanFourSpecies) {
  ORU model = MakeModel({3, 3, 4, 4, -1}, RowsFromText({"110", "110"}));
  PreProcessQuietly(model);
  MakeOtherwiseCompatible(model, 4);
  model.PrepFitnessMatrix("");
  for (int g1 = 0; g1 < 2; ++g1)
    for (int g2 = 0; g2 < 2; ++g2) EXPECT_FALSE(model.Fit()[g1][g2]);
}

// ---- Background loss model ----

TEST(BackgroundModel, ReportPrintsTenEntriesALineWithPaddedNodeNumbers) {
  std::mt19937 rng(3);
  const std::vector<int> parent = prepdata::RandomParents(11, rng);
  ORU model = MakeModel(parent, prepdata::SimulateRows(parent, 12, 0.2, 0.02, rng));
  const std::vector<std::string> lines = Lines(PreProcessOutput(model));
  size_t at = 0;
  while (at < lines.size() && lines[at] != "Background model (branch: loss probability): ") ++at;
  ASSERT_GE(at, 1u);
  ASSERT_EQ(lines.size(), at + 5);
  EXPECT_EQ(lines[at - 1], "");
  const std::vector<TransMatrix>& tm = model.TMNull();
  std::string expected[3];
  for (int n = 0; n < 21; ++n) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%3d: %.3f;  ", n, tm[n][1][0]);
    expected[n / 10] += entry;
  }
  EXPECT_EQ(lines[at + 1], expected[0]);
  EXPECT_EQ(lines[at + 1].substr(0, 5), "  0: ");
  EXPECT_EQ(lines[at + 2], expected[1]);
  EXPECT_EQ(lines[at + 2].substr(0, 5), " 10: ");
  EXPECT_EQ(lines[at + 3], " 20: 0.000;  ");
  EXPECT_EQ(lines[at + 4], "");
}

TEST(BackgroundModel, ConsoleKeepsFourFixedDecimalsAfterPreprocessing) {
  ORU model = MakeModel(kFourLeaves, RowsFromText({"1100", "0111"}));
  testing::internal::CaptureStdout();
  model.PreProcess();
  std::cout << 0.5;
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(out.size() - 6), "0.5000");
  std::cout.unsetf(std::ios::floatfield);
  std::cout.precision(6);
}

TEST(BackgroundModel, ProgressMarksEveryTenthOfTheProteins) {
  auto progress_line = [](int proteins) {
    const std::vector<std::string> rows(proteins, "0110");
    ORU model = MakeModel(kFourLeaves, RowsFromText(rows));
    return Lines(PreProcessOutput(model))[1];
  };
  const std::string head = "Preprocessing: Calculating null loss probabilities:";
  EXPECT_EQ(progress_line(10), head + "  10%  20%  30%  40%  50%  60%  70%  80%  90%  100%");
  // 25 proteins: a mark every 2, past 100%.
  EXPECT_EQ(progress_line(25),
            head + "  10%  20%  30%  40%  50%  60%  70%  80%  90%  100%  110%  120%");
  EXPECT_EQ(progress_line(9), head);
  EXPECT_EQ(progress_line(1), head);
}

TEST(BackgroundModel, BranchesNoHistoryCrossesKeepTheStartingRate) {
  ModelArgs args;
  args.prep_lrate = 0.07;
  // Gains at leaves 1, 2 and 0, and one at the cherry (2,3): only the
  // branches above leaves 2 and 3 are ever crossed.
  ORU model = MakeModel(kFourLeaves, RowsFromText({"0100", "0010", "0000", "0011"}), args);
  const std::string out = PreProcessOutput(model);
  ASSERT_EQ(model.GainLinks(), (std::vector<int>{1, 2, 0, 5}));
  const std::vector<TransMatrix>& tm = model.TMNull();
  for (int n : {0, 1, 4, 5}) {
    EXPECT_EQ(tm[n][1][0], 0.07) << n;
    EXPECT_EQ(tm[n][1][1], 1.0 - 0.07) << n;
  }
  for (int n : {2, 3}) {
    EXPECT_GE(tm[n][1][0], 0.0);
    EXPECT_LE(tm[n][1][0], 1.0);
  }
  EXPECT_EQ(tm[6][1][0], 0.0);
  EXPECT_NE(out.find("  0: 0.070;    1: 0.070;  "), std::string::npos);
  EXPECT_NE(out.find("  4: 0.070;    5: 0.070;    6: 0.000;  "), std::string::npos);
}

TEST(BackgroundModel, DrawsAreThoseOfFiftySamplerCallsPerProtein) {
  std::mt19937 rng(5);
  const std::vector<int> parent = prepdata::RandomParents(9, rng);
  ORU model = MakeModel(parent, prepdata::SimulateRows(parent, 30, 0.2, 0.03, rng));
  PreProcessQuietly(model);  // gain nodes and estimated transitions in place

  ORU reference(model);
  testing::internal::CaptureStdout();
  ORUTestAccess::EstimateBackgroundLosses(model);
  testing::internal::GetCapturedStdout();

  // The literal procedure: every node below the root of every draw.
  const std::vector<int>& up = ORUTestAccess::parent(reference);
  std::vector<std::vector<double>> q10(reference.GG, std::vector<double>(reference.N, 0.0));
  for (int p = 0; p < reference.GG; ++p) {
    for (int h = 0; h < PREP_MM; ++h) {
      const std::vector<char> hist = reference.Update_Tg_null2(p);
      for (int s = 0; s + 1 < reference.N; ++s)
        if (hist[up[s]] == 1 && hist[s] == 0) q10[p][s] += 0.02;
    }
  }
  for (int p = 0; p < model.GG; ++p)
    for (int s = 0; s < model.N; ++s)
      ASSERT_TRUE(SameBits(model.Q10Probs()[p][s], q10[p][s])) << p << " " << s;
  EXPECT_EQ(gsl_rng_uniform(model.RNG), gsl_rng_uniform(reference.RNG));
}

// ---- Proteins without a gain node ----

TEST(NoGainNode, CountsAsUninformativeAndIsNeverUsedAsAnIndex) {
  ORU model = MakeModel(kEightLeaves, RowsFromText({"11101100", "11101100", "01101000"}));
  PreProcessQuietly(model);
  ORUTestAccess::glinks(model)[1] = -1;
  model.PrepNoInfoProteins();
  model.PrepClGlinks();
  EXPECT_TRUE(model.no_info_protein[1]);
  EXPECT_EQ(model.cl_glinks[1], -1);
  for (bool same_gl : {false, true}) {
    model.same_gl = same_gl;
    model.PrepFitnessMatrix("");
    for (int g = 0; g < model.G; ++g) {
      EXPECT_FALSE(model.Fit()[1][g]);
      EXPECT_FALSE(model.Fit()[g][1]);
    }
    if (!same_gl) continue;
    for (const std::vector<int>& cls : model.gl_prots)
      EXPECT_EQ(std::count(cls.begin(), cls.end(), 1), 0);
  }

  // No gain node at all: nothing is drawn and every branch keeps its rate.
  for (int& gl : ORUTestAccess::glinks(model)) gl = -1;
  gsl_rng* before = gsl_rng_clone(model.RNG);
  const std::vector<double> q = ORUTestAccess::EstimateBackgroundLosses(model);
  EXPECT_EQ(gsl_rng_uniform(model.RNG), gsl_rng_uniform(before));
  gsl_rng_free(before);
  for (int n = 0; n + 1 < model.N; ++n) EXPECT_EQ(q[n], ORUTestAccess::ind_lrate(model));
  EXPECT_EQ(q[model.N - 1], 0.0);
  for (const std::vector<double>& row : model.Q10Probs())
    for (double v : row) EXPECT_EQ(v, 0.0);
}

// ---- Offered operations ----

TEST(OfferedOperations, RunsSeparateLossesAndGenesOutsideModules) {
  ORU model = MakeModel(kEightLeaves, RowsFromText({"11101100", "11011100", "00111100"}));
  PreProcessQuietly(model);
  EXPECT_EQ(model.CountRun({true, true, false, true, false, false, false, true}), 4);
  EXPECT_EQ(model.CountRun(std::vector<bool>(8, true)), 0);

  auto& q10 = ORUTestAccess::q10(model);
  for (std::vector<double>& row : q10) std::fill(row.begin(), row.end(), 0.5);
  // Node 9 (3 nodes) and node 10 (7 nodes) count; leaf 2 does not, nor node
  // 14, where one share is exactly 0.5.
  q10[0][9] = 0.9;
  q10[1][9] = 0.2;
  q10[0][10] = 0.3;
  q10[1][10] = 0.7;
  q10[0][2] = 0.9;
  q10[1][2] = 0.1;
  q10[0][14] = 0.9;
  EXPECT_EQ(model.CountSepLosses(0, 1), 2);
  EXPECT_EQ(model.CountSepLosses(1, 0), 2);

  Group grp;
  grp.proteins = {1};
  model.groups = {grp};
  EXPECT_EQ(model.FindNullProteins(), (std::vector<int>{0, 2}));
}
