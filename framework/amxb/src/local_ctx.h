// In-process context: requests go straight to a data model of this process, subscriptions are
// slots on that data model's signal manager.
#ifndef AMXB_LOCAL_CTX_H
#define AMXB_LOCAL_CTX_H

#include <list>
#include <memory>

#include "bus_ctx.h"

namespace amxb {

class LocalCtx final : public _amxb_bus_ctx {
public:
    explicit LocalCtx(amxd_dm_t* dm);
    ~LocalCtx() override;

    Outcome execute(const Request& request, amxc_var_t* ret, int timeout_sec) override;
    Outcome subscribe(const std::string& path, const char* expression,
                      amxp_slot_fn_t fn, void* priv) override;
    Outcome unsubscribe(const std::string& path, amxp_slot_fn_t fn, void* priv) override;
    std::vector<std::string> roots() const override;

private:
    struct Subscription {
        std::string path;  // terminated
        amxp_slot_fn_t fn;
        void* priv;
    };

    // The slot behind every subscription: the expression already matched, this checks that
    // the event is about the subscribed object or one of its descendants.
    static void on_event(const char* sig_name, const amxc_var_t* data, void* priv);

    amxd_dm_t* dm_;
    std::list<std::unique_ptr<Subscription>> subscriptions_;
};

}  // namespace amxb

#endif
