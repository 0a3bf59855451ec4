#ifndef ACCESSCONTROL_DM_H
#define ACCESSCONTROL_DM_H

/* Access controls: one record per AccessControl instance, the subscriptions that follow what
 * the instance refers to, the schedule state, the gathering of sources and ports, and the rule
 * update that turns the instance into firewall rules. Everything runs on the runtime's loop. */

#include <stdbool.h>

#include <amxc/amxc_variant.h>
#include <amxd/amxd.h>
#include <amxp/amxp_timer.h>

#include "accesscontrol/accesscontrol_fw.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Delay between a change and the rule update it causes, in milliseconds. */
#define FW_UPDATE_DELAY 1000

/* An IPv4 range expands to one source per address; larger ranges are refused so that one
 * entry cannot stall the loop or exhaust memory. */
#define ACCESSCONTROL_MAX_RANGE_ADDRESSES 65536u

/* The references of an instance, as indexes of accesscontrol_setting_t.subscribed. */
typedef enum _accesscontrol_reference {
    ACCESSCONTROL_REF_PORTS,       /* PortForwardingRuleRef */
    ACCESSCONTROL_REF_GROUP,       /* NetworkGroupRef */
    ACCESSCONTROL_REF_SCHEDULE,    /* ScheduleRef */
    ACCESSCONTROL_REF_COUNT
} accesscontrol_reference_t;

/* Private record of one AccessControl instance, in its private-data slot. Owns the timer, the
 * rule set and the subscribed reference texts; borrows the instance. */
typedef struct _accesscontrol_setting {
    bool have_schedule;            /* the schedule state counts */
    bool have_networkgroup;        /* NetworkGroupRef is subscribed */
    bool have_portforwardingrule;  /* every PortForwardingRuleRef path is subscribed */
    bool is_enable;                /* last known Enable */
    bool schedule_invertmode;      /* last known InverseMode of the schedule */
    bool schedule_active;          /* last known schedule Status == "Active" */
    bool schedule_found;           /* the last read of the schedule found it (else it is dangling) */
    amxp_timer_t* commit_timer;    /* one-shot, runs accesscontrol_firewall_update_rule */
    firewall_rule_t* fw;           /* the installed rule set, NULL while none is */
    amxd_object_t* object;         /* the instance */
    /* Per reference, the value whose paths are subscribed now (NULL: none). Cancelling goes by
     * these rather than by the parameters, which may already hold a value whose change event
     * has not been handled yet. */
    char* subscribed[ACCESSCONTROL_REF_COUNT];
} accesscontrol_setting_t;

/* Handlers bound by the data-model definition. */
void _accesscontrol_added(const char* const event_name, const amxc_var_t* const event_data, void* const priv);
void _accesscontrol_enable(const char* const event_name, const amxc_var_t* const event_data, void* const priv);
void _accesscontrol_changed(const char* const event_name, const amxc_var_t* const event_data, void* const priv);
amxd_status_t _accesscontrol_delinst(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                                     const amxc_var_t* const args, amxc_var_t* const retval, void* priv);
amxd_status_t _accesscontrol_destroy(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                                     const amxc_var_t* const args, amxc_var_t* const retval, void* priv);

/* Bus callback of the subscriptions on referenced port forwarding rules, network objects and
 * hosts: restarts the commit timer, or updates at once when an instance was removed. `priv` is
 * the record. */
void accesscontrol_update_value_callback(const char* const sig_name, const amxc_var_t* const data, void* const priv);

/* Rule update: rebuilds the instance's rules from nothing and writes Status with StatusInfo.
 * `priv` is the record; `timer` is unused (NULL for direct calls). */
void accesscontrol_firewall_update_rule(amxp_timer_t* timer, void* priv);
amxd_status_t accesscontrol_set_status(amxd_object_t* object, const char* value, const char* info);
/* Gives the reason of the update in progress, shown in StatusInfo; the first one given wins, as
 * it is the cause of the outcome. Only meaningful inside accesscontrol_firewall_update_rule. */
void accesscontrol_set_reason(const char* format, ...) __attribute__((format(printf, 1, 2)));
int var_size_list(const amxc_var_t* v);

/* Schedule state. */
amxd_status_t accesscontrol_get_schedules_status(accesscontrol_setting_t* p, const char* path);
void accesscontrol_schedules_callback(const char* const sig_name, const amxc_var_t* const data, void* const priv);

/* Sources: a list of tables {"SourceIP": text[, "SourceMask": text]}. */
bool accesscontrol_is_hosts_path(const char* path);
amxd_status_t accesscontrol_get_networkobjectref_parameters(amxd_object_t* object, amxc_var_t* ret);
amxd_status_t accesscontrol_get_hosts_parameters(const char* path, amxc_var_t* ret);
amxd_status_t accesscontrol_get_networkobject_parameters(const char* path, amxc_var_t* ret);
bool convert_ip_range_to_csv(amxc_var_t* ret, const char* ip_start, const char* ip_end);

/* Ports: a list of tables with "SourcePort", "SourcePortRangeEnd", "DestPort",
 * "DestPortRangeEnd", "Protocol", "ICMPType", "ICMPCode", one per referenced rule. */
amxd_status_t accesscontrol_get_portforwardingrule_parameters(amxd_object_t* object, amxc_var_t* ret);

#ifdef __cplusplus
}
#endif

#endif
