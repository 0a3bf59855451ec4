#ifndef NETWORKOBJECT_DM_H
#define NETWORKOBJECT_DM_H

/* Network objects: each Rule instance selects devices by a literal address entry or by a
 * device property looked up in the device map, publishes what it selects in RuleIPList, and
 * the NetworkObject publishes all its rules' entries, sorted, in NetworkObjectIPList. */

#include <stdbool.h>

#include <amxc/amxc.h>
#include <amxd/amxd.h>
#include <gmap/gmap_query.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Private record of one Rule instance, in its private-data slot; owns the query and the
 * device table (device key -> copy of the device's "IPAddress"). */
typedef struct _networkobject_rule {
    gmap_query_t* query;
    amxc_var_t devices;
} networkobject_rule_t;

/* Actions and handlers bound by the data-model definition. */
amxd_status_t _networkobject_rule_validate(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                                           const amxc_var_t* const args, amxc_var_t* const retval, void* priv);
amxd_status_t _networkobject_rule_destroy(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                                          const amxc_var_t* const args, amxc_var_t* const retval, void* priv);
/* Parameter validate action of the device-property selections: a value is inserted verbatim
 * between double quotes of a device-map expression, so a double quote in it is refused. */
amxd_status_t _networkobject_rule_check_text(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                                             const amxc_var_t* const args, amxc_var_t* const retval, void* priv);
/* Parameter validate action of SourceMACAddress: empty or a MAC address, so that the device-map
 * pattern made of it selects exactly that device. */
amxd_status_t _networkobject_rule_check_mac(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                                            const amxc_var_t* const args, amxc_var_t* const retval, void* priv);
void _networkobject_rule_added(const char* const event_name, const amxc_var_t* const event_data, void* const priv);
void _networkobject_rule_removed(const char* const event_name, const amxc_var_t* const event_data, void* const priv);
void _networkobject_rule_changed(const char* const event_name, const amxc_var_t* const event_data, void* const priv);

/* Rule update: writes the rule's literal entry or (re)opens its device-map query, then
 * rebuilds the object's list. */
void netobj_rule_instance_updated(amxd_object_t* rule_inst);
void netobj_gmap_query_trigger(amxd_object_t* rule_inst, const char* expression);

/* IP lists. */
void netobj_gmap_query_callback(gmap_query_t* lquery, const char* key, amxc_var_t* device, gmap_query_action_t action);
/* Asks for the rebuild of the NetworkObjectIPList of the object owning the Rule template
 * `rule_obj`. It runs once, on the loop, after the events already queued, however many
 * changes asked for it meanwhile (a restore of N rules rebuilds each list once). */
void netobj_update_networkobject_ip_list(amxd_object_t* rule_obj);
void util_trans_set_csv_string_value(amxd_object_t* object, const char* parameter, const char* value);

/* Record lifecycle. */
int netobj_networkobject_rule_init(networkobject_rule_t* rule);
int netobj_networkobject_rule_cleanup(networkobject_rule_t* rule);

#ifdef __cplusplus
}
#endif

#endif
