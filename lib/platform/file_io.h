// Files by descriptor: opening, positioned and plain reads and writes,
// sizes, and the directory operations a safe output needs (rename, remove,
// links). Descriptors are ints, -1 for none. Every call reports failure in
// its result (false, -1 or a negative count) with the reason in errno, and
// none is cut short by a signal: interrupted calls are retried here.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace platform {

// Whether text files (QLOG.txt) end their lines with "\r\n", as the
// platform's own text files do, rather than "\n".
#if defined(_WIN32)
constexpr bool kTextFilesUseCRLF = true;
#else
constexpr bool kTextFilesUseCRLF = false;
#endif

// Calls fn until it gives something other than a failure with EINTR.
template <class F>
auto RetryInterrupted(F fn) -> decltype(fn()) {
  auto result = fn();
  while (result < 0 && errno == EINTR) result = fn();
  return result;
}

struct FileInfo {
  bool isDirectory = false;
  bool isRegular = false;
  bool isLink = false;  // only from StatLink
  uint64_t size = 0;
  unsigned mode = 0;    // permission bits
  uint64_t device = 0;  // device and inode tell whether two names are one file
  uint64_t inode = 0;
};

// false with errno when the name cannot be looked at (ENOENT: none).
bool StatPath(const char* path, FileInfo* info);  // follows links
bool StatLink(const char* path, FileInfo* info);  // the link itself
bool StatFile(int fd, FileInfo* info);
// The text of the link at path, terminated; its length, or -1.
long ReadLink(const char* path, char* buffer, size_t size);
// Whether this process may write the existing file at path (errno when not).
bool MayWrite(const char* path);

// Read-only; nonBlocking keeps a FIFO without a writer from hanging the open.
int OpenRead(const char* path, bool nonBlocking = false);
// An existing file (or device) for writing: as it is, or its contents dropped.
int OpenWrite(const char* path);
int OpenTruncate(const char* path);
// A file for writing that must not exist yet (mode before the umask).
int CreateNew(const char* path, unsigned mode);
// A file for appending, created if missing: each Write lands whole at its end.
int OpenAppend(const char* path);
// false with errno when the close reported an error (the data may be lost).
bool Close(int fd);

// Bytes transferred (short at the end of the file), or -1.
long long Read(int fd, void* buffer, size_t size);
long long ReadAt(int fd, void* buffer, size_t size, uint64_t offset);
long long Write(int fd, const void* data, size_t size);
long long WriteAt(int fd, const void* data, size_t size, uint64_t offset);
// Writes everything or fails; a write that makes no progress fails with EIO.
// The same on every system, on top of Write.
inline bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    long long n = Write(fd, p, size);
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Claims the disk space of the first size bytes; false when the space is
// not there or the file system cannot promise it.
bool ReserveSpace(int fd, uint64_t size);
bool SetMode(int fd, unsigned mode);
// Replaces to by from in one step.
bool Rename(const char* from, const char* to);
// Swaps the files at a and b in one step: afterwards a names what b named
// and b what a named, and at no moment is either name missing. ENOTSUP where
// the system or the file system has no such step (Windows; Linux before
// 3.15, file systems without it); then nothing has changed.
bool Exchange(const char* a, const char* b);
bool Remove(const char* path);
// Removes a file's name as Remove does, and leaves the freeing of what the
// file held (its cached pages and its blocks, some 10 ms per 100 MB) to a
// short-lived process of its own, which may outlast the caller. Removes in
// place where no such process can be had (Windows, a failed fork).
bool RemoveFreeingLater(const char* path);
// Lets go of the file's pages in the system's file cache, its contents
// staying as they are, when none of them waits to be written out: letting
// go of those would write them first. Does nothing where the system cannot
// tell (Windows, Linux before 6.5) or the file cannot be opened.
void DropCleanCache(const char* path);
// Waits until the file's data and size are on the disk itself, so that a
// power loss after a rename finds the whole file under its new name.
bool SyncFile(int fd);
// Waits until the directory's entries (a rename into it) are on the disk.
// Where directories cannot be synchronised (Windows commits its renames by
// itself) this does nothing and succeeds.
bool SyncDirectory(const char* path);

// As ReserveSpace, but where the file system cannot reserve space the
// blocks are written out instead: only a disk without the room fails.
bool AllocateSpace(int fd, uint64_t size);

}  // namespace platform
