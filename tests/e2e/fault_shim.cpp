// Preloaded (LD_PRELOAD) into a program run by the fault tests: makes every
// write (plain or positioned) or close of a file whose name ends in QFAULT_SUFFIX fail with EIO,
// as a failing disk or a network file system that reports at close would.
// QFAULT names the call ("write" or "close"); without it nothing changes.
// A failing close still closes the descriptor, as the kernel does.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Targeted(const char* call, int fd) {
  const char* which = std::getenv("QFAULT");
  const char* suffix = std::getenv("QFAULT_SUFFIX");
  if (!which || !suffix || std::strcmp(which, call) != 0) return false;
  char link[64], path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = ::readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  size_t len = std::strlen(suffix);
  return static_cast<size_t>(n) >= len && std::strcmp(path + n - len, suffix) == 0;
}

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  static auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
  if (Targeted("write", fd)) {
    errno = EIO;
    return -1;
  }
  return real(fd, data, size);
}

// Positioned writes (files laid out in advance) fail alike.
extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  if (Targeted("write", fd)) {
    errno = EIO;
    return -1;
  }
  return real(fd, data, size, offset);
}

extern "C" ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
  static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
  if (Targeted("write", fd)) {
    errno = EIO;
    return -1;
  }
  return real(fd, data, size, offset);
}

extern "C" int close(int fd) {
  static auto real = Next<int (*)(int)>("close");
  bool fail = Targeted("close", fd);
  int rc = real(fd);
  if (fail) {
    errno = EIO;
    return -1;
  }
  return rc;
}
