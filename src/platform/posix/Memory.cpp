#include "platform/Memory.h"

#include <malloc.h>

namespace ormelin {

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace ormelin
