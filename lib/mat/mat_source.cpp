#include "mat/mat_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_io.h"

namespace matlayer {

namespace {
constexpr size_t kFileBuffer = 1 << 20;
// The first refill of a region: a variable's tags, dimensions and name fit,
// while its values, read next, are mostly left to go straight into place.
constexpr size_t kFirstFill = 4096;
constexpr size_t kInflateInput = 1 << 18;
}  // namespace

FileSource::FileSource(int fd, uint64_t begin, uint64_t length, std::vector<unsigned char>* buffer)
    : fd_(fd), begin_(begin), pos_(begin), end_(begin + length), buffer_(*buffer), fill_(kFirstFill) {
  // No larger than the region: a file of a few variables is read without
  // zeroing a megabyte first.
  size_t want = static_cast<size_t>(std::min<uint64_t>(kFileBuffer, length));
  if (buffer_.size() < want) buffer_.resize(want);
}

bool FileSource::readAt(void* dst, size_t n, uint64_t at) {
  auto* p = static_cast<unsigned char*>(dst);
  while (n > 0) {
    long long got = platform::ReadAt(fd_, p, std::min<size_t>(n, size_t{1} << 30), at);
    if (got < 0) return fail(std::string("read error: ") + std::strerror(errno));
    if (got == 0) return fail("the file ends early (it changed while being read?)");
    p += got;
    at += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool FileSource::Read(void* dst, size_t n) {
  if (n > end_ - pos_) return fail("data run past the end of the element");
  auto* p = static_cast<unsigned char*>(dst);
  if (pos_ >= bufAt_ && pos_ < bufAt_ + bufLen_) {
    size_t take = std::min<uint64_t>(n, bufAt_ + bufLen_ - pos_);
    std::memcpy(p, buffer_.data() + (pos_ - bufAt_), take);
    p += take;
    pos_ += take;
    n -= take;
  }
  if (n == 0) return true;
  // Large runs (column data) go straight from the file into place.
  if (n >= buffer_.size() / 2 || n >= fill_) {
    if (!readAt(p, n, pos_)) return false;
    pos_ += n;
    return true;
  }
  // Refills grow from a page to the whole buffer: a region read in small
  // pieces (sparse indices, level 4 text) still costs few calls, while one
  // whose values follow a short head does not read them twice.
  size_t fill = std::min<uint64_t>(std::min(fill_, buffer_.size()), end_ - pos_);
  fill_ = std::min(2 * fill_, buffer_.size());
  if (!readAt(buffer_.data(), fill, pos_)) return false;
  bufAt_ = pos_;
  bufLen_ = fill;
  std::memcpy(p, buffer_.data(), n);
  pos_ += n;
  return true;
}

bool FileSource::Skip(uint64_t n) {
  if (n > end_ - pos_) return fail("data run past the end of the element");
  pos_ += n;
  return true;
}

InflateSource::InflateSource(FileSource* input) : input_(*input) {
  ready_ = inflateInit(&z_) == Z_OK;
}

InflateSource::~InflateSource() {
  if (ready_) inflateEnd(&z_);
}

bool InflateSource::pump(unsigned char* dst, size_t n, size_t* got) {
  *got = 0;
  if (!ready_) return fail("cannot start zlib");
  while (*got < n) {
    if (ended_) return true;
    if (z_.avail_in == 0 && input_.Left() > 0) {
      size_t take = std::min<uint64_t>(kInflateInput, input_.Left());
      if (in_.size() < take) in_.resize(take);
      if (!input_.Read(in_.data(), take)) return fail(input_.Error());
      z_.next_in = in_.data();
      z_.avail_in = static_cast<uInt>(take);
    }
    size_t want = std::min<size_t>(n - *got, size_t{1} << 30);
    z_.next_out = dst + *got;
    z_.avail_out = static_cast<uInt>(want);
    int rc = inflate(&z_, Z_NO_FLUSH);
    size_t made = want - z_.avail_out;
    *got += made;
    produced_ += made;
    if (rc == Z_STREAM_END) {
      ended_ = true;
    } else if (rc == Z_BUF_ERROR && made == 0) {
      // No progress possible: either the input is used up or (cannot
      // happen with avail_out > 0) the output is full.
      if (z_.avail_in == 0 && input_.Left() == 0) return fail("the compressed data are cut short");
    } else if (rc != Z_OK) {
      return fail(std::string("corrupt compressed data (zlib: ") + (z_.msg ? z_.msg : "error") + ")");
    }
  }
  return true;
}

bool InflateSource::Read(void* dst, size_t n) {
  size_t got;
  if (!pump(static_cast<unsigned char*>(dst), n, &got)) return false;
  if (got < n) return fail("the compressed data inflate to fewer bytes than declared");
  return true;
}

bool InflateSource::Skip(uint64_t n) {
  unsigned char scratch[16384];
  while (n > 0) {
    size_t step = std::min<uint64_t>(n, sizeof scratch);
    if (!Read(scratch, step)) return false;
    n -= step;
  }
  return true;
}

bool InflateSource::Finish() {
  unsigned char extra;
  size_t got;
  if (!ended_) {
    if (!pump(&extra, 1, &got)) return false;
    if (got) return fail("the compressed data inflate to more bytes than declared");
    if (!ended_) return fail("the compressed data are cut short");
  }
  if (z_.avail_in > 0 || input_.Left() > 0) return fail("bytes follow the end of the compressed stream");
  return true;
}

}  // namespace matlayer

#include "mat/mat_convert.h"

namespace matlayer {

bool ReadValues(Source& src, uint32_t type, size_t count, bool swap, double* dst) {
  size_t size = StorageSize(type);
  if (type == miDOUBLE) {
    if (!src.Read(dst, count * sizeof(double))) return false;
    if (swap) SwapDoubles(dst, count);
    return true;
  }
  unsigned char scratch[1 << 16];
  size_t per = sizeof scratch / size;
  for (size_t done = 0; done < count;) {
    size_t n = count - done < per ? count - done : per;
    if (!src.Read(scratch, n * size)) return false;
    Convert(type, scratch, n, swap, dst + done);
    done += n;
  }
  return true;
}

}  // namespace matlayer
