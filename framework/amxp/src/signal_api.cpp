// C entry points of signal managers, and the queued form of a delivery (emit).
#include "amxp/amxp_signal.h"

#include "loop.h"
#include "signal_manager.h"

#include <cerrno>
#include <new>

namespace {

// One emission waiting in the loop's work queue. It holds the manager weakly: deleting the
// manager drops the delivery.
struct PendingSignal {
    std::weak_ptr<amxp::SignalManager> mngr;
    std::string name;
    amxc_var_t* data = nullptr;

    ~PendingSignal() { amxc_var_delete(&data); }
};

bool deliver(void* priv) {
    const std::unique_ptr<PendingSignal> pending(static_cast<PendingSignal*>(priv));
    const auto mngr = pending->mngr.lock();
    if(!mngr || mngr->retired()) {
        return false;
    }
    mngr->trigger(pending->name.c_str(), pending->data);
    return true;
}

void discard(void* priv) {
    delete static_cast<PendingSignal*>(priv);
}

int emit(amxp::SignalManager& mngr, const char* name, const amxc_var_t* data) {
    if(const int rc = mngr.ensure_signal(name); rc != 0) {
        return rc;
    }
    auto pending = std::make_unique<PendingSignal>();
    pending->mngr = mngr.weak_from_this();
    pending->name = name;
    if(data != nullptr) {
        if(amxc_var_new(&pending->data) != 0 || amxc_var_copy(pending->data, data) != 0) {
            return -ENOMEM;
        }
    }
    const int rc = amxp::default_loop().work().push_owned(deliver, discard, pending.get());
    if(rc == 0) {
        pending.release(); // the queue owns it now
    }
    return rc;
}

} // namespace

extern "C" {

int amxp_sigmngr_new(amxp_signal_mngr_t** mngr) {
    if(mngr == nullptr) {
        return -EINVAL;
    }
    try {
        *mngr = new _amxp_signal_mngr{std::make_shared<amxp::SignalManager>()};
    } catch(const std::bad_alloc&) {
        return -ENOMEM;
    }
    return 0;
}

void amxp_sigmngr_delete(amxp_signal_mngr_t** mngr) {
    if(mngr == nullptr || *mngr == nullptr) {
        return;
    }
    amxp_signal_mngr_t* doomed = *mngr;
    *mngr = nullptr;
    doomed->core->retire();
    delete doomed; // a delivery in progress keeps the core until it ends
}

int amxp_sigmngr_add_signal(amxp_signal_mngr_t* mngr, const char* name) {
    if(!amxp::SignalManager::valid_name(name)) {
        return -EINVAL;
    }
    try {
        return amxp::resolve(mngr).add_signal(name);
    } catch(const std::bad_alloc&) {
        return -ENOMEM;
    }
}

bool amxp_sigmngr_has_signal(const amxp_signal_mngr_t* mngr, const char* name) {
    return amxp::SignalManager::valid_name(name) && amxp::resolve(mngr).has_signal(name);
}

int amxp_sigmngr_emit(amxp_signal_mngr_t* mngr, const char* name, const amxc_var_t* data) {
    if(!amxp::SignalManager::valid_name(name)) {
        return -EINVAL;
    }
    try {
        return emit(amxp::resolve(mngr), name, data);
    } catch(const std::bad_alloc&) {
        return -ENOMEM;
    }
}

int amxp_sigmngr_trigger(amxp_signal_mngr_t* mngr, const char* name, const amxc_var_t* data) {
    if(!amxp::SignalManager::valid_name(name)) {
        return -EINVAL;
    }
    try {
        amxp::SignalManager& target = amxp::resolve(mngr);
        if(const int rc = target.ensure_signal(name); rc != 0) {
            return rc;
        }
        return target.trigger(name, data);
    } catch(const std::bad_alloc&) {
        return -ENOMEM;
    }
}

} // extern "C"
