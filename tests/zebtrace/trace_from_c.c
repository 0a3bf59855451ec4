/* Uses the trace headers from C, under -std=c11 -Wpedantic. */

#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#define ME "c_unit"

int trace_from_c(const char* text, int code);

int trace_from_c(const char* text, int code) {
    int rv = -1;
    when_str_empty_trace(text, exit, TRACE_LEVEL_ERROR, "empty name");
    rv = -2;
    when_failed_trace(code, exit, TRACE_LEVEL_WARNING, "code %d for %s", code, text);
    zebTraceZIn(ME);
    zebTraceZOut(ME);
    rv = 0;
exit:
    return rv;
}
