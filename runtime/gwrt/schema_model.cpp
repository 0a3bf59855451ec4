#include "schema_model.h"

#include <amxd/amxd.h>

#include <string_view>

#include "firewall_model.h"

namespace gwrt {
namespace {

struct Described {
    amxc_var_t* list;
    amxd_status_t status = amxd_status_ok;
};

void describe_tree(const amxd_object_t* object, const std::string& path, Described& out) {
    amxc_var_t* entry = amxc_var_add_new(out.list);
    if (entry == nullptr || amxd_object_describe(object, entry) != amxd_status_ok ||
        amxc_var_add_key(cstring_t, entry, "path", path.c_str()) == nullptr) {
        out.status = amxd_status_out_of_mem;
        return;
    }
    amxd_object_for_each_child(child, object) {
        const std::string name = amxd_object_get_name(child, AMXD_OBJECT_NAMED);
        describe_tree(child, path + name + (amxd_object_get_type(child) == amxd_object_template ? ".{i}." : "."), out);
    }
}

// The object a client's path names, and that path written with "{i}" for the tables it
// passes through (an instance stands for its table's definition).
const amxd_object_t* find(const std::vector<amxd_dm_t*>& models, std::string_view path, std::string& written) {
    for (amxd_dm_t* dm : models) {
        const amxd_object_t* object = amxd_dm_get_root(dm);
        written.clear();
        std::string_view rest = path;
        bool instance_next = false;  // the object is a table and the next part names its instance
        while (object != nullptr && !rest.empty()) {
            const std::size_t dot = rest.find('.');
            const std::string part(rest.substr(0, dot));
            rest.remove_prefix(dot == std::string_view::npos ? rest.size() : dot + 1);
            if (instance_next) {
                // "{i}", an index or an instance's name: the definition is the table's own.
                const bool index = !part.empty() && part.find_first_not_of("0123456789") == std::string::npos;
                const amxd_object_t* named = index || part == "{i}" ? nullptr : amxd_object_get_instance(object, part.c_str(), 0);
                object = index || part == "{i}" || named != nullptr ? object : nullptr;
                written += "{i}.";
                instance_next = false;
                continue;
            }
            object = part.empty() ? nullptr : amxd_object_get_child(object, part.c_str());
            written += part + ".";
            instance_next = object != nullptr && amxd_object_get_type(object) == amxd_object_template;
        }
        if (object != nullptr && amxd_object_get_type(object) == amxd_object_template && !written.ends_with("{i}.")) {
            written += "{i}.";
        }
        if (object != nullptr) {
            return object;
        }
    }
    return nullptr;
}

amxd_status_t describe(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* args, amxc_var_t* ret) {
    const auto* models = static_cast<const std::vector<amxd_dm_t*>*>(amxd_object_get_priv(object));
    const char* path = amxc_var_get_const_cstring_t(amxc_var_get_key(args, "path", AMXC_VAR_FLAG_DEFAULT));
    amxc_var_set_type(ret, AMXC_VAR_ID_LIST);
    Described out {ret};
    if (path == nullptr || *path == '\0') {
        for (amxd_dm_t* dm : *models) {
            amxd_object_for_each_child(top, amxd_dm_get_root(dm)) {
                describe_tree(top, std::string(amxd_object_get_name(top, AMXD_OBJECT_NAMED)) + ".", out);
            }
        }
        return out.status;
    }
    std::string written;
    const amxd_object_t* found = find(*models, path, written);
    if (found == nullptr) {
        return amxd_status_object_not_found;
    }
    describe_tree(found, written, out);
    return out.status;
}

}  // namespace

amxd_dm_t* new_schema_model(const char* name, const std::vector<amxd_dm_t*>* models, std::string& error) {
    amxd_dm_t* dm = nullptr;
    amxd_object_t* object = new_builtin_object(&dm, name);
    amxd_function_t* func = nullptr;
    amxd_status_t status = object == nullptr ? amxd_status_out_of_mem : amxd_function_new(&func, "Describe", AMXC_VAR_ID_LIST, describe);
    if (status == amxd_status_ok) {
        status = amxd_function_add_arg(func, "path", AMXC_VAR_ID_CSTRING, false);
    }
    if (status == amxd_status_ok) {
        status = amxd_object_add_function(object, func);
    }
    if (status != amxd_status_ok) {
        amxd_function_delete(&func);
        error = std::string("cannot build ") + name + ".Describe(): " + amxd_status_string(status);
        amxd_dm_delete(&dm);
        return nullptr;
    }
    amxd_object_set_priv(object, const_cast<std::vector<amxd_dm_t*>*>(models));
    return dm;
}

}  // namespace gwrt
