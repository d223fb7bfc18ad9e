#pragma once
// What the tests that run the real binary read back.

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

struct Result {
  int status;
  std::string out, err;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A new empty folder /tmp/kolve_<area>_XXXXXX; "" when none can be made.
inline std::string MakeTempDir(const std::string& area) {
  std::string pattern = "/tmp/kolve_" + area + "_XXXXXX";
  return mkdtemp(&pattern[0]) != nullptr ? pattern : "";
}
