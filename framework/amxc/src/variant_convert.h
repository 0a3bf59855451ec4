// Value conversions between variant types, shared by amxc_var_convert, the
// typed getters and the comparison.
#pragma once

#include <amxc/amxc_variant.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>

namespace amxc {

// An integer of any width and sign: -magnitude when negative.
struct Number {
    bool negative;
    std::uint64_t magnitude;
};

// Numeric value of a number, boolean (0/1), NULL (0) or text holding a
// decimal integer; nullopt for anything else.
std::optional<Number> to_number(const amxc_var_t* var);

// Boolean value (see amxc_var_convert); nullopt when it has none.
std::optional<bool> to_bool(const amxc_var_t* var);

// Owned malloc'd text of a scalar or a list of scalars; nullptr otherwise or
// when memory runs out.
char* to_text(const amxc_var_t* var);

// Fills dest (NULL-typed, owning nothing) with src converted to type_id.
// On failure dest is NULL-typed.
int convert_into(amxc_var_t* dest, const amxc_var_t* src, std::uint32_t type_id);

// The value of `n` as T when it fits.
template<typename T>
std::optional<T> number_as(Number n) {
    static_assert(std::is_integral_v<T>);
    constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
    if(!n.negative) {
        return n.magnitude <= max ? std::optional<T>(static_cast<T>(n.magnitude)) : std::nullopt;
    }
    if constexpr(std::is_signed_v<T>) {
        // |min| is max + 1; build the value from -(magnitude - 1) - 1 so that
        // nothing overflows on the way.
        if(n.magnitude > max + 1) {
            return std::nullopt;
        }
        return static_cast<T>(-static_cast<T>(n.magnitude - 1) - 1);
    } else {
        return n.magnitude == 0 ? std::optional<T>(T{0}) : std::nullopt;
    }
}

// Unsigned text is read without a sign: "-0" is no unsigned value.
std::optional<std::uint64_t> text_as_unsigned(const amxc_var_t* var);

template<typename T>
std::optional<T> to_integer(const amxc_var_t* var) {
    if constexpr(std::is_unsigned_v<T>) {
        if(var != nullptr && (var->type_id == AMXC_VAR_ID_CSTRING || var->type_id == AMXC_VAR_ID_CSV_STRING)) {
            std::optional<std::uint64_t> value = text_as_unsigned(var);
            return value.has_value() ? number_as<T>(Number{false, *value}) : std::nullopt;
        }
    }
    std::optional<Number> n = to_number(var);
    return n.has_value() ? number_as<T>(*n) : std::nullopt;
}

}  // namespace amxc
