#pragma once

#include <array>
#include <string>
#include <vector>

// Probability of a node's state (second index) given its parent's state
// (first index) on the branch above the node.
typedef std::array<std::array<double, 2>, 2> TransMatrix;

struct Group {
  int c = 0;
  std::vector<int> proteins;
  std::vector<bool> concluded;
  std::vector<double> deviance;
  std::vector<double> nulldevs;
  std::vector<double> postprob;
  std::vector<double> llratios;
  int glink = 0;
  std::vector<bool> in_hist;
  std::vector<double> mq;
  std::vector<double> mp;
  std::vector<double> ma;
  std::vector<double> n10;
  std::vector<double> n1;
  std::vector<TransMatrix> TM;
  std::vector<TransMatrix> TM_null;
  std::vector<int> pred_proteins;
  std::vector<double> pred_llratios;
  std::vector<double> pred_deviance;
  int num_preds = 0;
  double mean_dev = 0;
  double mean_llr = 0;
  double strength = 0;
  int usize = 0;
  double umllr = 0;
  int upredsize = 0;
  double mean_ps = 0;
  double mean_mm = 0;
  double mean_nmm = 0;
  std::vector<int> pgroupid;
  std::vector<bool> grey_out;
  std::vector<std::string> enrichments;
};
