#include "signal_manager.h"

#include <cerrno>
#include <cstring>

namespace amxp {

namespace {

std::unordered_set<SignalManager*>& registry() {
    static auto* managers = new std::unordered_set<SignalManager*>();
    return *managers;
}

} // namespace

amxp_signal_mngr_t* process_manager() {
    // Never destroyed: slots may be connected and disconnected from static destructors.
    static auto* mngr = new _amxp_signal_mngr{std::make_shared<SignalManager>()};
    return mngr;
}

SignalManager::SignalManager() {
    registry().insert(this);
}

SignalManager::~SignalManager() {
    registry().erase(this);
}

const std::unordered_set<SignalManager*>& SignalManager::all() {
    return registry();
}

bool SignalManager::valid_name(const char* name) {
    return name != nullptr && name[0] != '\0' && std::strcmp(name, "*") != 0;
}

int SignalManager::add_signal(std::string_view name) {
    if(has_signal(name)) {
        return -EEXIST;
    }
    if(signals_.size() >= AMXP_SIGMNGR_MAX_SIGNALS) {
        return -ENOSPC;
    }
    signals_.emplace(name);
    return 0;
}

bool SignalManager::has_signal(std::string_view name) const {
    return signals_.find(name) != signals_.end();
}

int SignalManager::ensure_signal(std::string_view name) {
    const int rc = add_signal(name);
    return rc == -EEXIST ? 0 : rc;
}

int SignalManager::trigger(const char* name, const amxc_var_t* data) {
    if(retired_) {
        return 0;
    }
    // Held so that a slot deleting this manager leaves it alive until the loop below ends.
    const std::shared_ptr<SignalManager> keep = shared_from_this();
    const std::string_view signal = name;
    // Slots connected during this delivery are appended past `count` and so not called.
    const std::size_t count = slots_.size();
    ++delivering_;
    for(std::size_t i = 0; i < count && !retired_; ++i) {
        // slots_ may grow (and move) while a slot runs: copy what the call needs first.
        const Slot& slot = slots_[i];
        if(!slot.connected || (!slot.signal.empty() && slot.signal != signal)) {
            continue;
        }
        if(slot.filter && !amxp_expr_eval_var(slot.filter.get(), data, nullptr)) {
            continue;
        }
        const amxp_slot_fn_t fn = slot.fn;
        void* const priv = slot.priv;
        fn(name, data, priv);
    }
    if(--delivering_ == 0 && stale_) {
        compact();
    }
    return 0;
}

int SignalManager::connect(std::string_view signal, ExprPtr filter, amxp_slot_fn_t fn, void* priv) {
    if(!signal.empty()) {
        if(const int rc = ensure_signal(signal); rc != 0) {
            return rc;
        }
    }
    slots_.push_back(Slot{std::string(signal), std::move(filter), fn, priv, true});
    return 0;
}

void SignalManager::compact() {
    stale_ = false;
    std::erase_if(slots_, [](const Slot& slot) { return !slot.connected; });
}

void SignalManager::retire() {
    retired_ = true;
    registry().erase(this);
    disconnect_if([](const Slot&) { return true; });
}

} // namespace amxp
