// The system's reason for a failed call, as the text that error messages
// carry ("The system cannot find the file specified"). The one place where
// a Windows error code becomes text. Safe from any thread.
#pragma once

#include <string>

namespace ormelin {

// FormatMessage's text in code page 1250 without the line end that closes
// it (a closing full stop kept): in English where the system has it, else
// in the system's own language. Empty for a code without a text.
std::string SystemErrorText(unsigned long errorCode);

// The text as error messages carry it, without its closing full stop;
// "Unknown error %d" for a code without a text.
std::string SystemErrorMessage(unsigned long errorCode);

}  // namespace ormelin
