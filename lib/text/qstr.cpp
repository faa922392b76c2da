#include "text/qstr.h"

#include <cstdlib>
#include <cstring>

#include "msg/qlog.h"

QStr::QStr(int initialCapacity) {
  Reserve(initialCapacity);
  if (narrow_) narrow_[0] = '\0';
}

QStr::~QStr() { Release(); }

void QStr::Reserve(int n) {
  if (capacity_ >= n) return;
  if (wide()) {
    void* p = std::realloc(wide_, static_cast<size_t>(n) * sizeof(uint16_t));
    if (!p) {
      QError("QStr:Reserve(); out of memory for %d characters", n);
      return;
    }
    if (!wide_) static_cast<uint16_t*>(p)[0] = 0;
    wide_ = static_cast<uint16_t*>(p);
  } else {
    void* p = std::realloc(narrow_, static_cast<size_t>(n));
    if (!p) {
      QError("QStr:Reserve(); out of memory for %d characters", n);
      return;
    }
    if (!narrow_) static_cast<char*>(p)[0] = '\0';
    narrow_ = static_cast<char*>(p);
  }
  capacity_ = n;
}

void QStr::Release() {
  if (narrow_) {
    std::free(narrow_);
    narrow_ = nullptr;
    capacity_ = 0;
  }
  if (wide_) {
    std::free(wide_);
    wide_ = nullptr;
    capacity_ = 0;
  }
}

QStr& QStr::Assign(const char* text) {
  if (!text) {
    if (wide()) {
      if (wide_) wide_[0] = 0;
    } else if (narrow_) {
      narrow_[0] = '\0';
    }
    return *this;
  }
  if (wide()) {
    Release();
    flags_ &= static_cast<uint16_t>(~1u);
  }
  size_t len = std::strlen(text);
  if (len > static_cast<size_t>(0x7fffffff - 32)) len = 0x7fffffff - 32;
  Reserve(static_cast<int>(len) + 32);
  if (!narrow_) return *this;
  // Only an exhausted heap leaves the buffer short: keep what fits.
  if (len >= static_cast<size_t>(capacity_)) len = static_cast<size_t>(capacity_) - 1;
  std::memcpy(narrow_, text, len);
  narrow_[len] = '\0';
  return *this;
}

bool QStr::IsEmpty() const {
  if (wide()) return !wide_ || wide_[0] == 0;
  return !narrow_ || narrow_[0] == '\0';
}

const char* QStr::CStr() const {
  if (wide()) return "<unicodestr-nyi>";
  return narrow_ ? narrow_ : "";
}
