#include "support/ModuleOnLoopback.h"

#include "support/ServerProcess.h"
#include "support/TestFiles.h"

namespace ormelin::test {

std::unique_ptr<TZevanOrmelinS> StartModule(const std::string& folder,
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

std::vector<std::string> LogTexts(TZevanOrmelinS& module) {
  std::vector<std::string> texts;
  auto walk = module.EventLog().GetEnumerator();
  while (walk->MoveNext()) texts.insert(texts.begin(), walk->Current()->Text());
  return texts;
}

}  // namespace ormelin::test
