#include "io/qdlmfile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "msg/qexpand.h"
#include "msg/qlog.h"
#include "platform/file_io.h"

QDLMFile::QDLMFile(const char* fileName) : name_(fileName ? fileName : "") {
  // Read-only: archived logs and other users' files must convert as well.
  // Non-blocking, so that a FIFO without a writer cannot hang the open.
  fd_ = platform::OpenRead(QExpandFilename(name_.c_str()), true);
  platform::FileInfo st;
  if (fd_ >= 0 && (!platform::StatFile(fd_, &st) || st.isDirectory)) {
    platform::Close(fd_);
    fd_ = -1;
  }
  if (fd_ < 0) {
    QWarning("QDLMFile ctor: can't open '%s'\n", name_.c_str());
    return;
  }
  if (!st.isRegular) {
    // The table is read three times, by position: a pipe or a device
    // would give its data once and then look empty.
    platform::Close(fd_);
    fd_ = -1;
    QWarning("QDLMFile ctor: '%s' is not a regular file, can't read it", name_.c_str());
    return;
  }
  size_ = st.size;
  unsigned char head[3] = {};
  long long got = size_ >= 3 ? platform::ReadAt(fd_, head, 3, 0) : 0;
  if (got < 0) readError_ = errno;  // the file is not read as it is
  if (got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) textStart_ = 3;
  Rewind();
  recordCount_ = NoofRecs();
  Rewind();
}

QDLMFile::~QDLMFile() {
  if (fd_ >= 0) platform::Close(fd_);
}

void QDLMFile::Rewind() {
  if (fd_ >= 0) cursor_.Start(fd_, textStart_);
}

bool QDLMFile::IsEOF() const { return fd_ < 0 || cursor_.AtEnd(); }

void QDLMFile::keepLine(const char* piece, size_t length) {
  // A piece is at most kMaxPiece characters: it always fits with its NUL.
  length = std::min(length, line_.size() - 1);
  std::memcpy(line_.data(), piece, length);
  line_[length] = '\0';
  lineLength_ = std::strlen(line_.data());
}

bool QDLMFile::NextLine() {
  if (fd_ < 0) {
    keepLine("", 0);
    return false;
  }
  // Comment pieces are read (and kept) like any other, then passed over.
  while (cursor_.NextPiece()) {
    keepLine(cursor_.Piece(), cursor_.PieceLength());
    if (line_[0] != '#' && line_[0] != '\0') return true;
  }
  if (cursor_.Error() && !readError_) readError_ = cursor_.Error();
  return false;
}

uint32_t QDLMFile::NoofRecs() {
  if (fd_ < 0) return 0;
  if (recordCount_ != 0) return recordCount_;
  platform::FileInfo st;
  uint64_t size = platform::StatFile(fd_, &st) ? st.size : 0;
  QDLMPieceCount counted = QDLMCountPieces(fd_, size, textStart_);
  checkpoints_ = std::move(counted.checkpoints);
  if (counted.error && !readError_) readError_ = counted.error;
  // The count read the whole file: its last line is the current one now.
  if (size > textStart_ && !counted.error) {
    QDLMCursor last;
    if (last.Start(fd_, counted.lastPiece) && last.NextPiece()) keepLine(last.Piece(), last.PieceLength());
  }
  uint64_t count = counted.pieces > 0 ? counted.pieces - 1 : 0;
  if (count > UINT32_MAX) count = UINT32_MAX;
  Rewind();
  recordCount_ = static_cast<uint32_t>(count);
  QPrintf("QCSV: NoofRecs()=%u\n", recordCount_);
  return recordCount_;
}

int QDLMFile::NoofFields() {
  int result = 1;
  if (NextLine() && lineLength_ > 0) {
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
