/* Firewall rule objects.
 *
 * A rule carries where it goes (table, chain, address family), what it matches (addresses,
 * mask, MAC address, protocol, ports, ICMP type and code), its target and an enabled flag.
 * It is a plain value: nothing here touches a firewall. libfwinterface inserts rules into
 * chains.
 *
 * Setters. Every setter returns 0 on success and non-zero when the rule is NULL or the value
 * is refused; a refused value leaves the rule unchanged. Each value is checked on its own
 * when it is set. Whether the values fit together (an IPv6 address on an IPv4 rule, a prefix
 * above 32 on IPv4, ports without a protocol that has ports, ...) is checked later by
 * fw_rule_check(), because callers set the fields in any order.
 *
 * Texts are copied; getters return borrowed texts that stay valid until the field is set
 * again or the rule is deleted. A new rule has every text empty, no family, numbers 0,
 * ICMP type and code -1 (any), no target (FW_RULE_POLICY_LAST) and is disabled.
 *
 * Thread: a rule belongs to one thread at a time; nothing here locks. */
#ifndef FWRULES_FW_RULE_H
#define FWRULES_FW_RULE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A firewall rule. Opaque; owned by whoever created it with fw_rule_new(). */
typedef struct fw_rule fw_rule_t;

/* Opaque types stay above: their C++ insides are the library's own. */
#pragma GCC visibility push(default) /* the library hides all but its API */

/* What a matching packet gets. LAST is not a target: it bounds the values and is what
 * fw_rule_get_target_policy() returns while no target is set. */
typedef enum fw_rule_policy {
    FW_RULE_POLICY_DROP = 0,
    FW_RULE_POLICY_ACCEPT = 1,
    FW_RULE_POLICY_REJECT = 2,
    FW_RULE_POLICY_MASQUERADE = 3,
    FW_RULE_POLICY_LAST = 4
} fw_rule_policy_t;

/* Results of fw_rule_check(): why a rule cannot be inserted. */
typedef enum fw_rule_error {
    FW_RULE_OK = 0,
    FW_RULE_ERROR_NULL,             /* no rule */
    FW_RULE_ERROR_NO_TABLE,         /* table not set */
    FW_RULE_ERROR_NO_CHAIN,         /* chain not set */
    FW_RULE_ERROR_NO_FAMILY,        /* neither IPv4 nor IPv6 chosen */
    FW_RULE_ERROR_NO_TARGET,        /* target policy not set */
    FW_RULE_ERROR_ADDRESS_FAMILY,   /* source or destination of the other family */
    FW_RULE_ERROR_MASK,             /* mask without source, or not valid for the family */
    FW_RULE_ERROR_PORTS,            /* ports without a protocol that has ports, or a range
                                       end without its start or below it */
    FW_RULE_ERROR_ICMP              /* ICMP type or code on anything but IPv4 protocol 1 */
} fw_rule_error_t;

/* Longest table or chain name (without the terminating NUL), as netfilter allows. */
#define FW_RULE_NAME_MAX 28

/* A buffer of this size always holds the text of fw_rule_to_text(), NUL included. */
#define FW_RULE_TEXT_MAX 320

/* ---- Lifecycle ---------------------------------------------------------- */

/* Stores a new rule (defaults above) in *rule; the caller owns it and frees it with
 * fw_rule_delete(). Non-zero when rule is NULL (nothing stored) or memory runs out (*rule
 * set to NULL). */
int fw_rule_new(fw_rule_t** rule);

/* Frees *rule and sets *rule to NULL. NULL-safe; always 0. */
int fw_rule_delete(fw_rule_t** rule);

/* ---- Setters: placement ------------------------------------------------- */

/* Table and chain the rule goes into: 1 to FW_RULE_NAME_MAX characters of [A-Za-z0-9_-],
 * not starting with '-'. */
int fw_rule_set_table(fw_rule_t* rule, const char* table);
int fw_rule_set_chain(fw_rule_t* rule, const char* chain);

/* Address family. true chooses the family (and leaves the other one); false clears it when
 * it is the chosen one and changes nothing otherwise. */
int fw_rule_set_ipv4(fw_rule_t* rule, bool ipv4);
int fw_rule_set_ipv6(fw_rule_t* rule, bool ipv6);

/* ---- Setters: matches --------------------------------------------------- */

/* Source and destination address: "" (any) or one IPv4 or IPv6 address text, nothing else
 * (no prefix, no blanks). */
int fw_rule_set_source(fw_rule_t* rule, const char* address);
int fw_rule_set_destination(fw_rule_t* rule, const char* address);

/* Source mask: "" (the whole address), a prefix length "0" to "128" in plain decimal, or a
 * contiguous dotted IPv4 netmask such as "255.255.0.0". */
