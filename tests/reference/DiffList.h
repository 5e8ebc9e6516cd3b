// A sync's answer as one text: the module's comparison of `project` with
// the client tree `clientTree` (its XML as the client sends it), answered
// from the packed trees exactly as the server writes it to the client.
// For tests and benchmarks, which want the answer without a connection.
//
// Threading: as the module's syncs, any thread.
#pragma once

#include <string>

namespace ormelin {

class TZevanOrmelinS;
class TorProject;

std::string BuildDiffList(TZevanOrmelinS& module, const TorProject& project,
                          const std::string& clientTree);

}  // namespace ormelin
