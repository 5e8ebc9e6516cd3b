// The process's heap.
#pragma once

namespace ormelin {

// Gives the memory that freed blocks left in the heap back to the system.
// A comparison frees trees of hundreds of megabytes on two threads; without
// this their free space stays with each thread's heap and the process keeps
// the peak of every thread that ever compared.
void ReleaseFreeMemory();

}  // namespace ormelin
