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
