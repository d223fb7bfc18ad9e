#pragma once

#include <string>
#include <vector>

#include "model/oru.h"

void ClusterProteinInComplexTree(int chain_id, std::vector<ORU>& orut,
                                 std::vector<std::vector<int>>& max_I_k_tree, int& max_id_tree,
                                 std::vector<double>& marloglik_trees, double& max_marloglik_tree);
void MonitorChainTree(std::vector<ORU>& orut, std::vector<std::vector<int>>& max_I_k_tree,
                      int& max_id_tree, double& max_marloglik_tree, int id_tree_cur,
                      std::vector<double>& logpp_trees_cur, std::vector<double>& marloglik_trees);
int SampleTree(std::vector<ORU>& orut, int id_tree_cur, std::vector<double>& logpp_trees_cur);
double logfactorial(int n);
void PostProcessTree(std::vector<ORU>& orut, std::vector<std::vector<int>>& max_I_k_tree,
                     int& max_id_tree, std::vector<double>& marloglik_trees);
int combineORUTreeCluster(std::vector<ORU>& orut, std::vector<std::vector<int>>& max_I_k_tree,
                          double& max_marlik_tree, std::vector<double>& marloglik_trees);
void predictProteinORUTree(std::vector<ORU>& orut, int max_id, std::vector<double>& marlik_trees,
                           int PRED_PROT_NUM_MIN, int PRED_PROT_NUM_MAX);

// A sum of exponentials kept in scaled form: the sum itself is
// exp(log(total) + shift).
struct ExpSum {
  double total;
  double shift;
};

// Sum over i, in index order, of exp(x[i] - shift) * exp(log_w[i]) (no weight
// when log_w is empty). The terms are formed as written while every one of
// them is finite and their total is positive and finite; otherwise the sum is
// re-scaled by its largest term, so likelihoods that differ by thousands of
// nats between trees neither overflow nor vanish.
ExpSum SumShiftedExp(const std::vector<double>& x, double shift,
                     const std::vector<double>& log_w = std::vector<double>());

// How the tree mean divides by the tree count: (1/T) x sum, or sum / T. Both
// orders occur, and they can round differently.
enum class MeanBy { kInverseCount, kDivision };

// log of the mean of exp(x[i]), formed as log(mean of exp(x[i] - shift)) +
// shift through SumShiftedExp.
double LogMeanExp(const std::vector<double>& x, double shift = 0.0,
                  MeanBy by = MeanBy::kInverseCount);

// A gene without loss information on the model's tree may sit in a module
// built on another tree. Before its move it leaves that module the way the
// singleton clean-up takes genes out: counts updated, the module deleted when
// it empties, its history kept. Nothing happens to any other gene.
void LeaveModuleWithoutInfo(ORU& o, int g);

// Empty when every model clusters the same genes of the same profile rows over
// the same species as model 0; otherwise a one-line description of the first
// disagreement. The joint chain moves genes between models by gene index.
std::string FindModelMismatch(const std::vector<ORU>& orut);
