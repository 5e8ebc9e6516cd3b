// The service module run inside the test: started on a free pair of
// loopback ports, and its event log read back as texts.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/usvOrmelinS.h"
#include "support/ServerProcess.h"
#include "support/TestFiles.h"

namespace ormelin::test {

// Writes `folder`/orServer.xml as `configFor` gives it for a free port pair
// and starts the module there, with other pairs when another process took
// the ports meanwhile; the sync port in `port`. Null after five failures.
inline std::unique_ptr<TZevanOrmelinS> StartModule(const std::string& folder,
                                                   const std::function<std::string(int)>& configFor,
                                                   int& port) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    port = FreePortPair();
    WriteFile(folder + "/orServer.xml", configFor(port));
    auto module = std::make_unique<TZevanOrmelinS>(folder + "/orServer.xml");
    module->ServiceCreate();
    if (module->State() == ssReady) return module;
  }
  return nullptr;
}

// The texts of the module's event log, oldest first.
inline std::vector<std::string> LogTexts(TZevanOrmelinS& module) {
  std::vector<std::string> texts;
  auto walk = module.EventLog().GetEnumerator();
  while (walk->MoveNext()) texts.insert(texts.begin(), walk->Current()->Text());
  return texts;
}

}  // namespace ormelin::test
