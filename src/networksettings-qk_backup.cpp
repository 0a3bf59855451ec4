// Configuration restore (_Import) and its counterpart (_Export).
#define ME "networksettings"

#include "networksettings-qk_backup.h"

#include <cstring>
#include <string>

#include <amxc/amxc.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "networksettings-qk.h"

namespace {

struct import_kind_t {
    const char* name;
    import_element_function func;
};

const import_kind_t import_kinds[] = {
    {"NetworkObject", populate_networkobject},
    {"PortForwardingRule", populate_object_instance},
    {"AccessControl", populate_object_instance},
};

const char* const rule_params[] = {"Alias", "Type", "SourceIP", "SourceMACAddress", "SourceMask",
                                   "SourceClientID", "SourceUserClassID", "SourceVendorClassID", "HostName"};

// Parameters the module computes: saving them would only restore stale values.
bool is_computed_param(const char* name) {
    return strcmp(name, "Status") == 0 || strcmp(name, "StatusInfo") == 0 || strcmp(name, "RuleIPList") == 0 ||
           strcmp(name, "NetworkObjectIPList") == 0;
}

amxd_status_t apply(amxd_trans_t* trans) {
    const amxd_status_t status = amxd_trans_apply(trans, networksettings_get_dm());
    amxd_trans_clean(trans);
    return status;
}

void init_restore_transaction(amxd_trans_t* trans) {
    amxd_trans_init(trans);
    amxd_trans_set_attr(trans, amxd_tattr_change_ro, true);
}

// Parameters of a child object saved as a nested table ("ICMP": {"Type": 8}).
amxd_status_t populate_child_parameters(amxd_object_t* base, const char* inst_id, const char* child, amxc_var_t* params) {
    char* base_path = amxd_object_get_path(base, AMXD_OBJECT_NAMED);
    amxd_status_t status = amxd_status_ok;
    amxd_trans_t trans;
    init_restore_transaction(&trans);
    amxd_trans_select_pathf(&trans, "%s.%s.%s", base_path == nullptr ? "" : base_path, inst_id, child);
    amxc_var_for_each(param, params) {
        amxd_trans_set_param(&trans, amxc_var_key(param), param);
    }
    status = apply(&trans);
    free(base_path);
    return status;
}

// Stores a copy of `value` under `key`; an absent value is left out.
void copy_into(amxc_var_t* table, const char* key, const amxc_var_t* value) {
    if(value != nullptr) {
        amxc_var_copy(amxc_var_add_new_key(table, key), value);
    }
}

// The key an instance is saved under: its name, or a name made from its index when it has
// none (an all-digit key would be read back as an index).
std::string instance_key(const amxd_object_t* instance) {
    const std::string named = amxd_object_get_name(instance, AMXD_OBJECT_NAMED);
    const std::string indexed = amxd_object_get_name(instance, AMXD_OBJECT_INDEXED);
    if(named != indexed) {
        return named;
    }
    return std::string(amxd_object_get_name(amxd_object_get_parent(instance), AMXD_OBJECT_NAMED)) + "-" + indexed;
}

// The instance's parameters, and those of its child objects as nested tables.
void export_parameters(const amxd_object_t* object, amxc_var_t* out) {
    amxc_var_t params;
    amxc_var_init(&params);
    amxd_object_get_params(object, &params);
    amxc_var_for_each(param, &params) {
        if(!is_computed_param(amxc_var_key(param))) {
            copy_into(out, amxc_var_key(param), param);
        }
    }
    amxc_var_clean(&params);
    amxd_object_for_each_child(child, object) {
        if(amxd_object_get_type(child) == amxd_object_singleton) {
            export_parameters(child, amxc_var_add_new_key_htable(out, amxd_object_get_name(child, AMXD_OBJECT_NAMED)));
        }
    }
}

void export_kind(const amxd_object_t* root, const char* kind, amxc_var_t* tree) {
    const amxd_object_t* templ = amxd_object_get_child(root, kind);
    amxc_var_t* list = amxc_var_add_new_key_list(tree, kind);
    amxd_object_for_each_instance(instance, templ) {
        amxc_var_t* entry = amxc_var_add_new_htable(list);
        amxc_var_t* value = amxc_var_add_new_key_htable(entry, instance_key(instance).c_str());
        if(strcmp(kind, "NetworkObject") != 0) {
            export_parameters(instance, value);
            continue;
        }
        copy_into(value, "Name", amxd_object_get_param_value(instance, "Name"));
        amxc_var_t* rules = amxc_var_add_new_key_list(value, "Rule");
        amxd_object_for_each_instance(rule, amxd_object_get_child(instance, "Rule")) {
            amxc_var_t* rule_value = amxc_var_add_new_key_htable(amxc_var_add_new_htable(rules), instance_key(rule).c_str());
            for(const char* name : rule_params) {
                copy_into(rule_value, name, amxd_object_get_param_value(rule, name));
            }
            copy_into(rule_value, "SourceIPRangeMax", amxd_object_get_param_value(rule, "SourceIPRangeMax"));
        }
    }
}

} // namespace

