/* Both guard headers in one unit, the trace library's first: nothing may be redefined. */

#include <zebtrace/zebtrace_macros.h>
#include <amxc/amxc_macros.h>

#define ME "both"

int guards_zebtrace_first(const char* text);

int guards_zebtrace_first(const char* text) {
    int rv = -1;
    when_str_empty(text, exit);
    when_null_trace(text, exit, TRACE_LEVEL_ERROR, "unreachable");
    rv = 0;
exit:
    return rv;
}
