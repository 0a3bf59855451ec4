// The module's entry point and the functions devices.def binds by name. Only these are
// exported; everything else of the module stays hidden.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include <amxd/amxd_function.h>
#include <amxd/amxd_object.h>
#include <amxd/amxd_parameter.h>
#include <amxo/amxo.h>
#include <zebtrace/zebtrace.h>

#include "device_service.h"

#define ME "devices"
#define DEVICES_EXPORT __attribute__((visibility("default")))

namespace {

using devices::DeviceService;

// Longest text a device parameter holds: expressions search these texts with regular
// expressions on every device event, and the engine's time grows with their length.
constexpr std::size_t kMaxParamText = 1024;

amxd_object_t* devices_object(amxd_dm_t* dm) { return dm == nullptr ? nullptr : amxd_dm_findf(dm, "Devices."); }

DeviceService* service_of(const amxd_object_t* devices) {
    return static_cast<DeviceService*>(amxd_object_get_priv(devices));
}

void drop_service(amxd_object_t* devices) {
    std::unique_ptr<DeviceService> running(service_of(devices));
    amxd_object_set_priv(devices, nullptr);
}

int start(amxd_dm_t* dm) {
    amxd_object_t* devices = devices_object(dm);
    if(devices == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "no Devices object in the data model");
        return 1;
    }
    drop_service(devices);  // a second start replaces the first
    std::unique_ptr<DeviceService> service = DeviceService::create(dm, devices);
    if(service == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "cannot follow Devices.Device. (no such table, or out of memory)");
        return 1;
    }
    amxd_object_set_priv(devices, service.release());
    zebTraceZ(TRACE_LEVEL_INFO, ME, "device map started");
    return 0;
}

int stop(amxd_dm_t* dm) {
    if(amxd_object_t* devices = devices_object(dm)) {
        drop_service(devices);
        zebTraceZ(TRACE_LEVEL_INFO, ME, "device map stopped");
    }
    return 0;
}

// Exceptions (only std::bad_alloc is expected) must not cross into the C callers.
template <typename Fn>
amxd_status_t guarded(Fn&& fn) {
    try {
        return fn();
    } catch(const std::exception& e) {
        zebTrace(TRACE_LEVEL_ERROR, "failed: %s", e.what());
        return amxd_status_unknown_error;
    }
}

}  // namespace

