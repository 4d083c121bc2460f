#include "driver/memory_policy.hpp"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace korvex {

void keep_freed_memory() {
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);               // the threads' blocks reuse one another's
    mallopt(M_MMAP_THRESHOLD, 32 << 20);   // blocks up to 32 MB from the heap, kept when freed
    mallopt(M_TRIM_THRESHOLD, 1024 << 20); // the heap's free top returned only beyond 1 GB
#endif
}

} // namespace korvex
