// QSafeFile: an output file that is either complete or not there at all.
//
// Open creates a temporary file beside the target; Write appends through a
// large buffer; Commit flushes, closes and renames the temporary file over
// the target, and only then does the target change. Any failure of a write,
// the flush, the close or the rename makes Commit return false and removes
// the temporary file, leaving an existing target exactly as it was. A file
// neither committed nor aborted is removed by the destructor. Replacing a
// file keeps its permission bits; a new file gets 0666 less the umask, as
// fopen would give it. Nothing here reports: callers word their own warnings
// from Error() (an errno value).
//
// Targets that renaming would mishandle behave as opening them for writing
// would: a symbolic link updates the file it points to, an existing file we
// may not write is refused (EACCES), and a device or pipe (/dev/null, a FIFO)
// is written in place, since it cannot be replaced and holds nothing to lose.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class QSafeFile {
 public:
  QSafeFile() = default;
  ~QSafeFile();
  QSafeFile(const QSafeFile&) = delete;
  QSafeFile& operator=(const QSafeFile&) = delete;

  bool Open(const char* target);
  bool Write(const void* data, size_t size);
  bool Commit();
  void Abort();

  bool IsOpen() const { return fd_ >= 0; }
  bool Failed() const { return error_ != 0; }
  int Error() const { return error_; }
  // The file being written (the temporary file, or the device written in
  // place), for writers that must open it by name themselves.
  const char* TempPath() const { return inPlace_ ? target_.c_str() : temp_.c_str(); }

 private:
  bool flushBuffer();
  bool writeAll(const char* data, size_t size);

  int fd_ = -1;
  int error_ = 0;
  bool inPlace_ = false;
  std::string target_;
  std::string temp_;
  std::vector<char> buffer_;
  size_t used_ = 0;
};
