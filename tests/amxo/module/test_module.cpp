// A module for the loader's tests: every exported function records its call through
// amxo_test_record(), which the test program exports. Built twice, as test-module-a.so and
// test-module-b.so, with MODULE_TAG telling the copies apart.
#include <cstdlib>
#include <string>

#include <amxc/amxc_variant.h>
#include <amxd/amxd_object.h>
#include <amxd/amxd_parameter.h>
#include <amxo/amxo.h>

extern "C" void amxo_test_record(const char* line);

namespace {

void record(const std::string& line) {
    amxo_test_record((std::string(MODULE_TAG) + ": " + line).c_str());
}

}  // namespace

extern "C" {

int _test_main(int reason, amxd_dm_t* /*dm*/, amxo_parser_t* parser) {
    const char* prefix = amxc_var_get_const_cstring_t(amxo_parser_get_config(parser, "prefix_"));
    record("main " + std::to_string(reason) + " prefix=" + (prefix != nullptr ? prefix : "(none)"));
    return 0;
}

amxd_status_t _test_action(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                           const amxc_var_t* const args, amxc_var_t* const retval, void* priv) {
    record("action " + std::to_string(reason));
    switch (reason) {
    case action_object_destroy:
        return amxd_action_object_destroy(object, param, reason, args, retval, priv);
    case action_object_del_inst:
        return amxd_action_object_del_inst(object, param, reason, args, retval, priv);
    default:
        return amxd_status_ok;
    }
}

// Parameter validation against the binding's {min, max}.
amxd_status_t _test_range(amxd_object_t* /*object*/, amxd_param_t* param, amxd_action_t reason,
                          const amxc_var_t* const args, amxc_var_t* const /*retval*/, void* priv) {
    const auto* bounds = static_cast<const amxc_var_t*>(priv);
    const int64_t value = amxc_var_get_int64_t(args);
    const int64_t min = amxc_var_get_int64_t(amxc_var_get_key(bounds, "min", AMXC_VAR_FLAG_DEFAULT));
    const int64_t max = amxc_var_get_int64_t(amxc_var_get_key(bounds, "max", AMXC_VAR_FLAG_DEFAULT));
    record("range " + std::to_string(reason) + " " + amxd_param_get_name(param));
    return (value < min || value > max) ? amxd_status_invalid_value : amxd_status_ok;
}

// Object validation: an object whose "Refuse" parameter is true is invalid.
amxd_status_t _test_refuse(amxd_object_t* object, amxd_param_t* /*param*/, amxd_action_t reason,
                           const amxc_var_t* const /*args*/, amxc_var_t* const /*retval*/, void* /*priv*/) {
    const bool refuse = amxd_object_get_bool(object, "Refuse", nullptr);
    record("refuse " + std::to_string(reason) + (refuse ? " no" : " yes"));
    return refuse ? amxd_status_invalid_value : amxd_status_ok;
}

void _test_event(const char* const event, const amxc_var_t* const /*data*/, void* const /*priv*/) {
    record("event " + std::string(event));
}

}  // extern "C"
