// Typed getters and setters, and the typed element / member constructors,
// generated per type so that every type behaves the same way.
#include <amxc/amxc_variant.h>

#include <cstring>
#include <type_traits>

#include "variant_container.h"
#include "variant_convert.h"
#include "variant_internal.h"

namespace amxc {
namespace {

// Builds a value aside and stores it; the container is untouched on failure.
template<typename Set>
amxc_var_t* add_element(amxc_var_t* list, Set set) {
    amxc_var_t value;
    amxc_var_init(&value);
    amxc_var_t* element = set(&value) == 0 ? store_element(list, &value) : nullptr;
    amxc_var_clean(&value);
    return element;
}

template<typename Set>
amxc_var_t* add_member(amxc_var_t* table, const char* key, Set set) {
    amxc_var_t value;
    amxc_var_init(&value);
    amxc_var_t* member = set(&value) == 0 ? store_member(table, key, &value) : nullptr;
    amxc_var_clean(&value);
    return member;
}

int set_text(amxc_var_t* var, const char* value, uint32_t type_id) {
    if(var == nullptr || value == nullptr) {
        return -1;
    }
    // Copy first: value may be var's own text. An empty text is kept as none at all (every
    // reader takes that for ""): most parameters of a large table are empty.
    char* copy = value[0] == '\0' ? nullptr : strdup(value);
    if(copy == nullptr && value[0] != '\0') {
        return -1;
    }
    amxc_var_clean(var);
    var->type_id = type_id;
    var->data.s = copy;
    return 0;
}

// Converted value, or false / 0 when the value does not convert.
template<typename T>
T to_integer_or_bool(const amxc_var_t* var) {
    if constexpr(std::is_same_v<T, bool>) {
        return to_bool(var).value_or(false);
    } else {
        return to_integer<T>(var).value_or(T{0});
    }
}

const char* borrow_text(const amxc_var_t* var) {
    if(var == nullptr || !is_text(var->type_id)) {
        return nullptr;
    }
    return var->data.s == nullptr ? "" : var->data.s;
}

}  // namespace
}  // namespace amxc

using namespace amxc;

extern "C" {

#define AMXC_SCALAR_ACCESSORS(type, id, field) \
    type amxc_var_get_##type(const amxc_var_t* var) { \
        return to_integer_or_bool<type>(var); \
    } \
    type amxc_var_get_const_##type(const amxc_var_t* var) { \
        return var != nullptr && var->type_id == (id) ? var->data.field : type{}; \
    } \
    int amxc_var_set_##type(amxc_var_t* var, type value) { \
        if(var == nullptr) { \
            return -1; \
        } \
        amxc_var_clean(var); \
        var->type_id = (id); \
        var->data.field = value; \
        return 0; \
    } \
    amxc_var_t* amxc_var_add_new_##type(amxc_var_t* list, type value) { \
        return add_element(list, [value](amxc_var_t* v) { return amxc_var_set_##type(v, value); }); \
    } \
    amxc_var_t* amxc_var_add_new_key_##type(amxc_var_t* table, const char* key, type value) { \
        return add_member(table, key, [value](amxc_var_t* v) { return amxc_var_set_##type(v, value); }); \
    }

#define AMXC_TEXT_ACCESSORS(type, id) \
    char* amxc_var_get_##type(const amxc_var_t* var) { \
        return to_text(var); \
    } \
    const char* amxc_var_get_const_##type(const amxc_var_t* var) { \
        return borrow_text(var); \
    } \
    int amxc_var_set_##type(amxc_var_t* var, const char* value) { \
        return set_text(var, value, (id)); \
    } \
    amxc_var_t* amxc_var_add_new_##type(amxc_var_t* list, const char* value) { \
        return add_element(list, [value](amxc_var_t* v) { return amxc_var_set_##type(v, value); }); \
    } \
    amxc_var_t* amxc_var_add_new_key_##type(amxc_var_t* table, const char* key, const char* value) { \
        return add_member(table, key, [value](amxc_var_t* v) { return amxc_var_set_##type(v, value); }); \
    }

AMXC_SCALAR_ACCESSORS(bool, AMXC_VAR_ID_BOOL, b)
AMXC_SCALAR_ACCESSORS(int32_t, AMXC_VAR_ID_INT32, i32)
AMXC_SCALAR_ACCESSORS(uint32_t, AMXC_VAR_ID_UINT32, ui32)
AMXC_SCALAR_ACCESSORS(int64_t, AMXC_VAR_ID_INT64, i64)
AMXC_SCALAR_ACCESSORS(uint64_t, AMXC_VAR_ID_UINT64, ui64)
AMXC_TEXT_ACCESSORS(cstring_t, AMXC_VAR_ID_CSTRING)
AMXC_TEXT_ACCESSORS(csv_string_t, AMXC_VAR_ID_CSV_STRING)

int amxc_var_push_cstring_t(amxc_var_t* var, char* value) {
    if(var == nullptr || value == nullptr) {
        return -1;
    }
    if(is_text(var->type_id) && var->data.s == value) {
        var->type_id = AMXC_VAR_ID_CSTRING;  // its own text already
        return 0;
    }
    amxc_var_clean(var);
    var->type_id = AMXC_VAR_ID_CSTRING;
    var->data.s = value;
    return 0;
}

const amxc_llist_t* amxc_var_get_const_amxc_llist_t(const amxc_var_t* var) {
    return var != nullptr && var->type_id == AMXC_VAR_ID_LIST ? &var->data.vl : nullptr;
}

const amxc_htable_t* amxc_var_get_const_amxc_htable_t(const amxc_var_t* var) {
    return var != nullptr && var->type_id == AMXC_VAR_ID_HTABLE ? &var->data.vm : nullptr;
}

}  // extern "C"
