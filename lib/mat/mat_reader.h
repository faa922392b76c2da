// What the three readers (level 4, level 5, 7.3) share: the open file, the
// damage and skip reports, and the end state after damage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mat/mat_internal.h"
#include "msg/qlog.h"

namespace matlayer {

class ReaderBase : public MATFile {
 public:
  ReaderBase(std::string path, int fd, uint64_t size);
  ~ReaderBase() override;
  ReaderBase(const ReaderBase&) = delete;
  ReaderBase& operator=(const ReaderBase&) = delete;
  bool Damaged() const override { return damaged_; }

 protected:
  // Reports damage and ends the reading: every later call gives null.
  void damaged(uint64_t at, const std::string& why);
  void damagedInflated(uint64_t at, uint64_t inflated, const std::string& why);
  // Damage where no byte offset is known (inside an HDF5 file).
  void damagedVariable(const std::string& name, const std::string& why);
  // A variable without numbers stands in as NaN; one too large is skipped.
  void noNumbers(const std::string& name, const char* cls, size_t count);
  void tooLarge(const std::string& name, const std::vector<mwSize>& dims);
  static std::string dimsText(const std::vector<mwSize>& dims);
  // Every report above goes out here: as a QWarning, or to the sink set.
  static void report(const char* format, ...) QPRINTF_CHECK(1, 2);

  std::string path_;
  int fd_;
  uint64_t size_;
  bool done_ = false;
  bool damaged_ = false;  // set with done_ when the reading ended at damage
  int index_ = 0;  // variables handed out so far
  std::vector<unsigned char> buffer_;
};

MATFile* OpenV4Reader(const std::string& path, int fd, uint64_t size);
// mapped: see OpenReader.
MATFile* OpenV5Reader(const std::string& path, int fd, uint64_t size, const unsigned char* header,
                      bool mapped);
// Takes over fd only to close it: HDF5 opens the file by name. The HDF5
// library does not survive every damaged file, so OpenV73Reader runs the
// reader (OpenV73ReaderInProcess) in a child process and passes on what it
// gives; a child that dies is reported as damage.
MATFile* OpenV73Reader(const std::string& path, int fd, uint64_t size);
MATFile* OpenV73ReaderInProcess(const std::string& path, int fd, uint64_t size);

// Sends the readers' reports to sink instead of QWarning (null: QWarning
// again); the 7.3 reader's child process passes them to its parent so.
void SetReportSink(void (*sink)(const char* text));

}  // namespace matlayer
