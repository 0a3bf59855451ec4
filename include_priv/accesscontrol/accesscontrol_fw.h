#ifndef ACCESSCONTROL_FW_H
#define ACCESSCONTROL_FW_H

/* Firewall rule sets: the rules programmed on behalf of one access-control instance, kept at
 * known positions of the chains "FORWARD_AccessControl_QK" (IPv4) and
 * "FORWARD6_AccessControl_QK" (IPv6) of table "filter", which only this module fills.
 * A set owns its rules; the instance's record owns the set. */

#include <stdbool.h>
#include <stdint.h>

#include <amxc/amxc_variant.h>
#include <amxd/amxd_types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FW_TABLE_FILTER "filter"
#define FW_CHAIN "FORWARD_AccessControl_QK"
#define FW6_CHAIN "FORWARD6_AccessControl_QK"

typedef struct _firewall_rule firewall_rule_t;

/* Module start: both chains counted empty, no set. */
bool firewall_init(void);

/* Module stop: deletes every set still held (their rules leave the chains). Pointers to sets
 * held elsewhere must not be used afterwards. */
bool firewall_cleanup(void);

/* Removes every rule of *c from the chains (one commit per rule), frees the set and sets *c to
 * NULL. Does nothing for NULL or a pointer to NULL. */
void firewall_rule_delete(firewall_rule_t** c);

/* A new empty set whose rules will drop (invert false) or accept (invert true) what they match.
 * NULL when alias is NULL or memory runs out. */
firewall_rule_t* firewall_rule_create(const char* alias, bool invert);

/* Adds to `c` one rule per combination of protocols, destination ports and source ports (ports
 * paired by position, protocols varying fastest). List inputs are lists or comma-separated
 * texts of integers. 0 when every rule was configured, non-zero otherwise; the entries made so
 * far stay in the set either way. */
amxd_status_t firewall_rule_set(firewall_rule_t* c, const char* source, const char* destination,
                                const char* mask, const char* mac, bool ipv6,
                                amxc_var_t* destPort, uint32_t destPortRangeEnd,
                                amxc_var_t* srcPort, uint32_t srcPortRangeEnd,
                                amxc_var_t* protocols, uint32_t icmpType, uint32_t icmpCode);

/* The combinations of one port entry (as firewall_rule_set expands them), worked out once for
 * all the sources it is programmed with. NULL when an element is not a whole number in range
 * (traced) or memory runs out. Freed with firewall_ports_delete. */
typedef struct _firewall_ports firewall_ports_t;
firewall_ports_t* firewall_ports_create(amxc_var_t* destPort, uint32_t destPortRangeEnd,
                                        amxc_var_t* srcPort, uint32_t srcPortRangeEnd,
                                        amxc_var_t* protocols, uint32_t icmpType, uint32_t icmpCode);
void firewall_ports_delete(firewall_ports_t** ports);

/* firewall_rule_set with the ports worked out beforehand. */
amxd_status_t firewall_rule_set_ports(firewall_rule_t* c, const char* source, const char* destination,
                                      const char* mask, const char* mac, bool ipv6, const firewall_ports_t* ports);

/* Appends every rule of `c` at the end of its family's chain and commits them together.
 * 0 when every rule was inserted and the commit succeeded. */
amxd_status_t firewall_rule_apply(firewall_rule_t* c);

#ifdef __cplusplus
}
#endif

#endif
