#pragma once

#include <gsl/gsl_rng.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "input/newick.h"
#include "input/profile.h"
#include "model/figures.h"
#include "model/owned_rng.h"

// Background histories drawn per protein during preprocessing.
const int PREP_MM = 50;

struct Candidate {
  bool in_complex = false;
  int protein = 0;
  double llr = 0;
};

bool CompCandidates(const Candidate& a, const Candidate& b);

// log P(observed bit | state), indexed [observed][state].
typedef std::array<std::array<double, 2>, 2> ObsTerms;

class ORU {
  // Unit tests and benchmarks inspect and prepare private state through it.
  friend struct ORUTestAccess;

 private:
  int c;
  int S;
  double T0;
  double PO;
  double P00;
  std::vector<std::string> species_names;
  PhyloProf prof;
  std::vector<std::vector<bool>> XX;
  std::vector<std::vector<bool>> X;
  std::vector<int> prof_sum;
  std::vector<std::array<int, 2>> children;
  std::vector<std::vector<int>> child_index;
  std::vector<int> offsps;
  std::vector<std::vector<int>> offlinks;
  std::vector<std::vector<char>> Tgg;
  std::vector<std::vector<double>> tcounts;
  double ind_lrate;
  std::vector<TransMatrix> TM_Int;
  std::vector<TransMatrix> TM_null;
  bool explore = false;
  std::vector<std::vector<bool>> fit;
  std::vector<std::array<double, 2>> pi_from_parent;
  std::vector<std::array<std::array<double, 2>, 2>> lambda_from_children;
  std::vector<std::array<double, 2>> lambda;
  std::vector<std::array<double, 2>> pi;
  std::vector<std::array<double, 2>> lambda_from_self;
  // Per node, kept by UpwardPassForDraws: chance of drawing it absent under a present parent.
  std::vector<double> absent_under_present;
  std::map<std::string, double> mar_log_lik_siz;
  std::vector<double> trace_loglik;
  // Full snapshots of Tg per trace sweep; filled only when keep_trace is set
  // (the run streams the snapshots into trace_acc instead, see DrawTraceTg).
  std::vector<std::vector<std::vector<char>>> trace_Tg;
  std::vector<std::vector<double>> q10_probs;  // rows of the clustered proteins only; others empty
  std::vector<std::vector<std::vector<int>>> pm_I_k;
  std::vector<std::vector<double>> pm_trace_loglik;
  double pppm_lik = 0;
  std::vector<std::vector<std::vector<int>>> ppm_I_k;
  std::vector<std::vector<double>> ppm_trace_loglik;
  std::vector<int> glinks;
  std::vector<std::vector<bool>> in_hist;
  uint64_t seed = 0;
  std::string mldb_path;
  // Of the inputs the cached estimates depend on; names the files this model
  // writes and picks the ones it reads.
  std::string mldb_fingerprint;
  std::string CacheFingerprint() const;

  // Members kept with the model that no decision of the run reads.
  std::vector<bool> is_cur_proteins;
  double alpha = 1.0;
  std::vector<std::string> species_names_tree;
  int num_samp = 0;
  std::vector<double> distances;
  std::vector<double> Tg_probs;
  std::vector<std::vector<char>> mode_Tg;
  std::vector<int> null_group;
  std::vector<int> cur_ps;
  double filter_LLR = 0;

  // ---- Flat tree layout for the hot loops ----
  // The subtree of node n is the contiguous leaf range [leaf_lo[n], leaf_hi[n]]
  // plus the contiguous internal-node range [int_lo[n], n] (empty for a leaf).
  std::vector<int> leaf_lo, leaf_hi, int_lo;
  std::vector<int> slot;  // child slot of each node under its parent
  // log of row 1 of TM_null per node: {log q, log(1 - q)}.
  std::vector<std::array<double, 2>> log_tm_null;

