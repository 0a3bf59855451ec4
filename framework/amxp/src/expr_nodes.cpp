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
