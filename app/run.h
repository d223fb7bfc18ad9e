#pragma once

#include <string>
#include <vector>

#include "input/profile.h"
#include "model/figures.h"

class ORU;

// The two roads of the driver, chosen by the tree-count rule. Both return the
// process exit status.
int RunSingleTree();
int RunMultiTree();

// The final filter of both roads, keeping the order: drops module records
// without members and sets every strength that is not positive (NaN included)
// to 0.
void FilterGroups(std::vector<Group>& groups);

// Name of tree index's own file in the multi-tree run: path without a final
// ending, then "_", the index and the ending.
std::string PerTreeName(const std::string& path, const std::string& ending, int index);

// Loads the profile at path and the annotation files named by the parameters
// (gene sets always, the optional ones when their path is set).
PhyloProf LoadAnnotatedProfile(const std::string& path);

// "Clustering ..." line of a built model: all genes, or the chosen set.
void PrintClusteringLine(const PhyloProf& profile, const ORU& oru, int expid_num);

// True when bytes exceed the machine's physical memory (false when it is not
// known). Sizes beyond it are refused before they are asked for: the machine
// could not hold them, and a sanitizer would end the run on the request.
bool ExceedsPhysicalMemory(double bytes);

// The checks below end the process with status 1 and one line on standard
// error, before any chain runs.
// BURNIN + MCMC (after the fall-backs) must be countable in an int, and so
// must the 20 history-trace sweeps per MCMC update; the score traces of that
// many sweeps, one per node of each model, must fit in memory.
void RefuseOversizedSweepCounts(int nodes, int models);
// The table must be writable, or creatable in its directory (through
// symbolic links); the message gives the reason.
void RefuseUnwritableTable(const std::string& table_path);
void RefuseEmptySelection(const ORU& oru);
// One line naming the table and the reason, err, that it cannot be written.
void ReportUnwritableTable(const std::string& table_path, int err);
