#include "text/qsafefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kBufferSize = 1 << 20;
std::atomic<unsigned> tempCounter{0};

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

QSafeFile::~QSafeFile() { Abort(); }

bool QSafeFile::Open(const char* target, bool inPlace) {
  Abort();
  error_ = 0;
  inPlace_ = false;
  target_ = target;
  struct stat st;
  // Follow links to the file they name, also one that does not exist yet
  // (a dangling link): writing through a link creates or updates its file.
  for (int hops = 0; hops < 40 && ::lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
       ++hops) {
    char link[4096];
    ssize_t n = ::readlink(target_.c_str(), link, sizeof link - 1);
    if (n <= 0) break;
    link[n] = '\0';
    if (link[0] == '/') target_ = link;
    else target_ = directoryOf(target_) + "/" + link;
  }
  // A chain of links that never ends (a loop) names no file: opening it
  // fails, and renaming over its last link would replace that link.
  if (::lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    error_ = ELOOP;
    return false;
  }
  bool replacing = ::stat(target_.c_str(), &st) == 0;
  if (replacing && S_ISDIR(st.st_mode)) {
    error_ = EISDIR;
    return false;
  }
  if (replacing && ::access(target_.c_str(), W_OK) != 0) {
    error_ = errno;
    return false;
  }
  if (replacing && !S_ISREG(st.st_mode)) {
    if (!inPlace) {
      error_ = ESPIPE;
      return false;
    }
    fd_ = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) {
      error_ = errno;
      return false;
    }
    inPlace_ = true;
    buffer_.resize(kBufferSize);
    used_ = 0;
    return true;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%d-%u.tmp", static_cast<int>(::getpid()),
                  tempCounter.fetch_add(1));
    temp_ = target_ + suffix;
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno == ENAMETOOLONG) {
      temp_ = directoryOf(target_) + "/.qsafe" + suffix;
      fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (fd_ >= 0) break;
    if (errno != EEXIST) {
      error_ = errno;
      temp_.clear();
      return false;
    }
  }
  if (fd_ < 0) {
    error_ = EEXIST;
    temp_.clear();
    return false;
  }
  if (replacing) (void)::fchmod(fd_, st.st_mode & 07777);
  buffer_.resize(kBufferSize);
  used_ = 0;
  return true;
}

bool QSafeFile::writeAll(const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    if (n == 0) {
      error_ = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool QSafeFile::flushBuffer() {
  if (used_ == 0) return true;
  bool ok = writeAll(buffer_.data(), used_);
  used_ = 0;
  return ok;
}

bool QSafeFile::Write(const void* data, size_t size) {
  if (fd_ < 0 || error_) return false;
  const char* p = static_cast<const char*>(data);
  if (used_ + size <= buffer_.size()) {
    std::memcpy(buffer_.data() + used_, p, size);
    used_ += size;
    return true;
  }
  if (!flushBuffer()) return false;
  if (size >= buffer_.size()) return writeAll(p, size);
  std::memcpy(buffer_.data(), p, size);
  used_ = size;
  return true;
}

bool QSafeFile::Reserve(size_t size) {
  if (fd_ < 0 || error_ || inPlace_) return false;
  int rc;
  do {
    rc = ::fallocate(fd_, 0, 0, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool QSafeFile::WriteAt(const void* data, size_t size, uint64_t offset) {
  if (fd_ < 0 || error_) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int expected = 0;
      error_.compare_exchange_strong(expected, n < 0 ? errno : EIO);
      return false;
    }
    p += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool QSafeFile::Commit() {
  if (fd_ < 0) return false;
  bool ok = !error_ && flushBuffer();
  if (::close(fd_) != 0 && ok) {
    error_ = errno;
    ok = false;
  }
  fd_ = -1;
  if (inPlace_) {
    inPlace_ = false;
    buffer_.clear();
    buffer_.shrink_to_fit();
    return ok;
  }
  if (ok && ::rename(temp_.c_str(), target_.c_str()) != 0) {
    error_ = errno;
    ok = false;
  }
  if (!ok) ::unlink(temp_.c_str());
  temp_.clear();
  buffer_.clear();
  buffer_.shrink_to_fit();
  return ok;
}

void QSafeFile::Abort() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
  inPlace_ = false;
  used_ = 0;
}