  // ---- Streaming accumulators of the history trace (one per module) ----
  struct TraceAcc {
    std::vector<double> mq, mp, ma, n10, n1;
    long long mismatches = 0;
  };
  std::vector<TraceAcc> trace_acc;
  int trace_samples = 0;
  // The trace's partition is fixed and a redraw changes a history only inside
  // the gene's gain subtree, so each module's summary counts are kept in step
  // with Tg instead of recounted per sample (the module rows of the redraws
  // come from the sweep counts).
  struct TraceModule {
    int n = 0;                      // members
    std::vector<int> c10, c11, d1;  // every member, every node
    long long mismatches = 0;
    std::vector<double> mq, mp, ma, n10, n1;  // this sample's term of each summary
    std::vector<int> live;  // nodes inside some member's gain subtree; the rest keep their terms
  };
  std::vector<TraceModule> trace_modules;
  std::vector<char> trace_before;  // RedrawTraceHistory only
  // One summary term by its integer counts, for one member count n:
  // mq by lost * (n + 1) + kept, per_member (n10, n1) by lost or crossed, mp/ma by present.
  struct TraceTerms {
    std::vector<double> mq, per_member, mp, ma;
  };
  std::vector<TraceTerms> trace_terms;  // by member count; empty mq until needed

  // log of row 1 of TM_Int per node, kept in step with the rows that
  // WriteModuleRow writes (a background gene samples with log_tm_null).
  std::vector<std::array<double, 2>> log_tm_int;
  // Everything a leaf's pass and draw need that depends only on the leaf's
  // loss row and observed bit, so a cached entry replaces the exp/log calls.
  struct LeafEntry {
    std::array<double, 2> up;                 // row-1 message to the parent, by observed bit
    std::array<std::array<double, 2>, 2> pi;  // log prior by parent state, then state
    std::array<std::array<double, 2>, 2> p0;  // chance of drawing absent, by parent state, then bit
  };
  // Log rows and leaf entries a history is sampled with.
  typedef std::pair<const std::array<double, 2>*, const LeafEntry*> SamplingRows;
  // Module loss row by (lost, kept) counts, computed once per pair:
  // q = (lost + 0.0045) / (lost + kept + 0.15); leaf terms under PO/P00.
  struct ModuleQ {
    double q, one_minus_q;
    std::array<double, 2> log_q;
    LeafEntry leaf;
  };
  std::vector<ModuleQ> module_q_memo;
  std::vector<char> module_q_known;
  int module_q_stride = 0;
  struct CoveringMember {
    const char* history;
    bool above;  // gained strictly above the scored gene's gain node
  };
  std::vector<CoveringMember> covering_members;  // RebuildModuleTm only
  std::vector<int> lost_counts, kept_counts;  // per node
  // Visits the subtree of n (its top n only with with_top): leaves, then
  // internal nodes upward; nothing when n is -1 (no gain node).
  template <typename F>
  void ForSubtree(int n, bool with_top, F f) const {
    if (n < 0) return;
    for (int s = leaf_lo[n]; s <= leaf_hi[n]; ++s)
      if (s != n || with_top) f(s);
    for (int s = int_lo[n]; s < n; ++s) f(s);
    if (n >= S && with_top) f(n);
  }
  // Adds times history h's loss (to lost) or retention (to kept) on the branch above s.
  void AddCrossing(const char* h, int s, int times, int& lost, int& kept) const {
    int crossed = h[parent[s]] != 0, present = h[s] != 0;
    kept += times * (crossed & present);
    lost += times * (crossed & (present ^ 1));
  }
  // ---- Module counts of a chain sweep ----
  // Per module listed in I_k, per branch s: the losses and retentions over
  // every listing m whose gain subtree holds parent[s], in Tg. These are
  // RebuildModuleTm's counts before the scored gene's own share is left out.
  // Between BeginSweepCounts and EndSweepCounts, Update_Tg, Update_Ig,
  // DeleteModule and CleanSingleton keep them in step; nothing else may edit
  // I_k or Tg then.
  struct ModuleCounts {
    std::vector<int> lost, kept;
  };
  std::vector<ModuleCounts> sweep_counts;
  ModuleCounts NoModuleCounts() const { return {std::vector<int>(N, 0), std::vector<int>(N, 0)}; }
  bool sweep_counting = false;
  void TallyMember(ModuleCounts& counts, int g, int times);
  // Adds times g's share to module k's counts when a sweep keeps them.
  void TallyListing(int k, int g, int times) {
    if (sweep_counting) TallyMember(sweep_counts[k], g, times);
  }
  // Adds sign times g's share to its module's counts, once per listing (a
  // gene is listed in no module but I_f[g]).
  void TallyOwnModule(int g, int sign);
  int TimesListed(int g, int k) const;
  // RebuildModuleTm's rows for g and module k, from the sweep's counts.
  void WriteCountedRows(int g, int k, bool count_self);
  // The rows of g against module k's members' histories (taken from the
  // sweep's counts when they are of these histories).
  void WriteModuleRows(int g, int k, const std::vector<std::vector<char>>& histories, bool count_self);
  ModuleQ empty_module_row{};  // the literal {0.03, 0.97} of an empty member list
  // Leaf entries of the TM_Int rows written by the module rebuilds, and of
  // TM_null under the model's terms, the 0.005 terms, and the gain-search terms.
  std::vector<LeafEntry> leaves_int, leaves_null_model, leaves_null_gain, leaves_null_search;
  ObsTerms model_obs{};
  // Work arrays of log_f_Xg(g, l), which must leave the model's own untouched.
  std::vector<std::array<double, 2>> scratch_self, scratch_lambda, scratch_log_q;
  std::vector<double> scratch_losses;  // the losses scratch_log_q was taken from
  std::vector<LeafEntry> scratch_leaves;
  std::vector<std::array<std::array<double, 2>, 2>> scratch_children;
  // log of row 1 of each module record's TM, with the TM it was taken from.
  std::vector<std::vector<TransMatrix>> pred_tm_seen;
  std::vector<std::vector<std::array<double, 2>>> pred_log_tm;
  // Gain-node search terms: 0.005 error, and 1e-7 for species 0, which is
  // observed only when species_names[0] is exactly "Prokaryotes".
  ObsTerms gain_obs{}, gain_obs0{};
  bool species0_in_gain_search = false;

