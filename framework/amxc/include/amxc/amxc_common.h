/* Shared helpers of the value library: pointer arithmetic for intrusive
 * links, printf checking and the variant access flags. */
#ifndef AMXC_COMMON_H
#define AMXC_COMMON_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Checks printf-style arguments at compile time. */
#define AMXC_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))

/* Maps an embedded link back to its owner; NULL stays NULL. Used by every
 * intrusive container here, so `addr` is evaluated exactly once. */
static inline void* amxc_container_of_(const void* addr, size_t offset) {
    return addr == NULL ? NULL : (void*) ((const char*) addr - offset);
}
#define amxc_container_of(addr, type, member) \
    ((type*) amxc_container_of_((addr), offsetof(type, member)))

/* Flags of the variant accessors (amxc_var_get_key, amxc_var_set_key, ...).
 * DEFAULT: borrow / take ownership; COPY: work on a deep copy;
 * UPDATE: allow replacing the value stored under an existing key or index. */
#define AMXC_VAR_FLAG_DEFAULT 0x00
#define AMXC_VAR_FLAG_COPY 0x01
#define AMXC_VAR_FLAG_UPDATE 0x02

#ifdef __cplusplus
}
#endif

#endif /* AMXC_COMMON_H */
