/* Both guard headers in one unit, the trace library's first: nothing may be redefined. Also the
 * trace calls as C callers write them, under -std=c11 -Wpedantic. */

#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>
#include <amxc/amxc_macros.h>

#define ME "c_unit"

int guards_zebtrace_first(const char* text, int code);

int guards_zebtrace_first(const char* text, int code) {
    int rv = -1;
    when_str_empty_trace(text, exit, TRACE_LEVEL_ERROR, "empty name");
    rv = -2;
    when_failed_trace(code, exit, TRACE_LEVEL_WARNING, "code %d for %s", code, text);
    when_null(text, exit);
    zebTraceZIn(ME);
    zebTraceZOut(ME);
    rv = 0;
exit:
    return rv;
}
