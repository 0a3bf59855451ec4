/* Guard clauses: jump to a cleanup label when a condition holds.
 * The traced forms live in the trace library. */
#ifndef AMXC_MACROS_H
#define AMXC_MACROS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef UNUSED
#define UNUSED __attribute__((unused))
#endif

/* True for NULL and for "". */
static inline int amxc_macros_str_empty_(const char* text) {
    return text == NULL || text[0] == '\0';
}

#ifndef when_null
#define when_null(x, label) do { if((x) == NULL) { goto label; } } while(0)
#endif
#ifndef when_not_null
#define when_not_null(x, label) do { if((x) != NULL) { goto label; } } while(0)
#endif
#ifndef when_true
#define when_true(x, label) do { if(x) { goto label; } } while(0)
#endif
#ifndef when_false
#define when_false(x, label) do { if(!(x)) { goto label; } } while(0)
#endif
#ifndef when_failed
#define when_failed(x, label) do { if((x) != 0) { goto label; } } while(0)
#endif
#ifndef when_str_empty
#define when_str_empty(x, label) do { if(amxc_macros_str_empty_(x)) { goto label; } } while(0)
#endif

#ifdef __cplusplus
}
#endif

#endif /* AMXC_MACROS_H */