  struct PassArrays {
    std::array<double, 2>* self;
    std::array<std::array<double, 2>, 2>* children;
    std::array<double, 2>* lambda;
  };

  void BuildSubtreeRanges();
  void CheckBinaryTree() const;
  // Retakes log_tm_null and the leaves_null_* entries; must be called
  // whenever TM_null is rewritten.
  void RefreshLogTmNull();
  ObsTerms ModelObsTerms() const;
  static ObsTerms SymmetricObsTerms(double agree, double disagree);
  // terms null: the leaf carries no observation.
  static std::array<double, 2> LeafUp(const std::array<double, 2>& log_q, const ObsTerms* terms);
  static LeafEntry MakeLeafEntry(const std::array<double, 2>& log_q, const ObsTerms* terms);
  std::vector<LeafEntry> NullLeafEntries(const ObsTerms& obs, const ObsTerms* obs0) const;
  bool InSubtree(int n, int m) const;
  // Upward pruning pass over the subtree of gl; returns lambda[gl][1].
  // log_q holds {log q, log(1 - q)} per node; obs0 (may be null) gives the
  // observation terms of species 0, which is unobserved when obs0 is null.
  // Fills lambda for every node of the subtree, whatever gl is, so one pass
  // at the root gives every candidate gain node's pass result.
  // A gain node of -1 (none found) is an empty subtree: result 0, no draws.
  // leaves (may be null) must hold the entries of the same log_q and terms,
  // e.g. leaves_null_search with log_tm_null and the gain-search terms.
  double UpwardPass(const std::vector<bool>& row, int gl, const std::array<double, 2>* log_q,
                    const ObsTerms& obs, const ObsTerms* obs0, const LeafEntry* leaves = nullptr);
  double UpwardPassOn(const PassArrays& work, const std::vector<bool>& row, int gl,
                      const std::array<double, 2>* log_q, const ObsTerms& obs, const ObsTerms* obs0,
                      const LeafEntry* leaves) const;
  template <typename Message>
  double UpwardPassWith(const PassArrays& work, const std::vector<bool>& row, int gl, const ObsTerms& obs,
                        const ObsTerms* obs0, const LeafEntry* leaves, Message message) const;
  // UpwardPass that also keeps, per non-leaf-entry node below gl, the chance
  // SampleDown draws it absent under a present parent (absent_under_present).
  void UpwardPassForDraws(const std::vector<bool>& row, int gl, const std::array<double, 2>* log_q,
                          const ObsTerms& obs, const ObsTerms* obs0, const LeafEntry* leaves);
  // Adds, one at a time in ascending species order, log P(observed | absent)
  // of every species outside the subtree of gl (species 0 only with obs0).
  double AddOutsideTerms(double value, const std::vector<bool>& row, int gl, const ObsTerms& obs,
                         const ObsTerms* obs0) const;
  // The reference stays valid until the next call (the memo may grow).
  const ModuleQ& ModuleLossRow(int lost, int kept) {
    if (lost >= module_q_stride || kept >= module_q_stride) GrowModuleRows(std::max(lost, kept) + 1);
    size_t at = (size_t)lost * module_q_stride + kept;
    if (!module_q_known[at]) FillModuleRow(at, lost, kept);
    return module_q_memo[at];
  }
  void GrowModuleRows(int needed);
  void FillModuleRow(size_t at, int lost, int kept);
  ModuleQ ModuleRow(double q, double one_minus_q) const;
  // Writes TM_Int[s], log_tm_int[s] and, for a leaf, leaves_int[s], so a pass
  // may use log_tm_int with leaves_int under the model's terms.
  void WriteModuleRow(int s, const ModuleQ& r) {
    TM_Int[s] = {{{{1.0, 0.0}}, {{r.q, r.one_minus_q}}}};
    log_tm_int[s] = r.log_q;
    if (s < S) leaves_int[s] = r.leaf;
  }
  // Module rows for sampling: TM_null for a background gene, the literal
  // {0.03, 0.97} for an empty member list, else RebuildModuleTm. Returns the
  // log rows and leaf entries to sample with.
  SamplingRows SetSamplingTm(int g, const std::vector<std::vector<char>>& histories, bool count_self);
  // Rewrites TM_Int (and log_tm_int) inside the subtree of cl_glinks[g] from
  // the histories of the members; g's own history counts only with count_self.
  void RebuildModuleTm(int g, const std::vector<int>& members,
                       const std::vector<std::vector<char>>& histories, bool count_self);
  const std::array<double, 2>* GroupLogTm(int k);
  // Backward sampling below gl after an UpwardPassForDraws; writes H inside the subtree.
  template <typename Draw>
  void SampleDown(const std::vector<bool>& row, int gl, const std::array<double, 2>* log_q,
                  const LeafEntry* leaves, char* H, Draw draw);
  // count background histories of protein p from one filtering pass, drawn
  // exactly as count successive Update_Tg_null2(p) calls would draw them;
  // out holds them one after the other, N entries each, 0 outside the subtree.
  void SampleNullHistories(int p, int count, std::vector<char>& out);
  // Filtering pass and backward draw of gene g's history into H under the given rows.
  void DrawGeneHistory(int g, SamplingRows rows, char* H, gsl_rng* rng);
  // Takes every module's counts, terms and live nodes from Tg and I_k.
  void StartTraceCounts();
  const TraceTerms& TermsForMembers(int n);
  void CountTraceNode(TraceModule& tm, int g, const char* h, int s, int sign);
  void SetTraceTerms(TraceModule& tm, int s);
  // Moves the counts and terms of every module listing g from g's history
  // before a redraw to its current one, at the nodes where they differ.
  void TallyTraceChange(int g, const char* before);
  void RedrawTraceHistory(int g);
  // Adds this sample's terms of the live nodes to the accumulators.
  void AccumulateTraceSample();
  // Gives every node outside the live lists its steady term summed over count samples.
  void AddSteadyTerms(int count);

