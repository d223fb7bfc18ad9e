#include "app/params.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>

#include "input/utils.h"

time_t start_time = 0;

std::string params_path = "params.txt";
std::string expid;
std::string expid2;
int num_trees = -1;
std::string phytree_path;
std::string profile_path;
std::string complex_path;
std::string paralog_path;
std::string pfamdom_path;
std::string filter_path;
std::string output_path;
double alpha = 1.0;
int pred_num_min = 50;
int pred_num_max = 200;
double LLR_th = 0.0;
double filter_LLR = 10.0;
int sgl_grp = 0;
int sort_method = 0;
int pred = 1;
int noclust = 0;
bool same_gl = false;
int seed = 0;
int num_tries = 5;
int num_burn = 0;
int num_mcmc = 0;
int num_thin = 1;
double T0 = 1.0;
double P00 = 0.99;
double prep_lrate = 0.03;

namespace {

// Standard stream extraction: the number at the start of the token, 0 when
// there is none, the nearest limit when it is out of range.
template <typename T>
T Extract(const std::string& token) {
  T value{};
  std::istringstream in(token);
  in >> value;
  return value;
}

typedef std::function<void(const std::string&)> Setter;

const std::map<std::string, Setter>& Setters() {
  static const std::map<std::string, Setter> setters = {
      {"PHYTREE_FILE", [](const std::string& v) { phytree_path = v; }},
      {"PROFILE_FILE", [](const std::string& v) { profile_path = v; }},
      {"GENESET_FILE", [](const std::string& v) { complex_path = v; }},
      {"COMPLEX_FILE", [](const std::string& v) { complex_path = v; }},
      {"PARALOG_FILE", [](const std::string& v) { paralog_path = v; }},
      {"HOMOLOG_FILE", [](const std::string& v) { paralog_path = v; }},
      {"PFAMDOM_FILE", [](const std::string& v) { pfamdom_path = v; }},
      {"FILTER_FILE", [](const std::string& v) { filter_path = v; }},
      {"RESULT_PREFIX", [](const std::string& v) { output_path = v; }},
      {"DATASET_NAME", [](const std::string&) {}},
      {"ALPHA", [](const std::string& v) { alpha = Extract<double>(v); }},
      {"PRED_NUM_MIN", [](const std::string& v) { pred_num_min = Extract<int>(v); }},
      {"PRED_NUM_MAX", [](const std::string& v) { pred_num_max = Extract<int>(v); }},
      {"LLR_THRESHOLD", [](const std::string& v) { LLR_th = Extract<double>(v); }},
      {"FILTER_LLR", [](const std::string& v) { filter_LLR = Extract<double>(v); }},
      {"SGLGRP", [](const std::string& v) { sgl_grp = Extract<int>(v); }},
      {"SORT", [](const std::string& v) { sort_method = Extract<int>(v); }},
      {"PREDICT", [](const std::string& v) { pred = Extract<int>(v); }},
      {"NOCLUST", [](const std::string& v) { noclust = Extract<int>(v); }},
      // A bool written as an integer: any non-zero number sets it (reading it
      // as a long keeps values other than 0 and 1 from failing the read).
      {"SAME_GL", [](const std::string& v) { same_gl = Extract<long>(v) != 0; }},
      {"SEED", [](const std::string& v) { seed = Extract<int>(v); }},
      {"TRIES", [](const std::string& v) { num_tries = Extract<int>(v); }},
      {"BURNIN", [](const std::string& v) { num_burn = Extract<int>(v); }},
      {"MCMC", [](const std::string& v) { num_mcmc = Extract<int>(v); }},
      {"THIN", [](const std::string& v) { num_thin = Extract<int>(v); }},
      {"SA_T0", [](const std::string& v) { T0 = Extract<double>(v); }},
      {"ERROR_RATE", [](const std::string& v) { P00 = 1.0 - Extract<double>(v); }},
      {"PREP_LRATE", [](const std::string& v) { prep_lrate = Extract<double>(v); }},
  };
  return setters;
}

void ReadParamsLine(const std::string& line) {
  std::istringstream tokens(line);
  std::string key, value;
  if (!(tokens >> key >> value)) return;
  auto it = Setters().find(key);
  if (it != Setters().end()) it->second(value);
}

// A log of 0 or of a negative number would turn every likelihood into NaN.
void CheckProbabilities() {
  if (!(P00 > 0.0 && P00 < 1.0)) Fail("Error. ERROR_RATE must be above 0 and below 1.");
  if (!(prep_lrate > 0.0 && prep_lrate < 1.0))
    Fail("Error. PREP_LRATE must be above 0 and below 1.");
}

// Reads an all-digit text as an int; false when it does not fit.
bool DigitsToInt(const std::string& digits, int& out) {
  long long value = 0;
  for (char ch : digits) {
    value = value * 10 + (ch - '0');
    if (value > INT_MAX) return false;
  }
  out = static_cast<int>(value);
  return true;
}

}  // namespace

