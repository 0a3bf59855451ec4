// Configuration restore (_Import) and its counterpart (_Export).
#define ME "networksettings"

#include "networksettings-qk_backup.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <map>
#include <string_view>
#include <vector>

#include <amxc/amxc.h>
#include <amxp/amxp_loop.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "networksettings-qk.h"
#include "networksettings-qk_utils.h"

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

// Access-control parameters that name other instances of this tree.
const char* const reference_params[] = {"NetworkGroupRef", "PortForwardingRuleRef"};

// Port lists in which a saved range ("80-90") is written out, the data model taking single ports
// only; more ports than this are refused rather than stored.
const char* const port_list_params[] = {"SourcePort", "DestPort"};
constexpr unsigned max_expanded_ports = 1024;

// What one _Import reports back: the values it refused, and why it stopped. The element
// functions keep their signatures, so they reach it here; the loop runs one import at a time.
struct import_run_t {
    amxd_object_t* root = nullptr;
    amxc_var_t* refused = nullptr;  // list in the result
    std::string error;
    // Per kind, the highest index the tree carries (keys) or names (references): a named
    // instance goes above it, so that it never takes the place a reference of the tree means.
    std::map<std::string, uint32_t> floor;
    const amxc_var_t* named = nullptr;  // the tree's "Indices" (see _Export)
};
import_run_t* current_run = nullptr;

// Parameters the module computes: saving them would only restore stale values.
bool is_computed_param(const char* name) {
    return strcmp(name, "Status") == 0 || strcmp(name, "StatusInfo") == 0 || strcmp(name, "RuleIPList") == 0 ||
           strcmp(name, "NetworkObjectIPList") == 0;
}

bool is_one_of(const char* name, const auto& names) {
    for(const char* candidate : names) {
        if(strcmp(name, candidate) == 0) {
            return true;
        }
    }
    return false;
}

std::string owned(char* text) {
    std::string copy = text == nullptr ? "" : text;
    free(text);
    return copy;
}

std::string text_of(const amxc_var_t* value) {
    return owned(amxc_var_get_cstring_t(value));
}

// Applies and cleans; the reason of a refusal goes to `why` when given.
amxd_status_t apply(amxd_trans_t* trans, std::string* why = nullptr) {
    const amxd_status_t status = amxd_trans_apply(trans, networksettings_get_dm());
    if((status != amxd_status_ok) && (why != nullptr)) {
        *why = amxd_trans_get_error(trans);
        if(why->empty()) {
            *why = amxd_status_string(status);
        }
    }
    amxd_trans_clean(trans);
    return status;
}

void init_restore_transaction(amxd_trans_t* trans) {
    amxd_trans_init(trans);
    amxd_trans_set_attr(trans, amxd_tattr_change_ro, true);
}

void report_refused(const std::string& path, const amxc_var_t* value) {
    zebTrace(TRACE_LEVEL_ERROR, "refused %s=%s", path.c_str(), text_of(value).c_str());
    if((current_run == nullptr) || (current_run->refused == nullptr)) {
        return;
    }
    amxc_var_t* item = amxc_var_add_new_htable(current_run->refused);
    amxc_var_add_key(cstring_t, item, "path", path.c_str());
    amxc_var_copy(amxc_var_add_new_key(item, "value"), value);
}

// Stops the run with `what` as its reason (the first one is kept), said here unless the
// caller logs its own line.
amxd_status_t stop_run(amxd_status_t status, const std::string& what, bool log = true) {
    if(log) {
        zebTrace(TRACE_LEVEL_ERROR, "%s", what.c_str());
    }
    if((current_run != nullptr) && current_run->error.empty()) {
        current_run->error = what;
    }
    return status;
}

std::string object_path(const amxd_object_t* object, uint32_t flags) {
    return owned(amxd_object_get_path(object, flags));
}

// A rule's parameters are texts that start empty: a saved empty text is what a new rule holds
// already, and writing it costs its checks and a step of the transaction (a restore of 10,000
// rules writes 70,000 of them).
bool is_fresh_rule_value(const amxc_var_t* value) {
    if(amxc_var_type_of(value) != AMXC_VAR_ID_CSTRING) {
        return false;
    }
    return util_is_empty_text(amxc_var_constcast(cstring_t, value));
}

