// The system's reason for a failed call, as the text that error messages
// carry ("No such file or directory"). The one place where an errno value
// becomes text. Safe from any thread.
#pragma once

#include <string>

namespace ormelin {

std::string SystemErrorMessage(int errorNumber);

}  // namespace ormelin
