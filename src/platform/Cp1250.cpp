#include "platform/Cp1250.h"

#include <algorithm>
#include <array>
#include <utility>

namespace ormelin {

namespace {

using TReverseEntry = std::pair<char16_t, unsigned char>;

// The high half sorted by code point, for the way back.
constexpr std::array<TReverseEntry, 128> BuildReverse() {
  std::array<TReverseEntry, 128> entries{};
  for (int i = 0; i < 128; ++i) {
    entries[i] = {kCp1250Unicode[0x80 + i], static_cast<unsigned char>(0x80 + i)};
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

constexpr std::array<TReverseEntry, 128> kReverse = BuildReverse();

}  // namespace

int UnicodeToCp1250(char32_t codePoint) {
  if (codePoint < 0x80) return static_cast<int>(codePoint);
  if (codePoint > 0xFFFF) return -1;
  auto it = std::lower_bound(kReverse.begin(), kReverse.end(), codePoint,
                             [](const TReverseEntry& e, char32_t cp) { return e.first < cp; });
  if (it == kReverse.end() || it->first != codePoint) return -1;
  return it->second;
}

}  // namespace ormelin
