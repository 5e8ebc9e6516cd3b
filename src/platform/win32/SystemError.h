// The system's reason for a failed call, as the text that error messages
// carry ("The system cannot find the file specified"). The one place where
// a Windows error code becomes text. Safe from any thread.
#pragma once

#include <string>

namespace ormelin {

// FormatMessage's text in code page 1250, without the line end and the
// full stop that close it; "Unknown error %d" for a code without a text.
std::string SystemErrorMessage(unsigned long errorCode);

}  // namespace ormelin
