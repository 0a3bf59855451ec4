#include "heap_policy.h"

#include <malloc.h>

namespace gw {

void set_heap_policy() { mallopt(M_MXFAST, 0); }

}  // namespace gw
