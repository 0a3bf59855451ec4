// One signal manager: the names it knows and its slots, in connection order.
#pragma once

#include "amxp/amxp_expr.h"
#include "amxp/amxp_slot.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace amxp {

struct ExprDeleter {
    void operator()(amxp_expr_t* expr) const { amxp_expr_delete(&expr); }
};
using ExprPtr = std::unique_ptr<amxp_expr_t, ExprDeleter>;

struct Slot {
    std::string signal; // empty: every signal of the manager
    ExprPtr filter;     // null: no filter
    amxp_slot_fn_t fn;
    void* priv;
    bool connected;
};

// Shared so that a delivery in progress (or a queued one, through a weak reference) can tell
// that its manager was deleted without touching freed memory.
class SignalManager : public std::enable_shared_from_this<SignalManager> {
public:
    SignalManager();
    ~SignalManager();
    SignalManager(const SignalManager&) = delete;
    SignalManager& operator=(const SignalManager&) = delete;

    // Validates a signal name given by a caller.
    static bool valid_name(const char* name);

    int add_signal(std::string_view name);
    bool has_signal(std::string_view name) const;
    // Adds `name` unless it is known already.
    int ensure_signal(std::string_view name);

    int trigger(const char* name, const amxc_var_t* data);

    // `signal` empty: every signal.
    int connect(std::string_view signal, ExprPtr filter, amxp_slot_fn_t fn, void* priv);
    // Disconnects the slots for which `match` holds; returns how many.
    template<typename Match>
    int disconnect_if(Match match);

    // Disconnects everything and refuses further deliveries.
    void retire();
    bool retired() const { return retired_; }

    // Every manager alive and not retired, for amxp_slot_disconnect_all.
    static const std::unordered_set<SignalManager*>& all();

private:
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    void compact();

    std::unordered_set<std::string, NameHash, std::equal_to<>> signals_;
    std::vector<Slot> slots_;
    unsigned delivering_ = 0;
    bool stale_ = false; // disconnected slots are waiting for compact()
    bool retired_ = false;
};

template<typename Match>
int SignalManager::disconnect_if(Match match) {
    int count = 0;
    for(Slot& slot : slots_) {
        if(slot.connected && match(slot)) {
            slot.connected = false;
            ++count;
        }
    }
    if(count > 0) {
        // Removing now would shift the slots under a delivery in progress.
        if(delivering_ == 0) {
            compact();
        } else {
            stale_ = true;
        }
    }
    return count;
}

} // namespace amxp

struct _amxp_signal_mngr {
    std::shared_ptr<amxp::SignalManager> core;
};

namespace amxp {

// The manager that NULL stands for.
amxp_signal_mngr_t* process_manager();

// Resolves NULL to the process-wide manager.
inline SignalManager& resolve(const amxp_signal_mngr_t* mngr) {
    return *(mngr != nullptr ? mngr : process_manager())->core;
}

} // namespace amxp
