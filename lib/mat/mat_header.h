// The 128-byte header that opens a level 5 and a 7.3 MAT-file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace matlayer {

constexpr size_t kHeaderSize = 128;

// Fills out[128]: descriptive text padded with blanks, no subsystem data,
// the version (0x0100 for level 5, 0x0200 for 7.3) and "IM" (little-endian).
void MakeHeader(unsigned char* out, bool v73);

}  // namespace matlayer
