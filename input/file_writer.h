#pragma once

#include <string>

// How the results table and the cache files reach the disk: whole or not at
// all, never through a link or into a file that the kernel would not have let
// a plain open reach, and never more open to others than the file they
// replace or than any new file of their folder.
namespace fileutils {
// Writes all of text to fd, going on after interrupted or partial writes.
bool WriteAll(int fd, const std::string& text);
// The file that writing path reaches: path itself, or the end of the chain of
// symbolic links it names, which need not exist yet. A relative link is read
// from the real path of its folder. "" with errno set when the chain loops,
// cannot be read, or holds a link that another user planted in a shared
// sticky folder (EACCES: the kernel's protected-symlinks rule, applied
// whatever the machine's setting).
std::string LinkTarget(const std::string& path);
// 0 when ReplaceFile(path, ...) should succeed as far as can be told before
// writing: the file it reaches is writable and not another user's file in a
// shared sticky folder, or it is absent from a directory that takes new
// files. Otherwise the errno that says why not (EISDIR for a directory).
int WhyCannotWrite(const std::string& path);
// Writes text to a new file named prefix plus six random characters and
// flushes it to disk. The file is created as any new file of its folder is
// (mode 0666 under the umask or the folder's default ACL), or, given like,
// owner-only and then given the owner where possible, the ACL and the mode of
// the file at that path, so that it is never more open than that file.
// Returns its path, or "" with errno set and nothing left behind.
std::string WriteTempFile(const std::string& prefix, const std::string& text,
                          const std::string& like = "");
// Writes text to the file that path reaches (through symbolic links, which
// stay) so that it holds either its old content or all of text: a new file
// beside it, flushed to disk, made like the old file, renamed over it. Where
// no new file can be made or renamed there (a closed folder, a mount point)
// or the file is no regular file, it is written in place under an exclusive
// lock (a notice on the error stream when another program holds it), and
// not at all when text passes the file-size limit. On failure errno says why
// and no new file is left.
bool ReplaceFile(const std::string& path, const std::string& text);
// Gives the complete file temp the name `name` unless some file has it, so
// that a reader never sees part of a file and no file is replaced. True when
// temp is published (and gone); false with errno set (EEXIST when the name is
// taken) and temp kept.
bool PublishWithoutReplacing(const std::string& temp, const std::string& name);
}  // namespace fileutils
