/* A variant with automatic storage for C++ callers (the libraries' insides, the runtime). */
#ifndef AMXC_AMXC_SCOPED_VAR_H
#define AMXC_AMXC_SCOPED_VAR_H

#ifdef __cplusplus

#include <amxc/amxc_variant.h>

namespace amxc {

// Initialised on construction, cleaned when it goes out of scope.
class ScopedVar {
public:
    ScopedVar() noexcept { amxc_var_init(&var_); }
    ~ScopedVar() { amxc_var_clean(&var_); }
    ScopedVar(const ScopedVar&) = delete;
    ScopedVar& operator=(const ScopedVar&) = delete;

    amxc_var_t* get() noexcept { return &var_; }
    const amxc_var_t* get() const noexcept { return &var_; }

private:
    amxc_var_t var_;
};

}  // namespace amxc

#endif

#endif
