#include "firewall_model.h"

#include <amxd/amxd.h>
#include <fwinterface/backend.h>

#include <cstdlib>

namespace gwrt {
namespace {

// Takes `text` (from malloc) as the return value, without copying it: a dump may be megabytes.
amxd_status_t return_text(amxc_var_t* ret, char* text) {
    if (amxc_var_push_cstring_t(ret, text) != 0) {
        std::free(text);
        return amxd_status_invalid_arg;
    }
    return amxd_status_ok;
}

// Removals an earlier callback of this turn held back are committed first, so that a reader
// never sees a rule its owner already withdrew.
amxd_status_t dump(amxd_object_t* /*object*/, amxd_function_t* /*func*/, amxc_var_t* /*args*/, amxc_var_t* ret) {
    fw_backend_apply_held();
    char* text = fw_dump();
    if (text == nullptr) {
        return amxd_status_out_of_mem;
    }
    return return_text(ret, text);
}

// Text read from the kernel; a backend without kernel rules answers with its reason as the
// text and a failure.
amxd_status_t kernel_text(char* (*read)(), amxc_var_t* ret) {
    fw_backend_apply_held();
    char* text = read();
    if (text == nullptr) {
        amxc_var_set_cstring_t(ret, fw_backend_error());
        return amxd_status_invalid_action;
    }
    return return_text(ret, text);
}

// What the kernel holds, which differs from the positional dump when rules are compiled.
amxd_status_t kernel_dump(amxd_object_t* /*object*/, amxd_function_t* /*func*/, amxc_var_t* /*args*/,
                          amxc_var_t* ret) {
    return kernel_text(fw_kernel_dump, ret);
}

// The differences between the running rules and the kernel, "" when none.
amxd_status_t check(amxd_object_t* /*object*/, amxd_function_t* /*func*/, amxc_var_t* /*args*/, amxc_var_t* ret) {
    return kernel_text(fw_check, ret);
}

}  // namespace

amxd_status_t add_method(amxd_object_t* object, const char* name, uint32_t ret_type, amxd_object_fn_t impl) {
    amxd_function_t* func = nullptr;
    amxd_status_t status = amxd_function_new(&func, name, ret_type, impl);
    if (status == amxd_status_ok) {
        status = amxd_object_add_function(object, func);
        if (status != amxd_status_ok) {
            amxd_function_delete(&func);
        }
    }
    return status;
}

amxd_object_t* new_builtin_object(amxd_dm_t** dm, const char* name) {
    amxd_object_t* object = nullptr;
    if (amxd_dm_new(dm) != amxd_status_ok) {
        return nullptr;
    }
    if (amxd_object_new(&object, amxd_object_singleton, name) != amxd_status_ok) {
        return nullptr;
    }
    if (amxd_object_add_object(amxd_dm_get_root(*dm), object) != amxd_status_ok) {
        amxd_object_delete(&object);
        return nullptr;
    }
    return object;
}

amxd_dm_t* new_firewall_model(const char* name, std::string& error) {
    amxd_dm_t* dm = nullptr;
    amxd_object_t* object = new_builtin_object(&dm, name);
    amxd_status_t status = object == nullptr ? amxd_status_out_of_mem : amxd_status_ok;
    if (status == amxd_status_ok) {
        status = add_method(object, "Dump", AMXC_VAR_ID_CSTRING, dump);
    }
    if (status == amxd_status_ok) {
        status = add_method(object, "KernelDump", AMXC_VAR_ID_CSTRING, kernel_dump);
    }
    if (status == amxd_status_ok) {
        status = add_method(object, "Check", AMXC_VAR_ID_CSTRING, check);
    }
    if (status != amxd_status_ok) {
        error = std::string("cannot build ") + name + ".Dump(), .KernelDump() and .Check(): " + amxd_status_string(status);
        amxd_dm_delete(&dm);
        return nullptr;
    }
    return dm;
}

}  // namespace gwrt
