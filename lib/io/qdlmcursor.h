// QDLMCursor: reads the pieces of a delimited text file from a given offset,
// with the semantics of a line read bounded to 10239 characters.
//
// A piece runs up to and including its line feed, or is cut at 10239
// characters; comment pieces (first byte '#' or NUL) are skipped by
// NextData. The cursor reads the file by positioned reads into a buffer of
// its own, so several cursors may read one file at once. (Reading through a
// mapping instead costs a page-table entry for every 4 KiB of the file
// wherever the file cache does not hold it in huge pages, and in a virtual
// machine each such entry may cost the host a fault of its own: a copy into
// a buffer that stays mapped costs the same on every machine.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class QDLMCursor {
 public:
  static constexpr size_t kMaxPiece = 10239;

  QDLMCursor() = default;
  bool Start(int fd, uint64_t offset);
  // The next data line (comment pieces skipped); false at the end.
  bool NextData();
  // The next piece, comment or not; false at the end.
  bool NextPiece() { return readPiece(); }
  const char* Piece() const { return piece_; }
  // The piece's length up to its line feed included (NULs not looked at).
  size_t PieceLength() const { return pieceLength_; }
  // How far memory after the current piece may be read (its bytes are
  // not part of the piece).
  const char* ReadableEnd() const { return buffer_.data() + buffer_.size(); }
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
  uint64_t fileOffset_ = 0;  // file offset of buffer_[0]
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  int error_ = 0;
  const char* piece_ = "";
  size_t pieceLength_ = 0;
  uint64_t pieceOffset_ = 0;
};
