/* Both guard headers in one unit, the framework's first: nothing may be redefined. */

#include <amxc/amxc_macros.h>
#include <zebtrace/zebtrace_macros.h>

#define ME "both"

int guards_framework_first(const char* text);

int guards_framework_first(const char* text) {
    int rv = -1;
    when_str_empty_trace(text, exit, TRACE_LEVEL_ERROR, "empty");
    when_failed(0, exit);
    rv = 0;
exit:
    return rv;
}
