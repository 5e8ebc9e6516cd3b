#include "platform/posix/SystemError.h"

#include <string.h>

#include "platform/Format.h"

namespace ormelin {

std::string SystemErrorMessage(int errorNumber) {
  char buffer[256];
  // The GNU form returns either the buffer or a static text.
  const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
  if (text == nullptr || *text == '\0') return Format("Unknown error %d", errorNumber);
  return text;
}

}  // namespace ormelin