// "<Template>-<n>" is the key an export gives the unnamed instance n: it comes back at index n,
// unnamed, so references to it stay true. Any other key is the instance's name.
uint32_t index_of_key(const amxd_object_t* templ, std::string_view key) {
    const std::string_view templ_name = amxd_object_get_name(templ, AMXD_OBJECT_NAMED);
    if(!key.starts_with(templ_name) || (key.substr(templ_name.size(), 1) != "-")) {
        return 0;
    }
    const std::string digits(key.substr(templ_name.size() + 1));
    if(digits.empty() || (digits.size() > 10) || (digits[0] == '0') ||
       (digits.find_first_not_of("0123456789") != std::string::npos)) {
        return 0;
    }
    const unsigned long long index = std::stoull(digits);
    return index <= AMXD_MAX_INDEX ? static_cast<uint32_t>(index) : 0;
}

// The key an instance is saved under: its name, or "<Template>-<index>" when it has none (an
// all-digit key would be read back as a name it cannot have). The data model keeps that form
// for the instance at that index, so keys never collide.
std::string instance_key(const amxd_object_t* instance) {
    const std::string named = amxd_object_get_name(instance, AMXD_OBJECT_NAMED);
    const std::string indexed = amxd_object_get_name(instance, AMXD_OBJECT_INDEXED);
    if(named != indexed) {
        return named;
    }
    return std::string(amxd_object_get_name(amxd_object_get_parent(instance), AMXD_OBJECT_NAMED)) + "-" + indexed;
}

// Where the tree's "Indices" keeps a template's named instances: "AccessControl", or
// "NetworkObject.<key>.Rule" for the rules of one object.
std::string kind_path(const amxd_object_t* templ) {
    const amxd_object_t* owner = amxd_object_get_parent(templ);
    const std::string name = amxd_object_get_name(templ, AMXD_OBJECT_NAMED);
    if(amxd_object_get_type(owner) != amxd_object_instance) {
        return name;
    }
    return std::string(amxd_object_get_name(amxd_object_get_parent(owner), AMXD_OBJECT_NAMED)) + "." + instance_key(owner) + "." + name;
}

// Records the addition of the instance `key` stands for.
void add_instance(amxd_trans_t* trans, amxd_object_t* base, const char* key) {
    uint32_t index = index_of_key(base, key);
    const char* name = index == 0 ? key : nullptr;
    if((index == 0) && (current_run != nullptr)) {
        const amxc_var_t* saved = amxc_var_get_key(amxc_var_get_key(current_run->named, kind_path(base).c_str(), AMXC_VAR_FLAG_DEFAULT),
                                                   key, AMXC_VAR_FLAG_DEFAULT);
        const uint32_t named = saved == nullptr ? 0 : amxc_var_dyncast(uint32_t, saved);
        index = named <= AMXD_MAX_INDEX ? named : 0;
    }
    if((index == 0) && (current_run != nullptr)) {
        const auto floor = current_run->floor.find(amxd_object_get_name(base, AMXD_OBJECT_NAMED));
        if((floor != current_run->floor.end()) && (floor->second >= amxd_object_get_last_index(base)) &&
           (floor->second < AMXD_MAX_INDEX)) {
            index = floor->second + 1;
        }
    }
    amxd_trans_select_object(trans, base);
    amxd_trans_add_inst(trans, index, name);
}

// The index a reference element "<root>.<kind>.<n>[.]" names; 0 for any other element.
uint32_t referenced_index(std::string_view element, const std::string& prefix, const std::string& kind) {
    const std::string head = prefix + kind + ".";
    if(!element.starts_with(head)) {
        return 0;
    }
    std::string_view id = element.substr(head.size());
    if(id.ends_with(".")) {
        id.remove_suffix(1);
    }
    if(id.empty() || (id.size() > 10) || (id.find_first_not_of("0123456789") != std::string_view::npos)) {
        return 0;
    }
    const unsigned long long index = std::stoull(std::string(id));
    return index <= AMXD_MAX_INDEX ? static_cast<uint32_t>(index) : 0;
}

