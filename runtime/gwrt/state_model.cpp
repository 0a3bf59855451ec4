#include "state_model.h"

#include <amxd/amxd.h>

#include "firewall_model.h"

namespace gwrt {
namespace {

const std::vector<Persistence*>& kept_by(const amxd_object_t* object) {
    return *static_cast<const std::vector<Persistence*>*>(amxd_object_get_priv(object));
}

amxd_status_t status(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* /*args*/, amxc_var_t* ret) {
    const std::vector<Persistence*>& kept = kept_by(object);
    if (kept.empty()) {
        amxc_var_set_type(ret, AMXC_VAR_ID_HTABLE);
        amxc_var_add_key(cstring_t, ret, "Saving", "off");
        return amxd_status_ok;
    }
    kept.front()->status(ret);
    if (kept.size() > 1) {
        amxc_var_t* services = amxc_var_add_new_key_htable(ret, "Services");
        for (auto it = kept.begin() + 1; it != kept.end(); ++it) {
            (*it)->status(amxc_var_add_new_key(services, (*it)->store().name().c_str()));
        }
    }
    return amxd_status_ok;
}

// Runs one command on every kept tree; the reasons of those that fail become the return value.
template <bool (Persistence::*command)(std::string&)>
amxd_status_t run(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* /*args*/, amxc_var_t* ret) {
    const std::vector<Persistence*>& kept = kept_by(object);
    std::string errors = kept.empty() ? "nothing is saved: gwrt runs without a state section" : "";
    for (Persistence* persistence : kept) {
        std::string error;
        if (!(persistence->*command)(error)) {
            errors += (errors.empty() ? "" : "; ") + persistence->store().name() + ": " + error;
        }
    }
    amxc_var_set_cstring_t(ret, errors.empty() ? "done" : errors.c_str());
    return errors.empty() ? amxd_status_ok : amxd_status_invalid_action;
}

}  // namespace

amxd_dm_t* new_state_model(const char* name, const std::vector<Persistence*>* kept, std::string& error) {
    amxd_dm_t* dm = nullptr;
    amxd_object_t* object = new_builtin_object(&dm, name);
    amxd_status_t status_code = object == nullptr ? amxd_status_out_of_mem : amxd_status_ok;
    if (status_code == amxd_status_ok) {
        amxd_object_set_priv(object, const_cast<std::vector<Persistence*>*>(kept));
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
