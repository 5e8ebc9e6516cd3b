// Integer conversion with the system's messages. Decimal digits, or
// hexadecimal after "$", "x", "X", "0x" or "0X", with an optional sign and
// leading blanks; anything else (empty, trailing characters, overflow of 32
// bits) is "'%s' is not a valid integer value". Safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ormelin {

bool TryStrToInt(std::string_view text, int32_t& value);
int32_t StrToInt(std::string_view text);  // raises EConvertError
bool TryStrToInt64(std::string_view text, int64_t& value);
int64_t StrToInt64(std::string_view text);  // raises EConvertError
std::string IntToStr(int64_t value);

}  // namespace ormelin
