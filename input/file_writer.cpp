#include "input/file_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace fileutils {

namespace {

// Symbolic links followed at the most, as the kernel does before ELOOP.
const int kMaxLinkHops = 40;
// Beside a table of any name, up to the longest name a file system allows,
// the temporary name still fits.
const char* const kTableTempPrefix = "/.kolve_";
// The access ACL as the kernel keeps it; copied as it stands, so that no ACL
// library is needed.
const char* const kAccessAcl = "system.posix_acl_access";
const int kNameAttempts = 100;
// A new file gets what its folder gives any new file. One that will replace a
// table starts owner-only and is opened up to the table's own mode last: a
// watcher that opened it while it was more open would keep its descriptor
// after any narrowing.
const mode_t kNewFileMode = 0666;
const mode_t kReplacementMode = 0600;

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

// at < 0 writes at the file position: pipes and devices have no offsets.
bool WriteBytes(int fd, const char* data, size_t size, off_t at) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = at < 0 ? write(fd, data + done, size - done)
                             : pwrite(fd, data + done, size - done, at + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Another user's link or file in a folder that is sticky and open to all
// (such as /tmp) may have been planted there to catch the runner's writes.
// The kernel follows or opens it only for its owner or the folder's owner,
// and so does the writer, whatever the machine's setting.
bool PlantedByAnotherUser(const std::string& path, uid_t owner) {
  struct stat dir;
  if (stat(DirectoryOf(path).c_str(), &dir) != 0) return false;
  const bool shared_sticky = (dir.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return shared_sticky && owner != geteuid() && owner != dir.st_uid;
}

// Why an existing file at target cannot take the table; 0 when it can.
int WhyNotReplace(const std::string& target, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return EISDIR;
  const bool opened_as_file = S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode);
  if (opened_as_file && PlantedByAnotherUser(target, st.st_uid)) return EACCES;
  return 0;
}

// Six characters that no other writer is likely to pick at the same moment;
// creating the file exclusively settles the rest. Not drawn from any model's
// generator, whose stream the results depend on.
std::string RandomSuffix() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static uint64_t calls = 0;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t x = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 30) ^
               (static_cast<uint64_t>(getpid()) << 16) ^ (++calls * 0x9E3779B97F4A7C15ULL);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  x ^= x >> 31;
  std::string suffix;
  for (int i = 0; i < 6; ++i, x /= 62) suffix.push_back(kChars[x % 62]);
  return suffix;
}

// The mode is given under the umask or the folder's default ACL, whose mask
// and other entries it also bounds.
int CreateNewFile(const std::string& prefix, mode_t mode, std::string& path) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    path = prefix + RandomSuffix();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// What a replaced file keeps of the file it replaces.
struct Look {
  struct stat st;
  std::string acl;  // empty: no ACL beyond the mode
};

bool ReadLook(const std::string& path, Look& look) {
  if (stat(path.c_str(), &look.st) != 0) return false;
  look.acl.clear();
  const ssize_t size = getxattr(path.c_str(), kAccessAcl, nullptr, 0);
  if (size < 0) return errno == ENODATA || errno == ENOTSUP;
  look.acl.resize(static_cast<size_t>(size));
  const ssize_t read = size == 0 ? 0 : getxattr(path.c_str(), kAccessAcl, &look.acl[0], look.acl.size());
  if (read < 0) return false;
  look.acl.resize(static_cast<size_t>(read));
  return true;
}

// Owner and mode are best effort: some network and FAT mounts refuse both,
// and the file then stays owner-only. The ACL is not: an ACL left out, or one
// inherited from the folder and kept, would leave the table more open than
// before, so that failure reads as EPERM and the table is written in place.
// The owner comes first, so that the ACL's group entry is the old table's
// group, and the mode last, so that it never widens an inherited mask.
bool GiveLook(int fd, const Look& look) {
  const bool owned_alike = fchown(fd, look.st.st_uid, look.st.st_gid) == 0 ||
                           fchown(fd, static_cast<uid_t>(-1), look.st.st_gid) == 0;
  (void)owned_alike;
  const bool acl_given =
      look.acl.empty()
          ? fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA || errno == ENOTSUP
          : fsetxattr(fd, kAccessAcl, look.acl.data(), look.acl.size(), 0) == 0;
  if (!acl_given) {
    errno = EPERM;
    return false;
  }
  fchmod(fd, look.st.st_mode & 0777);
  return true;
}

// Room for the whole text before the old content is touched, so that a full
// disk or a file-size limit leaves the old table whole. File systems without
// fallocate go on unreserved; the growing write then finds the limit.
bool ReserveSpace(int fd, off_t size) {
  if (size == 0 || fallocate(fd, 0, 0, size) == 0) return true;
  return errno == EOPNOTSUPP || errno == ENOSYS;
}

