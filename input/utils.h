#pragma once

#include <sys/stat.h>

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
// Writes all of text to fd, going on after interrupted or partial writes.
bool WriteAll(int fd, const std::string& text);
bool IsDirectory(const std::string& path);
// Opens path for reading; false when it cannot be opened or names a
// directory (which opens on Linux and then fails every read). Pipes and
// devices open as usual.
bool OpenForReading(std::ifstream& in, const std::string& path,
                    std::ios::openmode mode = std::ios::in);
// The whole content of path, byte for byte; false when it cannot be opened
// or read.
bool ReadWholeFile(const std::string& path, std::string& text);
// The file that writing path reaches: path itself, or the end of the chain of
// symbolic links it names, which need not exist yet. "" with errno set when
// the chain loops or cannot be read.
std::string LinkTarget(const std::string& path);
// 0 when ReplaceFile(path, ...) should succeed as far as can be told before
// writing: the file it reaches is writable, or absent from a directory that
// takes new files. Otherwise the errno that says why not (EISDIR for a
// directory).
int WhyCannotWrite(const std::string& path);
// Writes text to a new file named prefix plus six random characters, with the
// permissions a newly created file gets (or, given like, the mode and where
// possible the owner of like), and flushes it to disk. Returns its path, or ""
// with errno set and nothing left behind.
std::string WriteTempFile(const std::string& prefix, const std::string& text,
                          const struct stat* like = nullptr);
// Writes text to the file that path reaches (through symbolic links, which
// stay) so that it holds either its old content or all of text: a new file
// beside it, flushed to disk, with the old file's mode, renamed over it. Where
// no new file can be made there, or the file is no regular file, it is
// written in place. On failure errno says why and no new file is left.
bool ReplaceFile(const std::string& path, const std::string& text);
// Gives the complete file temp the name `name` unless some file has it, so
// that a reader never sees part of a file and no file is replaced. True when
// temp is published (and gone); false with errno set (EEXIST when the name is
// taken) and temp kept.
bool PublishWithoutReplacing(const std::string& temp, const std::string& name);
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
