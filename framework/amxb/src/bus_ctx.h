// The context behind the opaque amxb_bus_ctx_t, the request it carries out, and the registry
// that amxb_be_who_has searches.
#ifndef AMXB_BUS_CTX_H
#define AMXB_BUS_CTX_H

#include <cstdint>
#include <string>
#include <vector>

#include <amxb/amxb.h>

namespace amxb {

enum class Op { get, set, add, del, call };

// One read or change, as a caller or a remote client asked for it. Variants are borrowed.
struct Request {
    Op op = Op::get;
    std::string path;
    int32_t depth = 0;                  // get
    const amxc_var_t* values = nullptr; // set, add: a table or NULL
    uint32_t index = 0;                 // add
    std::string name;                   // add
    std::string method;                 // call
    amxc_var_t* args = nullptr;         // call: a table or NULL
};

// The outcome of a request besides its result variant.
struct Outcome {
    int status = 0;
    std::string error;
};

}  // namespace amxb

// Base of the three kinds of context. Each kind lives in its own file.
struct _amxb_bus_ctx {
    _amxb_bus_ctx() = default;
    _amxb_bus_ctx(const _amxb_bus_ctx&) = delete;
    _amxb_bus_ctx& operator=(const _amxb_bus_ctx&) = delete;
    virtual ~_amxb_bus_ctx() = default;

    // Carries out `request`; `ret` (never NULL) receives the result.
    virtual amxb::Outcome execute(const amxb::Request& request, amxc_var_t* ret, int timeout_sec) = 0;
    virtual amxb::Outcome subscribe(const std::string& path, const char* expression,
                                    amxp_slot_fn_t fn, void* priv) = 0;
    virtual amxb::Outcome unsubscribe(const std::string& path, amxp_slot_fn_t fn, void* priv) = 0;

    // Top-level objects served, each with its trailing dot ("Hosts.").
    virtual std::vector<std::string> roots() const = 0;
    virtual int fd() const { return -1; }

    std::string last_error;
};

namespace amxb {

// The registry of contexts that amxb_be_who_has searches, in registration order.
void registry_add(amxb_bus_ctx_t* ctx, bool in_process);
void registry_remove(amxb_bus_ctx_t* ctx);

// The context serving the longest root that `path` lies in (the first registered on a tie),
// among all registered ones or among in-process ones only (a listener must never route a
// request back out to another server).
enum class Scope { all, in_process };
amxb_bus_ctx_t* registry_who_has(const std::string& path, Scope scope);

// Every root served by the in-process contexts, without duplicates.
std::vector<std::string> registry_local_roots();

int default_timeout();

}  // namespace amxb

#endif
