// Owning handles for variants used across the bus internals.
#ifndef AMXB_VARIANT_PTR_H
#define AMXB_VARIANT_PTR_H

#include <memory>

#include <amxc/amxc_scoped_var.h>
#include <amxc/amxc_variant.h>

namespace amxb {

using ScopedVar = amxc::ScopedVar;

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
