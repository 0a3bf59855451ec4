// Owning handle for heap variants of the value library.
#pragma once

#include <memory>
#include <new>

#include <amxc/amxc_variant.h>

namespace amxo {

struct VarDeleter {
    void operator()(amxc_var_t* v) const { amxc_var_delete(&v); }
};
using VarPtr = std::unique_ptr<amxc_var_t, VarDeleter>;

// A new variant of the given type (empty value); throws std::bad_alloc when memory runs out.
inline VarPtr new_var(uint32_t type_id = AMXC_VAR_ID_NULL) {
    amxc_var_t* v = nullptr;
    if (amxc_var_new(&v) != 0 || amxc_var_set_type(v, type_id) != 0) {
        amxc_var_delete(&v);
        throw std::bad_alloc();
    }
    return VarPtr(v);
}

inline VarPtr copy_var(const amxc_var_t* src) {
    VarPtr v = new_var();
    if (amxc_var_copy(v.get(), src) != 0) {
        throw std::bad_alloc();
    }
    return v;
}

}  // namespace amxo