int fw_rule_set_source_mask(fw_rule_t* rule, const char* mask);

/* Source MAC address: "" (any) or six pairs of hex digits joined by ':' (either case). */
int fw_rule_set_source_mac_address(fw_rule_t* rule, const char* mac);

/* IP protocol number 0 to 255; 0 means any protocol (no protocol match). */
int fw_rule_set_protocol(fw_rule_t* rule, uint32_t protocol);

/* Ports 0 to 65535; 0 means none. A range max above the port makes the match "port:max";
 * a range max equal to the port, or 0, matches the port alone. */
int fw_rule_set_source_port(fw_rule_t* rule, uint32_t port);
int fw_rule_set_source_port_range_max(fw_rule_t* rule, uint32_t port);
int fw_rule_set_destination_port(fw_rule_t* rule, uint32_t port);
int fw_rule_set_destination_port_range_max(fw_rule_t* rule, uint32_t port);

/* ICMP type and code: -1 (any) or 0 to 255. A code without a type matches nothing more
 * than any ICMP packet of the protocol, so it is ignored while the type is -1. */
int fw_rule_set_icmp_type(fw_rule_t* rule, int32_t type);
int fw_rule_set_filtered_icmp_code(fw_rule_t* rule, int32_t code);

/* ---- Setters: target and state ------------------------------------------ */

/* Target: a policy below FW_RULE_POLICY_LAST. */
int fw_rule_set_target_policy(fw_rule_t* rule, fw_rule_policy_t policy);

/* Enabled flag. libfwinterface refuses to insert a disabled rule. */
int fw_rule_set_enabled(fw_rule_t* rule, bool enabled);

/* ---- Getters (a NULL rule reads as "" for texts and as the defaults) -------- */
/* A rule keeps its values parsed and makes its texts on the first text getter; when memory
 * runs out for them, a text getter returns "". */

const char* fw_rule_get_table(const fw_rule_t* rule);
const char* fw_rule_get_chain(const fw_rule_t* rule);
bool fw_rule_get_ipv4(const fw_rule_t* rule);
bool fw_rule_get_ipv6(const fw_rule_t* rule);
const char* fw_rule_get_source(const fw_rule_t* rule);
const char* fw_rule_get_source_mask(const fw_rule_t* rule);
const char* fw_rule_get_destination(const fw_rule_t* rule);
const char* fw_rule_get_source_mac_address(const fw_rule_t* rule);
uint32_t fw_rule_get_protocol(const fw_rule_t* rule);
uint32_t fw_rule_get_source_port(const fw_rule_t* rule);
uint32_t fw_rule_get_source_port_range_max(const fw_rule_t* rule);
uint32_t fw_rule_get_destination_port(const fw_rule_t* rule);
uint32_t fw_rule_get_destination_port_range_max(const fw_rule_t* rule);
int32_t fw_rule_get_icmp_type(const fw_rule_t* rule);
int32_t fw_rule_get_filtered_icmp_code(const fw_rule_t* rule);
fw_rule_policy_t fw_rule_get_target_policy(const fw_rule_t* rule);
bool fw_rule_get_enabled(const fw_rule_t* rule);

/* ---- Checking and text ------------------------------------------------- */

/* Whether the rule is complete (table, chain, family, target) and its values fit together:
 * addresses of the rule's family; a mask only with a source, at most 32 and dotted masks
 * only on IPv4; ports only with protocol 6 (tcp), 17 (udp), 33 (dccp) or 132 (sctp), a range
 * max only with its port and not below it; ICMP type or code only on IPv4 with protocol 1.
 * The enabled flag is not looked at. FW_RULE_OK (0) or the first problem found. */
fw_rule_error_t fw_rule_check(const fw_rule_t* rule);

/* Short English text of a fw_rule_error_t value (static; "unknown error" for others). */
const char* fw_rule_error_text(fw_rule_error_t error);

/* Writes the rule's matches and target in iptables-save syntax, without "-A <chain> "
 * (for example "-s 10.0.0.0/8 -p tcp -m tcp --dport 80 -j DROP"), into buf, cut to size - 1
 * characters and always NUL-terminated when size > 0 (buf may be NULL when size is 0).
 * Addresses are written in their canonical form with the host bits under the mask cleared,
 * as the kernel keeps them; the full syntax is described in the library's README.
 * Returns the length of the whole text (so a result >= size means it was cut), or -1 (and
 * an empty buf) when fw_rule_check() finds a problem. The text is canonical: rules that
 * differ only in how their values were written (address case, IPv6 zero compression, host
 * bits under the mask, dotted mask or prefix) give the same text. */
int fw_rule_to_text(const fw_rule_t* rule, char* buf, size_t size);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* FWRULES_FW_RULE_H */
