#include "state_model.h"

#include <amxd/amxd.h>

#include "firewall_model.h"

namespace gwrt {
namespace {

Persistence* persistence_of(const amxd_object_t* object) { return static_cast<Persistence*>(amxd_object_get_priv(object)); }

amxd_status_t status(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* /*args*/, amxc_var_t* ret) {
    if (Persistence* persistence = persistence_of(object)) {
        persistence->status(ret);
    } else {
        amxc_var_set_type(ret, AMXC_VAR_ID_HTABLE);
        amxc_var_add_key(cstring_t, ret, "Saving", "off");
    }
    return amxd_status_ok;
}

// Runs one command; its reason becomes the return value when it fails.
template <bool (Persistence::*command)(std::string&)>
amxd_status_t run(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* /*args*/, amxc_var_t* ret) {
    Persistence* persistence = persistence_of(object);
    std::string error = "nothing is saved: gwrt runs without a state section";
    if (persistence != nullptr && (persistence->*command)(error)) {
        amxc_var_set_cstring_t(ret, "done");
        return amxd_status_ok;
    }
    amxc_var_set_cstring_t(ret, error.c_str());
    return amxd_status_invalid_action;
}

}  // namespace

amxd_dm_t* new_state_model(const char* name, Persistence* persistence, std::string& error) {
    amxd_dm_t* dm = nullptr;
    amxd_object_t* object = new_builtin_object(&dm, name);
    amxd_status_t status_code = object == nullptr ? amxd_status_out_of_mem : amxd_status_ok;
    if (status_code == amxd_status_ok) {
        amxd_object_set_priv(object, persistence);
        status_code = add_method(object, "Status", AMXC_VAR_ID_HTABLE, status);
    }
    if (status_code == amxd_status_ok) {
        status_code = add_method(object, "Save", AMXC_VAR_ID_CSTRING, run<&Persistence::accept>);
    }
    if (status_code == amxd_status_ok) {
        status_code = add_method(object, "Restore", AMXC_VAR_ID_CSTRING, run<&Persistence::restore_again>);
    }
    if (status_code != amxd_status_ok) {
        error = std::string("cannot build ") + name + ".: " + amxd_status_string(status_code);
        amxd_dm_delete(&dm);
        return nullptr;
    }
    return dm;
}

}  // namespace gwrt
