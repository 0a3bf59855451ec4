#include <amxd/amxd_types.h>

extern "C" const char* amxd_status_string(amxd_status_t status) {
    switch(status) {
    case amxd_status_ok: return "ok";
    case amxd_status_unknown_error: return "unknown error";
    case amxd_status_object_not_found: return "object not found";
    case amxd_status_function_not_found: return "function not found";
    case amxd_status_parameter_not_found: return "parameter not found";
    case amxd_status_function_not_implemented: return "function not implemented";
    case amxd_status_invalid_function: return "invalid function";
    case amxd_status_invalid_function_argument: return "invalid function argument";
    case amxd_status_invalid_name: return "invalid name";
    case amxd_status_invalid_attr: return "invalid attribute";
    case amxd_status_invalid_value: return "invalid value";
    case amxd_status_invalid_action: return "invalid action";
    case amxd_status_invalid_type: return "invalid type";
    case amxd_status_duplicate: return "duplicate";
    case amxd_status_deferred: return "deferred";
    case amxd_status_read_only: return "read-only";
    case amxd_status_missing_key: return "missing key";
    case amxd_status_file_not_found: return "file not found";
    case amxd_status_invalid_arg: return "invalid argument";
    case amxd_status_out_of_mem: return "out of memory";
    case amxd_status_recursion: return "recursion";
    case amxd_status_invalid_path: return "invalid path";
    case amxd_status_invalid_expr: return "invalid expression";
    case amxd_status_permission_denied: return "permission denied";
    case amxd_status_not_supported: return "not supported";
    case amxd_status_not_instantiated: return "not instantiated";
    case amxd_status_not_a_template: return "not a template";
    case amxd_status_timeout: return "timeout";
    case amxd_status_last: break;
    }
    return "unknown status";
}
