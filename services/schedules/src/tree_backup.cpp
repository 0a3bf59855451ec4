#include "tree_backup.h"

#include <amxd/amxd_transaction.h>

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace schedules {
namespace {

constexpr std::initializer_list<const char*> kScheduleParams = {"Name", "Enable", "InverseMode", "TimeZone"};
constexpr std::initializer_list<const char*> kWindowParams = {"Days", "StartTime", "EndTime"};

void export_params(const amxd_object_t* instance, std::initializer_list<const char*> names, amxc_var_t* out) {
    amxc_var_add_key(uint32_t, out, "Index", amxd_object_get_index(instance));
    const std::string named = amxd_object_get_name(instance, AMXD_OBJECT_NAMED);
    if (named != amxd_object_get_name(instance, AMXD_OBJECT_INDEXED)) {
        amxc_var_add_key(cstring_t, out, "Alias", named.c_str());
    }
    for (const char* name : names) {
        amxc_var_set_key(out, name, const_cast<amxc_var_t*>(amxd_object_get_param_value(instance, name)), AMXC_VAR_FLAG_COPY);
    }
}

bool known(std::string_view key, std::initializer_list<const char*> names, std::initializer_list<const char*> more) {
    auto is = [&](const char* name) { return key == name; };
    return key == "Index" || key == "Alias" || std::any_of(names.begin(), names.end(), is) ||
           std::any_of(more.begin(), more.end(), is);
}

// One instance `item` into the transaction, under the template at `path`: its parameters
// `names`; besides them it may hold only the members `more`, which the caller reads.
bool add_instance(amxd_trans_t* trans, const std::string& path, amxc_var_t* item,
                  std::initializer_list<const char*> names, std::initializer_list<const char*> more,
                  std::uint32_t& index, std::string& why) {
    const amxc_var_t* number = amxc_var_get_key(item, "Index", AMXC_VAR_FLAG_DEFAULT);
    const char* alias = amxc_var_get_const_cstring_t(amxc_var_get_key(item, "Alias", AMXC_VAR_FLAG_DEFAULT));
    index = number == nullptr ? 0 : amxc_var_get_uint32_t(number);
    if (amxc_var_type_of(item) != AMXC_VAR_ID_HTABLE || index == 0) {
        why = path + ": every entry needs an Index";
        return false;
    }
    amxc_var_for_each(member, item) {
        if (!known(amxc_var_key(member), names, more)) {
            why = path + std::to_string(index) + ": no parameter " + std::string(amxc_var_key(member)).substr(0, 64);
            return false;
        }
    }
    amxd_trans_select_pathf(trans, "%s", path.c_str());
    amxd_trans_add_inst(trans, index, alias);
    for (const char* name : names) {
        if (amxc_var_t* value = amxc_var_get_key(item, name, AMXC_VAR_FLAG_DEFAULT)) {
            amxd_trans_set_param(trans, name, value);
        }
    }
    return true;
}

}  // namespace

void export_tree(const amxd_object_t* schedules, amxc_var_t* out) {
    amxc_var_set_type(out, AMXC_VAR_ID_HTABLE);
    amxc_var_t* list = amxc_var_add_new_key(out, "Schedule");
    amxc_var_set_type(list, AMXC_VAR_ID_LIST);
    amxd_object_for_each_instance(schedule, amxd_object_get_child(schedules, "Schedule")) {
        amxc_var_t* item = amxc_var_add_new(list);
        amxc_var_set_type(item, AMXC_VAR_ID_HTABLE);
        export_params(schedule, kScheduleParams, item);
        const amxd_object_t* windows = amxd_object_get_child(schedule, "Window");
        if (amxd_object_get_instance_count(windows) == 0) {
            amxc_var_set_key(item, "Status", const_cast<amxc_var_t*>(amxd_object_get_param_value(schedule, "Status")),
                             AMXC_VAR_FLAG_COPY);
            continue;
        }
        amxc_var_t* window_list = amxc_var_add_new_key(item, "Window");
        amxc_var_set_type(window_list, AMXC_VAR_ID_LIST);
        amxd_object_for_each_instance(window, windows) {
            amxc_var_t* entry = amxc_var_add_new(window_list);
            amxc_var_set_type(entry, AMXC_VAR_ID_HTABLE);
            export_params(window, kWindowParams, entry);
        }
    }
}

bool import_tree(amxd_dm_t* dm, const amxc_var_t* data, std::string& why) {
    const amxc_var_t* list = amxc_var_get_key(data, "Schedule", AMXC_VAR_FLAG_DEFAULT);
    if (amxc_var_type_of(data) != AMXC_VAR_ID_HTABLE || (list != nullptr && amxc_var_type_of(list) != AMXC_VAR_ID_LIST)) {
        why = "expected {\"Schedule\": [...]}";
        return false;
    }
    amxd_trans_t trans;
    amxd_trans_init(&trans);
    bool ok = true;
    amxc_var_for_each(item, list) {
        std::uint32_t index = 0;
        ok = add_instance(&trans, "Schedules.Schedule.", item, kScheduleParams, {"Status", "Window"}, index, why);
        if (!ok) {
            break;
        }
        const amxc_var_t* windows = amxc_var_get_key(item, "Window", AMXC_VAR_FLAG_DEFAULT);
        if (windows != nullptr && amxc_var_type_of(windows) != AMXC_VAR_ID_LIST) {
            why = "Schedule " + std::to_string(index) + ": Window must be a list";
            ok = false;
            break;
        }
        const std::string window_path = "Schedules.Schedule." + std::to_string(index) + ".Window.";
        amxc_var_for_each(window, windows) {
            std::uint32_t window_index = 0;
            ok = add_instance(&trans, window_path, window, kWindowParams, {}, window_index, why);
            if (!ok) {
                break;
            }
        }
        // Written after the windows: with any, the Status is computed and a written one refused.
        if (const amxc_var_t* status = amxc_var_get_key(item, "Status", AMXC_VAR_FLAG_DEFAULT); ok && status != nullptr) {
            amxd_trans_select_pathf(&trans, "Schedules.Schedule.%u.", index);
            amxd_trans_set_param(&trans, "Status", const_cast<amxc_var_t*>(status));
        }
        if (!ok) {
            break;
        }
    }
    if (ok && amxd_trans_apply(&trans, dm) != amxd_status_ok) {
        why = amxd_trans_get_error(&trans);
        ok = false;
    }
    amxd_trans_clean(&trans);
    return ok;
}

}  // namespace schedules
