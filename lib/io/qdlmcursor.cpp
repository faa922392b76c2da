#include "io/qdlmcursor.h"

#include <cstring>

#include "platform/file_io.h"

namespace {

// Large enough that a whole piece (10239 characters) always fits after the
// unread rest has been moved to the front.
constexpr size_t kReadBufferSize = 256 << 10;

// The length of the piece at start, with avail characters there: up to and
// including the first line feed, at most kMaxPiece characters. 0 when the
// piece may run on past what is there and more must be read first; with
// complete set nothing more will come, and the rest is the piece.
size_t pieceLength(const char* start, size_t avail, bool complete) {
  size_t window = avail < QDLMCursor::kMaxPiece ? avail : QDLMCursor::kMaxPiece;
  if (const void* nl = std::memchr(start, '\n', window))
    return static_cast<size_t>(static_cast<const char*>(nl) - start) + 1;
  return avail >= QDLMCursor::kMaxPiece || complete ? window : 0;
}

}  // namespace

bool QDLMCursor::Start(int fd, uint64_t offset) {
  fd_ = fd;
  fileOffset_ = offset;
  if (fd >= 0 && buffer_.empty()) buffer_.resize(kReadBufferSize);
  pos_ = end_ = 0;
  eof_ = fd < 0;
  error_ = 0;
  piece_ = "";
  pieceLength_ = 0;
  pieceOffset_ = offset;
  return fd >= 0;
}

// One read with the semantics of a bounded line read: at most 10239
// characters, up to and including the first line feed.
bool QDLMCursor::readPiece() {
  for (;;) {
    size_t avail = end_ - pos_;
    const char* start = buffer_.data() + pos_;
    if (avail == 0 && eof_) return false;
    if (size_t take = pieceLength(start, avail, eof_)) {
      piece_ = start;
      pieceLength_ = take;
      pieceOffset_ = fileOffset_ + pos_;
      pos_ += take;
      return true;
    }
    // The piece runs on past the buffer: the rest to the front, then more.
    std::memmove(buffer_.data(), start, avail);
    fileOffset_ += pos_;
    pos_ = 0;
    end_ = avail;
    long long n = platform::ReadAt(fd_, buffer_.data() + end_, buffer_.size() - end_, fileOffset_ + end_);
    if (n < 0) error_ = errno;
    if (n <= 0) eof_ = true;
    else end_ += static_cast<size_t>(n);
  }
}

bool QDLMCursor::NextData() {
  if (fd_ < 0) return false;
  while (readPiece())
    if (piece_[0] != '#' && piece_[0] != '\0') return true;
  piece_ = "";
  pieceLength_ = 0;
  return false;
}
