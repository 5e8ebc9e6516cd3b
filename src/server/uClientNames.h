// The names of the synchronisation clients as the event log shows them.
// A peer's host name comes from the reverse lookup of its IPv4 address; an
// address without a name, one the resolver cannot answer for, and every IPv6
// address stand for themselves. Each address's answer is remembered for a
// minute so that a busy server does not ask the resolver on every command.
// Safe from any thread; the resolver is called without the cache's lock held.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/Mutex.h"

namespace ormelin {

class TClientNameCache {
 public:
  using TResolver = std::function<std::string(std::string_view address)>;
  using TClock = std::chrono::steady_clock;

  static constexpr std::chrono::seconds kTimeToLive{60};
  // Beyond this many remembered addresses the expired ones are dropped.
  static constexpr size_t kPruneThreshold = 1024;

  // The default resolver is the network layer's reverse lookup, which raises
  // a socket error when the address has no name.
  TClientNameCache();
  explicit TClientNameCache(TResolver resolver);

  // The host name of `address`, or the address itself (see above).
  std::string HostName(const std::string& address);

 private:
  struct TEntry {
    std::string Name;
    TClock::time_point Expires;
  };

  TResolver resolver_;
  TMutex lock_;
  std::unordered_map<std::string, TEntry> entries_ GUARDED_BY(lock_);  // by address text
};

}  // namespace ormelin
