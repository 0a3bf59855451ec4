/* A C allocator for tests that fails the n-th allocation on request and
 * counts live blocks, to check that failures leave no leak behind. The C++
 * library's operator new allocates through it too, and throws on its failures. */
#ifndef FAILING_ALLOCATOR_H
#define FAILING_ALLOCATOR_H

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Makes the allocation after `n` more successful ones fail (0: the next). */
void failing_allocator_fail_after(long n);
/* Stops failing; true when a failure was injected since fail_after. */
bool failing_allocator_disarm(void);
/* False when a tool (valgrind) brought its own allocator over this one. */
bool failing_allocator_works(void);
/* Blocks allocated and not yet freed. */
long failing_allocator_live_blocks(void);

#ifdef __cplusplus
}
#endif

#endif
