/* Replaces malloc and friends on top of the C library's allocator; the C
 * library routes its own internal users (strdup, ...) to the replacement. */
#include "failing_allocator.h"

#include <errno.h>
#include <stddef.h>

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* ptr, size_t size);
void __libc_free(void* ptr);

static long countdown = -1;
static bool injected = false;
static long live = 0;

/* Fails as the C library's allocator does, with ENOMEM. */
static bool should_fail(void) {
    if(countdown < 0) {
        return false;
    }
    if(countdown-- == 0) {
        injected = true;
        errno = ENOMEM;
        return true;
    }
    return false;
}

void failing_allocator_fail_after(long n) {
    injected = false;
    countdown = n;
}

bool failing_allocator_disarm(void) {
    countdown = -1;
    return injected;
}

long failing_allocator_live_blocks(void) {
    return live;
}

/* Counts a block the C library handed out. */
static void* counted(void* ptr) {
    live += ptr != NULL ? 1 : 0;
    return ptr;
}

void* malloc(size_t size) {
    return should_fail() ? NULL : counted(__libc_malloc(size));
}

void* calloc(size_t count, size_t size) {
    return should_fail() ? NULL : counted(__libc_calloc(count, size));
}

void* realloc(void* old, size_t size) {
    if(should_fail()) {
        return NULL;
    }
    void* ptr = __libc_realloc(old, size);
    if(old == NULL && ptr != NULL) {
        ++live;
    } else if(old != NULL && size == 0) {
        --live;
    }
    return ptr;
}

void free(void* ptr) {
    live -= ptr != NULL ? 1 : 0;
    __libc_free(ptr);
}

bool failing_allocator_works(void) {
    failing_allocator_fail_after(0);
    void* volatile probe = malloc(1);  /* volatile: the call may not be elided */
    bool works = failing_allocator_disarm();
    free(probe);
    return works;
}
