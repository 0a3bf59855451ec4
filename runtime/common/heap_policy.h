// How gwrt's heap behaves, set once at start (and by the benchmarks that run a module as gwrt
// does, so that they measure the same thing).
#pragma once

namespace gw {

// No fast bins: small freed blocks are merged with their neighbours when freed, instead of
// being set aside and merged all at once by the next large allocation. A rebuild of tens of
// thousands of firewall rules frees as many small blocks, and that one merge then took about
// a fifth of the rebuild; merged as they are freed, the whole costs about a tenth less and
// memory is no higher.
void set_heap_policy();

}  // namespace gw