void Fail(const std::string& message) {
  std::cerr << message << std::endl;
  exit(1);
}

void LoadParams(int argc, char** argv) {
  std::cout << "Loading input data and running parameters......" << std::endl;
  params_path = argc < 2 ? "params.txt" : argv[1];
  if (argc >= 3) expid = strutils::trim(argv[2], " \t\n");
  if (argc >= 4) expid2 = strutils::trim(argv[3], " \t\n");

  std::ifstream in;
  if (!fileutils::OpenForReading(in, params_path)) {
    std::cerr << "Cannot open the parameters file: " << params_path << std::endl;
    exit(1);
  }
  std::string line;
  while (std::getline(in, line)) ReadParamsLine(line);

  const std::string path_chars = " \"\t\n";
  for (std::string* path : {&phytree_path, &profile_path, &output_path, &complex_path,
                            &paralog_path, &pfamdom_path, &filter_path})
    *path = strutils::trim(*path, path_chars);
  in.close();
  CheckProbabilities();
}

void InitParams(int G) {
  if (num_burn <= 0) num_burn = 600;
  if (num_mcmc <= 0) num_mcmc = 400;
  if (num_thin <= 0) num_thin = 1;
  if (G <= 2) sgl_grp = 1;
}

void DispParams(PhyloProf profile, int seed) {
  double mean_size = 0;
  for (int c = 0; c < profile.C; ++c)
    mean_size += static_cast<double>(profile.proteins_for_complexes[c].size()) / profile.C;
  std::cout << "  # Genes = " << profile.G << " (" << profile.CG << ")"
            << ". # Species = " << profile.S << ". # Gene sets = " << profile.C
            << ". Mean gene set size = " << mean_size << "." << std::endl;
  std::cout << "  # Burn-ins = " << num_burn << ". # MCMC Updates = " << num_mcmc
            << ". DP alpha = " << alpha << ". Starting T of SA = " << T0
            << ". LLR THRE = " << LLR_th << ". RND SEED = " << seed << "." << std::endl
            << std::endl;
}

void ApplyTreeCountRule() {
  if (!numutils::is_number(expid2)) {
    std::cerr << "No number of trees specified. Running KOLVE analysis on single tree" << std::endl
              << std::endl;
    num_trees = -1;
    return;
  }
  if (!DigitsToInt(expid2, num_trees))
    Fail("Error. The number of trees " + expid2 + " is too large.");
}

int GeneSetIndex(int C) {
  if (!numutils::is_number(expid)) {
    std::cerr << "No gene set ID specified. Running KOLVE analysis on all genes in the input gene "
                 "set file..."
              << std::endl
              << std::endl;
    return -1;
  }
  int id = 0;
  if (!DigitsToInt(expid, id) || id - 1 > C)
    Fail("Error. The gene set ID " + expid + " names no gene set (there are " +
         std::to_string(C) + ").");
  int expid_num = id - 1;
  return expid_num == C ? -1 : expid_num;
}

std::string OutputName() {
  std::string name = output_path;
  if (!expid.empty()) name += "_" + expid;
  if (!expid2.empty()) name += "_" + expid2;
  return name;
}
