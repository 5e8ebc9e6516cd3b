#include "platform/Conversions.h"

#include <limits>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the text into a magnitude no larger than `limit` plus its sign.
// Decimal magnitudes may reach limit + 1 when negative (the most negative
// value); hexadecimal ones give the bit pattern of up to `hexLimit`.
bool ParseInteger(std::string_view text, uint64_t decimalLimit, uint64_t hexLimit, bool& negative,
                  bool& hex, uint64_t& magnitude) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return false;
  magnitude = 0;
  const uint64_t limit = hex ? hexLimit : decimalLimit + (negative ? 1 : 0);
  const unsigned base = hex ? 16 : 10;
  for (; i < text.size(); ++i) {
    int digit = hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) return false;
    if (magnitude > (limit - static_cast<uint64_t>(digit)) / base) return false;
    magnitude = magnitude * base + static_cast<uint64_t>(digit);
  }
  return true;
}

[[noreturn]] void RaiseNotInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace

bool TryStrToInt(std::string_view text, int32_t& value) {
  bool negative = false;
  bool hex = false;
  uint64_t magnitude = 0;
  if (!ParseInteger(text, std::numeric_limits<int32_t>::max(), 0xFFFFFFFFu, negative, hex,
                    magnitude)) {
    return false;
  }
  // A hexadecimal text is the 32-bit pattern ("$FFFFFFFF" is -1).
  uint32_t bits = static_cast<uint32_t>(magnitude);
  if (negative) bits = 0u - bits;
  value = static_cast<int32_t>(bits);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t value = 0;
  if (!TryStrToInt(text, value)) RaiseNotInteger(text);
  return value;
}

bool TryStrToInt64(std::string_view text, int64_t& value) {
  bool negative = false;
  bool hex = false;
  uint64_t magnitude = 0;
  if (!ParseInteger(text, std::numeric_limits<int64_t>::max(), std::numeric_limits<uint64_t>::max(),
                    negative, hex, magnitude)) {
    return false;
  }
  uint64_t bits = negative ? 0u - magnitude : magnitude;
  value = static_cast<int64_t>(bits);
  return true;
}

int64_t StrToInt64(std::string_view text) {
  int64_t value = 0;
  if (!TryStrToInt64(text, value)) RaiseNotInteger(text);
  return value;
}

std::string IntToStr(int64_t value) {
  return std::to_string(value);
}

}  // namespace ormelin
