// Which context serves which path. Contexts are few (one per data model and per connection),
// so a vector searched in order is enough.
#include <algorithm>

#include "bus_ctx.h"
#include "path.h"

namespace amxb {

namespace {

struct Entry {
    amxb_bus_ctx_t* ctx;
    bool in_process;
};

std::vector<Entry>& entries() {
    static std::vector<Entry> registered;
    return registered;
}

int default_timeout_sec = AMXB_DEFAULT_TIMEOUT_SEC;

}  // namespace

void registry_add(amxb_bus_ctx_t* ctx, bool in_process) {
    entries().push_back({ctx, in_process});
}

void registry_remove(amxb_bus_ctx_t* ctx) {
    std::erase_if(entries(), [ctx](const Entry& entry) { return entry.ctx == ctx; });
}

amxb_bus_ctx_t* registry_who_has(const std::string& path, Scope scope) {
    const std::string terminated = path_terminated(path);
    amxb_bus_ctx_t* best = nullptr;
    std::size_t best_length = 0;
    for(const Entry& entry : entries()) {
        if(scope == Scope::in_process && !entry.in_process) {
            continue;
        }
        for(const std::string& root : entry.ctx->roots()) {
            if(root.size() > best_length && path_is_within(terminated, root)) {
                best = entry.ctx;
                best_length = root.size();
            }
        }
    }
    return best;
}

std::vector<std::string> registry_local_roots() {
    std::vector<std::string> all;
    for(const Entry& entry : entries()) {
        if(!entry.in_process) {
            continue;
        }
        for(std::string& root : entry.ctx->roots()) {
            if(std::find(all.begin(), all.end(), root) == all.end()) {
                all.push_back(std::move(root));
            }
        }
    }
    return all;
}

int default_timeout() {
    return default_timeout_sec;
}

}  // namespace amxb

extern "C" void amxb_set_default_timeout(int sec) {
    amxb::default_timeout_sec = sec > 0 ? sec : AMXB_DEFAULT_TIMEOUT_SEC;
}

extern "C" int amxb_get_default_timeout(void) {
    return amxb::default_timeout_sec;
}
