// QSafeFile: an output file that is either complete or not there at all.
//
// Open creates a temporary file beside the target; Write appends through a
// large buffer; Commit flushes, waits for the data to reach the disk (files
// up to 64 MiB), closes and renames the temporary file over the target (and
// waits for the rename to reach the disk), and only then does the target
// change. An existing target is swapped with the temporary file where the
// system can and then removed under the temporary name, which spares the
// wait a rename over it costs on ext4. Any failure of a write, the flush,
// the close or the rename makes Commit return false and removes the
// temporary file, leaving an existing target exactly as it was. A file
// neither committed nor aborted is removed by the destructor. Replacing a
// file keeps its permission bits; a new file gets 0666 less the umask, as
// fopen would give it. An interrupt (a signal, Ctrl-C) that ends the
// process meanwhile removes the temporary file too (platform/signals.h).
// Nothing here reports: callers word their own warnings from Error() (an
// errno value).
//
// Targets that renaming would mishandle behave as opening them for writing
// would: a symbolic link updates the file it points to, an existing file we
// may not write is refused (EACCES), and a device or pipe (/dev/null, a FIFO)
// is written in place, since it cannot be replaced and holds nothing to lose.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class QSafeFile {
 public:
  QSafeFile() = default;
  ~QSafeFile();
  QSafeFile(const QSafeFile&) = delete;
  QSafeFile& operator=(const QSafeFile&) = delete;

  // With inPlace false, a target that would be written in place (a device
  // or a pipe) is refused (ESPIPE) without being opened.
  bool Open(const char* target, bool inPlace = true);
  bool Write(const void* data, size_t size);
  // Positioned writes, for files whose layout is known in advance. Any
  // number of threads may call WriteAt at once (with Write not in use); a
  // failure is kept like that of Write. Reserve claims the disk space of the
  // whole file up front; false (and nothing kept) when the space is not
  // there or the file system cannot promise it.
  bool Reserve(size_t size);
  bool WriteAt(const void* data, size_t size, uint64_t offset);
  bool Commit();
  void Abort();

  bool IsOpen() const { return fd_ >= 0; }
  bool Failed() const { return error_ != 0; }
  int Error() const { return error_; }
  // The file being written (the temporary file, or the device written in
  // place), for writers that must open it by name themselves.
  const char* TempPath() const { return inPlace_ ? target_.c_str() : temp_.c_str(); }

 private:
  int createTemp();
  void forgetTemp();
  bool flushBuffer();
  bool writeAll(const char* data, size_t size);
  bool replaceTarget(bool* swapped);

  int fd_ = -1;
  std::atomic<int> error_{0};
  bool inPlace_ = false;
  bool replacing_ = false;  // the target existed at Open
  uint64_t oldSize_ = 0;    // the size of the target swapped out
  std::string target_;
  std::string temp_;
  int signalId_ = -1;  // temp_'s registration for removal by a signal
  std::vector<char> buffer_;
  size_t used_ = 0;
};
