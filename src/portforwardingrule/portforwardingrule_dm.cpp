// Port list check: a validate action for comma-separated lists of port or protocol numbers.
#define ME "portmapping"

#include <cstring>
#include <string>

#include <amxc/amxc.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "networksettings-qk_utils.h"
#include "portforwardingrule/portforwardingrule_dm.h"

namespace {

bool is_list_character(char c) {
    return (c >= '0' && c <= '9') || c == ',' || c == '-';
}

} // namespace

extern "C" amxd_status_t _networksettings_list_check_range(amxd_object_t* /*object*/, amxd_param_t* /*param*/,
                                                           amxd_action_t reason, const amxc_var_t* const args,
                                                           amxc_var_t* const retval, void* priv) {
    amxd_status_t status = amxd_status_ok;
    const char* value = nullptr;
    int32_t min = 0;
    int32_t max = 0;
    amxc_var_t var_list;
    amxc_var_init(&var_list);
    const auto* bounds = static_cast<const amxc_var_t*>(priv);

    if(reason != action_param_validate) {
        status = amxd_status_function_not_implemented;
        goto exit;
    }
    value = amxc_var_constcast(cstring_t, args);
    when_str_empty(value, exit);
    for(size_t i = 0; i < strlen(value); i++) {
        if(!is_list_character(value[i])) {
            zebTrace(TRACE_LEVEL_ERROR, "value is not a digit");
            status = util_refuse(retval, "not a comma-separated list of numbers");
            goto exit;
        }
    }
    min = amxc_var_get_int32_t(amxc_var_get_key(bounds, "min", AMXC_VAR_FLAG_DEFAULT));
    max = amxc_var_get_int32_t(amxc_var_get_key(bounds, "max", AMXC_VAR_FLAG_DEFAULT));
    if(amxc_var_convert(&var_list, args, AMXC_VAR_ID_LIST) != 0) {
        status = amxd_status_unknown_error;
        goto exit;
    }
    amxc_var_for_each(element, &var_list) {
        // An element that is not a whole number ("80-90", "", "1-") is refused: read as 0 it
        // would pass a lower bound of 0 and later program a rule without its port.
        amxc_var_t number;
        amxc_var_init(&number);
        const bool is_number = amxc_var_convert(&number, element, AMXC_VAR_ID_INT32) == 0;
        const int32_t n = amxc_var_constcast(int32_t, &number);
        amxc_var_clean(&number);
        if(!is_number || (n < min) || (n > max)) {
            const char* text = amxc_var_get_const_cstring_t(element);
            status = util_refuse(retval, "'" + std::string(text != nullptr ? text : "") + "' is not a number from " +
                                             std::to_string(min) + " to " + std::to_string(max));
            goto exit;
        }
    }
exit:
    amxc_var_clean(&var_list);
    return status;
}
