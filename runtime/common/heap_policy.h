// How gwrt's heap behaves, set once at start (and by the benchmarks that run a module as gwrt
// does, so that they measure the same thing).
#pragma once

namespace gw {

// Free memory at the top of the heap that free() leaves in place, and the size from which a
// block is mapped on its own instead.
inline constexpr int kHeapKeptFree = 4 << 20;

// No fast bins: small freed blocks are merged with their neighbours when freed, instead of
// being set aside and merged all at once by the next large allocation. A rebuild of tens of
// thousands of firewall rules frees as many small blocks, and that one merge then took about
// a fifth of the rebuild; merged as they are freed, the whole costs about a tenth less and
// memory is no higher.
//
// Up to kHeapKeptFree of free memory stays at the top of the heap: by default free() gave back
// anything above 128 KiB there, so a transaction of a thousand changes, which frees about that
// much once its events are delivered, cost the next one a page fault per 4 KiB it took back
// (a restore of 10,000 rules: 700 faults, 8% of its time). Memory goes back to the system when
// gwrt trims after a large change (fw_backend_release_memory), a second after the last one.
// Blocks below kHeapKeptFree come from the heap too: fixing the trim threshold also fixes the
// size from which blocks are mapped, 128 KiB by default, and each mapped block is faulted in
// anew (a network object's list of thousands of addresses is such a block).
void set_heap_policy();

}  // namespace gw
