// Preloaded into the binary by the end-to-end tests, it stands in for file
// systems this machine does not have. KOLVE_FAULTS names the calls that fail:
// "link" (no hard links, as on FAT), "chmod" (fchmod and fchown refused, as on
// some network and FAT mounts), "rename2" (no exclusive rename either) and
// "fallocate" (no space reservation, as on ext2); "slowwrite" writes regular
// files in small pieces with pauses, as a slow or remote disk does, so that
// writers that overlap show it. "looklog" appends a file's mode, in octal,
// to the file named by KOLVE_LOOK_LOG before it is given its owner and before
// its mode: what others could have opened it with since it was made, and
// once it had its ACL.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

bool Faulty(const char* call) {
  const char* faults = std::getenv("KOLVE_FAULTS");
  return faults != nullptr && std::strstr(faults, call) != nullptr;
}

template <typename Fn>
Fn Real(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// Cuts a write to a regular file short after a pause.
size_t Slowed(int fd, size_t size) {
  struct stat st;
  if (!Faulty("slowwrite") || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return size;
  usleep(2000);
  return size < 512 ? size : 512;
}

void LogLook(int fd) {
  struct stat st;
  const char* log = std::getenv("KOLVE_LOOK_LOG");
  if (!Faulty("looklog") || log == nullptr || fstat(fd, &st) != 0) return;
  if (FILE* out = fopen(log, "a")) {
    fprintf(out, "%o\n", static_cast<unsigned>(st.st_mode & 07777));
    fclose(out);
  }
}

int Refuse(int err) {
  errno = err;
  return -1;
}

}  // namespace

extern "C" {

int link(const char* from, const char* to) {
  if (Faulty("link")) return Refuse(EPERM);
  return Real<int (*)(const char*, const char*)>("link")(from, to);
}

int fchmod(int fd, mode_t mode) {
  LogLook(fd);
  if (Faulty("chmod")) return Refuse(EPERM);
  return Real<int (*)(int, mode_t)>("fchmod")(fd, mode);
}

int fchown(int fd, uid_t owner, gid_t group) {
  LogLook(fd);
  if (Faulty("chmod")) return Refuse(EPERM);
  return Real<int (*)(int, uid_t, gid_t)>("fchown")(fd, owner, group);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
  if (Faulty("rename2")) return Refuse(EINVAL);
  return Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(from_dir, from,
                                                                                 to_dir, to, flags);
}

int fallocate(int fd, int mode, off_t offset, off_t len) {
  if (Faulty("fallocate")) return Refuse(EOPNOTSUPP);
  return Real<int (*)(int, int, off_t, off_t)>("fallocate")(fd, mode, offset, len);
}

ssize_t write(int fd, const void* data, size_t size) {
  return Real<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, Slowed(fd, size));
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t at) {
  return Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite")(fd, data, Slowed(fd, size),
                                                                     at);
}

}  // extern "C"
