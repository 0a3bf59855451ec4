// Owning handles for variants, so that every early return frees what it made.
#pragma once

#include <memory>

#include <amxc/amxc_scoped_var.h>
#include <amxc/amxc_variant.h>
#include <amxd/amxd_types.h>

namespace amxd {

struct VarDeleter {
    void operator()(amxc_var_t* var) const noexcept { amxc_var_delete(&var); }
};

// A heap variant owned by C++ code (action data, saved values, event data).
using VarPtr = std::unique_ptr<amxc_var_t, VarDeleter>;

// A new NULL variant; throws std::bad_alloc when memory runs out.
VarPtr new_var();

// A deep copy of `src` (a NULL variant when src is NULL); throws std::bad_alloc.
VarPtr copy_var(const amxc_var_t* src);

using ScopedVar = amxc::ScopedVar;

// amxc_var_convert, whose failures look alike, told apart: amxd_status_invalid_value when `src`
// does not convert to `type`, amxd_status_out_of_mem when memory ran out (the C allocator says
// so in errno).
amxd_status_t convert_var(amxc_var_t* dest, const amxc_var_t* src, uint32_t type);

// Members added to a table with the amxc constructors; each throws std::bad_alloc on failure
// so that event and argument tables are never handed out half-built.
void table_add_text(amxc_var_t* table, const char* key, const char* value);
void table_add_uint32(amxc_var_t* table, const char* key, uint32_t value);
amxc_var_t* table_add_table(amxc_var_t* table, const char* key);
void table_add_copy(amxc_var_t* table, const char* key, const amxc_var_t* value);

} // namespace amxd