// The part beyond the old end is written first and every old byte last, so
// that a write stopped by a full disk or a size limit is undone by cutting
// the file back to its old length.
bool OverwriteFromTheEnd(int fd, off_t old_size, const std::string& text) {
  const off_t size = static_cast<off_t>(text.size());
  const bool grown = ReserveSpace(fd, size) &&
                     (size <= old_size || WriteBytes(fd, text.data() + old_size,
                                                     static_cast<size_t>(size - old_size), old_size));
  if (!grown) {
    const int err = errno;
    const bool cut_back = ftruncate(fd, old_size) == 0;
    (void)cut_back;
    errno = err;
    return false;
  }
  return WriteBytes(fd, text.data(), static_cast<size_t>(std::min(size, old_size)), 0) &&
         (size >= old_size || ftruncate(fd, size) == 0) && fsync(fd) == 0;
}

// A write past the file-size limit fails only after the bytes before the
// limit are written, and in place those bytes are the old table's.
bool WithinFileSizeLimit(size_t size) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      size <= limit.rlim_cur)
    return true;
  errno = EFBIG;
  return false;
}

// File systems without locks still get the table. Another program may hold
// its lock for long, or for good, so a run that has to wait says so.
bool LockExclusively(int fd, const std::string& name) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  if (errno != EWOULDBLOCK) return errno == ENOLCK;
  std::cerr << "Notice: waiting for another program to release its lock on " << name << ".\n";
  return flock(fd, LOCK_EX) == 0 || errno == ENOLCK;
}

// Where no new file can take the table's place, or the table is no regular
// file (a link to /dev/null, a pipe), it is written where it stands. Runs
// that write one table at once take turns, so it ends as one run's whole
// output. name is the table as the user named it.
bool WriteInPlace(const std::string& path, const std::string& name, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (ok && S_ISREG(st.st_mode))
    ok = WithinFileSizeLimit(text.size()) && LockExclusively(fd, name) && fstat(fd, &st) == 0 &&
         OverwriteFromTheEnd(fd, st.st_size, text);
  else
    ok = ok && WriteAll(fd, text);
  return CloseKeepingError(fd, ok);
}

}  // namespace

bool WriteAll(int fd, const std::string& text) { return WriteBytes(fd, text.data(), text.size(), -1); }

std::string LinkTarget(const std::string& path) {
  std::string at = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    if (PlantedByAnotherUser(at, st.st_uid)) {
      errno = EACCES;
      return "";
    }
    char buffer[PATH_MAX];
    const ssize_t n = readlink(at.c_str(), buffer, sizeof buffer);
    if (n < 0) return "";
    if (n == 0 || static_cast<size_t>(n) == sizeof buffer) {
      errno = n == 0 ? ENOENT : ENAMETOOLONG;
      return "";
    }
    const std::string to(buffer, static_cast<size_t>(n));
    if (to[0] == '/') {
      at = to;
      continue;
    }
    // Read from the folder's real path: joined to the path it was reached
    // by, a long chain of relative links would outgrow PATH_MAX.
    char* folder = realpath(DirectoryOf(at).c_str(), nullptr);
    if (folder == nullptr) return "";
    const std::string real = folder;
    free(folder);
    at = (real == "/" ? "" : real) + "/" + to;
  }
  errno = ELOOP;
  return "";
}

int WhyCannotWrite(const std::string& path) {
  const std::string target = LinkTarget(path);
  if (target.empty()) return errno;
  struct stat st;
  if (stat(target.c_str(), &st) == 0) {
    const int why = WhyNotReplace(target, st);
    if (why != 0) return why;
    return CanAccess(target, W_OK) ? 0 : errno;
  }
  if (errno != ENOENT) return errno;
  const std::string dir = DirectoryOf(target);
  if (stat(dir.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  return CanAccess(dir, W_OK | X_OK) ? 0 : errno;
}

std::string WriteTempFile(const std::string& prefix, const std::string& text,
                          const std::string& like) {
  Look look;
  if (!like.empty() && !ReadLook(like, look)) return "";
  std::string temp;
  const int fd = CreateNewFile(prefix, like.empty() ? kNewFileMode : kReplacementMode, temp);
  if (fd < 0) return "";
  const bool ok = (like.empty() || GiveLook(fd, look)) && WriteAll(fd, text) && fsync(fd) == 0;
  if (CloseKeepingError(fd, ok)) return temp;
  RemoveKeepingError(temp);
  return "";
}

bool ReplaceFile(const std::string& path, const std::string& text) {
  const std::string target = LinkTarget(path);
  if (target.empty()) return false;
  struct stat old;
  const bool exists = stat(target.c_str(), &old) == 0;
  if (exists) {
    const int why = WhyNotReplace(target, old);
    if (why != 0) {
      errno = why;
      return false;
    }
    if (!S_ISREG(old.st_mode)) return WriteInPlace(target, path, text);
  }
  const std::string temp =
      WriteTempFile(DirectoryOf(target) + kTableTempPrefix, text, exists ? target : "");
  if (!temp.empty()) {
    if (rename(temp.c_str(), target.c_str()) == 0) return true;
    RemoveKeepingError(temp);
  }
  // A folder that takes no new file, a sticky one where the table is the
  // folder owner's, a table that is a mount point (a container's file
  // volume), or one whose ACL the new file could not take: the table is still
  // writable where it stands.
  const bool only_in_place = errno == EACCES || errno == EPERM || errno == EBUSY;
  return exists && only_in_place && WriteInPlace(target, path, text);
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