extern "C" {

amxd_status_t _Import(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* args, amxc_var_t* /*ret*/) {
    if((object == nullptr) || (args == nullptr)) {
        zebTrace(TRACE_LEVEL_ERROR, "Invalid arguments");
        return amxd_status_unknown_error;
    }
    for(const import_kind_t& kind : import_kinds) {
        const amxd_status_t status = import_object(object, args, kind.name, kind.func);
        if(status != amxd_status_ok) {
            zebTrace(TRACE_LEVEL_ERROR, "fail to restore %s", kind.name);
            return status;
        }
    }
    return amxd_status_ok;
}

amxd_status_t import_object(amxd_object_t* object, amxc_var_t* args, const char* name, import_element_function func) {
    amxd_status_t status = amxd_status_unknown_error;
    amxc_var_t* entries = nullptr;
    amxd_object_t* templ = nullptr;
    when_null_trace(object, exit, TRACE_LEVEL_ERROR, "invalid object");
    when_null_trace(args, exit, TRACE_LEVEL_ERROR, "invalid args");
    when_str_empty_trace(name, exit, TRACE_LEVEL_ERROR, "name is empty");

    entries = amxc_var_get_pathf(args, AMXC_VAR_FLAG_DEFAULT, "data.set.hgwconfig.%sNetworkSettings.%s.",
                                 networksettings_get_vendor_prefix(), name);
    if(entries == nullptr) {
        status = amxd_status_ok;  // nothing saved for this kind
        goto exit;
    }
    when_false_trace(amxc_var_type_of(entries) == AMXC_VAR_ID_LIST, exit, TRACE_LEVEL_ERROR, "wrong data type");
    templ = amxd_object_get(object, name);

    // A saved list without instances is a valid (empty) configuration.
    status = amxd_status_ok;
    amxc_var_for_each(entry, entries) {
        if(amxc_var_type_of(entry) != AMXC_VAR_ID_HTABLE) {
            continue;
        }
        amxc_var_for_each(instance, entry) {
            status = func(templ, amxc_var_key(instance), instance);
            when_failed_trace(status, exit, TRACE_LEVEL_ERROR, "%s", "");
        }
    }
exit:
    return status;
}

amxd_status_t populate_object_instance(amxd_object_t* base, const char* key, amxc_var_t* var) {
    amxd_status_t status = amxd_status_unknown_error;
    amxd_trans_t trans;
    when_null_trace(base, exit, TRACE_LEVEL_ERROR, "base object is NULL");
    when_str_empty_trace(key, exit, TRACE_LEVEL_ERROR, "key instance is empty");
    when_null_trace(var, exit, TRACE_LEVEL_ERROR, "var value is NULL");
    when_false_trace(amxc_var_type_of(var) == AMXC_VAR_ID_HTABLE, exit, TRACE_LEVEL_ERROR, "wrong data type");

    init_restore_transaction(&trans);
    amxd_trans_select_object(&trans, base);
    amxd_trans_add_inst(&trans, 0, key);
    status = apply(&trans);
    when_failed_trace(status, exit, TRACE_LEVEL_ERROR, "instance %s restore fail", key);

    amxc_var_for_each_reverse(param, var) {
        const char* param_name = amxc_var_key(param);
        amxd_status_t param_status = amxd_status_ok;
        if(amxc_var_type_of(param) == AMXC_VAR_ID_HTABLE) {
            param_status = populate_child_parameters(base, key, param_name, param);
        } else {
            char* value = amxc_var_get_cstring_t(param);
            zebTraceZ(TRACE_LEVEL_INFO, ME, "restore rule - key=%s  param=%s value=%s", key, param_name,
                      value == nullptr ? "" : value);
            free(value);
            param_status = populate_object_parameter(base, key, param_name, param);
        }
        if(param_status != amxd_status_ok) {
            zebTrace(TRACE_LEVEL_ERROR, "fail to restore %s.%s ", key, param_name);
        }
    }
exit:
    return status;
}

amxd_status_t populate_object_parameter(amxd_object_t* base, const char* inst_id, const char* param_name,
                                        amxc_var_t* param) {
    amxd_status_t status = amxd_status_unknown_error;
    char* base_path = nullptr;
    amxd_trans_t trans;
    when_null_trace(base, exit, TRACE_LEVEL_ERROR, "base object is NULL");
    when_str_empty_trace(inst_id, exit, TRACE_LEVEL_ERROR, "instance id is empty");
    when_str_empty_trace(param_name, exit, TRACE_LEVEL_ERROR, "parameter name is empty");
    when_null_trace(param, exit, TRACE_LEVEL_ERROR, "parameter var is NULL");

    base_path = amxd_object_get_path(base, AMXD_OBJECT_NAMED);
    init_restore_transaction(&trans);
    amxd_trans_select_pathf(&trans, "%s.%s", base_path == nullptr ? "" : base_path, inst_id);
    amxd_trans_set_param(&trans, param_name, param);
    status = apply(&trans);
exit:
    free(base_path);
    return status;
}

amxd_status_t populate_networkobject(amxd_object_t* base, const char* key, amxc_var_t* var) {
    amxd_status_t status = amxd_status_unknown_error;
    amxd_object_t* instance = nullptr;
    amxc_var_t* name = nullptr;
    amxc_var_t* rules = nullptr;
    amxd_trans_t trans;
    when_null_trace(base, exit, TRACE_LEVEL_ERROR, "object base is NULL");
    when_null_trace(var, exit, TRACE_LEVEL_ERROR, "input data are NULL");
    when_str_empty_trace(key, exit, TRACE_LEVEL_ERROR, "key name instance is empty");
    when_false_trace(amxc_var_type_of(var) == AMXC_VAR_ID_HTABLE, exit, TRACE_LEVEL_ERROR, "wrong data type");
    zebTraceZ(TRACE_LEVEL_INFO, ME, "Populate NetworkObject %s", key);

    init_restore_transaction(&trans);
    if(amxd_object_get_instance(base, key, 0) != nullptr) {
        amxd_trans_select_object(&trans, amxd_object_get_instance(base, key, 0));
    } else {
        amxd_trans_select_object(&trans, base);
        amxd_trans_add_inst(&trans, 0, key);
    }
    name = amxc_var_get_key(var, "Name", AMXC_VAR_FLAG_DEFAULT);
    if(name != nullptr) {
        amxd_trans_set_param(&trans, "Name", name);
    }
    status = apply(&trans);
    when_failed_trace(status, exit, TRACE_LEVEL_ERROR, "transaction for create %s object fail", key);

    instance = amxd_object_get_instance(base, key, 0);
    if(instance == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "networkobject %s object not found", key);
        status = amxd_status_ok;
        goto exit;
    }
    // An object saved without rules is restored without rules.
    rules = amxc_var_get_key(var, "Rule", AMXC_VAR_FLAG_DEFAULT);
    if(rules != nullptr) {
        status = populate_networkobject_rule(amxd_object_get_child(instance, "Rule"), rules);
    }
exit:
    return status;
}

