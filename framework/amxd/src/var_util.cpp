#include "var_util.h"

#include <cerrno>
#include <new>

namespace amxd {

namespace {
template <typename T>
T* checked(T* result) {
    if(result == nullptr) {
        throw std::bad_alloc();
    }
    return result;
}
} // namespace

VarPtr new_var() {
    amxc_var_t* var = nullptr;
    if(amxc_var_new(&var) != 0) {
        throw std::bad_alloc();
    }
    return VarPtr(var);
}

VarPtr copy_var(const amxc_var_t* src) {
    VarPtr copy = new_var();
    if((src != nullptr) && (amxc_var_copy(copy.get(), src) != 0)) {
        throw std::bad_alloc();
    }
    return copy;
}

amxd_status_t convert_var(amxc_var_t* dest, const amxc_var_t* src, uint32_t type) {
    errno = 0;
    if(amxc_var_convert(dest, src, type) == 0) {
        return amxd_status_ok;
    }
    return errno == ENOMEM ? amxd_status_out_of_mem : amxd_status_invalid_value;
}

void table_add_text(amxc_var_t* table, const char* key, const char* value) {
    checked(amxc_var_add_new_key_cstring_t(table, key, value));
}

void table_add_uint32(amxc_var_t* table, const char* key, uint32_t value) {
    checked(amxc_var_add_new_key_uint32_t(table, key, value));
}

amxc_var_t* table_add_table(amxc_var_t* table, const char* key) {
    return checked(amxc_var_add_new_key_htable(table, key));
}

void table_add_copy(amxc_var_t* table, const char* key, const amxc_var_t* value) {
    amxc_var_t* member = checked(amxc_var_add_new_key(table, key));
    if(amxc_var_copy(member, value) != 0) {
        amxc_var_delete(&member);
        throw std::bad_alloc();
    }
}

} // namespace amxd
