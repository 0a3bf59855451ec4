#include "heap_policy.h"

#include <malloc.h>

namespace gw {

void set_heap_policy() {
    mallopt(M_MXFAST, 0);
    mallopt(M_TRIM_THRESHOLD, kHeapKeptFree);
    mallopt(M_MMAP_THRESHOLD, kHeapKeptFree);
}

}  // namespace gw
