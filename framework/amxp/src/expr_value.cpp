#include "expr_value.h"

namespace amxp::expr {

Number Number::from_signed(std::int64_t value) {
    if (value >= 0) return {false, static_cast<std::uint64_t>(value)};
    // Negate in unsigned arithmetic: -INT64_MIN does not fit an int64.
    return {true, std::uint64_t{0} - static_cast<std::uint64_t>(value)};
}

Number Number::from_unsigned(std::uint64_t value) { return {false, value}; }

std::strong_ordering Number::operator<=>(const Number& other) const {
    if (negative != other.negative) return negative ? std::strong_ordering::less : std::strong_ordering::greater;
    return negative ? other.magnitude <=> magnitude : magnitude <=> other.magnitude;
}

Value value_of(const amxc_var_t* var) {
    switch (amxc_var_type_of(var)) {
    case AMXC_VAR_ID_CSTRING:
    case AMXC_VAR_ID_CSV_STRING:
        return std::string_view(amxc_var_constcast(cstring_t, var));
    case AMXC_VAR_ID_INT32:
        return Number::from_signed(amxc_var_constcast(int32_t, var));
    case AMXC_VAR_ID_INT64:
        return Number::from_signed(amxc_var_constcast(int64_t, var));
    case AMXC_VAR_ID_UINT32:
        return Number::from_unsigned(amxc_var_constcast(uint32_t, var));
    case AMXC_VAR_ID_UINT64:
        return Number::from_unsigned(amxc_var_constcast(uint64_t, var));
    case AMXC_VAR_ID_BOOL:
        return amxc_var_constcast(bool, var);
    default:
        return std::monostate{};
    }
}

bool is_true(const Value& value) {
    const bool* const flag = std::get_if<bool>(&value);
    return flag != nullptr && *flag;
}

namespace {

bool holds(std::partial_ordering order, Relation relation) {
    switch (relation) {
    case Relation::equal: return order == 0;
    case Relation::not_equal: return order != 0;
    case Relation::less: return order < 0;
    case Relation::greater: return order > 0;
    case Relation::less_equal: return order <= 0;
    case Relation::greater_equal: return order >= 0;
    }
    return false;
}

// Ordering of two values of one kind; unordered for nothing and for booleans that differ.
std::partial_ordering order_of(const Value& left, const Value& right) {
    if (const auto* a = std::get_if<Number>(&left)) return *a <=> std::get<Number>(right);
    if (const auto* a = std::get_if<std::string_view>(&left)) return *a <=> std::get<std::string_view>(right);
    if (const auto* a = std::get_if<bool>(&left)) {
        return *a == std::get<bool>(right) ? std::partial_ordering::equivalent : std::partial_ordering::unordered;
    }
    return std::partial_ordering::unordered;
}

}  // namespace

bool compare(const Value& left, Relation relation, const Value& right) {
    if (left.index() != right.index() || std::holds_alternative<std::monostate>(left)) {
        return relation == Relation::not_equal;
    }
    const std::partial_ordering order = order_of(left, right);
    if (order == std::partial_ordering::unordered) return relation == Relation::not_equal;
    if (std::holds_alternative<bool>(left) && relation != Relation::equal && relation != Relation::not_equal) {
        return false;
    }
    return holds(order, relation);
}

}  // namespace amxp::expr
