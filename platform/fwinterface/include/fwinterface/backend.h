/* The running ruleset behind libfwinterface: choosing the backend, its options, reading it
 * back, and hooks for tests.
 *
 * A backend holds the running chains per address family and applies each transaction of
 * fw_apply() atomically. Both start with the empty chains "FORWARD_AccessControl_QK" (IPv4)
 * and "FORWARD6_AccessControl_QK" (IPv6) of table "filter"; other chains appear on their
 * first insertion and stay when they become empty.
 *
 * "memory" (the default) keeps the chains in this process.
 *
 * "nftables" keeps them in the kernel's nf_tables, in the network namespace of the thread
 * that selects it: table "filter" of family ip (IPv4) or ip6 (IPv6). Each fw_apply() is one
 * nf_tables batch, which the kernel applies whole or not at all. The access-control chains
 * belong to this library: selecting the backend creates them when missing and empties them
 * of whatever an earlier run left (after a crash, say), so that positions start at 1. Any
 * other chain is created at its first insertion, and that insertion is refused while the
 * kernel holds rules in it that this library did not write. With the option "jump" the
 * backend also owns the base chains "FORWARD_AccessControl_QK_hook" and
 * "FORWARD6_AccessControl_QK_hook" (filter type, forward hook, priority 0, policy accept),
 * each holding one rule that jumps to its access-control chain; without it, whoever sets
 * the firewall up adds that jump. Needs CAP_NET_ADMIN.
 *
 * Thread: the same single thread as interface.h. */
#ifndef FWINTERFACE_BACKEND_H
#define FWINTERFACE_BACKEND_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default) /* the library hides all but its API */

/* Makes `name` ("memory" or "nftables") the backend. Selecting the backend already in use
 * changes nothing; another one starts with the empty access-control chains and the pending
 * operations are dropped. The backend left behind is closed without touching the kernel.
 * Non-zero, with nothing changed and the reason in fw_backend_error(), for a NULL or
 * unknown name or when the kernel refuses (no permission, no nf_tables). */
int fw_backend_select(const char* name);

/* Name of the backend in use (static text). */
const char* fw_backend_name(void);

/* Sets a backend option; options are kept for later selections and take effect at once on
 * the backend in use. Known:
 *   "jump", "0" (the default) or "1": the nftables backend owns the forward-hook chains that
 *     jump to the access-control chains (see above); turning it off removes them.
 *   "sets", "0" (the default) or "1": the nftables backend compiles the access-control
 *     chains, unless iptables-nft uses their tables (its base chains there at start, or a
 *     change it makes to them later: iptables-nft-save would print a compiled rule without
 *     its set): rules that differ only in their source address, within a run of rules with one
 *     target, share one kernel rule that looks the source up in a named interval set (named
 *     "acqk_<n>", in the chain's table; the library deletes such sets it finds at start).
 *     Every packet gets the verdict the positional chain gives it; positions, fw_dump() and
 *     fw_chain_size() are those of the positional chain. "0": one kernel rule per rule,
 *     which iptables-nft reads back exactly.
 *     Changing it rewrites the kernel's chains in one transaction.
 * Non-zero, with the option unchanged and the reason in fw_backend_error(), for a NULL or
 * unknown key or value, or when the backend in use cannot apply it. */
int fw_backend_set_option(const char* key, const char* value);

/* Why the last failing call of fw_backend_select(), fw_backend_set_option(), fw_apply() or
 * fw_reset() failed, in a few English words; "" after a success of one of them. Static
 * text, valid until the next of these calls. */
const char* fw_backend_error(void);

/* The running ruleset in iptables-save form: "# ipv4", then per table (sorted by name)
 * "*table", one ":chain - [0:0]" line per chain (sorted), the "-A chain <rule>" lines of each
 * chain in that order, and "COMMIT"; then the same after "# ipv6". Every line ends in "\n".
 * Pending operations are not shown. The same for every backend: the nftables backend writes
 * it from what it knows it committed, without asking the kernel. Owned by the caller
 * (free()); NULL when memory runs out. */
char* fw_dump(void);

/* For inspection: the tables "filter" of family ip, then ip6, as the kernel holds them now,
 * read back from the kernel and printed in nft's own syntax (with compiled chains: the rules
 * that look sources up in sets, and the sets' elements). Owned by the caller (free()); NULL,
 * with the reason in fw_backend_error(), for the memory backend or when the kernel cannot be
 * read. */
char* fw_kernel_dump(void);

