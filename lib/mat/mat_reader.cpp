// matOpen "r": tells the formats apart by their first bytes, and the report
// texts every reader shares.
#include "mat/mat_reader.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "msg/qlog.h"
#include "platform/file_io.h"

namespace matlayer {

ReaderBase::ReaderBase(std::string path, int fd, uint64_t size)
    : path_(std::move(path)), fd_(fd), size_(size) {}

ReaderBase::~ReaderBase() {
  if (fd_ >= 0) platform::Close(fd_);
}

namespace {

void (*reportSink)(const char* text) = nullptr;

}  // namespace

void SetReportSink(void (*sink)(const char* text)) { reportSink = sink; }

void ReaderBase::report(const char* format, ...) {
  char text[QLOG_BUFSIZE];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (reportSink)
    reportSink(text);
  else
    QWarning("%s", text);
}

void ReaderBase::damaged(uint64_t at, const std::string& why) {
  report("matGetNextVariable(); '%s' damaged at byte %" PRIu64 " (variable %d): %s", path_.c_str(), at,
         index_ + 1, why.c_str());
  done_ = true;
  damaged_ = true;
}

void ReaderBase::damagedInflated(uint64_t at, uint64_t inflated, const std::string& why) {
  report("matGetNextVariable(); '%s' damaged at byte %" PRIu64
         " (variable %d, byte %" PRIu64 " of its inflated data): %s",
         path_.c_str(), at, index_ + 1, inflated, why.c_str());
  done_ = true;
  damaged_ = true;
}

void ReaderBase::damagedVariable(const std::string& name, const std::string& why) {
  report("matGetNextVariable(); '%s' damaged in variable %d ('%s'): %s", path_.c_str(), index_ + 1, name.c_str(),
         why.c_str());
  done_ = true;
  damaged_ = true;
}

void ReaderBase::noNumbers(const std::string& name, const char* cls, size_t count) {
  report("matGetNextVariable(); '%s': variable '%s' holds no numbers (%s); read as %zu NaN", path_.c_str(),
         name.c_str(), cls, count);
}

void ReaderBase::tooLarge(const std::string& name, const std::vector<mwSize>& dims) {
  report("matGetNextVariable(); '%s': variable '%s' (%s) is too large to read into memory; skipped",
         path_.c_str(), name.c_str(), dimsText(dims).c_str());
}

std::string ReaderBase::dimsText(const std::vector<mwSize>& dims) {
  std::string text;
  for (size_t i = 0; i < dims.size(); ++i) {
    if (i) text += 'x';
    text += std::to_string(dims[i]);
  }
  return text;
}

MATFile* OpenReader(const char* filename, bool mapped) {
  int fd = platform::OpenRead(filename);
  if (fd < 0) return nullptr;
  platform::FileInfo info;
  if (!platform::StatFile(fd, &info) || !info.isRegular) {
    platform::Close(fd);
    errno = EINVAL;
    return nullptr;
  }
  uint64_t size = info.size;
  unsigned char head[128] = {};
  size_t want = size < sizeof head ? static_cast<size_t>(size) : sizeof head;
  if (platform::ReadAt(fd, head, want, 0) != static_cast<long long>(want)) {
    platform::Close(fd);
    errno = EIO;
    return nullptr;
  }
  static const unsigned char kHdf5[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
  if (size >= 8 && std::memcmp(head, kHdf5, 8) == 0) return OpenV73Reader(filename, fd, size);
  // Level 4 files start with a small integer type code, level 5 and 7.3
  // files with text: a zero among the first four bytes means level 4.
  if (size >= 4 && (!head[0] || !head[1] || !head[2] || !head[3])) return OpenV4Reader(filename, fd, size);
  if (size >= 128) {
    bool little = head[126] == 'I' && head[127] == 'M';
    bool big = head[126] == 'M' && head[127] == 'I';
    if (little || big) {
      unsigned version = little ? head[124] | head[125] << 8 : head[125] | head[124] << 8;
      if (version == 0x0100) return OpenV5Reader(filename, fd, size, head, mapped);
      if (version == 0x0200) return OpenV73Reader(filename, fd, size);
    }
  }
  platform::Close(fd);
  errno = EINVAL;
  return nullptr;
}

}  // namespace matlayer
