// The service module run inside the test: started on a free pair of
// loopback ports, and its event log read back as texts.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/usvOrmelinS.h"

namespace ormelin::test {

// Writes `folder`/orServer.xml as `configFor` gives it for a free port pair
// (the synchronisation port) and starts the module on it, with other pairs
// when another process took the ports meanwhile. The started module and its
// port in `port`; null after five pairs that failed.
std::unique_ptr<TZevanOrmelinS> StartModule(const std::string& folder,
                                            const std::function<std::string(int)>& configFor,
                                            int& port);

// The texts of the module's event log, oldest first.
std::vector<std::string> LogTexts(TZevanOrmelinS& module);

}  // namespace ormelin::test
