#include "server/uClientNames.h"

#include "net/Resolver.h"
#include "platform/Exceptions.h"

namespace ormelin {

TClientNameCache::TClientNameCache()
    : resolver_([](std::string_view address) { return LookupHostName(address); }) {}

TClientNameCache::TClientNameCache(TResolver resolver) : resolver_(std::move(resolver)) {}

std::string TClientNameCache::HostName(const std::string& address) {
  // IPv6 peers are not looked up: the lookup speaks IPv4 only.
  if (address.empty() || address.find(':') != std::string::npos) return address;

  TClock::time_point now = TClock::now();
  {
    TMutexLock guard(lock_);
    auto found = entries_.find(address);
    if (found != entries_.end() && found->second.Expires > now) return found->second.Name;
  }

  std::string name;
  try {
    name = resolver_(address);
  } catch (const Exception&) {
    name.clear();
  }
  if (name.empty()) name = address;

  TMutexLock guard(lock_);
  if (entries_.size() >= kPruneThreshold) {
    for (auto entry = entries_.begin(); entry != entries_.end();) {
      entry = entry->second.Expires <= now ? entries_.erase(entry) : std::next(entry);
    }
    // Still crowded with live answers: start afresh rather than grow without bound.
    if (entries_.size() >= 16 * kPruneThreshold) entries_.clear();
  }
  entries_[address] = TEntry{name, now + kTimeToLive};
  return name;
}

}  // namespace ormelin