  // ---- Posterior processing, prediction, ordering and reports ----
  void ReportMergedPartition();
  double ModuleStrength(int k);
  bool QualifiesForPrediction(const Group& rec) const;
  // Gain node that log_f_Xg_null runs from for protein p and a module gained at module_glink.
  int NullGainNode(int p, int module_glink) const;
  // Paralog family number of every entry of a list of protein ids, -1 for none.
  std::vector<int> ParalogFamilyIds(const std::vector<int>& ids) const;
  static std::vector<bool> GreyedEntries(const std::vector<int>& family_ids);
  double PresenceScore(const Group& rec) const;
  void WriteResultRow(std::ostream& out, size_t position, const Group& rec, int protein, bool predicted,
                      size_t entry, double llr) const;
  struct PairShares {
    std::vector<double> set, ecm, ep;
  };
  typedef int (ORU::*PairCounter)(std::vector<int>);
  int NumGeneSets() const;
  bool IsGeneSet(int set) const;
  std::vector<int> UniqueGenesPerSet() const;
  PairShares SharesPerSet(const std::vector<Group>& groups, PairCounter count);
  void WritePairShares(const std::vector<Group>& groups, const std::string& file,
                       const std::string& header, PairCounter count);

  // ---- Preprocessing ----
  void FillSubtreeMembership();
  // Work space of the gain-node search, reused from protein to protein.
  struct GainSearch {
    std::vector<double> outside;          // per species, its term outside a candidate's subtree
    std::vector<long double> prefix;      // prefix[s]: the counted terms of species below s
    long double outside_abs = 0.0L;       // sum of the terms' magnitudes
    std::vector<int> run_end;             // last species of the run of equal terms holding s
    std::vector<long double> estimate, error;  // per candidate node
    std::vector<int> first_of_size;       // per leaf count, the first candidate scored literally
  };
  // The gain node InferGainLink defines, found without summing the outside
  // terms of every candidate: cheap prefix-sum estimates with a rigorous
  // rounding bound (scaled by error_scale) rule out the candidates that cannot
  // win, and only the others are scored literally.
  int BestGainNode(int p, GainSearch& w, long double error_scale = 1.0L);
  void PrepareOutsideTerms(const std::vector<bool>& row, GainSearch& w) const;
  // Bound on |literal score - estimate| for a candidate whose subtree value is
  // subtree and whose outside terms have magnitudes summing at most to outside_abs.
  long double GainScoreErrorBound(long double subtree, long double outside_abs) const;
  // True when the literal score of n equals that of an earlier candidate
  // already scored: same subtree value and the same sequence of outside terms.
  bool RepeatsEarlierScore(int n, const GainSearch& w) const;
  // Draws the background histories, fills q10_probs and returns the pooled
  // loss probability of every branch.
  std::vector<double> EstimateBackgroundLosses();
  void TallyBackgroundHistory(int p, const char* h, std::vector<long long>& crossed,
                              std::vector<long long>& lost);
  void SetBackgroundModel(const std::vector<double>& q);
  void PrintBackgroundModel(const std::vector<double>& q) const;
  bool Compatible(int g1, int g2);
  int CountMismatches(int g1, int g2) const;

