#include "local_ctx.h"

#include <algorithm>

#include <amxd/amxd.h>
#include <amxp/amxp_expr.h>

#include "dm_ops.h"
#include "path.h"

namespace amxb {

namespace {

std::string text_at(const amxc_var_t* data, const char* key) {
    const char* text = amxc_var_get_const_cstring_t(amxc_var_get_key(data, key, AMXC_VAR_FLAG_DEFAULT));
    return text == nullptr ? std::string() : std::string(text);
}

// Whether the event is about `path` or something below it. An instance's own add and remove
// events carry the template's path, so for those the instance's path is checked as well.
bool event_concerns(const amxc_var_t* data, const std::string& path) {
    const std::string indexed = text_at(data, "path");
    const std::string named = text_at(data, "object");
    if(path_is_within(indexed, path) || path_is_within(named, path)) {
        return true;
    }
    const amxc_var_t* index = amxc_var_get_key(data, "index", AMXC_VAR_FLAG_DEFAULT);
    if(index == nullptr || indexed.empty()) {
        return false;
    }
    const std::string index_text = std::to_string(amxc_var_get_uint32_t(index));
    const std::string name = text_at(data, "name");
    return indexed + index_text + "." == path || (!name.empty() && !named.empty() && named + name + "." == path);
}

}  // namespace

LocalCtx::LocalCtx(amxd_dm_t* dm) : dm_(dm) {}

LocalCtx::~LocalCtx() {
    for(const auto& subscription : subscriptions_) {
        amxp_slot_disconnect_with_priv(amxd_dm_get_sigmngr(dm_), on_event, subscription.get());
    }
}

Outcome LocalCtx::execute(const Request& request, amxc_var_t* ret, int /*timeout_sec*/) {
    return dm_execute(dm_, request, ret);
}

std::vector<std::string> LocalCtx::roots() const {
    std::vector<std::string> names;
    amxd_object_for_each_child(child, amxd_dm_get_root(dm_)) {
        names.push_back(path_terminated(amxd_object_get_name(child, AMXD_OBJECT_NAMED)));
    }
    return names;
}

Outcome LocalCtx::subscribe(const std::string& path, const char* expression, amxp_slot_fn_t fn, void* priv) {
    if(!path_is_valid(path)) {
        return refusal(amxd_status_invalid_path, path);
    }
    const std::vector<std::string> served = roots();
    if(std::find(served.begin(), served.end(), path_top(path)) == served.end()) {
        return refusal(amxd_status_object_not_found, path + " (no such top-level object here)");
    }
    if(expression != nullptr) {
        char message[128] = "";
        if(amxp_expr_check(expression, message, sizeof(message), nullptr) != amxp_expr_status_ok) {
            return {amxd_status_invalid_expr, std::string("invalid expression: ") + message};
        }
    }
    auto subscription = std::make_unique<Subscription>(Subscription{path_terminated(path), fn, priv});
    const int rc = amxp_slot_connect(amxd_dm_get_sigmngr(dm_), "*", expression, on_event, subscription.get());
    if(rc != 0) {
        return refusal(amxd_status_unknown_error, path + " (the data model refused the slot)");
    }
    subscriptions_.push_back(std::move(subscription));
    return {};
}

Outcome LocalCtx::unsubscribe(const std::string& path, amxp_slot_fn_t fn, void* priv) {
    const std::string terminated = path_terminated(path);
    bool found = false;
    for(auto it = subscriptions_.begin(); it != subscriptions_.end();) {
        const Subscription& subscription = **it;
        if(subscription.path == terminated && subscription.fn == fn && subscription.priv == priv) {
            amxp_slot_disconnect_with_priv(amxd_dm_get_sigmngr(dm_), on_event, it->get());
            it = subscriptions_.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found ? Outcome{} : refusal(amxd_status_object_not_found, terminated + " (no such subscription)");
}

void LocalCtx::on_event(const char* sig_name, const amxc_var_t* data, void* priv) {
    const auto* subscription = static_cast<const Subscription*>(priv);
    if(!event_concerns(data, subscription->path)) {
        return;
    }
    // The subscriber may cancel this very subscription (or free the context): nothing of it
    // is touched after the call.
    const amxp_slot_fn_t fn = subscription->fn;
    void* const subscriber = subscription->priv;
    fn(sig_name, data, subscriber);
}

}  // namespace amxb
