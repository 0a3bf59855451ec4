// IP lists: a rule's RuleIPList from its device table, and the object's sorted
// NetworkObjectIPList from all its rules.
#define ME "networksettings"

#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <amxc/amxc.h>
#include <amxp/amxp_loop.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "networkobject/networkobject_dm.h"
#include "networkobject/networkobject_sort.h"
#include "networksettings-qk.h"
#include "networksettings-qk_utils.h"

namespace {

void update_device_table(networkobject_rule_t* rule, const char* key, amxc_var_t* device, gmap_query_action_t action) {
    switch(action) {
    case gmap_query_expression_stop_matching: {
        amxc_var_t* entry = amxc_var_get_key(&rule->devices, key, AMXC_VAR_FLAG_DEFAULT);
        amxc_var_delete(&entry);
        break;
    }
    case gmap_query_expression_start_matching:
    case gmap_query_device_updated:
        amxc_var_set_key(&rule->devices, key, amxc_var_get_key(device, "IPAddress", AMXC_VAR_FLAG_DEFAULT),
                         AMXC_VAR_FLAG_COPY | AMXC_VAR_FLAG_UPDATE);
        break;
    default:
        break;
    }
}

void build_rule_ip_list(const networkobject_rule_t* rule, amxc_string_t* list) {
    amxc_var_for_each(address, &rule->devices) {
        const char* ip = amxc_var_constcast(cstring_t, address);
        // Whatever answers for the device map, only an address may become an entry (a comma
        // would add entries of its own).
        if(check_is_valid_ip(ip) == 0) {
            continue;
        }
        if(!amxc_string_is_empty(list)) {
            amxc_string_append(list, ",", 1);
        }
        amxc_string_appendf(list, "IPAddress:%s", ip);
    }
}

void rebuild_ip_list(amxd_object_t* rule_obj) {
    amxd_object_t* network_object = amxd_object_get_parent(rule_obj);
    if(network_object == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "Null Rule or NetworkObject");
        return;
    }
    // Every rule's stored list followed by a separator, as one text the items point into.
    std::string all;
    amxd_object_for_each_instance(rule_inst, rule_obj) {
        const char* list = amxc_var_constcast(cstring_t, amxd_object_get_param_value(rule_inst, "RuleIPList"));
        if(list != nullptr) {
            all.append(list).push_back(',');
        }
    }
    // Rules without entries leave empty items behind the separators: they select nothing and
    // must not show up as empty entries of the object's list.
    std::vector<std::string_view> items;
    const std::string_view text = all;
    for(size_t from = 0; from < text.size();) {
        const size_t to = text.find(',', from);
        if(to > from) {
            items.push_back(text.substr(from, to - from));
        }
        from = to + 1;
    }
    netobj::sort_bytewise(items);
    std::string joined;
    joined.reserve(all.size());
    for(std::string_view item : items) {
        if(!joined.empty()) {
            joined.push_back(',');
        }
        joined.append(item);
    }
    util_trans_set_csv_string_value(network_object, "NetworkObjectIPList", joined.c_str());
}

// Rule templates whose object's list awaits its rebuild, by indexed path (an object may be
// deleted before the rebuild runs), in the order they were first asked for. A rebuild reads
// every rule of the object, so each change paying for one would make a restore of N rules, or
// a burst of device reports, cost N^2 and queue N change events each holding the whole list.
struct PendingRebuilds {
    std::vector<std::string> order;
    std::unordered_set<std::string> known;
    bool queued = false;

    PendingRebuilds() = default;
    PendingRebuilds(const PendingRebuilds&) = delete;
    PendingRebuilds& operator=(const PendingRebuilds&) = delete;
    // The module is being unloaded: the loop must not call into it afterwards.
    ~PendingRebuilds();
};

PendingRebuilds& pending_rebuilds() {
    static PendingRebuilds pending;
    return pending;
}

