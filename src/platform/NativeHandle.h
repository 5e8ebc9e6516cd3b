// A handle of the operating system (a socket, an open file) as the shared
// headers carry it: pointer-sized, so that a POSIX descriptor and a Windows
// SOCKET or HANDLE both fit. Only the operating-system folders of the
// platform look inside; everyone else only passes it on.
#pragma once

#include <cstdint>

namespace ormelin {

using TNativeHandle = intptr_t;

// No handle: -1, which is also the value of an invalid Windows SOCKET and
// HANDLE.
constexpr TNativeHandle kNoNativeHandle = -1;

}  // namespace ormelin