// Fills the run's floors from the tree `kinds` (the table of kind name to saved list).
void plan_floors(const amxd_object_t* root, const amxc_var_t* kinds, import_run_t& run) {
    const std::string prefix = object_path(root, AMXD_OBJECT_INDEXED) + ".";
    for(const import_kind_t& kind : import_kinds) {
        uint32_t& floor = run.floor[kind.name];
        const amxd_object_t* templ = amxd_object_get_child(root, kind.name);
        amxc_var_for_each(entry, amxc_var_get_key(kinds, kind.name, AMXC_VAR_FLAG_DEFAULT)) {
            amxc_var_for_each(instance, entry) {
                floor = std::max(floor, templ == nullptr ? 0u : index_of_key(templ, amxc_var_key(instance)));
                for(const char* param : reference_params) {
                    const std::string list = text_of(amxc_var_get_key(instance, param, AMXC_VAR_FLAG_DEFAULT));
                    std::string_view rest(list);
                    while(!rest.empty()) {
                        const std::size_t comma = rest.find(',');
                        for(const import_kind_t& target : import_kinds) {
                            run.floor[target.name] = std::max(run.floor[target.name], referenced_index(rest.substr(0, comma), prefix, target.name));
                        }
                        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
                    }
                }
            }
        }
    }
}

uint32_t added_index(const amxd_trans_t* trans) {
    const char* path = amxd_trans_get_added_path(trans);
    if(path == nullptr) {
        return 0;
    }
    std::string_view text(path);
    text.remove_suffix(1);
    return static_cast<uint32_t>(std::stoul(std::string(text.substr(text.find_last_of('.') + 1))));
}

// Applies a transaction that adds one instance: its index in `index`; a refusal stops the run
// with what collided or why.
amxd_status_t apply_addition(amxd_trans_t* trans, amxd_object_t* base, const char* key, uint32_t& index) {
    const amxd_status_t status = amxd_trans_apply(trans, networksettings_get_dm());
    index = status == amxd_status_ok ? added_index(trans) : 0;
    if(status != amxd_status_ok) {
        const char* why = amxd_trans_get_error(trans);
        stop_run(status, object_path(base, AMXD_OBJECT_INDEXED) + " " + key + ": " +
                 ((why != nullptr) && (*why != '\0') ? why : amxd_status_string(status)));
    }
    amxd_trans_clean(trans);
    return status;
}

void delete_instance(amxd_object_t* base, uint32_t index) {
    amxd_trans_t trans;
    init_restore_transaction(&trans);
    amxd_trans_select_object(&trans, base);
    amxd_trans_del_inst(&trans, index, nullptr);
    apply(&trans);
}

