// The code page 1250 character table: the Unicode code point of every byte
// and the byte of every code point the code page holds. The five bytes the
// code page leaves undefined (0x81, 0x83, 0x88, 0x90, 0x98) stand for the C1
// control characters of the same number, so every byte survives a round trip.
// Pure functions over constant tables, safe from any thread.
#pragma once

#include <cstdint>

namespace ormelin {

// The code point of every code page 1250 byte.
extern const char16_t kCp1250Unicode[256];

// The code point of one code page 1250 byte.
inline char16_t Cp1250ToUnicode(unsigned char c) { return kCp1250Unicode[c]; }

// The code page 1250 byte of a code point, or -1 when the code page lacks it.
int UnicodeToCp1250(char32_t codePoint);

}  // namespace ormelin
