/* Inserting rules into firewall chains and removing them, by position, in transactions.
 *
 * A chain is named by the table, chain and address family set on a rule (libfwrules).
 * Positions are 1-based. fw_add_rule() and fw_delete_rule() do not touch the running
 * firewall: they record pending operations, each checked at once against the view "running
 * ruleset + pending operations so far", and fail at once when it does not fit that view.
 * fw_apply() then commits every pending operation as one transaction of the selected
 * backend (backend.h): all of them land or none does.
 *
 * Results: 0 on success, otherwise one of the fw_error_t values below (all positive); a
 * failed call changes nothing, except that fw_apply() always drops the pending operations.
 *
 * Thread: one thread (the event loop) calls these functions; nothing here locks. */
#ifndef FWINTERFACE_INTERFACE_H
#define FWINTERFACE_INTERFACE_H

#include <stdint.h>

#include <fwrules/fw_rule.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

typedef enum fw_error {
    FW_OK = 0,
    FW_ERROR_ARGUMENT = 1,  /* no rule */
    FW_ERROR_DISABLED = 2,  /* the rule is not enabled: a disabled rule is never inserted */
    FW_ERROR_RULE = 3,      /* incomplete or inconsistent rule (see fw_rule_check) */
    FW_ERROR_POSITION = 4,  /* index 0, or beyond the chain (size + 1 to insert, size to delete) */
    FW_ERROR_MISMATCH = 5,  /* fw_delete_rule: the rule at that position is another rule */
    FW_ERROR_FULL = 6,      /* FW_PENDING_MAX operations pending, or chain at FW_CHAIN_MAX */
    FW_ERROR_BACKEND = 7,   /* the backend refused the transaction; nothing of it landed */
    FW_ERROR_MEMORY = 8     /* out of memory; nothing changed */
} fw_error_t;

/* Most operations pending at once; the next fw_add_rule or fw_delete_rule fails. */
#define FW_PENDING_MAX 262144u

/* Most rules one chain may hold; an insertion into a full chain fails. */
#define FW_CHAIN_MAX 262144u

/* Records the insertion of `rule` at position `index` (1 to chain size + 1) of its chain;
 * the rules from that position on move down one place. The rule is copied: the caller
 * keeps and frees its own object and may change it afterwards without effect here. The
 * rule must be enabled and pass fw_rule_check(). The chain is created by the first
 * insertion into it. */
int fw_add_rule(fw_rule_t* rule, uint32_t index);

/* Records the removal of the rule at position `index` (1 to chain size) of the chain of
 * `rule`; the later rules move up one place. `rule` must be the rule that stands there
 * (same matches and target, by fw_rule_to_text; its enabled flag does not matter):
 * FW_ERROR_MISMATCH otherwise, so that a caller whose positions went wrong cannot remove
 * somebody else's rule. `rule` is only read. */
int fw_delete_rule(fw_rule_t* rule, uint32_t index);

/* Commits the pending operations as one transaction and drops them. With nothing pending
 * it returns 0 without touching the backend. When the backend refuses (FW_ERROR_BACKEND)
 * or memory runs out, the running ruleset is exactly as before and the pending operations
 * are dropped all the same: the view is the running ruleset again. Under an event loop that
 * called fw_backend_hold_removals() (backend.h), removals alone are held to the next commit
 * instead, and a refusal never takes back removals an earlier call reported applied. */
int fw_apply(void);

/* Short English text of a fw_error_t value (static; "unknown error" for others). */
const char* fw_error_text(int error);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* FWINTERFACE_INTERFACE_H */
