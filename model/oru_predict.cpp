#include <cmath>
#include <cstdint>
#include <iostream>
#include <map>
#include <utility>

#include "input/utils.h"
#include "model/oru.h"

bool CompCandidates(const Candidate& a, const Candidate& b) { return a.llr > b.llr; }

namespace {

// Orders the three prediction lists together by LLR, highest first, by the
// exchange rule (equal LLRs never swap). Passes past `cap` only touch
// positions that the cap removes, so they are skipped.
void ExchangeSortPredictions(Group& rec, size_t cap) {
  const size_t n = rec.pred_llratios.size();
  for (size_t i = 0; i < n && i < cap; ++i)
    for (size_t j = i + 1; j < n; ++j) {
      if (!(rec.pred_llratios[j] > rec.pred_llratios[i])) continue;
      std::swap(rec.pred_proteins[i], rec.pred_proteins[j]);
      std::swap(rec.pred_llratios[i], rec.pred_llratios[j]);
      std::swap(rec.pred_deviance[i], rec.pred_deviance[j]);
    }
}

void PrintProgress(int k) {
  if (k % 10 == 0)
    std::cout << "\n  ECM" << k + 1;
  else
    std::cout << "," << numutils::EnoughSpaces(4, k) << "ECM" << k + 1;
}

}  // namespace

bool ORU::QualifiesForPrediction(const Group& rec) const {
  if (rec.proteins.empty()) return false;
  if (rec.proteins.size() < 2 && sgl_grp == 0) return false;
  return !no_info_protein[rec.proteins[0]];
}

int ORU::NullGainNode(int p, int module_glink) const {
  const int own = glinks[p];
  if (!InSubtree(module_glink, own) && InSubtree(own, module_glink)) return module_glink;
  return own;
}

void ORU::PredictProteins(int /*PRED_PROT_NUM_MIN*/, int PRED_PROT_NUM_MAX) {
  // The minimum count cannot add a gene: every candidate already reaches LLR_th.
  std::vector<bool> clustered(GG, false);
  for (int p : cur_proteins) clustered[p] = true;

  std::cout << "Calculating the LLR scores for all genes by the HMMs:  ";
  if (groups.empty()) {
    std::cout << std::endl;
    return;
  }

  // The background value depends only on the protein and the gain node the
  // pass runs from, so it is shared by every record that selects that node.
  std::vector<double> null_own(GG, NAN);
  std::map<int, std::vector<double>> null_at_node;
  std::vector<double> pred_loglik(GG), llr(GG);
  const size_t cap = PRED_PROT_NUM_MAX >= 0 ? static_cast<size_t>(PRED_PROT_NUM_MAX) : SIZE_MAX;

  for (size_t k = 0; k < groups.size(); ++k) {
    PrintProgress(static_cast<int>(k));
    Group& rec = groups[k];
    if (!QualifiesForPrediction(rec)) continue;
    std::cout << std::flush;

    for (int g = 0; g < GG; ++g) {
      if (no_info_protein[g]) {
        llr[g] = -1000000.0;
        continue;
      }
      pred_loglik[g] = log_f_Xg_pred(g, static_cast<int>(k));
      const int gl = NullGainNode(g, rec.glink);
      double* memo = nullptr;
      if (gl == glinks[g]) {
        memo = &null_own[g];
      } else {
        std::vector<double>& row = null_at_node[gl];
        if (row.empty()) row.assign(GG, NAN);
        memo = &row[g];
      }
      if (std::isnan(*memo)) *memo = log_f_Xg_null(g, static_cast<int>(k));
      llr[g] = 2 * (pred_loglik[g] - *memo);
    }

    std::vector<bool> member(GG, false);
    for (int p : rec.proteins) member[p] = true;
    std::vector<Candidate> candidates;
    for (int g = 0; g < GG; ++g)
      if (!member[g] && llr[g] >= LLR_th) candidates.push_back(Candidate{clustered[g], g, llr[g]});

    // Every candidate is predicted; the lists are ordered by LLR below, so the
    // candidates are taken in ascending protein order as they were collected.
    for (const Candidate& cand : candidates) {
      rec.pred_proteins.push_back(cand.protein);
      rec.pred_llratios.push_back(cand.llr);
      rec.pred_deviance.push_back(-2 * pred_loglik[cand.protein]);
    }
    ExchangeSortPredictions(rec, cap);
    if (rec.pred_proteins.size() > cap) {
      rec.pred_proteins.resize(cap);
      rec.pred_llratios.resize(cap);
      rec.pred_deviance.resize(cap);
    }
    rec.num_preds = 0;
    for (double v : rec.pred_llratios)
      if (v > 20.0) ++rec.num_preds;
  }
  std::cout << std::endl;
}
