// printf-style formatting into a std::string: the system's message formats
// ("Dohvat projekta %s", "Socket Error # %d\r\n%s") are used as they stand.
#pragma once

#include <string>

namespace ormelin {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ormelin
