// QDLMCursor: reads the pieces of a delimited text file from a given offset,
// with the semantics of a line read bounded to 10239 characters.
//
// A piece runs up to and including its line feed, or is cut at 10239
// characters; comment pieces (first byte '#' or NUL) are skipped by
// NextData. The cursor reads the file in place through its mapping where
// there is one (then only inside platform::RunGuarded), else through a
// buffer of its own by positioned reads, so several cursors may read one
// file at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// An open file as cursors read it: its descriptor, and its mapping where
// it has one.
struct QDLMSource {
  int fd = -1;
  const char* map = nullptr;
  uint64_t mapSize = 0;
};

class QDLMCursor {
 public:
  static constexpr size_t kMaxPiece = 10239;

  QDLMCursor() = default;
  bool Start(int fd, uint64_t offset);
  // Reads the file through its mapping where it has one, else by
  // positioned reads.
  bool Start(const QDLMSource& file, uint64_t offset);
  // The next data line (comment pieces skipped); false at the end.
  bool NextData();
  // The next piece, comment or not; false at the end.
  bool NextPiece() { return readPiece(); }
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
  // File offset of the current piece; once NextData has given false, that
  // of the last piece read (comment pieces included), or the start offset
  // when none was.
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
