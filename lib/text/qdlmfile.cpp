#include "text/qdlmfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "msg/qlog.h"
#include "text/qexpand.h"

namespace {

// Large enough that a whole piece (10239 characters) always fits after the
// unread rest has been moved to the front.
constexpr size_t kReadBufferSize = 256 << 10;

uint64_t pageMask() {
  static const uint64_t mask = [] {
    long size = ::sysconf(_SC_PAGESIZE);
    return static_cast<uint64_t>(size > 0 ? size : 4096) - 1;
  }();
  return mask;
}

// A read of a mapped file past its end (the file shrank after it was
// mapped) raises SIGBUS. Inside QDLMGuarded that read jumps back to the
// guard, which reports it; anywhere else the signal keeps the disposition it
// had before.
thread_local sigjmp_buf* busJump = nullptr;
struct sigaction previousBus;

void onBus(int signal, siginfo_t* info, void* context) {
  // Only a fault of this thread's own read counts; a SIGBUS sent by another
  // process (si_code <= 0) is left to the disposition it had before.
  bool fault = info && info->si_code > 0;
  if (busJump && fault) siglongjmp(*busJump, 1);
  if (previousBus.sa_flags & SA_SIGINFO) {
    if (previousBus.sa_sigaction) {
      previousBus.sa_sigaction(signal, info, context);
      return;
    }
  } else if (previousBus.sa_handler != SIG_DFL && previousBus.sa_handler != SIG_IGN) {
    previousBus.sa_handler(signal);
    return;
  }
  // The default: returning runs the faulting read again, which now ends
  // the process as it would have without us; a sent signal is sent again.
  ::sigaction(SIGBUS, &previousBus, nullptr);
  if (!fault) ::raise(SIGBUS);
}

void installBusGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action = {};
    action.sa_sigaction = onBus;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    struct sigaction current = {};
    if (::sigaction(SIGBUS, nullptr, &current) == 0) action.sa_flags |= current.sa_flags & SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousBus);
  });
}

}  // namespace

bool QDLMCursor::Start(const QDLMFile& file, uint64_t offset) {
  if (!file.Mapping()) return Start(file.Descriptor(), offset);
  Start(-1, offset);
  map_ = file.Mapping();
  mapSize_ = file.MappingSize();
  releaseStep_ = 0;
  released_ = offset & ~pageMask();
  eof_ = false;
  return true;
}

bool QDLMCursor::Start(int fd, uint64_t offset) {
  fd_ = fd;
  map_ = nullptr;
  mapSize_ = 0;
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

namespace {

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

// One read with the semantics of a bounded line read: at most 10239
// characters, up to and including the first line feed.
bool QDLMCursor::readPiece() {
  if (map_) {
    if (fileOffset_ >= mapSize_) {
      eof_ = true;
      return false;
    }
    piece_ = map_ + fileOffset_;
    pieceLength_ = pieceLength(piece_, static_cast<size_t>(mapSize_ - fileOffset_), true);
    pieceOffset_ = fileOffset_;
    fileOffset_ += pieceLength_;
    if (releaseStep_ != 0 && pieceOffset_ - released_ >= releaseStep_) ReleaseRead();
    return true;
  }
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
    ssize_t n;
    do {
      n = ::pread(fd_, buffer_.data() + end_, buffer_.size() - end_,
                  static_cast<off_t>(fileOffset_ + end_));
    } while (n < 0 && errno == EINTR);
    if (n < 0) error_ = errno;
    if (n <= 0) eof_ = true;
    else end_ += static_cast<size_t>(n);
  }
}

void QDLMCursor::ReleaseRead() {
  if (!map_) return;
  uint64_t upTo = pieceOffset_ & ~pageMask();
  if (upTo <= released_) return;
  ::madvise(const_cast<char*>(map_) + released_, upTo - released_, MADV_DONTNEED);
  released_ = upTo;
}

bool QDLMCursor::NextData() {
  if (fd_ < 0 && !map_) return false;
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
  // The counts and the value pass read the file in place, without copying
  // it; the field names and lines handed out are read by positioned reads.
  if (st.st_size > 0 && static_cast<uint64_t>(st.st_size) <= SIZE_MAX) {
    installBusGuard();
    void* map = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd_, 0);
    if (map != MAP_FAILED) {
      map_ = static_cast<const char*>(map);
      mapSize_ = static_cast<uint64_t>(st.st_size);
    }
  }
  Rewind();
  recordCount_ = NoofRecs();
  Rewind();
}

QDLMFile::~QDLMFile() {
  if (map_) ::munmap(const_cast<char*>(map_), static_cast<size_t>(mapSize_));
  if (fd_ >= 0) ::close(fd_);
}