  // ---- Module sampler and marginal-likelihood internals ----
  // Loss and retention counts per branch over the members' Tgg rows inside
  // log_f_Xk, packed as lost * xk_stride + kept: parent present, crossing
  // members only.
  std::vector<int> xk_counts;
  // One member's filtering pass inside log_f_Xk, kept between its draws:
  // only nodes whose loss rows changed since its last draw, and their
  // ancestors, are recomputed. row_key holds the packed counts each of its
  // rows was taken from (-1: not yet).
  struct MemberPass {
    std::vector<std::array<double, 2>> lambda;
    std::vector<std::array<std::array<double, 2>, 2>> from_children;
    std::vector<int> row_key;
    std::vector<std::array<double, 2>> absent;  // chance of drawing absent, by parent's state
    std::vector<int> crossing;                  // its own history's packed count, per branch
  };
  std::vector<MemberPass> xk_passes;  // by member position
  std::vector<char> xk_stale;         // work: lambda of the node must be recomputed
  int xk_stride = 1;
  // The memo's row of each packed count, looked up once per estimate; valid
  // while the memo does not grow, which log_f_Xk rules out before the draws.
  std::vector<const ModuleQ*> xk_rows;
  const ModuleQ& PackedLossRow(int packed) {
    const ModuleQ*& row = xk_rows[packed];
    if (!row) row = &ModuleLossRow(packed / xk_stride, packed % xk_stride);
    return *row;
  }
  void DrawModuleHistory(int j, int g, gsl_rng* rng);
  void RefreshMemberPass(MemberPass& pass, int g, int gl);
  void SumChildMessages(MemberPass& pass, int c);
  void DrawFromPass(MemberPass& pass, int g, int gl, gsl_rng* rng);
  // Chib's identity from the summed likelihood and prior terms and the M
  // per-sample posterior terms c.
  double ChibEstimate(int M, double sum_lik, double sum_prior, std::vector<double>& c);
  void RunClassChain(int chain_id);
  void PrintChainSummary();
  static double AnnealTemperature(int m, int num_burn, int num_mcmc, double T0);
  int DrawChoice(int choices, double T);
  // Returns whether g was listed (its first listing is removed).
  static bool RemoveFromList(std::vector<int>& list, int g);
  void DeleteModule(int k);
  double ModuleMarLik(int k);

