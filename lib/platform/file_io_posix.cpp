#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <system_error>
#include <thread>

namespace platform {

namespace {

void fill(const struct stat& st, FileInfo* info) {
  info->isDirectory = S_ISDIR(st.st_mode);
  info->isRegular = S_ISREG(st.st_mode);
  info->isLink = S_ISLNK(st.st_mode);
  info->size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  info->mode = static_cast<unsigned>(st.st_mode & 07777);
  info->device = static_cast<uint64_t>(st.st_dev);
  info->inode = static_cast<uint64_t>(st.st_ino);
}

// The file the name itself holds (a link is not followed), for reading,
// without waiting on a pipe's writer.
int openHeld(const char* path) {
  return RetryInterrupted([&] { return ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); });
}

}  // namespace

bool StatPath(const char* path, FileInfo* info) {
  struct stat st;
  if (::stat(path, &st) != 0) return false;
  fill(st, info);
  return true;
}

bool StatLink(const char* path, FileInfo* info) {
  struct stat st;
  if (::lstat(path, &st) != 0) return false;
  fill(st, info);
  return true;
}

bool StatFile(int fd, FileInfo* info) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  fill(st, info);
  return true;
}

long ReadLink(const char* path, char* buffer, size_t size) {
  if (size == 0) return -1;
  ssize_t n = ::readlink(path, buffer, size - 1);
  if (n < 0) return -1;
  buffer[n] = '\0';
  return static_cast<long>(n);
}

bool MayWrite(const char* path) { return ::access(path, W_OK) == 0; }

int OpenRead(const char* path, bool nonBlocking) {
  int flags = O_RDONLY | O_CLOEXEC | (nonBlocking ? O_NONBLOCK : 0);
  return RetryInterrupted([&] { return ::open(path, flags); });
}

int OpenWrite(const char* path) {
  return RetryInterrupted([&] { return ::open(path, O_WRONLY | O_CLOEXEC); });
}

int OpenTruncate(const char* path) {
  return RetryInterrupted([&] { return ::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC); });
}

int CreateNew(const char* path, unsigned mode) {
  return RetryInterrupted(
      [&] { return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode)); });
}

int OpenAppend(const char* path) {
  return RetryInterrupted([&] { return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666); });
}

// A close is not retried: the descriptor is gone whatever it reports.
bool Close(int fd) { return ::close(fd) == 0; }

long long Read(int fd, void* buffer, size_t size) {
  return RetryInterrupted([&] { return static_cast<long long>(::read(fd, buffer, size)); });
}

long long ReadAt(int fd, void* buffer, size_t size, uint64_t offset) {
  return RetryInterrupted(
      [&] { return static_cast<long long>(::pread(fd, buffer, size, static_cast<off_t>(offset))); });
}

long long Write(int fd, const void* data, size_t size) {
  return RetryInterrupted([&] { return static_cast<long long>(::write(fd, data, size)); });
}

long long WriteAt(int fd, const void* data, size_t size, uint64_t offset) {
  return RetryInterrupted(
      [&] { return static_cast<long long>(::pwrite(fd, data, size, static_cast<off_t>(offset))); });
}

bool ReserveSpace(int fd, uint64_t size) {
  return RetryInterrupted([&] { return ::fallocate(fd, 0, 0, static_cast<off_t>(size)); }) == 0;
}

bool SetMode(int fd, unsigned mode) { return ::fchmod(fd, static_cast<mode_t>(mode)) == 0; }

bool Rename(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool Exchange(const char* a, const char* b) {
#if defined(RENAME_EXCHANGE)
  if (::renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE) == 0) return true;
  // A kernel without renameat2, or a file system that does not know the
  // flag, cannot swap.
  if (errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) errno = ENOTSUP;
#else
  (void)a;
  (void)b;
  errno = ENOTSUP;
#endif
  return false;
}

bool Remove(const char* path) { return std::remove(path) == 0; }