int QDLMGuarded(void (*fn)(void*), void* arg) {
  // The guard a caller had is back in place however this ends: normally,
  // by the jump, or by an exception from fn.
  struct Restore {
    sigjmp_buf* outer;
    ~Restore() { busJump = outer; }
  } restore{busJump};
  sigjmp_buf jump;
  if (sigsetjmp(jump, 1) != 0) return EIO;
  busJump = &jump;
  fn(arg);
  return 0;
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

namespace {

// What one part of the file holds: its data pieces and the offsets of every
// kCheckpointStride-th of them, counted from its first.
struct PartCount {
  uint64_t pieces = 0;
  std::vector<uint64_t> marks;
  uint64_t second = 0;  // offset of its second piece, if it has one
  int error = 0;
};

// Counts the data pieces that start in [begin, end) (end 0: the end of the
// file); begin must be a line start. A part whose text takes more than
// keepPerPiece bytes a piece lets go of what it has read, so that the pages
// held stay within what the table of values will take.
void countPart(const QDLMFile* file, uint64_t begin, uint64_t end, uint64_t keepPerPiece,
               PartCount* out) {
  QDLMCursor cursor;
  cursor.Start(*file, begin);
  // Room for every mark the part can hold (a piece is one byte at least),
  // so that nothing is allocated while the mapping is read.
  uint64_t last = end != 0 ? end : file->MappingSize();
  if (file->Mapping() && last > begin) out->marks.reserve((last - begin) / QDLMFile::kCheckpointStride + 2);
  uint64_t checked = begin;
  // The pages ahead are mapped in bulk, a few megabytes at a time, which
  // costs the kernel less than taking them one fault at a time.
  uint64_t populated = begin & ~pageMask();
  auto populate = [&](uint64_t upTo) {
#ifdef MADV_POPULATE_READ
    upTo = std::min(upTo & ~pageMask(), last);
    if (file->Mapping() && upTo > populated) {
      ::madvise(const_cast<char*>(file->Mapping()) + populated, upTo - populated, MADV_POPULATE_READ);
      populated = upTo;
    }
#endif
  };
  auto count = [&] {
    populate(begin + 2 * QDLMCursor::kReleaseStep);
    // Only line starts matter here, so the pieces are not searched for NULs.
    while (cursor.NextData()) {
      if (end != 0 && cursor.PieceOffset() >= end) break;
      if (out->pieces % QDLMFile::kCheckpointStride == 0) out->marks.push_back(cursor.PieceOffset());
      if (out->pieces == 1) out->second = cursor.PieceOffset();
      ++out->pieces;
      if (cursor.PieceOffset() - checked >= QDLMCursor::kReleaseStep) {
        checked = cursor.PieceOffset();
        if (checked - begin > out->pieces * keepPerPiece) cursor.ReleaseRead();
        populate(checked + 2 * QDLMCursor::kReleaseStep);
      }
    }
  };
  out->error = QDLMGuarded(count);
  if (!out->error) out->error = cursor.Error();
}

// The first line start at or after offset and before limit (0 if there is
// none, or a read fails: the part is then left out).
uint64_t lineStartFrom(int fd, uint64_t offset, uint64_t limit) {
  char buffer[64 << 10];
  uint64_t at = offset - 1;  // a line starts after a line feed
  while (at < limit) {
    ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    if (const void* nl = std::memchr(buffer, '\n', static_cast<size_t>(n)))
      return at + static_cast<uint64_t>(static_cast<const char*>(nl) - buffer) + 1;
    at += static_cast<uint64_t>(n);
  }
  return 0;
}

// Large files are counted in parts, one per core, cut at line starts.
constexpr uint64_t kPartMinimum = 8 << 20;

}  // namespace

uint32_t QDLMFile::NoofRecs() {
  if (fd_ < 0) return 0;
  if (recordCount_ != 0) return recordCount_;
  checkpoints_.clear();
  struct stat st;
  uint64_t size = ::fstat(fd_, &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  unsigned cores = std::thread::hardware_concurrency();
  uint64_t parts = std::min<uint64_t>({cores == 0 ? 1 : cores, 8, size / kPartMinimum + 1});
  std::vector<uint64_t> starts = {0};
  for (uint64_t t = 1; t < parts; ++t) {
    uint64_t start = lineStartFrom(fd_, size / parts * t, size / parts * (t + 1));
    if (start > starts.back() && start < size) starts.push_back(start);
  }
  // Each record will take 8 bytes a field in a table of values (which keeps
  // kMappedFieldsAtMost fields); as long as its text takes no more, the
  // pages read stay mapped for the value pass.
  int fields = std::min(NoofFields(), kMappedFieldsAtMost);
  uint64_t keepPerPiece = 8 * static_cast<uint64_t>(fields);
  std::vector<PartCount> counts(starts.size());
  std::vector<std::thread> workers;
  for (size_t t = 0; t < starts.size(); ++t) {
    uint64_t end = t + 1 < starts.size() ? starts[t + 1] : 0;
    bool here = t + 1 == starts.size();
    if (!here) {
      try {
        workers.emplace_back(countPart, this, starts[t], end, keepPerPiece, &counts[t]);
        continue;
      } catch (...) {
        // No thread to be had: count that part here.
      }
    }
    countPart(this, starts[t], end, keepPerPiece, &counts[t]);
  }
  for (std::thread& w : workers) w.join();

  // The first data piece names the fields; records are numbered after it,
  // so record 0 is the file's second piece, and the parts' marks give the
  // rest of the checkpoints.
  uint64_t lines = 0;
  for (const PartCount& part : counts) {
    if (lines <= 1 && lines + part.pieces > 1)
      checkpoints_.push_back({0, lines == 1 ? part.marks[0] : part.second});
    lines += part.pieces;
  }
  uint64_t before = 0;
  for (const PartCount& part : counts) {
    if (part.error && !readError_) readError_ = part.error;
    for (size_t k = 0; k < part.marks.size(); ++k) {
      uint64_t piece = before + k * kCheckpointStride;
      if (piece >= 2 && !checkpoints_.empty()) checkpoints_.push_back({piece - 1, part.marks[k]});
    }
    before += part.pieces;
  }
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
