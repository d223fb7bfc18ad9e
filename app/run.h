#pragma once

#include <string>
#include <vector>

#include "model/figures.h"

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
