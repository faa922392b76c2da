#include "io/qsafefile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file_io.h"
#include "platform/process.h"
#include "platform/signals.h"

namespace {

constexpr size_t kBufferSize = 1 << 20;
// Outputs up to this size reach the disk before they are renamed into place.
// Waiting for the disk costs a quarter to a half of a conversion's time
// whatever the size, which for small files is a few milliseconds; for the
// large ones it would undo the conversion's speed, and they are left to the
// kernel's write-back.
constexpr uint64_t kSyncAtMost = 64 << 20;
// An old file at least this large, swapped out, is freed by a process of its
// own (platform::RemoveFreeingLater): the kernel takes some 18 ms for 160
// MB, which would otherwise be the last thing the caller waits for.
constexpr uint64_t kFreeLaterFrom = 16 << 20;
// An old file at least this large has its cached pages let go of before the
// new one is written (its contents stay untouched on the disk), unless some
// of them are still to be written out: that would cost writing a file about
// to go, which removing it later does not. The new file's pages then come
// from memory just freed. On virtual machines that hand long-free memory
// back to their host, taking such memory again costs a fault in the host per
// page: packing 800 MB over an 800 MB MAT-file took 0.6 to 2.2 s that way,
// against 0.6 to 0.7 s with the old pages let go of first. For 160 MB it
// made runs 13 to 16 ms slower: writes that small still find such memory.
constexpr uint64_t kDropCacheFrom = 256 << 20;
std::atomic<unsigned> tempCounter{0};

std::string directoryOf(const std::string& path) {
#if defined(_WIN32)
  // Windows separates folders by either slash.
  size_t slash = path.find_last_of("/\\");
#else
  size_t slash = path.rfind('/');
#endif
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
  platform::FileInfo st;
  // Follow links to the file they name, also one that does not exist yet
  // (a dangling link): writing through a link creates or updates its file.
  for (int hops = 0; hops < 40 && platform::StatLink(target_.c_str(), &st) && st.isLink; ++hops) {
    char link[4096];
    if (platform::ReadLink(target_.c_str(), link, sizeof link) <= 0) break;
    if (link[0] == '/') target_ = link;
    else target_ = directoryOf(target_) + "/" + link;
  }
  // A chain of links that never ends (a loop) names no file: opening it
  // fails, and renaming over its last link would replace that link.
  if (platform::StatLink(target_.c_str(), &st) && st.isLink) {
    error_ = ELOOP;
    return false;
  }
  bool replacing = platform::StatPath(target_.c_str(), &st);
  if (replacing && st.isDirectory) {
    error_ = EISDIR;
    return false;
  }
  if (replacing && !platform::MayWrite(target_.c_str())) {
    error_ = errno;
    return false;
  }
  if (replacing && !st.isRegular) {
    if (!inPlace) {
      error_ = ESPIPE;
      return false;
    }
    fd_ = platform::OpenTruncate(target_.c_str());
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
    std::snprintf(suffix, sizeof suffix, ".%d-%u.tmp", platform::ProcessId(),
                  tempCounter.fetch_add(1));
    temp_ = target_ + suffix;
    fd_ = createTemp();
    if (fd_ < 0 && errno == ENAMETOOLONG) {
      temp_ = directoryOf(target_) + "/.qsafe" + suffix;
      fd_ = createTemp();
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
  if (replacing) (void)platform::SetMode(fd_, st.mode);
  if (replacing && st.size >= kDropCacheFrom) platform::DropCleanCache(target_.c_str());
  replacing_ = replacing;
  oldSize_ = 0;
  buffer_.resize(kBufferSize);
  used_ = 0;
  return true;
}

// The name is registered before the file exists and stays so until the
// file is gone or renamed, so that an interrupt at any moment removes it.
// One that comes just as the create fails on an existing file removes that
// file: named after our process id, it is a leftover of a process gone.
int QSafeFile::createTemp() {
  signalId_ = platform::RemoveOnSignal(temp_.c_str());
  int fd = platform::CreateNew(temp_.c_str(), 0666);
  if (fd < 0) {
    int err = errno;
    forgetTemp();
    errno = err;
  }
  return fd;
}

void QSafeFile::forgetTemp() {
  platform::ForgetOnSignal(signalId_);
  signalId_ = -1;
}

bool QSafeFile::writeAll(const char* data, size_t size) {
  if (platform::WriteAll(fd_, data, size)) return true;
  error_ = errno;
  return false;
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
  return platform::ReserveSpace(fd_, size);
}

bool QSafeFile::WriteAt(const void* data, size_t size, uint64_t offset) {
  if (fd_ < 0 || error_) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    long long n = platform::WriteAt(fd_, p, size, offset);
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
  // The data reach the disk before the name does: after a power loss the
  // target is the old file or the whole new one, never a torn one.
  platform::FileInfo st;
  bool sync = ok && !inPlace_ && platform::StatFile(fd_, &st) && st.size <= kSyncAtMost;
  if (sync && !platform::SyncFile(fd_)) {
    error_ = errno;
    ok = false;
  }
  if (!platform::Close(fd_) && ok) {
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
  bool swapped = false;
  if (ok && !replaceTarget(&swapped)) {
    error_ = errno;
    ok = false;
  }
  // The rename itself is kept by the directory; a directory that cannot be
  // synchronised still holds the complete file under one name or the other.
  if (ok && sync) (void)platform::SyncDirectory(directoryOf(target_).c_str());
  // Swapped, the temporary name holds the old file, the last of it; failed,
  // the unfinished new one.
  if (ok && swapped && oldSize_ >= kFreeLaterFrom)
    platform::RemoveFreeingLater(temp_.c_str());
  else if (!ok || swapped)
    platform::Remove(temp_.c_str());
  forgetTemp();
  temp_.clear();
  buffer_.clear();
  buffer_.shrink_to_fit();
  return ok;
}

// A rename over an existing file makes ext4 start writing out the new file
// within the rename when its blocks are not placed yet (a file written
// through the page cache, as a log is): a third of a second for 800 MB, on
// top of freeing the old file. Swapping the two names does not: the target
// is whole at every moment, as with the rename, and the old file, now under
// the temporary name (still removed by a signal), goes by a plain remove
// after. A process killed in between leaves the complete new target and the
// old file beside it, as it would leave an unfinished output.
bool QSafeFile::replaceTarget(bool* swapped) {
  platform::FileInfo st;
  // Only a file is swapped out: a rename refuses to replace a directory, and
  // says so.
  if (replacing_ && platform::StatLink(target_.c_str(), &st) && (st.isRegular || st.isLink)) {
    if (platform::Exchange(temp_.c_str(), target_.c_str())) {
      *swapped = true;
      oldSize_ = st.size;
      return true;
    }
    // A target gone meanwhile is simply renamed over.
    if (errno != ENOTSUP && errno != ENOENT) return false;
  }
  return platform::Rename(temp_.c_str(), target_.c_str());
}

void QSafeFile::Abort() {
  if (fd_ >= 0) {
    platform::Close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    platform::Remove(temp_.c_str());
    forgetTemp();
    temp_.clear();
  }
  inPlace_ = false;
  used_ = 0;
}
