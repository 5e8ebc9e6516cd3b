#include "comparer/uorBaseCommand.h"

#include <utility>
#include <vector>

#include "platform/Collation.h"
#include "platform/Format.h"
#include "platform/Mutex.h"

namespace ormelin {
namespace {

struct TRegistry {
  TMutex Lock;
  std::vector<std::pair<std::string, TorCommandClass>> Entries GUARDED_BY(Lock);
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

void RegisterCommandClass(std::string_view name, TorCommandClass command) {
  Assert(command != nullptr, "uorBaseCommand", __LINE__);
  TRegistry& registry = Registry();
  TMutexLock guard(registry.Lock);
  for (auto& entry : registry.Entries) {
    if (AnsiSameText(entry.first, name)) {
      entry.second = command;
      return;
    }
  }
  registry.Entries.emplace_back(std::string(name), command);
}

TorCommandClass FindCommandClass(std::string_view name) {
  TRegistry& registry = Registry();
  {
    TMutexLock guard(registry.Lock);
    for (const auto& entry : registry.Entries) {
      if (AnsiSameText(entry.first, name)) return entry.second;
    }
  }
  throw EClassNotFound(Format("Class %.*s not found", static_cast<int>(name.size()), name.data()));
}

}  // namespace ormelin
