#include <ctime>
#include <iomanip>
#include <iostream>

#include "app/params.h"
#include "app/run.h"

int main(int argc, char** argv) {
  start_time = time(nullptr);
  std::cout << std::fixed << std::setprecision(2);
  LoadParams(argc, argv);
  ApplyTreeCountRule();
  if (num_trees > 1) return RunMultiTree();
  return RunSingleTree();
}
