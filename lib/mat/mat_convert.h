// Tight loops that turn stored values of any MAT storage type into doubles,
// in either byte order. One call per block of values, never per value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace matlayer {

enum StorageType : uint32_t {
  miINT8 = 1, miUINT8 = 2, miINT16 = 3, miUINT16 = 4, miINT32 = 5, miUINT32 = 6,
  miSINGLE = 7, miDOUBLE = 9, miINT64 = 12, miUINT64 = 13, miMATRIX = 14,
  miCOMPRESSED = 15, miUTF8 = 16, miUTF16 = 17, miUTF32 = 18,
};

// Bytes per value of a numeric storage type, 0 for anything else. The UTF
// types count as their code units (UTF-8 is decoded separately).
inline size_t StorageSize(uint32_t type) {
  switch (type) {
    case miINT8: case miUINT8: return 1;
    case miINT16: case miUINT16: case miUTF16: return 2;
    case miINT32: case miUINT32: case miSINGLE: case miUTF32: return 4;
    case miDOUBLE: case miINT64: case miUINT64: return 8;
    default: return 0;
  }
}

inline uint16_t Swap(uint16_t v) { return __builtin_bswap16(v); }
inline uint32_t Swap(uint32_t v) { return __builtin_bswap32(v); }
inline uint64_t Swap(uint64_t v) { return __builtin_bswap64(v); }

template <typename T, typename Bits>
void ConvertBlock(const unsigned char* src, size_t n, bool swap, double* out) {
  static_assert(sizeof(T) == sizeof(Bits));
  if (swap && sizeof(T) > 1) {
    for (size_t i = 0; i < n; ++i) {
      Bits b;
      std::memcpy(&b, src + i * sizeof(T), sizeof(T));
      if constexpr (sizeof(T) > 1) b = Swap(b);
      T v;
      std::memcpy(&v, &b, sizeof(T));
      out[i] = static_cast<double>(v);
    }
  } else {
    for (size_t i = 0; i < n; ++i) {
      T v;
      std::memcpy(&v, src + i * sizeof(T), sizeof(T));
      out[i] = static_cast<double>(v);
    }
  }
}

// Converts n values of storage type `type` at src into out. The type must
// have a StorageSize.
inline void Convert(uint32_t type, const unsigned char* src, size_t n, bool swap, double* out) {
  switch (type) {
    case miINT8: ConvertBlock<int8_t, uint8_t>(src, n, swap, out); break;
    case miUINT8: ConvertBlock<uint8_t, uint8_t>(src, n, swap, out); break;
    case miINT16: ConvertBlock<int16_t, uint16_t>(src, n, swap, out); break;
    case miUINT16: case miUTF16: ConvertBlock<uint16_t, uint16_t>(src, n, swap, out); break;
    case miINT32: ConvertBlock<int32_t, uint32_t>(src, n, swap, out); break;
    case miUINT32: case miUTF32: ConvertBlock<uint32_t, uint32_t>(src, n, swap, out); break;
    case miSINGLE: ConvertBlock<float, uint32_t>(src, n, swap, out); break;
    case miDOUBLE: ConvertBlock<double, uint64_t>(src, n, swap, out); break;
    case miINT64: ConvertBlock<int64_t, uint64_t>(src, n, swap, out); break;
    case miUINT64: ConvertBlock<uint64_t, uint64_t>(src, n, swap, out); break;
    default: break;
  }
}

// Swaps doubles in place (a big-endian file's double data read straight in).
inline void SwapDoubles(double* v, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint64_t b;
    std::memcpy(&b, v + i, 8);
    b = Swap(b);
    std::memcpy(v + i, &b, 8);
  }
}

}  // namespace matlayer
