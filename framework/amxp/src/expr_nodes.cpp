#include "expr_ast.h"

#include <algorithm>
#include <optional>

namespace amxp::expr {
namespace {

const amxc_var_t* lookup(const EvalContext& context, const std::string& path) {
    if (context.data == nullptr) return nullptr;
    return amxc_var_get_path(context.data, path.c_str(), AMXC_VAR_FLAG_DEFAULT);
}

}  // namespace

Value Literal::value() const {
    switch (kind_) {
    case Kind::boolean: return flag_;
    case Kind::number: return number_;
    case Kind::text: return std::string_view(text_);
    }
    return std::monostate{};
}

Value Literal::evaluate(EvalContext& /*context*/) const { return value(); }

Value Field::evaluate(EvalContext& context) const {
    const amxc_var_t* const found = lookup(context, path_);
    return found == nullptr ? Value() : value_of(found);
}

Value Contains::evaluate(EvalContext& context) const { return lookup(context, path_) != nullptr; }

std::optional<std::pair<std::string_view, std::string_view>> Contains::split() const {
    const std::string_view path = path_;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == path.size() || path.find("..") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::pair(path.substr(0, dot), path.substr(dot + 1));
}

Value ContainsAny::evaluate(EvalContext& context) const {
    const amxc_var_t* const base = lookup(context, prefix_);
    if (base == nullptr) return false;
    // In a table a component is a key; what else it may be (a list's index) the path says.
    const bool table = amxc_var_type_of(base) == AMXC_VAR_ID_HTABLE;
    return std::any_of(lasts_.begin(), lasts_.end(), [base, table](const std::string& last) {
        return (table ? amxc_var_get_key(base, last.c_str(), AMXC_VAR_FLAG_DEFAULT)
                      : amxc_var_get_path(base, last.c_str(), AMXC_VAR_FLAG_DEFAULT)) != nullptr;
    });
}

Value Not::evaluate(EvalContext& context) const { return !is_true(operand_->evaluate(context)); }

Value Chain::evaluate(EvalContext& context) const {
    // all: stop at the first false; any: stop at the first true.
    const bool stop_on = kind_ == Kind::any;
    for (const auto& operand : operands_) {
        if (is_true(operand->evaluate(context)) == stop_on) return stop_on;
    }
    return !stop_on;
}

Value Comparison::evaluate(EvalContext& context) const {
    const Value left = left_->evaluate(context);
    return compare(left, relation_, right_->evaluate(context));
}

Value InList::evaluate(EvalContext& context) const {
    const Value candidate = operand_->evaluate(context);
    return std::any_of(choices_.begin(), choices_.end(),
                       [&](const Literal& choice) { return compare(candidate, Relation::equal, choice.value()); });
}

Value Matches::evaluate(EvalContext& context) const {
    const Value subject = operand_->evaluate(context);
    const auto* text = std::get_if<std::string_view>(&subject);
    if (text == nullptr) return false;
    const std::optional<bool> found = pattern_->search(*text);
    if (found) return *found;
    context.engine_failed = true;  // a text too long to search
    return false;
}

Value StartsWith::evaluate(EvalContext& context) const {
    const Value subject = operand_->evaluate(context);
    const Value prefix = prefix_->evaluate(context);
    const auto* text = std::get_if<std::string_view>(&subject);
    const auto* start = std::get_if<std::string_view>(&prefix);
    return text != nullptr && start != nullptr && text->starts_with(*start);
}

}  // namespace amxp::expr
