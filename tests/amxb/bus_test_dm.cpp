#include "bus_test_dm.h"

#include <cstdlib>

namespace {

void require(bool ok) {
    if(!ok) {
        std::abort();  // the fixture itself is broken: no test result would mean anything
    }
}

amxd_object_t* add_object(amxd_object_t* parent, amxd_object_type_t type, const char* name) {
    amxd_object_t* object = nullptr;
    require(amxd_object_new(&object, type, name) == amxd_status_ok);
    require(amxd_object_add_object(parent, object) == amxd_status_ok);
    return object;
}

amxd_param_t* add_param(amxd_object_t* object, const char* name, uint32_t type) {
    amxd_param_t* param = nullptr;
    require(amxd_param_new(&param, name, type) == amxd_status_ok);
    require(amxd_object_add_param(object, param) == amxd_status_ok);
    return param;
}

amxd_status_t port_in_range(amxd_object_t* /*object*/, amxd_param_t* /*param*/, amxd_action_t /*reason*/,
                            const amxc_var_t* const args, amxc_var_t* const /*retval*/, void* /*priv*/) {
    const uint64_t port = amxc_var_get_uint64_t(args);
    return port >= 1 && port <= 65535 ? amxd_status_ok : amxd_status_invalid_value;
}

amxd_status_t echo(amxd_object_t* /*object*/, amxd_function_t* /*func*/, amxc_var_t* args, amxc_var_t* ret) {
    return amxc_var_copy(ret, args) == 0 ? amxd_status_ok : amxd_status_unknown_error;
}

amxd_status_t fail(amxd_object_t* /*object*/, amxd_function_t* /*func*/, amxc_var_t* /*args*/, amxc_var_t* /*ret*/) {
    return amxd_status_invalid_value;
}

// Larger bursts are refused: the socket fuzzer serves this data model to arbitrary requests.
constexpr uint32_t flood_max_count = 10000;

// Sets Name `count` times, one transaction each: a burst of events for benchmarks.
amxd_status_t flood(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* args, amxc_var_t* /*ret*/) {
    const uint32_t count = amxc_var_get_uint32_t(amxc_var_get_key(args, "count", AMXC_VAR_FLAG_DEFAULT));
    if(count > flood_max_count) {
        return amxd_status_invalid_value;
    }
    for(uint32_t i = 0; i < count; ++i) {
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        amxd_trans_select_object(&trans, object);
        amxd_trans_set_uint32_t(&trans, "Port", 1000 + (i % 2));  // always a change, so always an event
        const amxd_status_t status = amxd_trans_apply(&trans, amxd_object_get_dm(object));
        amxd_trans_clean(&trans);
        if(status != amxd_status_ok) {
            return status;
        }
    }
    return amxd_status_ok;
}

void add_function(amxd_object_t* object, const char* name, amxd_object_fn_t impl) {
    amxd_function_t* function = nullptr;
    require(amxd_function_new(&function, name, AMXC_VAR_ID_ANY, impl) == amxd_status_ok);
    require(amxd_object_add_function(object, function) == amxd_status_ok);
}

void declare(amxd_dm_t* dm) {
    amxd_object_t* root = amxd_dm_get_root(dm);

    amxd_object_t* host = add_object(add_object(root, amxd_object_singleton, "Hosts"), amxd_object_template, "Host");
    // Wide enough for a value larger than one part of a reply.
    require(amxd_param_set_max_length(add_param(host, "HostName", AMXC_VAR_ID_CSTRING), 512 * 1024) == amxd_status_ok);
    add_param(add_object(host, amxd_object_template, "IPv4Address"), "IPAddress", AMXC_VAR_ID_CSTRING);

    amxd_object_t* test = add_object(add_object(root, amxd_object_singleton, "Device"), amxd_object_singleton, "Test");
    add_param(test, "Name", AMXC_VAR_ID_CSTRING);
    require(amxd_param_set_attr(add_param(test, "Status", AMXC_VAR_ID_CSTRING), amxd_pattr_read_only, true) == amxd_status_ok);
    amxd_param_t* port = add_param(test, "Port", AMXC_VAR_ID_UINT32);
    require(amxd_param_add_action_cb(port, action_param_validate, port_in_range, nullptr) == amxd_status_ok);
    add_param(test, "Enable", AMXC_VAR_ID_BOOL);
    add_function(test, "Echo", echo);
    add_function(test, "Fail", fail);
    add_function(test, "Flood", flood);
}

void fill(amxd_dm_t* dm) {
    amxd_trans_t trans;
    amxd_trans_init(&trans);
    const auto add = [&trans](const char* templ, uint32_t index, const char* name, const char* param, const char* value) {
        amxd_trans_select_pathf(&trans, "%s", templ);
        amxd_trans_add_inst(&trans, index, name);
        amxd_trans_set_cstring_t(&trans, param, value);
    };
    add("Hosts.Host.", 1, "alpha", "HostName", "alpha");
    add("Hosts.Host.1.IPv4Address.", 1, nullptr, "IPAddress", "192.168.1.10");
    add("Hosts.Host.1.IPv4Address.", 2, nullptr, "IPAddress", "192.168.1.11");
    add("Hosts.Host.", 2, "beta", "HostName", "beta");
    amxd_trans_select_pathf(&trans, "Device.Test.");
    amxd_trans_set_uint32_t(&trans, "Port", 80);
    require(amxd_trans_apply(&trans, dm) == amxd_status_ok);
    amxd_trans_clean(&trans);
}

}  // namespace

amxd_dm_t* bus_test_dm_new(void) {
    amxd_dm_t* dm = nullptr;
    require(amxd_dm_new(&dm) == amxd_status_ok);
    declare(dm);
    fill(dm);
    return dm;
}