void run_pending_rebuilds(void* /*priv*/) {
    PendingRebuilds& pending = pending_rebuilds();
    std::vector<std::string> order;
    order.swap(pending.order);
    pending.known.clear();
    pending.queued = false;
    amxd_dm_t* dm = networksettings_get_dm();
    for(const std::string& path : order) {
        // After a stop there is no data model, and nothing left to rebuild.
        amxd_object_t* rule_obj = dm == nullptr ? nullptr : amxd_dm_findf(dm, "%s", path.c_str());
        if(rule_obj != nullptr) {
            rebuild_ip_list(rule_obj);
        }
    }
}

PendingRebuilds::~PendingRebuilds() {
    if(queued) {
        amxp_loop_cancel_deferred(run_pending_rebuilds, nullptr);
    }
}

// Queues the rebuild behind what the loop holds already: the events of the transaction or
// restore that asked for it, and so every other rule change they carry.
bool queue_rebuild(amxd_object_t* rule_obj) {
    char* path = amxd_object_get_path(rule_obj, AMXD_OBJECT_INDEXED | AMXD_OBJECT_TERMINATE);
    if(path == nullptr) {
        return false;
    }
    PendingRebuilds& pending = pending_rebuilds();
    bool queued = true;
    try {
        std::string key = path;
        if(!pending.queued) {
            queued = amxp_loop_defer(run_pending_rebuilds, nullptr) == 0;
            pending.queued = queued;
        }
        if(queued && pending.known.insert(key).second) {
            pending.order.push_back(std::move(key));
        }
    } catch(const std::bad_alloc&) {
        queued = false;
    }
    free(path);
    return queued;
}

} // namespace

extern "C" {

void netobj_gmap_query_callback(gmap_query_t* lquery, const char* key, amxc_var_t* device, gmap_query_action_t action) {
    amxd_object_t* rule_inst = nullptr;
    networkobject_rule_t* rule = nullptr;
    amxc_string_t list;
    amxc_string_init(&list, 0);

    when_null_trace(lquery, exit, TRACE_LEVEL_ERROR, "Null gmap_query");
    zebTraceZ(TRACE_LEVEL_INFO, ME, "device key %s", key == nullptr ? "" : key);
    rule_inst = static_cast<amxd_object_t*>(lquery->data);
    rule = static_cast<networkobject_rule_t*>(amxd_object_get_priv(rule_inst));
    when_null(rule, exit);
    when_true_trace(action == gmap_query_error, exit, TRACE_LEVEL_ERROR, "An error occured for query.");
    when_null(key, exit);

    update_device_table(rule, key, device, action);
    build_rule_ip_list(rule, &list);
    util_trans_set_csv_string_value(rule_inst, "RuleIPList", amxc_string_get(&list, 0));
    netobj_update_networkobject_ip_list(amxd_object_get_parent(rule_inst));
exit:
    amxc_string_clean(&list);
}

void netobj_update_networkobject_ip_list(amxd_object_t* rule_obj) {
    if(amxd_object_get_parent(rule_obj) == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "Null Rule or NetworkObject");
        return;
    }
    // Without a place in the queue, the list is still rebuilt: late is better than stale.
    if(!queue_rebuild(rule_obj)) {
        rebuild_ip_list(rule_obj);
    }
}

void util_trans_set_csv_string_value(amxd_object_t* object, const char* parameter, const char* value) {
    if(object == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "Null Rule or NetworkObject");
    } else if((parameter == nullptr) || (parameter[0] == '\0')) {
        zebTraceZ(TRACE_LEVEL_INFO, ME, "Empty parameter.");
    } else {
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        amxd_trans_select_object(&trans, object);
        amxd_trans_set_attr(&trans, amxd_tattr_change_ro, true);  // the lists are read-only for clients
        amxd_trans_set_value(csv_string_t, &trans, parameter, value);
        amxd_trans_apply(&trans, networksettings_get_dm());
        amxd_trans_clean(&trans);
    }
    zebTraceZ(TRACE_LEVEL_INFO, ME, "Updating %s = %s", parameter == nullptr ? "" : parameter, value == nullptr ? "" : value);
}

} // extern "C"