 public:
  int noclust = 0;
  std::vector<int> cur_proteins;
  std::vector<Group> groups;
  int N = 0;
  int cgl = 0;
  int K = 0;
  int G = 0;
  int GG = 0;
  std::vector<std::vector<int>> gl_prots;
  std::vector<int> gl_prot;
  std::vector<int> cl_glinks;
  std::map<std::string, double> mar_log_lik;
  std::map<std::string, double> mar_log_lik_new;
  std::vector<double> log_liks_sgl;
  std::vector<double> log_liks_null;
  std::vector<int> I_f;
  std::vector<std::vector<int>> I_k;
  std::vector<int> parent;
  int sgl_grp = 0;
  std::vector<bool> no_info_protein;
  double LLR_th = 0;
  OwnedRng RNG;
  double mean_K = 0;
  int num_burn = 0;
  int num_mcmc = 0;
  int num_thin = 1;
  int m = 0;
  std::vector<std::vector<char>> Tg;
  std::vector<double> pp;
  std::vector<double> qq;
  std::vector<std::vector<double>> buf_log_liks;
  std::vector<bool> concluded;
  std::vector<int> N_f;
  int N_n = 0;
  bool same_gl = false;
  std::vector<double> pm_lik;
  std::vector<double> ppm_lik;
  std::vector<std::string> protein_names;
  // When set, DrawTraceTg also keeps every snapshot in trace_Tg (FindModeTg
  // needs them); the run leaves it unset so memory stays bounded.
  bool keep_trace = false;

  // ---- Construction and tree arrays ----
  ORU(PhyloProf _prof, PhyloTree _tree, int _c, int _noclust, int _sgl_grp, double _LLR_th,
      double _filter_LLR, int _same_gl, int _seed, double _prep_lrate, double _P00);
  ORU(const ORU& other);
  ORU& operator=(const ORU&) = delete;
  ~ORU();
  std::string GetGroupSig(int k);
  void Rebuild_If();
  void CompProfSum();
  void MatchProfAndTree(PhyloProf& _prof, PhyloTree& _tree);
  void InitPhyloTree(const PhyloTree& tree);
  void CountOffsprings();
  std::vector<std::string> MakeSpeciesNamesString();

