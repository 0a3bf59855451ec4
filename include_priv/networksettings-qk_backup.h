#ifndef NETWORKSETTINGS_QK_BACKUP_H
#define NETWORKSETTINGS_QK_BACKUP_H

/* Configuration restore and export. The saved tree is
 *   {"data": {"set": {"hgwconfig": {"<prefix>NetworkSettings": {
 *       "NetworkObject": [{"<name>": {"Name": ..., "Rule": [{"<rule>": {...}}]}}],
 *       "PortForwardingRule": [{"<name>": {"<Param>": value, ...}}],
 *       "AccessControl": [{"<name>": {"<Param>": value, ...}}]}}}}}
 * Restore writes only through transactions, so the objects' own actions and events rebuild
 * everything the module derives (rule records, queries, IP lists, firewall rules). */

#include <amxd/amxd.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Element function: restores one instance `key` of a kind under its template `base`. */
typedef amxd_status_t (* import_element_function)(amxd_object_t* base, const char* key, amxc_var_t* var);

/* Data-model method on the root: restores network objects, port forwarding rules and access
 * controls, in that order; the first failure stops the walk and is returned. */
amxd_status_t _Import(amxd_object_t* object, amxd_function_t* func, amxc_var_t* args, amxc_var_t* ret);

/* Data-model method on the root: `ret` receives the current configuration in the tree above,
 * without the parameters the module computes (Status, RuleIPList, NetworkObjectIPList). */
amxd_status_t _Export(amxd_object_t* object, amxd_function_t* func, amxc_var_t* args, amxc_var_t* ret);

amxd_status_t import_object(amxd_object_t* object, amxc_var_t* args, const char* name, import_element_function func);
amxd_status_t populate_networkobject(amxd_object_t* base, const char* key, amxc_var_t* var);
amxd_status_t populate_object_instance(amxd_object_t* base, const char* key, amxc_var_t* var);
amxd_status_t populate_networkobject_rule(amxd_object_t* object, amxc_var_t* var);
amxd_status_t populate_rule_instance(amxd_object_t* base, const char* key, amxc_var_t* var);
amxd_status_t populate_object_parameter(amxd_object_t* base, const char* inst_id, const char* param_name, amxc_var_t* param);

#ifdef __cplusplus
}
#endif

#endif