extern "C" {

DEVICES_EXPORT int _devices_main(int reason, amxd_dm_t* dm, amxo_parser_t* /*parser*/) {
    const amxd_status_t status = guarded([&] {
        const int failed = reason == 0 ? start(dm) : reason == 1 ? stop(dm) : 0;
        return failed == 0 ? amxd_status_ok : amxd_status_unknown_error;
    });
    return status == amxd_status_ok ? 0 : 1;
}

// Devices.openQuery(expression, name) -> query index.
DEVICES_EXPORT amxd_status_t openQuery(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* args,
                                       amxc_var_t* ret) {
    return guarded([&] {
        DeviceService* service = service_of(object);
        if(service == nullptr) {
            zebTrace(TRACE_LEVEL_ERROR, "openQuery: the device map is not running");
            return amxd_status_unknown_error;
        }
        const char* expression = amxc_var_get_const_cstring_t(amxc_var_get_key(args, "expression", AMXC_VAR_FLAG_DEFAULT));
        const char* name = amxc_var_get_const_cstring_t(amxc_var_get_key(args, "name", AMXC_VAR_FLAG_DEFAULT));
        return service->open_query(expression, name, ret);
    });
}

// Devices.closeQuery(index).
DEVICES_EXPORT amxd_status_t closeQuery(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* args,
                                        amxc_var_t* /*ret*/) {
    return guarded([&] {
        DeviceService* service = service_of(object);
        if(service == nullptr) {
            return amxd_status_unknown_error;
        }
        return service->close_query(amxc_var_get_uint32_t(amxc_var_get_key(args, "index", AMXC_VAR_FLAG_DEFAULT)));
    });
}

// Add-instance action of Devices.Device.: a device added without a Key gets "ID-<index>",
// so that every device has one to be reported under. A Key given with the new instance
// replaces it, as the transaction writes its values after the instance exists.
DEVICES_EXPORT amxd_status_t _devices_device_add_inst(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                                                      const amxc_var_t* const args, amxc_var_t* const retval,
                                                      void* priv) {
    return guarded([&] {
        amxc_var_t index;
        amxc_var_init(&index);
        amxd_status_t status = amxd_action_object_add_inst(object, param, reason, args, &index, priv);
        if(status == amxd_status_ok) {
            const std::uint32_t added = amxc_var_get_uint32_t(&index);
            amxd_object_t* instance = amxd_object_get_instance(object, nullptr, added);
            amxd_param_t* key = amxd_object_get_param_def(instance, "Key");
            const char* current = amxc_var_get_const_cstring_t(amxd_param_get_value(key));
            if(current != nullptr && current[0] == '\0') {
                amxc_var_t generated;
                amxc_var_init(&generated);
                amxc_var_set_cstring_t(&generated, ("ID-" + std::to_string(added)).c_str());
                status = amxd_param_set_value(key, &generated);
                amxc_var_clean(&generated);
            }
            if(retval != nullptr) {
                amxc_var_copy(retval, &index);
            }
        }
        amxc_var_clean(&index);
        return status;
    });
}

// Validate action of the Device instances: reports name devices by Key, so it may not be empty
// (its uniqueness is the data model's, as a key parameter).
DEVICES_EXPORT amxd_status_t _devices_device_validate(amxd_object_t* object, amxd_param_t* /*param*/,
                                                      amxd_action_t reason, const amxc_var_t* const /*args*/,
                                                      amxc_var_t* const /*retval*/, void* /*priv*/) {
    if(reason != action_object_validate) {
        return amxd_status_function_not_implemented;
    }
    if(amxd_object_get_type(object) != amxd_object_instance) {
        return amxd_status_ok;
    }
    const char* key = amxc_var_get_const_cstring_t(amxd_object_get_param_value(object, "Key"));
    return key == nullptr || key[0] == '\0' ? amxd_status_invalid_value : amxd_status_ok;
}

// Validate action of the device texts: bounds their length (see kMaxParamText).
DEVICES_EXPORT amxd_status_t _devices_check_text(amxd_object_t* /*object*/, amxd_param_t* /*param*/,
                                                 amxd_action_t reason, const amxc_var_t* const args,
                                                 amxc_var_t* const /*retval*/, void* /*priv*/) {
    if(reason != action_param_validate) {
        return amxd_status_function_not_implemented;
    }
    const char* text = amxc_var_get_const_cstring_t(args);
    return text != nullptr && std::strlen(text) > kMaxParamText ? amxd_status_invalid_value : amxd_status_ok;
}

// Validate action of IPAddress: empty or one IPv4 or IPv6 address. Clients put it into lists of
// addresses (comma-separated), so anything else, a comma above all, would smuggle in entries.
DEVICES_EXPORT amxd_status_t _devices_check_ip(amxd_object_t* /*object*/, amxd_param_t* /*param*/, amxd_action_t reason,
                                               const amxc_var_t* const args, amxc_var_t* const /*retval*/,
                                               void* /*priv*/) {
    if(reason != action_param_validate) {
        return amxd_status_function_not_implemented;
    }
    const char* text = amxc_var_get_const_cstring_t(args);
    unsigned char address[sizeof(struct in6_addr)];
    if(text == nullptr || text[0] == '\0' || inet_pton(AF_INET, text, address) == 1 ||
       inet_pton(AF_INET6, text, address) == 1) {
        return amxd_status_ok;
    }
    zebTrace(TRACE_LEVEL_WARNING, "IPAddress %.64s refused: not an IP address", text);
    return amxd_status_invalid_value;
}

}  // extern "C"