amxd_status_t populate_networkobject_rule(amxd_object_t* object, amxc_var_t* var) {
    amxd_status_t status = amxd_status_unknown_error;
    when_null_trace(object, exit, TRACE_LEVEL_ERROR, "rule object is NULL");
    when_null_trace(var, exit, TRACE_LEVEL_ERROR, "date variant is NULL");
    when_false(amxc_var_type_of(var) == AMXC_VAR_ID_LIST, exit);

    status = amxd_status_ok;  // an empty rule list restores an object without rules
    amxc_var_for_each(entry, var) {
        if(amxc_var_type_of(entry) != AMXC_VAR_ID_HTABLE) {
            continue;
        }
        amxc_var_for_each(rule, entry) {
            status = populate_rule_instance(object, amxc_var_key(rule), rule);
            when_failed_trace(status, exit, TRACE_LEVEL_ERROR, "fail to restore the rule %s status=%d",
                              amxc_var_key(rule), status);
        }
    }
exit:
    return status;
}

amxd_status_t populate_rule_instance(amxd_object_t* base, const char* key, amxc_var_t* var) {
    amxd_status_t status = amxd_status_unknown_error;
    amxc_var_t* range_max = nullptr;
    amxd_trans_t trans;
    when_str_empty_trace(key, exit, TRACE_LEVEL_ERROR, "key instance is empty");
    when_false_trace(amxc_var_type_of(var) == AMXC_VAR_ID_HTABLE, exit, TRACE_LEVEL_ERROR, "wrong data type");

    init_restore_transaction(&trans);
    amxd_trans_select_object(&trans, base);
    amxd_trans_add_inst(&trans, 0, key);
    for(const char* name : rule_params) {
        amxc_var_t* value = amxc_var_get_key(var, name, AMXC_VAR_FLAG_DEFAULT);
        if(value != nullptr) {
            amxd_trans_set_param(&trans, name, value);
        }
    }
    status = apply(&trans);
    when_failed_trace(status, exit, TRACE_LEVEL_ERROR, "%s", "");

    // A rule saved without a range end is complete as it is.
    range_max = amxc_var_get_key(var, "SourceIPRangeMax", AMXC_VAR_FLAG_DEFAULT);
    if(range_max != nullptr) {
        status = populate_object_parameter(base, key, "SourceIPRangeMax", range_max);
    }
exit:
    return status;
}

amxd_status_t _Export(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* /*args*/, amxc_var_t* ret) {
    amxc_var_t* tree = nullptr;
    if((object == nullptr) || (ret == nullptr)) {
        zebTrace(TRACE_LEVEL_ERROR, "Invalid arguments");
        return amxd_status_unknown_error;
    }
    amxc_var_set_type(ret, AMXC_VAR_ID_HTABLE);
    tree = amxc_var_add_new_key_htable(amxc_var_add_new_key_htable(amxc_var_add_new_key_htable(ret, "data"), "set"),
                                       "hgwconfig");
    tree = amxc_var_add_new_key_htable(tree, amxd_object_get_name(object, AMXD_OBJECT_NAMED));
    for(const import_kind_t& kind : import_kinds) {
        export_kind(object, kind.name, tree);
    }
    return amxd_status_ok;
}

} // extern "C"
