#pragma once
// What the tests that run the real binary read back.

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
