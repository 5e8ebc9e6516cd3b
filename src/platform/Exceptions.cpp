#include "platform/Exceptions.h"

#include "platform/Format.h"

namespace ormelin {

void RaiseListIndexError(long long index) {
  throw EListError(Format("List index out of bounds (%lld)", index));
}

void Assert(bool condition, const char* unit, int line, const char* message) {
  if (!condition) throw EAssertionFailed(Format("%s (%s, line %d)", message, unit, line));
}

}  // namespace ormelin
