#include "platform/Memory.h"

#include <malloc.h>

namespace ormelin {

void ReleaseFreeMemory() {
  _heapmin();
}

}  // namespace ormelin
