#include <csignal>
#include <ctime>
#include <exception>
#include <iomanip>
#include <iostream>
#include <new>

#include "app/params.h"
#include "app/run.h"

namespace {

int Run(int argc, char** argv) {
  // Past a file-size limit a write then fails and is reported, where the
  // signal would end the run with no word and leave a temporary file.
  signal(SIGXFSZ, SIG_IGN);
  start_time = time(nullptr);
  std::cout << std::fixed << std::setprecision(2);
  LoadParams(argc, argv);
  ApplyTreeCountRule();
  if (num_trees > 1) return RunMultiTree();
  return RunSingleTree();
}

}  // namespace

// Whatever escapes the run ends it with one line and status 1, never an abort.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "Error. Out of memory: the inputs or the sweep counts need more memory than the "
                 "run can get."
              << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "Error. " << e.what() << std::endl;
  } catch (...) {
    std::cerr << "Error. The run ended on an unknown exception." << std::endl;
  }
  return 1;
}
