#pragma once

#include <ctime>
#include <string>

#include "input/profile.h"

// Taken by main at start-up; the multi-tree run reports the elapsed seconds.
extern time_t start_time;

extern std::string params_path;
extern std::string expid;
extern std::string expid2;
extern int num_trees;
extern std::string phytree_path;
extern std::string profile_path;
extern std::string complex_path;
extern std::string paralog_path;
extern std::string pfamdom_path;
extern std::string filter_path;
extern std::string output_path;
extern double alpha;
extern int pred_num_min;
extern int pred_num_max;
extern double LLR_th;
extern double filter_LLR;
extern int sgl_grp;
extern int sort_method;
extern int pred;
extern int noclust;
extern bool same_gl;
extern int seed;
extern int num_tries;
extern int num_burn;
extern int num_mcmc;
extern int num_thin;
extern double T0;
extern double P00;
extern double prep_lrate;

// Ends the process with status 1 after message on standard error.
void Fail(const std::string& message);
void LoadParams(int argc, char** argv);
void InitParams(int G);
void DispParams(PhyloProf profile, int seed);
// Tree-count rule: sets num_trees from expid2 (notice on standard error when
// it is not a number).
void ApplyTreeCountRule();
// Gene-set rule: the 0-based set index for a profile with C gene sets, -1 for
// all sets; ends the process on an id that names no set.
int GeneSetIndex(int C);
// output_path + "_" + expid (when given) + "_" + expid2 (when given).
std::string OutputName();
