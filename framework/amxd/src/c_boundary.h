// The C API never lets a C++ exception escape: out of memory becomes amxd_status_out_of_mem
// (or NULL for functions that hand out pointers).
#pragma once

#include <exception>
#include <new>

#include <amxd/amxd_types.h>

namespace amxd {

template <typename Fn>
amxd_status_t guard_status(Fn&& fn) noexcept {
    try {
        return fn();
    } catch(const std::bad_alloc&) {
        return amxd_status_out_of_mem;
    } catch(const std::exception&) {
        return amxd_status_unknown_error;
    }
}

template <typename T, typename Fn>
T guard_value(T on_failure, Fn&& fn) noexcept {
    try {
        return fn();
    } catch(const std::exception&) {
        return on_failure;
    }
}

} // namespace amxd
