// QStr: the library's growable 8-bit string.
//
// Its capacity rules are part of its behaviour: the buffer grows on
// assignment to exactly the text length + 32, never shrinks, and only
// Release gives memory back. A dormant wide mode (flag bit 0) prints as
// "<unicodestr-nyi>"; nothing switches a string into it but tests.
#pragma once

#include <cstdint>

class QStr {
 public:
  explicit QStr(int initialCapacity = 32);
  ~QStr();
  QStr(const QStr&) = delete;
  QStr& operator=(const QStr&) = delete;

  void Reserve(int n);
  void Release();
  QStr& Assign(const char* text);
  bool IsEmpty() const;
  const char* CStr() const;

  int Capacity() const { return capacity_; }
  uint16_t Flags() const { return flags_; }
  void SetFlags(uint16_t flags) { flags_ = flags; }

 private:
  bool wide() const { return flags_ & 1; }

  uint16_t flags_ = 0;
  char* narrow_ = nullptr;
  uint16_t* wide_ = nullptr;
  int capacity_ = 0;
};