// A reference list with each element naming an instance of this tree by its name (when it
// has one and `by_name`) or by its index; elements that name nothing here are kept as written.
std::string rewrite_references(const amxd_object_t* root, const char* list, bool by_name) {
    const std::string prefix = object_path(root, AMXD_OBJECT_INDEXED) + ".";
    std::string out;
    std::string_view rest(list == nullptr ? "" : list);
    while(!rest.empty()) {
        const std::size_t comma = rest.find(',');
        std::string element(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const std::size_t dot = element.find('.', prefix.size());
        if(element.starts_with(prefix) && (dot != std::string::npos)) {
            const std::string kind = element.substr(prefix.size(), dot - prefix.size());
            std::string id = element.substr(dot + 1);
            const bool terminated = id.ends_with(".");
            if(terminated) {
                id.pop_back();
            }
            const amxd_object_t* templ = amxd_object_get_child(root, kind.c_str());
            const amxd_object_t* instance =
                (templ == nullptr) || id.empty() || (id.find('.') != std::string::npos) ? nullptr : amxd_object_get(templ, id.c_str());
            if((instance != nullptr) && (amxd_object_get_parent(instance) == templ)) {
                element = prefix + kind + "." +
                          amxd_object_get_name(instance, by_name ? AMXD_OBJECT_NAMED : AMXD_OBJECT_INDEXED) +
                          (terminated ? "." : "");
            }
        }
        out += element;
        if(comma != std::string_view::npos) {
            out += ",";  // kept even when last, as written
        }
    }
    return out;
}

// "80-90,443" -> "80,81,...,90,443". False for a list that does not read as ports and ranges,
// or that holds more than max_expanded_ports ports.
bool expand_port_ranges(const char* list, std::string& out) {
    out.clear();
    unsigned count = 0;
    std::string_view rest(list == nullptr ? "" : list);
    while(!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view element = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const std::size_t dash = element.find('-');
        const std::string low(element.substr(0, dash));
        const std::string high(dash == std::string_view::npos ? low : std::string(element.substr(dash + 1)));
        if(low.empty() || high.empty() || (low.size() > 5) || (high.size() > 5) ||
           (low.find_first_not_of("0123456789") != std::string::npos) ||
           (high.find_first_not_of("0123456789") != std::string::npos)) {
            return false;
        }
        const unsigned first = std::stoul(low);
        const unsigned last = std::stoul(high);
        if((first > last) || (last > 65535) || (count + (last - first) + 1 > max_expanded_ports)) {
            return false;
        }
        for(unsigned port = first; port <= last; ++port, ++count) {
            out += (out.empty() ? "" : ",") + std::to_string(port);
        }
    }
    return true;
}

// The value to write for a saved parameter: references by index, port ranges written out.
// False when the saved value cannot be written as the data model takes it.
bool value_to_restore(const char* param_name, const amxc_var_t* saved, amxc_var_t* value) {
    if(is_one_of(param_name, reference_params) && (current_run != nullptr)) {
        return amxc_var_set_cstring_t(value, rewrite_references(current_run->root, text_of(saved).c_str(), false).c_str()) == 0;
    }
    if(is_one_of(param_name, port_list_params) && (amxc_var_type_of(saved) == AMXC_VAR_ID_CSTRING)) {
        std::string ports;
        return expand_port_ranges(amxc_var_get_const_cstring_t(saved), ports) && (amxc_var_set_cstring_t(value, ports.c_str()) == 0);
    }
    return amxc_var_copy(value, saved) == 0;
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

// The instance's parameters, and those of its child objects as nested tables. References name
// instances by name where they have one, so they hold in a tree whose indices differ.
void export_parameters(const amxd_object_t* root, const amxd_object_t* object, amxc_var_t* out) {
    amxc_var_t params;
    amxc_var_init(&params);
    amxd_object_get_params(object, &params);
    amxc_var_for_each(param, &params) {
        const char* name = amxc_var_key(param);
        if(is_one_of(name, reference_params)) {
            amxc_var_add_key(cstring_t, out, name, rewrite_references(root, amxc_var_get_const_cstring_t(param), true).c_str());
        } else if(!is_computed_param(name)) {
            copy_into(out, name, param);
        }
    }
    amxc_var_clean(&params);
    amxd_object_for_each_child(child, object) {
        if(amxd_object_get_type(child) == amxd_object_singleton) {
            export_parameters(root, child, amxc_var_add_new_key_htable(out, amxd_object_get_name(child, AMXD_OBJECT_NAMED)));
        }
    }
}

// Records the index of each named instance of `templ` in the tree's "Indices", so that an
// import puts it back there (the others carry theirs in their key).
void export_named_indices(const amxd_object_t* templ, amxc_var_t* tree) {
    amxc_var_t* indices = amxc_var_get_key(tree, "Indices", AMXC_VAR_FLAG_DEFAULT);
    amxc_var_t* table = nullptr;
    amxd_object_for_each_instance(instance, templ) {
        if(strcmp(amxd_object_get_name(instance, AMXD_OBJECT_NAMED), amxd_object_get_name(instance, AMXD_OBJECT_INDEXED)) == 0) {
            continue;
        }
        indices = indices != nullptr ? indices : amxc_var_add_new_key_htable(tree, "Indices");
        table = table != nullptr ? table : amxc_var_add_new_key_htable(indices, kind_path(templ).c_str());
        amxc_var_add_key(uint32_t, table, amxd_object_get_name(instance, AMXD_OBJECT_NAMED), amxd_object_get_index(instance));
    }
}

void export_kind(const amxd_object_t* root, const char* kind, amxc_var_t* tree) {
    const amxd_object_t* templ = amxd_object_get_child(root, kind);
    amxc_var_t* list = amxc_var_add_new_key_list(tree, kind);
    export_named_indices(templ, tree);
    amxd_object_for_each_instance(instance, templ) {
        amxc_var_t* entry = amxc_var_add_new_htable(list);
        amxc_var_t* value = amxc_var_add_new_key_htable(entry, instance_key(instance).c_str());
        if(strcmp(kind, "NetworkObject") != 0) {
            export_parameters(root, instance, value);
            continue;
        }
        copy_into(value, "Name", amxd_object_get_param_value(instance, "Name"));
        amxc_var_t* rules = amxc_var_add_new_key_list(value, "Rule");
        export_named_indices(amxd_object_get_child(instance, "Rule"), tree);
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

amxd_status_t _Import(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* args, amxc_var_t* ret) {
    if((object == nullptr) || (args == nullptr)) {
        zebTrace(TRACE_LEVEL_ERROR, "Invalid arguments");
        return amxd_status_unknown_error;
    }
    // The result lists what was refused: {"refused": [{"path": ..., "value": ...}]}; when the
    // import stops, it is the reason instead.
    import_run_t run;
    run.root = object;
    if(ret != nullptr) {
        amxc_var_set_type(ret, AMXC_VAR_ID_HTABLE);
        run.refused = amxc_var_add_new_key_list(ret, "refused");
    }
    const amxc_var_t* tree = amxc_var_get_pathf(args, AMXC_VAR_FLAG_DEFAULT, "data.set.hgwconfig.%sNetworkSettings.",
                                                 networksettings_get_vendor_prefix());
    plan_floors(object, tree, run);
    run.named = amxc_var_get_key(tree, "Indices", AMXC_VAR_FLAG_DEFAULT);
    current_run = &run;
    amxd_status_t status = amxd_status_ok;
    for(const import_kind_t& kind : import_kinds) {
        status = import_object(object, args, kind.name, kind.func);
        if(status != amxd_status_ok) {
            zebTrace(TRACE_LEVEL_ERROR, "fail to restore %s", kind.name);
            if(run.error.empty()) {
                run.error = std::string("fail to restore ") + kind.name;
            }
            break;
        }
    }
    current_run = nullptr;
    if((status != amxd_status_ok) && (ret != nullptr)) {
        amxc_var_set_cstring_t(ret, run.error.c_str());
    }
    return status;
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
    if(amxc_var_type_of(entries) != AMXC_VAR_ID_LIST) {
        status = stop_run(amxd_status_unknown_error, std::string(name) + ": wrong data type (not a list)", false);
        zebTrace(TRACE_LEVEL_ERROR, "wrong data type");
        goto exit;
    }
    templ = amxd_object_get(object, name);

    // A saved list without instances is a valid (empty) configuration.
    status = amxd_status_ok;
    amxc_var_for_each(entry, entries) {
        if(amxc_var_type_of(entry) != AMXC_VAR_ID_HTABLE) {
            continue;
        }
        amxc_var_for_each(instance, entry) {
            // Between two restored instances, other clients may read.
            amxp_loop_slice_point();
            status = func(templ, amxc_var_key(instance), instance);
            when_failed_trace(status, exit, TRACE_LEVEL_ERROR, "%s", "");
        }
    }
exit:
    return status;
}

amxd_status_t populate_object_instance(amxd_object_t* base, const char* key, amxc_var_t* var) {
    amxd_status_t status = amxd_status_unknown_error;
    uint32_t index = 0;
    std::string inst_id;
    bool refused = false;
    amxd_trans_t trans;
    when_null_trace(base, exit, TRACE_LEVEL_ERROR, "base object is NULL");
    when_str_empty_trace(key, exit, TRACE_LEVEL_ERROR, "key instance is empty");
    when_null_trace(var, exit, TRACE_LEVEL_ERROR, "var value is NULL");
    if(amxc_var_type_of(var) != AMXC_VAR_ID_HTABLE) {
        status = stop_run(amxd_status_unknown_error, std::string(key) + ": wrong data type (not an object)", false);
        zebTrace(TRACE_LEVEL_ERROR, "wrong data type");
        goto exit;
    }

    init_restore_transaction(&trans);
    add_instance(&trans, base, key);
    status = apply_addition(&trans, base, key, index);
    when_failed_trace(status, exit, TRACE_LEVEL_ERROR, "instance %s restore fail", key);
    inst_id = std::to_string(index);

    amxc_var_for_each_reverse(param, var) {
        const char* param_name = amxc_var_key(param);
        const std::string path = object_path(base, AMXD_OBJECT_INDEXED) + "." + inst_id + "." + param_name;
        amxd_status_t param_status = amxd_status_ok;
        if(amxc_var_type_of(param) == AMXC_VAR_ID_HTABLE) {
            param_status = populate_child_parameters(base, inst_id.c_str(), param_name, param);
        } else {
            zebTraceZ(TRACE_LEVEL_INFO, ME, "restore rule - key=%s  param=%s value=%s", key, param_name, text_of(param).c_str());
            amxc_var_t value;
            amxc_var_init(&value);
            param_status = value_to_restore(param_name, param, &value)
                ? populate_object_parameter(base, inst_id.c_str(), param_name, &value)
                : amxd_status_invalid_value;
            amxc_var_clean(&value);
        }
        if(param_status != amxd_status_ok) {
            zebTrace(TRACE_LEVEL_ERROR, "fail to restore %s.%s ", key, param_name);
            report_refused(path, param);
            refused = true;
        }
    }
    // Without a refused value the instance could block more than it was saved with (a port
    // list left empty means every port): it is withdrawn instead.
    if(refused) {
        zebTrace(TRACE_LEVEL_ERROR, "%s.%s withdrawn: a saved value was refused", object_path(base, AMXD_OBJECT_INDEXED).c_str(),
                 inst_id.c_str());
        delete_instance(base, index);
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
    uint32_t index = 0;
    amxc_var_t* name = nullptr;
    amxc_var_t* rules = nullptr;
    amxd_trans_t trans;
    when_null_trace(base, exit, TRACE_LEVEL_ERROR, "object base is NULL");
    when_null_trace(var, exit, TRACE_LEVEL_ERROR, "input data are NULL");
    when_str_empty_trace(key, exit, TRACE_LEVEL_ERROR, "key name instance is empty");
    if(amxc_var_type_of(var) != AMXC_VAR_ID_HTABLE) {
        status = stop_run(amxd_status_unknown_error, std::string(key) + ": wrong data type (not an object)", false);
        zebTrace(TRACE_LEVEL_ERROR, "wrong data type");
        goto exit;
    }
    zebTraceZ(TRACE_LEVEL_INFO, ME, "Populate NetworkObject %s", key);

    // An object the key already stands for is updated in place.
    index = index_of_key(base, key);
    instance = index != 0 ? amxd_object_get_instance(base, nullptr, index) : amxd_object_get_instance(base, key, 0);
    init_restore_transaction(&trans);
    if(instance != nullptr) {
        amxd_trans_select_object(&trans, instance);
    } else {
        add_instance(&trans, base, key);
    }
    name = amxc_var_get_key(var, "Name", AMXC_VAR_FLAG_DEFAULT);
    if(name != nullptr) {
        amxd_trans_set_param(&trans, "Name", name);
    }
    status = apply_addition(&trans, base, key, index);
    when_failed_trace(status, exit, TRACE_LEVEL_ERROR, "transaction for create %s object fail", key);

    instance = instance != nullptr ? instance : amxd_object_get_instance(base, nullptr, index);
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
            amxp_loop_slice_point();  // as between instances
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
    uint32_t index = 0;
    std::string why;
    amxd_trans_t trans;
    when_str_empty_trace(key, exit, TRACE_LEVEL_ERROR, "key instance is empty");
    if(amxc_var_type_of(var) != AMXC_VAR_ID_HTABLE) {
        status = stop_run(amxd_status_unknown_error, std::string(key) + ": wrong data type (not an object)", false);
        zebTrace(TRACE_LEVEL_ERROR, "wrong data type");
        goto exit;
    }

    init_restore_transaction(&trans);
    add_instance(&trans, base, key);
    for(const char* name : rule_params) {
        amxc_var_t* value = amxc_var_get_key(var, name, AMXC_VAR_FLAG_DEFAULT);
        if((value != nullptr) && !is_fresh_rule_value(value)) {
            amxd_trans_set_param(&trans, name, value);
        }
    }
    status = amxd_trans_apply(&trans, networksettings_get_dm());
    index = status == amxd_status_ok ? added_index(&trans) : 0;
    why = amxd_trans_get_error(&trans);
    amxd_trans_clean(&trans);
    if((status == amxd_status_duplicate) || (status == amxd_status_invalid_name)) {
        status = stop_run(status, object_path(base, AMXD_OBJECT_INDEXED) + " " + key + ": " + why);
        goto exit;
    }
    // A rule the data model refuses is left out: the object then selects fewer devices, never more.
    if(status != amxd_status_ok) {
        report_refused(object_path(base, AMXD_OBJECT_INDEXED) + "." + key, var);
        status = amxd_status_ok;
        goto exit;
    }

    // A rule saved without a range end, or with an empty one, is complete as it is.
    range_max = amxc_var_get_key(var, "SourceIPRangeMax", AMXC_VAR_FLAG_DEFAULT);
    if((range_max != nullptr) && !is_fresh_rule_value(range_max) &&
       (populate_object_parameter(base, std::to_string(index).c_str(), "SourceIPRangeMax", range_max) != amxd_status_ok)) {
        report_refused(object_path(base, AMXD_OBJECT_INDEXED) + "." + std::to_string(index) + ".SourceIPRangeMax", range_max);
        delete_instance(base, index);
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
