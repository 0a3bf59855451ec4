// Owning handles for variants used across the bus internals.
#ifndef AMXB_VARIANT_PTR_H
#define AMXB_VARIANT_PTR_H

#include <memory>

#include <amxc/amxc_variant.h>

namespace amxb {

// A variant on the stack, cleaned when it goes out of scope.
class ScopedVar {
public:
    ScopedVar() { amxc_var_init(&var_); }
    ~ScopedVar() { amxc_var_clean(&var_); }
    ScopedVar(const ScopedVar&) = delete;
    ScopedVar& operator=(const ScopedVar&) = delete;
    amxc_var_t* get() { return &var_; }
    const amxc_var_t* get() const { return &var_; }

private:
    amxc_var_t var_;
};

struct VarDeleter {
    void operator()(amxc_var_t* var) const { amxc_var_delete(&var); }
};

// A heap variant that can be queued and moved around.
using VarPtr = std::unique_ptr<amxc_var_t, VarDeleter>;

inline VarPtr make_var() {
    amxc_var_t* var = nullptr;
    amxc_var_new(&var);
    return VarPtr(var);
}

}  // namespace amxb

#endif