  // ---- Likelihoods ----
  static double log_exp_sum(double a, double b);
  double log_exp_sum(std::vector<double>& v, int n);
  double CalcSglLogLik(int g);
  void CalcSglLogLik();
  double CalcNullLogLik(int g);
  void CalcNullLogLik();
  double log_f_Xg(int g, int k);
  double log_f_Xg(int g, std::vector<double>& l);
  double log_f_Xg_null(int p, int k);
  double log_f_Xg_null_gl(int p, int gl);
  double log_f_Xg_pred(int p, int k);
  void RecompBufLogLiks();

  // ---- History samplers ----
  int DrawFromTwo(double a, double b);
  int DrawFromTwo_Xk(double a, double b, gsl_rng* rng);
  void Update_Tg(int g, bool t);
  void Update_Tg_null(int g);
  std::vector<char> Update_Tg_null2(int p);
  void Update_Tg_Xk(int g, gsl_rng* rng);
  void DrawTraceTg();

  // ---- Preprocessing ----
  void PreProcess();
  int InferGainLink(int p);
  void PrepClGlinks();
  void PrepNoInfoProteins();
  void PrepFitnessMatrix(std::string path);
  bool IsFit(int g1, int g2);
  int CountSepLosses(int g1, int g2);
  int CountRun(std::vector<bool> x);
  std::vector<int> FindNullProteins() const;

  // ---- Module marginal likelihood ----
  double log_f_Xk(int k, int M);

  // ---- Chain ----
  void InitMCMC(double _alpha, int _num_burn, int _num_mcmc, int _num_thin, double _T0);
  void ClusterProteinInComplex(int chain_id);
  void PutSameProfileProts(std::vector<int> gl_prot);
  void Update_Ig(int g, int m);
  // A sweep's Update_Tg and Update_Ig calls take the module rows from
  // per-module counts kept in step with Tg and I_k (see sweep_counts).
  // EndSweepCounts returns whether the counts were being kept.
  void BeginSweepCounts();
  bool EndSweepCounts();
  void CleanSingleton();
  void Rebuild_Ik();
  void MonitorChain();
  void GetPosteriorMode();
  int CountProfDiff2(int g1, int g2);

  // ---- Cache ----
  void LoadMarLikDB(std::string params_path, bool explore);
  void SaveMarLikDB();

  // ---- Posterior ----
  void PostProcess();
  void BuildUpGroups();
  void FindGainLink();
  void CalcLLRs();
  void CalcMeanMisMatch();
  std::vector<Group> GetGroups();
  int FindGainLink(std::vector<bool> Xg);
  void FindModeTg();

  // ---- Prediction ----
  void PredictProteins(int PRED_PROT_NUM_MIN, int PRED_PROT_NUM_MAX);

  // ---- Paralog families and ordering ----
  void FindParalogs(std::vector<Group>& groups);
  void SortGroupsUni(std::vector<Group>& groups, int sort_method);
  void SortGroups();
  void SortGroups(std::vector<Group>& groups);
  int CountParalogPairs(std::vector<int> group);
  int CountPFamPairs(std::vector<int> group);

  // ---- Output ----
  // Returns false when the table could not be written completely.
  bool SaveResultsTxt(std::vector<Group>& results, std::string output_path);
  void SaveGroupsBinary(std::string path);
  void OutputSummaryECM(std::vector<Group> groups, std::string output_path);
  void OutputSummary(std::vector<Group> groups, std::string output_path);
  void CalcPercentPFam(std::vector<Group> groups, std::string output_path);
  void CalcPercentParalog(std::vector<Group> groups, std::string output_path);

  // ---- Read access for tests, benchmarks and the multi-tree driver ----
  int NumSpecies() const { return S; }
  const std::vector<int>& GainLinks() const { return glinks; }
  const std::vector<std::vector<bool>>& Fit() const { return fit; }
  const std::vector<std::vector<double>>& Q10Probs() const { return q10_probs; }
  const std::vector<TransMatrix>& TMNull() const { return TM_null; }
  const std::vector<std::vector<bool>>& XXRows() const { return XX; }
  const std::vector<std::string>& SpeciesNames() const { return species_names; }
  const PhyloProf& Prof() const { return prof; }
};
