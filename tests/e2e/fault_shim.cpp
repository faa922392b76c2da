// Preloaded (LD_PRELOAD) into a program run by the fault tests to make its
// file I/O fail with EIO, in one of two modes.
//
// QFAULT=write|close with QFAULT_SUFFIX: every write (plain or positioned) or
// every close of a file whose name ends in the suffix fails, as a failing
// disk or a network file system that reports at close would.
//
// QFAULT_NTH=N: a countdown over the I/O calls on the conversion's own files,
// that is the files of the working directory and the directory itself: read,
// pread, write, pwrite, close, rename (and renameat2), fsync and fdatasync.
// The Nth of them fails, once; N=0 fails none. Standard input, output and
// error and the QLOG files are not counted, so that a warning can still be
// seen; reads of a mapped file are no calls and escape the countdown. With
// QFAULT_TRACE naming a file, each counted call appends a line
// "<N> <call> <file name>" to it (" EIO" after the one that failed), which
// tells a test how many calls a run makes and which one it failed.
//
// Without these variables nothing changes. A failing close still closes the
// descriptor, as the kernel does; a failing rename renames nothing.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

bool FdPath(int fd, char* path, size_t size) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = ::readlink(link, path, size - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  return true;
}

bool Targeted(const char* call, int fd) {
  const char* which = std::getenv("QFAULT");
  const char* suffix = std::getenv("QFAULT_SUFFIX");
  if (!which || !suffix || std::strcmp(which, call) != 0) return false;
  char path[PATH_MAX];
  if (!FdPath(fd, path, sizeof path)) return false;
  size_t n = std::strlen(path), len = std::strlen(suffix);
  return n >= len && std::strcmp(path + n - len, suffix) == 0;
}

// --- the countdown ---

// The working directory when the program first did I/O: the run's own folder.
const std::string& Folder() {
  static const std::string folder = [] {
    char cwd[PATH_MAX];
    return std::string(::getcwd(cwd, sizeof cwd) ? cwd : "");
  }();
  return folder;
}

// Whether path (absolute, resolved) is the folder or a file right in it but
// a QLOG file.
bool OwnPath(const std::string& path) {
  const std::string& folder = Folder();
  if (folder.empty()) return false;
  if (path == folder) return true;
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || path.compare(0, slash, folder) != 0 || slash != folder.size())
    return false;
  return path.compare(slash + 1, 4, "QLOG") != 0;
}

// A path as the program names it (relative to the working directory): its
// folder resolved, its file name as it stands.
bool OwnName(const char* name) {
  std::string path = name[0] == '/' ? name : Folder() + "/" + name;
  size_t slash = path.rfind('/');
  char dir[PATH_MAX];
  if (!::realpath(slash == 0 ? "/" : path.substr(0, slash).c_str(), dir)) return false;
  return OwnPath(std::string(dir) + path.substr(slash));
}

void Trace(long count, const char* call, const char* what, bool failed) {
  const char* file = std::getenv("QFAULT_TRACE");
  if (!file || !*file) return;
  static auto write = Next<ssize_t (*)(int, const void*, size_t)>("write");
  static auto close = Next<int (*)(int)>("close");
  const char* base = std::strrchr(what, '/');
  char line[PATH_MAX + 64];
  int n = std::snprintf(line, sizeof line, "%ld %s %s%s\n", count, call, base ? base + 1 : what,
                        failed ? " EIO" : "");
  int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  if (n > 0) (void)write(fd, line, std::min(static_cast<size_t>(n), sizeof line - 1));
  close(fd);
}

// QFAULT_NTH, -1 without the countdown.
long Nth() {
  static const long nth = [] {
    const char* v = std::getenv("QFAULT_NTH");
    return v && *v ? std::atol(v) : -1;
  }();
  return nth;
}

// Counts one call on the conversion's files (what names the file); true
// when it is the one to fail.
bool Countdown(const char* call, const char* what) {
  static std::atomic<long> calls{0};
  long count = ++calls;
  Trace(count, call, what, count == Nth());
  return count == Nth();
}

bool FailsFd(const char* call, int fd) {
  char path[PATH_MAX];
  if (Nth() < 0 || fd <= 2 || !FdPath(fd, path, sizeof path) || !OwnPath(path)) return false;
  return Countdown(call, path);
}

bool FailsName(const char* call, const char* from, const char* to) {
  if (Nth() < 0 || !(OwnName(from) || OwnName(to))) return false;
  return Countdown(call, to);
}

int Fail() {
  errno = EIO;
  return -1;
}

}  // namespace

extern "C" ssize_t read(int fd, void* data, size_t size) {
  static auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
  if (FailsFd("read", fd)) return Fail();
  return real(fd, data, size);
}

extern "C" ssize_t pread(int fd, void* data, size_t size, off_t offset) {
  static auto real = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  if (FailsFd("pread", fd)) return Fail();
  return real(fd, data, size, offset);
}

extern "C" ssize_t pread64(int fd, void* data, size_t size, off_t offset) {
  static auto real = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread64");
  if (FailsFd("pread", fd)) return Fail();
  return real(fd, data, size, offset);
}

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  static auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
  if (Targeted("write", fd) || FailsFd("write", fd)) return Fail();
  return real(fd, data, size);
}

extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  if (Targeted("write", fd) || FailsFd("pwrite", fd)) return Fail();
  return real(fd, data, size, offset);
}

extern "C" ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
  static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
  if (Targeted("write", fd) || FailsFd("pwrite", fd)) return Fail();
  return real(fd, data, size, offset);
}

extern "C" int close(int fd) {
  static auto real = Next<int (*)(int)>("close");
  bool fail = Targeted("close", fd) || FailsFd("close", fd);
  int rc = real(fd);
  return fail ? Fail() : rc;
}

// glibc's rename is a system call of its own, not a way into renameat.
extern "C" int rename(const char* from, const char* to) {
  static auto real = Next<int (*)(const char*, const char*)>("rename");
  if (FailsName("rename", from, to)) return Fail();
  return real(from, to);
}

// The swap QSafeFile makes of an existing target counts as its rename.
extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
  static auto real = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  if (FailsName("rename", from, to)) return Fail();
  return real(fromDir, from, toDir, to, flags);
}

extern "C" int fsync(int fd) {
  static auto real = Next<int (*)(int)>("fsync");
  if (FailsFd("fsync", fd)) return Fail();
  return real(fd);
}

extern "C" int fdatasync(int fd) {
  static auto real = Next<int (*)(int)>("fdatasync");
  if (FailsFd("fdatasync", fd)) return Fail();
  return real(fd);
}
