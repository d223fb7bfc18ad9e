#include "input/utils.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <iterator>

namespace strutils {

std::string trim(std::string s, std::string chars) {
  const size_t first = s.find_first_not_of(chars);
  if (first == std::string::npos) return "";
  const size_t last = s.find_last_not_of(chars);
  return s.substr(first, last - first + 1);
}

// The cast to unsigned char keeps bytes above 127 out of the negative range
// that toupper/tolower do not accept.
std::string ToUpperCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string ToLowerCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string replace(std::string s, const std::string& from, const std::string& to) {
  if (from.empty()) return s;
  size_t p = s.find(from);
  while (p != std::string::npos) {
    s.replace(p, from.size(), to);
    p = s.find(from, p + to.size());
  }
  return s;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  return s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Same fields as reading the text with std::getline at delim: a trailing
// delimiter ends the last field without opening an empty one.
std::vector<std::string>& split(const std::string& s, char delim, std::vector<std::string>& elems) {
  size_t pos = 0;
  while (pos < s.size()) {
    const size_t end = s.find(delim, pos);
    if (end == std::string::npos) {
      elems.push_back(s.substr(pos));
      break;
    }
    elems.push_back(s.substr(pos, end - pos));
    pos = end + 1;
  }
  return elems;
}

std::vector<std::string> split(const std::string& s, char delim) {
  std::vector<std::string> elems;
  return split(s, delim, elems);
}

std::string LoadFileToString(std::ifstream& in) {
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string LoadFileToString(const char* path) {
  std::string text;
  if (!fileutils::ReadWholeFile(path, text)) return "";
  return text;
}

std::string LoadFileToString(std::string path) { return LoadFileToString(path.c_str()); }

std::string itoa(int n) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  int rest = n;
  do {
    text.push_back(digits[std::abs(rest % 10)]);
    rest /= 10;
  } while (rest != 0);
  if (n < 0) text.push_back('-');
  return std::string(text.rbegin(), text.rend());
}

bool GetLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace strutils

namespace numutils {

int CountDigits(int n) {
  int count = n < 0 ? 1 : 0;
  do {
    ++count;
    n /= 10;
  } while (n != 0);
  return count;
}

std::string EnoughSpaces(int width, int n) {
  const int blanks = width - CountDigits(n);
  return blanks < 1 ? std::string() : std::string(blanks, ' ');
}

bool is_number(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace numutils

namespace oututils {

void RepeatOutputs(int n, std::ostream& out, std::string s) {
  for (int i = 0; i < n; ++i) out << s;
}

}  // namespace oututils

namespace fileutils {

bool file_exists(const std::string& path) {
  std::ifstream in(path);
  return in.good();
}

std::vector<std::string> getdir(std::string dir) {
  DIR* dp = opendir(dir.c_str());
  if (dp == nullptr) {
    std::cout << "Error opening " << dir << std::endl;
    exit(1);
  }
  std::vector<std::string> files;
  while (dirent* entry = readdir(dp)) files.push_back(dir + "/" + entry->d_name);
  closedir(dp);
  return files;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool OpenForReading(std::ifstream& in, const std::string& path, std::ios::openmode mode) {
  if (IsDirectory(path)) return false;
  in.open(path, mode);
  return in.is_open();
}

bool ReadWholeFile(const std::string& path, std::string& text) {
  std::ifstream in;
  if (!OpenForReading(in, path, std::ios::in | std::ios::binary)) return false;
  text.clear();
  char chunk[1 << 16];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0)
    text.append(chunk, static_cast<size_t>(in.gcount()));
  return !in.bad();
}

}  // namespace fileutils

namespace ctnutils {

std::vector<std::string> GenGrayArray(int n) {
  std::vector<std::string> words;
  if (n < 1) return words;
  words = {"0", "1"};
  // Each round reflects the list and doubles it, until it holds 2^n words.
  for (int bits = 1; bits < n; ++bits) {
    const size_t half = words.size();
    for (size_t k = half; k-- > 0;) words.push_back(words[k]);
    for (size_t k = 0; k < half; ++k) words[k] = "0" + words[k];
    for (size_t k = half; k < 2 * half; ++k) words[k] = "1" + words[k];
  }
  return words;
}

}  // namespace ctnutils
