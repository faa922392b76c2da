// QDLMFile: reader for space-delimited text tables such as the telemetry logs.
//
// Reads one file line by line, skipping comment lines (first byte '#' or
// NUL), counts records and fields, and hands out fields of the current line
// by index. A run of spaces is one separator; carriage returns and line feeds
// never belong to a field; a line ends at its first NUL; a line longer than
// 10239 characters is read in pieces of at most 10239 characters, each a line
// of its own. The file is opened read-only; the lines handed out are read
// through a buffer, while the count and the bulk readers (QDLMCursor started
// on the file) read it in place through a mapping, counted in parts, one per
// core.
//
// A reader whose file did not open behaves as one on an empty file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads the pieces of a file from a given offset through its own buffer,
// with the semantics of a line read bounded to 10239 characters. Several
// cursors may read one descriptor at once (positioned reads).
class QDLMCursor {
 public:
  static constexpr size_t kMaxPiece = 10239;

  QDLMCursor() = default;
  bool Start(int fd, uint64_t offset);
  // Reads the file through its mapping where it has one (see QDLMGuarded),
  // else by positioned reads.
  bool Start(const class QDLMFile& file, uint64_t offset);
  // The next data line (comment pieces skipped); false at the end.
  bool NextData();
  const char* Piece() const { return piece_; }
  // The piece's length up to its line feed included (NULs not looked at).
  size_t PieceLength() const { return pieceLength_; }
  // How far memory after the current piece may be read (its bytes are
  // not part of the piece).
  const char* ReadableEnd() const {
    return map_ ? map_ + mapSize_ : buffer_.data() + buffer_.size();
  }
  // Lets go of the mapped pages before the current piece (they stay in the
  // file cache), so that a long read does not hold all of the file;
  // ReleaseBehind does so by itself every kReleaseStep bytes from now on.
  static constexpr uint64_t kReleaseStep = 4 << 20;
  void ReleaseRead();
  void ReleaseBehind() { releaseStep_ = kReleaseStep; }
  // File offset of the current piece.
  uint64_t PieceOffset() const { return pieceOffset_; }
  bool AtEnd() const { return eof_; }
  // The errno of a read that failed (the cursor then stops as at the end),
  // or 0.
  int Error() const { return error_; }

 private:
  bool readPiece();

  int fd_ = -1;
  const char* map_ = nullptr;  // the mapped file, read in place
  uint64_t mapSize_ = 0;
  uint64_t released_ = 0;      // mapped pages before this offset were let go
  uint64_t releaseStep_ = 0;
  uint64_t fileOffset_ = 0;   // file offset of buffer_[0], or of the next piece when mapped
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  int error_ = 0;
  const char* piece_ = "";
  size_t pieceLength_ = 0;
  uint64_t pieceOffset_ = 0;
};

// Where a record starts: its index (0: the first line after the field-name
// line) and its file offset.
struct QDLMCheckpoint {
  uint64_t record;
  uint64_t offset;
};

class QDLMFile {
 public:
  static constexpr int kLineBufferSize = 10240;
  // NoofRecs remembers where records start, about every kCheckpointStride
  // records, so that the records can be read in parallel ranges.
  static constexpr uint32_t kCheckpointStride = 8192;
  // The count keeps the pages of a log mapped while they take no more room
  // than a table of 8-byte values of that many fields at most would.
  static constexpr int kMappedFieldsAtMost = 100;

  explicit QDLMFile(const char* fileName);
  ~QDLMFile();
  QDLMFile(const QDLMFile&) = delete;
  QDLMFile& operator=(const QDLMFile&) = delete;

  // Data lines after the field-name line; counted once, a non-zero count
  // remembered. Each count that is made reports "QCSV: NoofRecs()=%d\n".
  uint32_t NoofRecs();
  // Fields of the next data line (space runs + 1); rewinds afterwards.
  int NoofFields();
  // Reads the next data line; false at the end of the file.
  bool NextLine();
  // Copies field i of the current line into out (cut to outSize - 1
  // characters, always terminated). Always true.
  bool GetField(int i, char* out, int outSize) const;
  bool IsEOF() const;
  void Rewind();

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  // The errno of the first read that failed since the file was opened, or 0.
  // Such a failure ends the file early, so callers must not take what was
  // read for the whole file.
  int ReadError() const { return readError_; }

  // The current line, cut at its first NUL (what GetField walks).
  const char* Line() const { return line_; }
  size_t LineLength() const { return lineLength_; }

  // The file mapped into memory (null when it could not be mapped), for
  // QDLMCursor::Start(file, ..) within QDLMGuarded.
  const char* Mapping() const { return map_; }
  uint64_t MappingSize() const { return mapSize_; }

  // Record starts found by the last count, in file order, the first at
  // record 0, at most kCheckpointStride records apart.
  const std::vector<QDLMCheckpoint>& Checkpoints() const { return checkpoints_; }

 private:
  std::string name_;
  int fd_ = -1;
  uint32_t recordCount_ = 0;
  char delimiter_ = ' ';
  QDLMCursor cursor_;
  const char* line_ = "";
  size_t lineLength_ = 0;
  std::vector<QDLMCheckpoint> checkpoints_;
  int readError_ = 0;
  const char* map_ = nullptr;
  uint64_t mapSize_ = 0;
};

// Runs fn(arg) and returns 0, or EIO when fn touched a part of a mapped file
// that is gone (the file was cut short by someone else meanwhile): reading
// that would otherwise end the process. fn is then left where it was, so it
// must not own anything that needs freeing while it reads a mapping.
int QDLMGuarded(void (*fn)(void*), void* arg);

template <class F>
int QDLMGuarded(F& fn) {
  return QDLMGuarded([](void* f) { (*static_cast<F*>(f))(); }, &fn);
}
