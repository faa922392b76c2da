#include "text/qdlmfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "msg/qlog.h"
#include "text/qexpand.h"

namespace {

// Large enough that a whole piece (10239 characters) always fits after the
// unread rest has been moved to the front.
constexpr size_t kReadBufferSize = 4 << 20;

}  // namespace

bool QDLMCursor::Start(int fd, uint64_t offset) {
  fd_ = fd;
  fileOffset_ = offset;
  if (buffer_.empty()) buffer_.resize(kReadBufferSize);
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
    size_t window = avail < kMaxPiece ? avail : kMaxPiece;
    const void* nl = std::memchr(start, '\n', window);
    size_t take = 0;
    if (nl) {
      take = static_cast<size_t>(static_cast<const char*>(nl) - start) + 1;
    } else if (avail >= kMaxPiece) {
      take = kMaxPiece;
    } else if (eof_) {
      take = avail;
      if (take == 0) return false;
    } else {
      std::memmove(buffer_.data(), start, avail);
      fileOffset_ += pos_;
      pos_ = 0;
      end_ = avail;
      ssize_t n;
      do {
        n = ::pread(fd_, buffer_.data() + end_, buffer_.size() - end_,
                    static_cast<off_t>(fileOffset_ + end_));
      } while (n < 0 && errno == EINTR);
      if (n < 0) error_ = errno;
      if (n <= 0) eof_ = true;
      else end_ += static_cast<size_t>(n);
      continue;
    }
    piece_ = start;
    pieceLength_ = take;
    pieceOffset_ = fileOffset_ + pos_;
    pos_ += take;
    return true;
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

QDLMFile::QDLMFile(const char* fileName) : name_(fileName ? fileName : "") {
  // Read-only: archived logs and other users' files must convert as well.
  // Non-blocking, so that a FIFO without a writer cannot hang the open.
  fd_ = ::open(QExpandFilename(name_.c_str()), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode))) {
    ::close(fd_);
    fd_ = -1;
  }
  if (fd_ < 0) {
    QWarning("QDLMFile ctor: can't open '%s'\n", name_.c_str());
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    // The table is read three times, by position: a pipe or a device
    // would give its data once and then look empty.
    ::close(fd_);
    fd_ = -1;
    QWarning("QDLMFile ctor: '%s' is not a regular file, can't read it", name_.c_str());
    return;
  }
  Rewind();
  recordCount_ = NoofRecs();
  Rewind();
}

QDLMFile::~QDLMFile() {
  if (fd_ >= 0) ::close(fd_);
}

void QDLMFile::Rewind() {
  if (fd_ >= 0) cursor_.Start(fd_, 0);
}

bool QDLMFile::IsEOF() const { return fd_ < 0 || cursor_.AtEnd(); }

bool QDLMFile::NextLine() {
  bool more = fd_ >= 0 && cursor_.NextData();
  if (cursor_.Error() && !readError_) readError_ = cursor_.Error();
  if (more) {
    line_ = cursor_.Piece();
    const void* nul = std::memchr(line_, '\0', cursor_.PieceLength());
    lineLength_ = nul ? static_cast<size_t>(static_cast<const char*>(nul) - line_)
                      : cursor_.PieceLength();
    return true;
  }
  // Nothing was read: the current line is empty rather than a stale one.
  line_ = "";
  lineLength_ = 0;
  return false;
}

uint32_t QDLMFile::NoofRecs() {
  if (fd_ < 0) return 0;
  if (recordCount_ != 0) return recordCount_;
  Rewind();
  checkpoints_.clear();
  uint64_t lines = 0;
  // Only line starts matter here, so the pieces are not searched for NULs.
  while (cursor_.NextData()) {
    if (lines >= 1 && (lines - 1) % kCheckpointStride == 0)
      checkpoints_.push_back(cursor_.PieceOffset());
    ++lines;
  }
  if (cursor_.Error() && !readError_) readError_ = cursor_.Error();
  uint64_t count = lines > 0 ? lines - 1 : 0;
  if (count > UINT32_MAX) count = UINT32_MAX;
  Rewind();
  recordCount_ = static_cast<uint32_t>(count);
  QPrintf("QCSV: NoofRecs()=%d\n", static_cast<int>(recordCount_));
  return recordCount_;
}

int QDLMFile::NoofFields() {
  NextLine();
  int result = 1;
  if (lineLength_ > 0) {
    bool inRun = false;
    for (size_t k = 0; k < lineLength_; ++k) {
      bool delim = line_[k] == delimiter_;
      if (delim && !inRun && result < INT32_MAX) ++result;
      inRun = delim;
    }
  }
  Rewind();
  return result;
}

bool QDLMFile::GetField(int i, char* out, int outSize) const {
  if (!out || outSize <= 0) return true;
  out[0] = '\0';
  if (i < 0 || lineLength_ == 0) return true;
  int k = 0;
  size_t n = 0;
  size_t limit = static_cast<size_t>(outSize) - 1;
  bool inRun = false;
  for (size_t p = 0; p < lineLength_; ++p) {
    char c = line_[p];
    if (c == delimiter_) {
      if (!inRun && ++k > i) break;
      inRun = true;
      continue;
    }
    inRun = false;
    if (k == i && c != '\r' && c != '\n' && n < limit) out[n++] = c;
  }
  out[n] = '\0';
  return true;
}
