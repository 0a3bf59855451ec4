#ifndef AMXP_EXPR_VALUE_H
#define AMXP_EXPR_VALUE_H

#include <compare>
#include <cstdint>
#include <string_view>
#include <variant>

#include <amxc/amxc_variant.h>

namespace amxp::expr {

// An integer of any width and sign: int64 and uint64 values compare correctly.
struct Number {
    bool negative = false;
    std::uint64_t magnitude = 0;

    static Number from_signed(std::int64_t value);
    static Number from_unsigned(std::uint64_t value);
    std::strong_ordering operator<=>(const Number& other) const;
    bool operator==(const Number& other) const = default;
};

// What an operand evaluates to. monostate is "nothing": an absent field, a NULL value, a list
// or a table. A text view always points into storage (a variant's text or a literal's
// std::string) that outlives the evaluation.
using Value = std::variant<std::monostate, bool, Number, std::string_view>;

// The value of a variant found in the event data (borrowed: texts point into it).
Value value_of(const amxc_var_t* var);

// A value used as a condition: only the boolean true is true.
bool is_true(const Value& value);

enum class Relation { equal, not_equal, less, greater, less_equal, greater_equal };

// Nothing and values of different kinds are only "not equal"; booleans are not ordered.
bool compare(const Value& left, Relation relation, const Value& right);

}  // namespace amxp::expr

#endif
