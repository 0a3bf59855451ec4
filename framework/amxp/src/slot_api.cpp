// C entry points of slots.
#include "amxp/amxp_slot.h"

#include "signal_manager.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace {

int found(int count) {
    return count > 0 ? 0 : -ENOENT;
}

} // namespace

extern "C" {

int amxp_slot_connect(amxp_signal_mngr_t* mngr, const char* sig_name, const char* expression,
                      amxp_slot_fn_t fn, void* priv) {
    if(fn == nullptr || (sig_name != nullptr && sig_name[0] == '\0')) {
        return -EINVAL;
    }
    const bool every = sig_name == nullptr || std::strcmp(sig_name, "*") == 0;
    amxp::ExprPtr filter;
    if(expression != nullptr) {
        amxp_expr_t* compiled = nullptr;
        const amxp_expr_status_t status = amxp_expr_new(&compiled, expression);
        filter.reset(compiled);
        if(status != amxp_expr_status_ok || compiled == nullptr) {
            // Never connect a filter that did not compile: it would let everything through.
            return status == amxp_expr_status_unknown_error ? -ENOMEM : -EINVAL;
        }
    }
    try {
        return amxp::resolve(mngr).connect(every ? std::string_view() : sig_name, std::move(filter), fn, priv);
    } catch(const std::bad_alloc&) {
        return -ENOMEM;
    }
}

int amxp_slot_disconnect(amxp_signal_mngr_t* mngr, const char* sig_name, amxp_slot_fn_t fn) {
    if(fn == nullptr || (sig_name != nullptr && sig_name[0] == '\0')) {
        return -EINVAL;
    }
    amxp::SignalManager& target = amxp::resolve(mngr);
    if(sig_name == nullptr) {
        return found(target.disconnect_if([&](const amxp::Slot& s) { return s.fn == fn; }));
    }
    const std::string_view wanted = std::strcmp(sig_name, "*") == 0 ? std::string_view() : sig_name;
    return found(target.disconnect_if([&](const amxp::Slot& s) { return s.fn == fn && s.signal == wanted; }));
}

int amxp_slot_disconnect_with_priv(amxp_signal_mngr_t* mngr, amxp_slot_fn_t fn, void* priv) {
    if(fn == nullptr) {
        return -EINVAL;
    }
    return found(amxp::resolve(mngr).disconnect_if([&](const amxp::Slot& s) { return s.fn == fn && s.priv == priv; }));
}

int amxp_slot_disconnect_all(amxp_slot_fn_t fn) {
    if(fn == nullptr) {
        return -EINVAL;
    }
    int count = 0;
    for(amxp::SignalManager* mngr : amxp::SignalManager::all()) {
        count += mngr->disconnect_if([&](const amxp::Slot& s) { return s.fn == fn; });
    }
    return found(count);
}

} // extern "C"
