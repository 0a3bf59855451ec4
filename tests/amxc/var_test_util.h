// Test helpers: a scoped variant and a readable rendering of a variant tree
// (types included) to compare whole trees in one assertion.
#pragma once

#include <amxc/amxc_scoped_var.h>

#include <string>
#include <type_traits>
#include <utility>

namespace amxc_test {

// A scoped variant that a function may fill on construction.
struct Var : amxc::ScopedVar {
    Var() = default;
    template<typename Fill>
    explicit Var(Fill&& fill) { std::forward<Fill>(fill)(get()); }
};

// A variant set by one of the typed setters.
template <typename Value>
Var of(int (*set)(amxc_var_t*, Value), std::type_identity_t<Value> value) {
    return Var([set, value](amxc_var_t* v) { set(v, value); });
}

inline Var text(const char* value) { return of(amxc_var_set_cstring_t, value); }
inline Var csv(const char* value) { return of(amxc_var_set_csv_string_t, value); }
inline Var typed(uint32_t type_id) { return of(amxc_var_set_type, type_id); }

inline std::string dump(const amxc_var_t* var) {
    if(var == nullptr) {
        return "<nullptr>";
    }
    const uint32_t type = amxc_var_type_of(var);
    if(type == AMXC_VAR_ID_LIST || type == AMXC_VAR_ID_HTABLE) {
        const bool list = type == AMXC_VAR_ID_LIST;
        std::string out = list ? "[" : "{";
        amxc_var_for_each(member, var) {
            out += (out.size() > 1 ? ", " : "") + (list ? "" : std::string(amxc_var_key(member)) + ": ") + dump(member);
        }
        return out + (list ? "]" : "}");
    }
    switch(type) {
    case AMXC_VAR_ID_NULL:
        return "null";
    case AMXC_VAR_ID_CSTRING:
        return std::string("'") + amxc_var_get_const_cstring_t(var) + "'";
    case AMXC_VAR_ID_CSV_STRING:
        return std::string("csv'") + amxc_var_get_const_csv_string_t(var) + "'";
    case AMXC_VAR_ID_BOOL:
        return amxc_var_constcast(bool, var) ? "true" : "false";
    case AMXC_VAR_ID_INT32:
        return "i32:" + std::to_string(amxc_var_constcast(int32_t, var));
    case AMXC_VAR_ID_UINT32:
        return "u32:" + std::to_string(amxc_var_constcast(uint32_t, var));
    case AMXC_VAR_ID_INT64:
        return "i64:" + std::to_string(amxc_var_constcast(int64_t, var));
    case AMXC_VAR_ID_UINT64:
        return "u64:" + std::to_string(amxc_var_constcast(uint64_t, var));
    default:
        return "?";
    }
}

inline std::string dump(const Var& var) {
    return dump(var.get());
}

}  // namespace amxc_test