// The kernel frees a removed file when the last descriptor of it closes, in
// the process that closes it. So the name goes here, and the last descriptor
// is closed by a grandchild: its parent ends at once and is waited for, so
// no child is left over; the grandchild holds the file until this process
// has closed its own descriptor, and ends (which frees the file) on its own
// time. A fork copies only this process's page tables, a fraction of a
// millisecond beside freeing a large file.
bool RemoveFreeingLater(const char* path) {
  int fd = openHeld(path);
  if (fd < 0) return Remove(path);
  if (::unlink(path) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return false;
  }
  int gate[2];
  if (::pipe2(gate, O_CLOEXEC) != 0) {
    ::close(fd);
    return true;
  }
  pid_t child = ::fork();
  if (child == 0) {
    // Only calls that are safe after a fork of a process with threads.
    if (::fork() != 0) ::_exit(0);
    // Nothing else of this process is held that someone may wait on: a
    // caller reading the output to its end is not kept waiting.
    unsigned low = static_cast<unsigned>(std::min(fd, gate[0]));
    unsigned high = static_cast<unsigned>(std::max(fd, gate[0]));
    if (low > 0) ::close_range(0, low - 1, 0);
    if (high > low + 1) ::close_range(low + 1, high - 1, 0);
    ::close_range(high + 1, ~0U, 0);
    char byte;
    while (::read(gate[0], &byte, 1) < 0 && errno == EINTR) {
    }
    ::_exit(0);
  }
  ::close(gate[0]);
  ::close(fd);
  ::close(gate[1]);  // the grandchild may end now
  if (child > 0) RetryInterrupted([&] { return static_cast<int>(::waitpid(child, nullptr, 0)); });
  return true;
}

void DropCleanCache(const char* path) {
#if defined(__NR_cachestat)
  constexpr long kCacheStat = __NR_cachestat;
#else
  constexpr long kCacheStat = 451;  // Linux 6.5; older kernel headers lack the name
#endif
  int fd = openHeld(path);
  if (fd < 0) return;
  // What the file has in the cache, and how much of it waits to be written.
  struct {
    uint64_t offset = 0, length = 0;  // length 0: to the end
  } range;
  struct {
    uint64_t cached, dirty, writeback, evicted, recentlyEvicted;
  } counts{};
  if (::syscall(kCacheStat, fd, &range, &counts, 0) == 0 && counts.cached > 0 &&
      counts.dirty == 0 && counts.writeback == 0) {
    // The kernel takes some 70 ms per 800 MB for it on one core, while
    // nothing else runs: the two halves go at once where a thread can be had.
    struct stat st;
    off_t half = ::fstat(fd, &st) == 0 ? st.st_size / 2 : 0;
    auto dropFrom = [fd](off_t offset, off_t length) {
      (void)::posix_fadvise(fd, offset, length, POSIX_FADV_DONTNEED);
    };
    std::thread second;
    if (half > 0) {
      try {
        second = std::thread(dropFrom, half, off_t{0});
      } catch (const std::system_error&) {
      }
    }
    dropFrom(0, second.joinable() ? half : 0);
    if (second.joinable()) second.join();
  }
  ::close(fd);
}

bool SyncFile(int fd) { return RetryInterrupted([&] { return ::fsync(fd); }) == 0; }

bool SyncDirectory(const char* path) {
  int fd = RetryInterrupted([&] { return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (fd < 0) return false;
  // Some file systems cannot synchronise a directory: nothing to wait for.
  bool ok = RetryInterrupted([&] { return ::fsync(fd); }) == 0 || errno == EINVAL;
  int err = errno;
  ::close(fd);
  errno = err;
  return ok;
}

bool AllocateSpace(int fd, uint64_t size) {
  // posix_fallocate gives its error as the result and leaves errno alone.
  int err = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
  while (err == EINTR) err = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
  if (err != 0) errno = err;
  return err == 0;
}

}  // namespace platform
