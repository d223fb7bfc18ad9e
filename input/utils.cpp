#include "input/utils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
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

namespace {

// Symbolic links followed at the most, as the kernel does before ELOOP.
const int kMaxLinkHops = 40;
// Beside a table of any name, up to the longest name a file system allows,
// the temporary name still fits.
const char* const kTableTempPrefix = "/.kolve_";

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool CanAccess(const std::string& path, int how) {
  return faccessat(AT_FDCWD, path.c_str(), how, AT_EACCESS) == 0;
}

// Closes fd and tells whether everything done with it succeeded; errno holds
// the first failure.
bool CloseKeepingError(int fd, bool ok) {
  const int err = errno;
  const bool closed = close(fd) == 0;
  if (!ok) errno = err;
  return ok && closed;
}

// Removes a temporary file without losing the errno of the failure that
// left it.
void RemoveKeepingError(const std::string& path) {
  const int err = errno;
  unlink(path.c_str());
  errno = err;
}

// A replaced table keeps what writing in place kept: its permission bits and,
// where this user may give them, its owner and group. A new file gets the
// permissions any newly created file gets (mkstemp's are owner-only). Best
// effort: some network and FAT mounts refuse both, and the file is still
// written.
void GiveModeOf(int fd, const struct stat* like) {
  mode_t mode;
  if (like != nullptr) {
    const bool owned_alike = fchown(fd, like->st_uid, like->st_gid) == 0 ||
                             fchown(fd, static_cast<uid_t>(-1), like->st_gid) == 0;
    (void)owned_alike;
    mode = like->st_mode & 0777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
}

// Room for the whole text before the old content is touched, so that a full
// disk or a file-size limit leaves the old table whole. File systems without
// fallocate go on unreserved, as a plain write would.
bool ReserveSpace(int fd, size_t size) {
  if (size == 0 || fallocate(fd, 0, 0, static_cast<off_t>(size)) == 0) return true;
  return errno == EOPNOTSUPP || errno == ENOSYS;
}

// Where no new file can be made beside the table, or the table is no regular
// file (a link to /dev/null, a pipe), it is written in place as it always was.
bool WriteInPlace(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  const bool regular = ok && S_ISREG(st.st_mode);
  if (regular) ok = ReserveSpace(fd, text.size());
  ok = ok && WriteAll(fd, text);
  if (regular)
    ok = ok && ftruncate(fd, static_cast<off_t>(text.size())) == 0 && fsync(fd) == 0;
  return CloseKeepingError(fd, ok);
}

}  // namespace

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

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
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

std::string LinkTarget(const std::string& path) {
  std::string at = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    char buffer[PATH_MAX];
    const ssize_t n = readlink(at.c_str(), buffer, sizeof buffer);
    if (n < 0) return "";
    if (n == 0 || static_cast<size_t>(n) == sizeof buffer) {
      errno = n == 0 ? ENOENT : ENAMETOOLONG;
      return "";
    }
    const std::string to(buffer, static_cast<size_t>(n));
    // A relative link is read from the directory that holds it.
    at = to[0] == '/' ? to : DirectoryOf(at) + "/" + to;
  }
  errno = ELOOP;
  return "";
}

int WhyCannotWrite(const std::string& path) {
  const std::string target = LinkTarget(path);
  if (target.empty()) return errno;
  struct stat st;
  if (stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    return CanAccess(target, W_OK) ? 0 : errno;
  }
  if (errno != ENOENT) return errno;
  const std::string dir = DirectoryOf(target);
  if (stat(dir.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  return CanAccess(dir, W_OK | X_OK) ? 0 : errno;
}

std::string WriteTempFile(const std::string& prefix, const std::string& text,
                          const struct stat* like) {
  std::string temp = prefix + "XXXXXX";
  const int fd = mkostemp(&temp[0], O_CLOEXEC);
  if (fd < 0) return "";
  GiveModeOf(fd, like);
  const bool ok = WriteAll(fd, text) && fsync(fd) == 0;
  if (CloseKeepingError(fd, ok)) return temp;
  RemoveKeepingError(temp);
  return "";
}

bool ReplaceFile(const std::string& path, const std::string& text) {
  const std::string target = LinkTarget(path);
  if (target.empty()) return false;
  struct stat old;
  const bool exists = stat(target.c_str(), &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (exists && !S_ISREG(old.st_mode)) return WriteInPlace(target, text);
  const std::string temp =
      WriteTempFile(DirectoryOf(target) + kTableTempPrefix, text, exists ? &old : nullptr);
  if (!temp.empty()) {
    if (rename(temp.c_str(), target.c_str()) == 0) return true;
    RemoveKeepingError(temp);
  }
  // A folder that takes no new file, or a sticky one where the table is
  // another user's: the table is still writable where it stands.
  const bool refused_beside = errno == EACCES || errno == EPERM;
  return exists && refused_beside && WriteInPlace(target, text);
}

bool PublishWithoutReplacing(const std::string& temp, const std::string& name) {
  if (link(temp.c_str(), name.c_str()) == 0) {
    unlink(temp.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  // File systems without hard links (FAT, some network mounts) can still
  // rename without replacing. Where they cannot either, the link's own
  // failure is the one to report.
  const int link_err = errno;
  if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno == EINVAL || errno == ENOSYS) errno = link_err;
  return false;
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
