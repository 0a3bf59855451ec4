// Filter expressions (slot filters, bus subscriptions) on arbitrary text: compiled, checked
// and evaluated against a fixed event. Compiling and checking must agree on the verdict.
#include <cstddef>
#include <cstdint>
#include <string>

#include <amxc/amxc_variant.h>
#include <amxp/amxp_expr.h>

#include "fuzz_require.h"

namespace {

// An event of the shape the data model emits, with a value of every kind.
amxc_var_t* make_event() {
    static amxc_var_t event;
    amxc_var_init(&event);
    amxc_var_set_type(&event, AMXC_VAR_ID_HTABLE);
    amxc_var_add_new_key_cstring_t(&event, "notification", "dm:object-changed");
    amxc_var_add_new_key_cstring_t(&event, "path", "Device.NetworkSettings.AccessControl.1.");
    amxc_var_add_new_key_uint32_t(&event, "index", 1);
    amxc_var_add_new_key_int64_t(&event, "offset", -42);
    amxc_var_add_new_key_uint64_t(&event, "big", UINT64_MAX);
    amxc_var_add_new_key_bool(&event, "active", true);
    amxc_var_add_new_key_csv_string_t(&event, "ports", "80,443");
    amxc_var_t* parameters = amxc_var_add_new_key_htable(&event, "parameters");
    amxc_var_t* enable = amxc_var_add_new_key_htable(parameters, "Enable");
    amxc_var_add_new_key_bool(enable, "from", false);
    amxc_var_add_new_key_bool(enable, "to", true);
    amxc_var_t* name = amxc_var_add_new_key_htable(parameters, "Name");
    amxc_var_add_new_key_cstring_t(name, "from", "");
    amxc_var_add_new_key_cstring_t(name, "to", "Kids \\ \"tablet\"");
    amxc_var_t* list = amxc_var_add_new_key_list(&event, "list");
    amxc_var_add_new_cstring_t(list, "first");
    amxc_var_add_new_int32_t(list, -1);
    amxc_var_add_new(list);  // a NULL element
    return &event;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const amxc_var_t* const event = make_event();
    const std::string text(reinterpret_cast<const char*>(data), size);
    amxp_expr_t* expr = nullptr;
    const amxp_expr_status_t compiled = amxp_expr_new(&expr, text.c_str());
    char message[128];
    size_t position = 0;
    require(amxp_expr_check(text.c_str(), message, sizeof(message), &position) == compiled);
    if(compiled == amxp_expr_status_ok) {
        amxp_expr_status_t status = amxp_expr_status_unknown_error;
        const bool on_event = amxp_expr_eval_var(expr, event, &status);
        require(status == amxp_expr_status_ok || status == amxp_expr_status_unknown_error);
        amxp_expr_eval_var(expr, nullptr, &status);
        require(amxp_expr_matches(text.c_str(), event) == on_event);
    } else {
        require(expr == nullptr);
    }
    amxp_expr_delete(&expr);
    return 0;
}
