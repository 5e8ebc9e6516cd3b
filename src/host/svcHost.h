// The process host around the service module: installation and removal of
// the service, and the run that keeps the process alive until the service
// manager (or an administrator) stops it. Runs on the main thread only.
#pragma once

#include <string>
#include <vector>

namespace ormelin {

// The whole process: creates the module (its creation handler runs in every
// mode), installs or removes the service or runs as the service until it is
// stopped, destroys the module. Returns the process exit code.
int RunHost(const std::vector<std::string>& arguments);

}  // namespace ormelin
