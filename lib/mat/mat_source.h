// Byte sources the readers parse from: a bounded region of the file read
// through a large buffer, and the inflated stream of a compressed element.
// Both hand out exact byte counts or fail with a reason; neither allocates
// from a size it was told, only from sizes it has seen.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace matlayer {

class Source {
 public:
  virtual ~Source() = default;
  // Copies exactly n bytes into dst; false (and Error() set) when they are
  // not there.
  virtual bool Read(void* dst, size_t n) = 0;
  virtual bool Skip(uint64_t n) = 0;
  // Bytes handed out so far.
  virtual uint64_t Consumed() const = 0;
  const std::string& Error() const { return error_; }

 protected:
  bool fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  std::string error_;
};

// The bytes [begin, begin + length) of an open file.
class FileSource final : public Source {
 public:
  // buffer is shared scratch of the reader (kept between variables).
  FileSource(int fd, uint64_t begin, uint64_t length, std::vector<unsigned char>* buffer);
  bool Read(void* dst, size_t n) override;
  bool Skip(uint64_t n) override;
  uint64_t Consumed() const override { return pos_ - begin_; }
  uint64_t Left() const { return end_ - pos_; }
  // File offset of the next byte handed out.
  uint64_t Position() const { return pos_; }

 private:
  bool readAt(void* dst, size_t n, uint64_t at);
  int fd_;
  uint64_t begin_, pos_, end_;
  std::vector<unsigned char>& buffer_;
  uint64_t bufAt_ = 0;  // file offset of buffer_[0]
  size_t bufLen_ = 0;
  size_t fill_;  // bytes the next refill of buffer_ reads
};

// The inflated bytes of compressed input taken from another source.
class InflateSource final : public Source {
 public:
  explicit InflateSource(FileSource* input);
  ~InflateSource() override;
  bool Read(void* dst, size_t n) override;
  bool Skip(uint64_t n) override;
  uint64_t Consumed() const override { return produced_; }
  // True when the stream ends exactly here and no compressed input is left
  // over; the element must inflate to exactly what it declared.
  bool Finish();

 private:
  bool pump(unsigned char* dst, size_t n, size_t* got);
  FileSource& input_;
  z_stream z_{};
  bool ready_ = false;
  bool ended_ = false;
  uint64_t produced_ = 0;
  std::vector<unsigned char> in_;
};

}  // namespace matlayer

namespace matlayer {

// Reads count values of numeric storage type `type` (see mat_convert.h)
// from src into dst as doubles; double data of the host's byte order go
// straight into place.
bool ReadValues(Source& src, uint32_t type, size_t count, bool swap, double* dst);

}  // namespace matlayer
