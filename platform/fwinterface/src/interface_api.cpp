// The C API: one process-wide backend, its options and batch of pending operations.

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>
#include <fwrules/fw_rule.h>
#include <fwrules/rule_text.hpp>

#include "memory_backend.h"
#include "nftables_backend.h"
#include "pending_batch.h"
#include "slice_points.h"

namespace fwinterface {

void (*slice_point_hook)() = nullptr;
void (*slice_point_now_hook)() = nullptr;

namespace {

// Transactions from this many operations on hand the heap's free pages back when done. What a
// smaller one frees (up to about 2 MB) is left for the next to reuse: giving it back costs a walk
// of the heap and a system call per free stretch, more than half of deleting 1,000 rules, and the
// next change touches those pages anew.
constexpr std::size_t large_transaction = 4096;

struct State {
    std::unique_ptr<Backend> backend = std::make_unique<MemoryBackend>();
    PendingBatch pending;
    std::uint32_t commits = 0;
    NftablesOptions nftables;  // options "jump", "sets" and "cut_connections"
    std::string error;  // fw_backend_error()
    // Set by the event loop: removals alone are held back to the end of its turn or to the
    // next commit that inserts, so that a group withdrawn and built anew reaches the backend
    // as one net change, never as a withdrawn state.
    int (*defer)(void* priv) = nullptr;
    void* defer_priv = nullptr;
    // The first `held` pending rules (removals, counted one by one) were reported applied by
    // fw_apply(): they are committed whatever becomes of the operations recorded after them.
    std::size_t held = 0;
    bool trim_due = false;  // a large transaction's freed pages go back at the turn's end
    // Set by the event loop: those pages go back once the changes have settled instead.
    void (*settling)(void* priv) = nullptr;
    void* settling_priv = nullptr;
};

// Never destroyed: a module unloaded at exit may still remove its rules.
State& state() {
    static State* const instance = new State();
    return *instance;
}

// Records why a call failed; when even that runs out of memory, a text short enough to need
// no allocation says so.
void fail(std::string_view why) {
    try {
        state().error = why;
    } catch(const std::bad_alloc&) {
        state().error = "out of memory";
    }
}

// Where an inserted rule goes and its text.
struct Placed {
    ChainKey key;
    std::string_view text;
    char buffer[FW_RULE_TEXT_MAX];
};

// The name of `text`: a large transaction names one table and chain rule after rule, so the
// last one is compared before the name table is searched.
InternedName name_of(const char* text, InternedName& last) {
    if(last != std::string_view(text)) {
        last = InternedName(text);
    }
    return last;
}

ChainKey chain_of(const fw_rule_t* rule) {
    static InternedName last_table;
    static InternedName last_chain;
    return ChainKey{fw_rule_get_ipv6(rule), name_of(fw_rule_get_table(rule), last_table),
                    name_of(fw_rule_get_chain(rule), last_chain)};
}

fw_error_t place(const fw_rule_t* rule, Placed& placed) {
    const int length = fw_rule_to_text(rule, placed.buffer, sizeof(placed.buffer));
    if(length < 0) {
        return FW_ERROR_RULE;
    }
    placed.key = chain_of(rule);
    placed.text = std::string_view(placed.buffer, std::min(static_cast<std::size_t>(length), sizeof(placed.buffer) - 1));
    return FW_OK;
}

// Applies `operations`' net change; false with the reason in the state's error.
bool commit(PendingBatch& operations) {
    auto& s = state();
    const std::span<const Operation> net = operations.net_operations(*s.backend);
    if(!net.empty() && !s.backend->apply(net)) {
        fail(s.backend->error());
        return false;
    }
    ++s.commits;
    return true;
}

// The operations fw_apply() held back, as a batch of their own.
PendingBatch held_part() {
    auto& s = state();
    PendingBatch held;
    std::size_t left = s.held;
    for(const Operation& op : s.pending.operations()) {
        if(left == 0) {
            break;
        }
        // A removal recorded after the hold may have joined the count of the last held one.
        const auto rules = static_cast<std::uint32_t>(std::min<std::size_t>(op.count, left));
        held.remove_standing(*s.backend, op.chain, op.position, rules);
        left -= rules;
    }
    return held;
}

// The pending batch's room, then the heap's free pages.
void hand_back_memory() {
    state().pending.release_room();
    state().backend->release_retired();
    malloc_trim(0);
}

// Hands the heap's free pages back after a large transaction: its copies (operations, undo
// records, the kernel batch) are freed by now, but the heap would keep their pages resident for
// good, several times what the rules themselves need after a large install. With an event loop
// this waits for the turn's end, when the caller has freed its own copies of the rules too (a
// module's list of sources, built for the rebuild).
void release_free_pages() {
    auto& s = state();
    if(s.settling != nullptr) {
        s.trim_due = true;
        s.settling(s.settling_priv);
        return;
    }
    if(s.defer != nullptr && (s.trim_due || s.defer(s.defer_priv) == 0)) {
        s.trim_due = true;
        return;
    }
    hand_back_memory();
}

// Commits every pending operation. When the backend refuses, the held removals, already
// reported applied, go in alone; if even they are refused they stay pending, still held,
// for the next commit, and standard error says so.
int commit_pending() {
    auto& s = state();
    int result = FW_OK;
    try {
        if(!commit(s.pending)) {
            result = FW_ERROR_BACKEND;
            if(s.held > 0) {
                const std::string why = s.error;
                PendingBatch held = held_part();
                if(!commit(held)) {
                    std::fprintf(stderr, "fwinterface: %zu removal(s) reported applied are not in the firewall yet: %s\n",
                                 held.size(), s.error.c_str());
                    s.pending = std::move(held);
                    s.held = s.pending.size();
                    s.error = why;
                    return result;
                }
                s.error = why;
            }
        }
    } catch(const std::bad_alloc&) {
        result = FW_ERROR_MEMORY;
        fail("out of memory");
    }
    const bool large = s.pending.size() >= large_transaction;
    s.pending.clear();
    s.held = 0;
    if(large) {
        release_free_pages();  // its room with them
    } else {
        s.pending.release_room();
        s.backend->release_retired();
    }
    return result;
}

// The checks every operation shares, then `what`.
template <typename Record>
int record(const fw_rule_t* rule, Record&& what) {
    if(rule == nullptr) {
        return FW_ERROR_ARGUMENT;
    }
    slice_point();
    auto& s = state();
    // Held removals alone fill the batch: they go in now rather than refuse the caller.
    if(s.held > 0 && s.held == s.pending.size() && s.held >= FW_PENDING_MAX) {
        commit_pending();
    }
    try {
        return what();
    } catch(const std::bad_alloc&) {
        return FW_ERROR_MEMORY;
    }
}

// A copy the C caller frees; nullptr when memory runs out.
char* malloc_copy(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if(copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

std::unique_ptr<Backend> make_backend(std::string_view name, const NftablesOptions& options) {
    if(name == MemoryBackend::backend_name) {
        return std::make_unique<MemoryBackend>();
    }
    if(name == NftablesBackend::backend_name) {
        std::string why;
        std::unique_ptr<Backend> backend = NftablesBackend::start(options, why);
        if(backend == nullptr) {
            fail("nftables: " + why);
        }
        return backend;
    }
    fail("unknown firewall backend \"" + std::string(name) + "\" (valid: " + std::string(MemoryBackend::backend_name) + ", " +
         std::string(NftablesBackend::backend_name) + ")");
    return nullptr;
}

}  // namespace
}  // namespace fwinterface

using fwinterface::state;

extern "C" {

int fw_add_rule(fw_rule_t* rule, uint32_t index) {
    if(rule != nullptr && !fw_rule_get_enabled(rule)) {
        return FW_ERROR_DISABLED;
    }
    return fwinterface::record(rule, [rule, index] {
        fwinterface::Placed placed;
        if(const fw_error_t error = fwinterface::place(rule, placed); error != FW_OK) {
            return error;
        }
        return state().pending.insert(*state().backend, std::move(placed.key), index, placed.text, true);
    });
}

// The rule is compared by its matches with the one at its place: no text is written for it
// unless that one has a text of its own.
int fw_delete_rule(fw_rule_t* rule, uint32_t index) {
    return fwinterface::record(rule, [rule, index] {
        fwrules::TextMatches matches;
        if(!fwrules::rule_matches(rule, matches)) {
            return FW_ERROR_RULE;
        }
        return state().pending.remove(*state().backend, fwinterface::chain_of(rule), index,
                                      fwinterface::RuleImage::of_matches(matches));
    });
}

int fw_apply(void) {
    auto& s = state();
    s.error.clear();
    if(s.pending.empty()) {
        return FW_OK;
    }
    // Removals alone wait for what follows them in this turn of the event loop: the
    // insertions of a rebuild, or the turn's end. Their removal cannot fail against the view,
    // and held_part() keeps them apart from whatever is refused after them.
    if(s.defer != nullptr && !s.pending.has_insertion() && (s.held > 0 || s.defer(s.defer_priv) == 0)) {
        s.held = s.pending.size();
        return FW_OK;
    }
    return fwinterface::commit_pending();
}

int fw_backend_apply_held(void) {
    auto& s = state();
    int result = FW_OK;
    if(s.held > 0) {
        s.error.clear();
        result = fwinterface::commit_pending();
    }
    if(s.settling == nullptr) {
        fw_backend_release_memory();
    }
    return result;
}

void fw_backend_release_when_settled(void (*settling)(void* priv), void* priv) {
    auto& s = state();
    if(settling == nullptr) {
        fw_backend_release_memory();
    }
    s.settling = settling;
    s.settling_priv = priv;
}

void fw_backend_release_memory(void) {
    auto& s = state();
    if(s.trim_due) {
        s.trim_due = false;
        fwinterface::hand_back_memory();
    }
}

void fw_backend_slice_points(void (*slice_point)(void), void (*slice_point_now)(void)) {
    fwinterface::slice_point_hook = slice_point;
    fwinterface::slice_point_now_hook = slice_point_now != nullptr ? slice_point_now : slice_point;
}

void fw_backend_hold_removals(int (*at_turn_end)(void* priv), void* priv) {
    auto& s = state();
    if(at_turn_end == nullptr) {
        fw_backend_apply_held();
    }
    s.defer = at_turn_end;
    s.defer_priv = priv;
}

const char* fw_error_text(int error) {
    switch(error) {
    case FW_OK: return "no error";
    case FW_ERROR_ARGUMENT: return "no rule";
    case FW_ERROR_DISABLED: return "rule not enabled";
    case FW_ERROR_RULE: return "incomplete or inconsistent rule";
    case FW_ERROR_POSITION: return "no such position in the chain";
    case FW_ERROR_MISMATCH: return "another rule stands at that position";
    case FW_ERROR_FULL: return "too many pending operations or rules in the chain";
    case FW_ERROR_BACKEND: return "the firewall refused the transaction";
    case FW_ERROR_MEMORY: return "out of memory";
    default: return "unknown error";
    }
}

int fw_backend_select(const char* name) {
    auto& s = state();
    if(name == nullptr) {
        fwinterface::fail("no backend name");
        return -1;
    }
    if(s.backend->name() == name) {
        s.error.clear();
        return 0;
    }
    try {
        std::unique_ptr<fwinterface::Backend> next = fwinterface::make_backend(name, s.nftables);
        if(next == nullptr) {
            return -1;
        }
        s.backend = std::move(next);
    } catch(const std::bad_alloc&) {
        fwinterface::fail("out of memory");
        return -1;
    }
    s.pending.clear();
    s.pending.release_room();
    s.held = 0;
    s.error.clear();
    return 0;
}

const char* fw_backend_name(void) { return state().backend->name().data(); }

int fw_backend_set_option(const char* key, const char* value) {
    auto& s = state();
    if(key == nullptr || value == nullptr) {
        fwinterface::fail("no option name or value");
        return -1;
    }
    const std::string_view name = key;
    if(name != "jump" && name != "sets" && name != "cut_connections") {
        fwinterface::fail("unknown firewall backend option \"" + std::string(name) + '"');
        return -1;
    }
    if(std::strcmp(value, "0") != 0 && std::strcmp(value, "1") != 0) {
        fwinterface::fail("option " + std::string(name) + " takes 0 or 1");
        return -1;
    }
    const bool on = value[0] == '1';
    auto* nftables = dynamic_cast<fwinterface::NftablesBackend*>(s.backend.get());
    try {
        if(nftables != nullptr && name == "cut_connections") {
            nftables->set_cut_connections(on);
        } else if(nftables != nullptr && !(name == "jump" ? nftables->set_jump(on) : nftables->set_sets(on))) {
            fwinterface::fail("nftables: " + std::string(nftables->error()));
            return -1;
        }
    } catch(const std::bad_alloc&) {
        fwinterface::fail("out of memory");
        return -1;
    }
    (name == "jump" ? s.nftables.jump : name == "sets" ? s.nftables.sets : s.nftables.cut_connections) = on;
    s.error.clear();
    return 0;
}

const char* fw_backend_error(void) { return state().error.c_str(); }

char* fw_dump(void) {
    try {
        return state().backend->dump_malloc();
    } catch(const std::bad_alloc&) {
        return nullptr;
    }
}

char* fw_kernel_dump(void) {
    auto& s = state();
    try {
        const auto* nftables = dynamic_cast<fwinterface::NftablesBackend*>(s.backend.get());
        if(nftables == nullptr) {
            fwinterface::fail("the " + std::string(s.backend->name()) + " backend keeps no rules in the kernel");
            return nullptr;
        }
        std::string text;
        if(!nftables->kernel_listing(text)) {
            fwinterface::fail("nftables: " + text);
            return nullptr;
        }
        char* copy = fwinterface::malloc_copy(text);
        if(copy == nullptr) {
            fwinterface::fail("out of memory");
            return nullptr;
        }
        s.error.clear();
        return copy;
    } catch(const std::bad_alloc&) {
        fwinterface::fail("out of memory");
        return nullptr;
    }
}

int fw_backend_watch_fd(void) {
    auto* nftables = dynamic_cast<fwinterface::NftablesBackend*>(state().backend.get());
    return nftables == nullptr ? -1 : nftables->watch_fd();
}

int fw_backend_watch(void) {
    auto* nftables = dynamic_cast<fwinterface::NftablesBackend*>(state().backend.get());
    try {
        return nftables == nullptr ? -1 : nftables->watch();
    } catch(const std::bad_alloc&) {
        return 1000;  // tried again when memory may be back
    }
}

char* fw_check(void) {
    auto* nftables = dynamic_cast<fwinterface::NftablesBackend*>(state().backend.get());
    try {
        if(nftables == nullptr) {
            fwinterface::fail("the " + std::string(state().backend->name()) + " backend keeps no rules in the kernel");
            return nullptr;
        }
        std::string differences;
        if(!nftables->check(differences)) {
            fwinterface::fail("nftables: " + differences);
            return nullptr;
        }
        char* copy = fwinterface::malloc_copy(differences);
        if(copy == nullptr) {
            fwinterface::fail("out of memory");
        }
        return copy;
    } catch(const std::bad_alloc&) {
        fwinterface::fail("out of memory");
        return nullptr;
    }
}

uint32_t fw_chain_size(const char* table, const char* chain, bool ipv6) {
    if(table == nullptr || chain == nullptr) {
        return 0;
    }
    // A name nothing was ever given is no chain; looking it up must not keep it.
    const auto table_name = fwinterface::InternedName::find(table);
    const auto chain_name = fwinterface::InternedName::find(chain);
    if(!table_name || !chain_name) {
        return 0;
    }
    return static_cast<uint32_t>(state().backend->chain_size(fwinterface::ChainKey{ipv6, *table_name, *chain_name}));
}

uint32_t fw_apply_count(void) { return state().commits; }

uint32_t fw_pending_count(void) { return static_cast<uint32_t>(state().pending.size()); }

void fw_reset(void) {
    auto& s = state();
    s.pending.clear();
    s.pending.release_room();
    s.held = 0;
    s.commits = 0;
    s.error.clear();
    try {
        s.backend->reset();
        if(!s.backend->error().empty()) {
            fwinterface::fail(s.backend->error());
        }
    } catch(const std::bad_alloc&) {
        fwinterface::fail("out of memory");
    }
}

int fw_memory_refuse_next(uint32_t op) {
    auto* memory = dynamic_cast<fwinterface::MemoryBackend*>(state().backend.get());
    if(memory == nullptr) {
        return -1;
    }
    memory->refuse_next(op);
    return 0;
}

int fw_nftables_lose_answers_next(void) {
    auto* nftables = dynamic_cast<fwinterface::NftablesBackend*>(state().backend.get());
    if(nftables == nullptr) {
        return -1;
    }
    nftables->lose_answers_next();
    return 0;
}

}  // extern "C"
