#pragma once

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace strutils {
std::string trim(std::string s, std::string chars);
std::string ToUpperCase(std::string s);
std::string ToLowerCase(std::string s);
std::string replace(std::string s, const std::string& from, const std::string& to);
bool endsWith(const std::string& s, const std::string& suffix);
std::vector<std::string>& split(const std::string& s, char delim, std::vector<std::string>& elems);
std::vector<std::string> split(const std::string& s, char delim);
std::string LoadFileToString(std::ifstream& in);
std::string LoadFileToString(const char* path);
std::string LoadFileToString(std::string path);
std::string itoa(int n);
// Reads one line up to '\n' and drops one trailing carriage return, so that
// CR-LF files read exactly like their LF twins.
bool GetLine(std::istream& in, std::string& line);
}  // namespace strutils

namespace numutils {
int CountDigits(int n);
std::string EnoughSpaces(int width, int n);
bool is_number(const std::string& s);
}  // namespace numutils

namespace oututils {
void RepeatOutputs(int n, std::ostream& out, std::string s);
}

namespace fileutils {
bool file_exists(const std::string& path);
std::vector<std::string> getdir(std::string dir);
bool IsDirectory(const std::string& path);
// Opens path for reading; false when it cannot be opened or names a
// directory (which opens on Linux and then fails every read). Pipes and
// devices open as usual.
bool OpenForReading(std::ifstream& in, const std::string& path,
                    std::ios::openmode mode = std::ios::in);
// The whole content of path, byte for byte; false when it cannot be opened
// or read.
bool ReadWholeFile(const std::string& path, std::string& text);
}  // namespace fileutils

namespace ctnutils {
template <typename T>
bool Contains(const std::vector<T>& v, const T& x) {
  for (const T& e : v)
    if (e == x) return true;
  return false;
}

template <typename T>
bool IsVectorSame(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!(a[i] == b[i])) return false;
  return true;
}

std::vector<std::string> GenGrayArray(int n);
}  // namespace ctnutils
