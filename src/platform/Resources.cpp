#include "platform/Resources.h"

#include <deque>
#include <map>
#include <memory>
#include <string>

#include "platform/Exceptions.h"
#include "platform/Mutex.h"
#include "platform/Text.h"

namespace ormelin {
namespace {

class TResourceRegistry {
 public:
  void Register(std::string_view name, std::string_view type, std::string_view data) {
    TWriterLock lock(mutex_);
    // Earlier bytes stay alive: a view handed out before a re-registration
    // must not dangle.
    storage_.push_back(std::make_unique<std::string>(data));
    entries_[Key(name, type)] = *storage_.back();
  }

  bool Find(std::string_view name, std::string_view type, std::string_view& data) const {
    TReaderLock lock(mutex_);
    auto it = entries_.find(Key(name, type));
    if (it == entries_.end()) return false;
    data = it->second;
    return true;
  }

 private:
  static std::string Key(std::string_view name, std::string_view type) {
    return AnsiUpperCase(type) + '\0' + AnsiUpperCase(name);
  }

  mutable TSharedMutex mutex_;
  std::map<std::string, std::string_view> entries_ GUARDED_BY(mutex_);
  std::deque<std::unique_ptr<std::string>> storage_ GUARDED_BY(mutex_);
};

TResourceRegistry& Registry() {
  static TResourceRegistry registry;
  return registry;
}

}  // namespace

void RegisterResource(std::string_view name, std::string_view type, std::string_view data) {
  Registry().Register(name, type, data);
}

std::string_view FindResource(std::string_view name, std::string_view type) {
  std::string_view data;
  if (!Registry().Find(name, type, data)) {
    throw EResNotFound("Resource " + std::string(name) + " not found");
  }
  return data;
}

}  // namespace ormelin
