// The C API of filter expressions: compile once, evaluate many times, never throw.

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include <amxp/amxp_expr.h>

#include "expr_parser.h"
#include "expr_syntax_error.h"

struct _amxp_expr {
    std::string text;
    amxp::expr::NodePtr root;
};

namespace {

struct Outcome {
    amxp_expr_status_t status = amxp_expr_status_ok;
    std::string message;
    std::size_t position = 0;
};

// Measures at most one byte past the limit, so a huge text is refused without reading it all.
std::string_view bounded_view(const char* text) {
    return std::string_view(text, strnlen(text, AMXP_EXPR_MAX_LENGTH + 1));
}

Outcome compile(const char* text, amxp::expr::NodePtr* root) {
    Outcome outcome;
    if (text == nullptr) {
        outcome.status = amxp_expr_status_syntax_error;
        outcome.message = "empty expression at 0";
        return outcome;
    }
    try {
        amxp::expr::NodePtr compiled = amxp::expr::parse_expression(bounded_view(text));
        if (root != nullptr) *root = std::move(compiled);
    } catch (const amxp::expr::SyntaxError& error) {
        outcome.status = error.kind() == amxp::expr::SyntaxError::Kind::regex ? amxp_expr_status_invalid_regexp
                                                                             : amxp_expr_status_syntax_error;
        outcome.message = error.what();
        outcome.position = error.position();
    } catch (...) {
        outcome.status = amxp_expr_status_unknown_error;
        outcome.message = "out of memory";
    }
    return outcome;
}

}  // namespace

extern "C" {

amxp_expr_status_t amxp_expr_new(amxp_expr_t** expr, const char* text) {
    if (expr == nullptr) return amxp_expr_status_unknown_error;
    *expr = nullptr;
    amxp::expr::NodePtr root;
    const Outcome outcome = compile(text, &root);
    if (outcome.status != amxp_expr_status_ok) return outcome.status;
    try {
        *expr = new _amxp_expr{std::string(text), std::move(root)};
    } catch (...) {
        return amxp_expr_status_unknown_error;
    }
    return amxp_expr_status_ok;
}

void amxp_expr_delete(amxp_expr_t** expr) {
    if (expr == nullptr) return;
    delete *expr;
    *expr = nullptr;
}

bool amxp_expr_eval_var(amxp_expr_t* expr, const amxc_var_t* data, amxp_expr_status_t* status) {
    amxp_expr_status_t result_status = amxp_expr_status_unknown_error;
    bool result = false;
    if (expr != nullptr) {
        try {
            amxp::expr::EvalContext context;
            context.data = data;
            result = amxp::expr::is_true(expr->root->evaluate(context));
            result_status = context.engine_failed ? amxp_expr_status_unknown_error : amxp_expr_status_ok;
        } catch (...) {
            result_status = amxp_expr_status_unknown_error;
        }
    }
    if (status != nullptr) *status = result_status;
    return result_status == amxp_expr_status_ok && result;
}

const char* amxp_expr_get_string(const amxp_expr_t* expr) { return expr == nullptr ? nullptr : expr->text.c_str(); }

amxp_expr_status_t amxp_expr_check(const char* text, char* message, size_t message_size, size_t* position) {
    const Outcome outcome = compile(text, nullptr);
    if (message != nullptr && message_size > 0) {
        const std::size_t kept = std::min(outcome.message.size(), message_size - 1);
        std::memcpy(message, outcome.message.data(), kept);
        message[kept] = '\0';
    }
    if (position != nullptr) *position = outcome.position;
    return outcome.status;
}

bool amxp_expr_matches(const char* text, const amxc_var_t* data) {
    amxp_expr_t* expr = nullptr;
    if (amxp_expr_new(&expr, text) != amxp_expr_status_ok) return false;
    const bool result = amxp_expr_eval_var(expr, data, nullptr);
    amxp_expr_delete(&expr);
    return result;
}

}  // extern "C"
