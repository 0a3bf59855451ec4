// Dotted-path lookup through tables (by key) and lists (by decimal index).
#include <amxc/amxc_string.h>
#include <amxc/amxc_variant.h>

#include <charconv>
#include <string_view>

#include "htable_internal.h"
#include "variant_internal.h"

namespace {

const amxc_var_t* step(const amxc_var_t* var, std::string_view component) {
    if(component.empty()) {
        return nullptr;
    }
    if(var->type_id == AMXC_VAR_ID_HTABLE) {
        return amxc::var_of_member(amxc::find_key(&var->data.vm, component));
    }
    if(var->type_id != AMXC_VAR_ID_LIST) {
        return nullptr;
    }
    // Digits only: no sign, no blanks, no hex.
    int64_t index = 0;
    auto [end, ec] = std::from_chars(component.data(), component.data() + component.size(), index);
    if(ec != std::errc{} || end != component.data() + component.size() || component.front() == '-') {
        return nullptr;
    }
    return amxc_var_get_index(var, index, AMXC_VAR_FLAG_DEFAULT);
}

}  // namespace

extern "C" {

amxc_var_t* amxc_var_get_path(const amxc_var_t* var, const char* path, int flags) {
    if(var == nullptr || path == nullptr) {
        return nullptr;
    }
    std::string_view rest{path};
    if(!rest.empty() && rest.back() == '.') {
        rest.remove_suffix(1);
    }
    const amxc_var_t* at = var;
    while(at != nullptr && !rest.empty()) {
        size_t dot = rest.find('.');
        at = step(at, rest.substr(0, dot));
        rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
        if(dot != std::string_view::npos && rest.empty()) {
            at = nullptr;  // "a.." ends in an empty component
        }
    }
    return amxc::borrow_or_copy(at, flags);
}

amxc_var_t* amxc_var_get_pathf(const amxc_var_t* var, int flags, const char* fmt, ...) {
    if(var == nullptr || fmt == nullptr) {
        return nullptr;
    }
    amxc_string_t path;
    amxc_string_init(&path, 0);
    va_list args;
    va_start(args, fmt);
    int rv = amxc_string_vsetf(&path, fmt, args);
    va_end(args);
    amxc_var_t* found = rv == 0 ? amxc_var_get_path(var, amxc_string_get(&path, 0), flags) : nullptr;
    amxc_string_clean(&path);
    return found;
}

}  // extern "C"
