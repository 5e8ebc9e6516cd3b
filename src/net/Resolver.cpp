#include "net/Resolver.h"

#include "platform/Sockets.h"

namespace ormelin {

std::string LookupHostName(std::string_view address) {
  return ReverseLookup(address);
}

}  // namespace ormelin