/* Other programs may change the kernel's ruleset. The nftables backend follows the kernel's
 * notifications: when someone else changed its tables, chains or sets, it writes them anew
 * from the running ruleset in one transaction and logs one line saying what it found (foreign
 * rules named) and what it restored; a transaction that meets such a change is applied after
 * the repair, so no change is lost.
 *
 * For the event loop: the descriptor that becomes readable when the kernel reports a change,
 * -1 for a backend that keeps nothing in the kernel. Valid until the next fw_backend_select(). */
int fw_backend_watch_fd(void);

/* To call when that descriptor is readable, or when the delay it returned last has passed:
 * reads the notifications and repairs what others changed. Returns the milliseconds after
 * which to call it again even without news (a repair the kernel refused is tried again), -1
 * for none. */
int fw_backend_watch(void);

/* The differences between the running ruleset and what the kernel holds now, one line each,
 * "" when they agree (a repair that is due may not have run yet). Owned by the caller (free());
 * NULL, with the reason in fw_backend_error(), for the memory backend or when the kernel
 * cannot be read. */
char* fw_check(void);

/* For the event loop: a group withdrawn rule by rule and built anew (one fw_apply() per
 * removal, then one for the insertions) must never reach the firewall as the withdrawn
 * state. Once `at_turn_end` is set, an fw_apply() with only removals pending holds them back
 * and returns 0: the next fw_apply() that inserts commits them with its own operations as one
 * transaction of their net change (rules removed and put back in place cost nothing). If that
 * transaction is refused, that fw_apply() fails and the held removals, already reported
 * applied, are committed alone. The first held removal of a turn calls `at_turn_end(priv)`,
 * which arranges for fw_backend_apply_held() to run when the current callback has returned; a
 * non-zero return commits at once instead. NULL commits what is held and ends the holding.
 * A large transaction also uses `at_turn_end` to hand the heap's free pages back once the
 * callback has returned, and with them the caller's own transient copies of the rules. */
void fw_backend_hold_removals(int (*at_turn_end)(void* priv), void* priv);

/* For the event loop: long work (a group of thousands of rules withdrawn and built anew, and
 * its commit) calls `slice_point()` between the operations it records and between the steps
 * of a large commit, where the loop may let other clients read its data models before it
 * continues; `slice_point_now()` after a step that may have taken long by itself (a kernel
 * commit), where the loop should look at the clock at once. Neither may call this library.
 * NULL: none (the default; a NULL `slice_point_now` falls back on `slice_point`). */
void fw_backend_slice_points(void (*slice_point)(void), void (*slice_point_now)(void));

/* Commits the held removals (see above) and hands back the heap's free pages after a large
 * transaction (unless fw_backend_release_when_settled() is in use); 0, or the fw_error_t of
 * fw_apply() with the reason in fw_backend_error(). Refused, they stay held for the next commit. */
int fw_backend_apply_held(void);

/* For the event loop: once set, a large transaction leaves the heap's free pages where they are
 * and calls `settling(priv)`, which arranges for fw_backend_release_memory() to run once the
 * changes have settled (no large transaction for a while). A burst of large changes (a group of
 * thousands changing member by member) then reuses those pages instead of handing them back
 * and faulting them in anew each time, and no change waits for the hand-back. NULL: back at the
 * end of the turn again (the default), and what is due goes back at once. */
void fw_backend_release_when_settled(void (*settling)(void* priv), void* priv);

/* Hands the heap's free pages back if a large transaction left them; nothing otherwise. */
void fw_backend_release_memory(void);

/* Rules in the running chain, 0 when it does not exist or an argument is NULL. */
uint32_t fw_chain_size(const char* table, const char* chain, bool ipv6);

/* Transactions committed by fw_apply() since start or the last fw_reset(). */
uint32_t fw_apply_count(void);

/* Operations recorded and not yet committed. */
uint32_t fw_pending_count(void);

/* For tests: the running ruleset back to its start state (for nftables: every chain it
 * wrote emptied in the kernel), pending operations dropped, the commit count at 0, test
 * hooks cleared. The backend stays selected. */
void fw_reset(void);

/* For tests: the memory backend refuses operation `op` (1-based) of the next transaction,
 * as if that operation were impossible; 0 clears the hook. The hook is used up by the next
 * transaction, whether it holds that many operations or not. Non-zero when the memory
 * backend is not the one in use. */
int fw_memory_refuse_next(uint32_t op);

/* For tests: the kernel's answers to the next transaction of the nftables backend overflow
 * its receive buffer and are partly lost, as when the system runs short of memory; the
 * backend then reads the chains back to learn whether the transaction landed. Non-zero
 * when the nftables backend is not the one in use. */
int fw_nftables_lose_answers_next(void);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* FWINTERFACE_BACKEND_H */
