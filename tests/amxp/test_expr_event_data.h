#ifndef TESTS_AMXP_TEST_EXPR_EVENT_DATA_H
#define TESTS_AMXP_TEST_EXPR_EVENT_DATA_H

#include <string>

#include <gtest/gtest.h>

#include <amxc/amxc_scoped_var.h>
#include <amxp/amxp_expr.h>

// A table variant on the stack, freed at scope end.
struct Table : amxc::ScopedVar {
    Table() { amxc_var_set_type(get(), AMXC_VAR_ID_HTABLE); }
    operator const amxc_var_t*() const { return get(); }
};

// Event data as the bus delivers it: {"notification": ..., "path": ..., "parameters": {...}}.
class Event {
public:
    Event(const char* notification, const char* path) {
        amxc_var_add_key(cstring_t, data_.get(), "notification", notification);
        amxc_var_add_key(cstring_t, data_.get(), "path", path);
        amxc_var_add_key(cstring_t, data_.get(), "object", path);
        amxc_var_add_new_key_htable(data_.get(), "parameters");
    }
    // parameters.<name> = {"from": from, "to": to}, as an object-changed event carries it.
    Event& changed(const char* name, const char* from, const char* to) {
        amxc_var_t* const parameters = amxc_var_get_key(data_, "parameters", AMXC_VAR_FLAG_DEFAULT);
        amxc_var_t* const change = amxc_var_add_new_key_htable(parameters, name);
        amxc_var_add_key(cstring_t, change, "from", from);
        amxc_var_add_key(cstring_t, change, "to", to);
        return *this;
    }
    operator const amxc_var_t*() const { return data_; }

private:
    Table data_;
};

// Compiles `text` (failing the test when it does not compile) and evaluates it on `data`.
inline bool eval(const std::string& text, const amxc_var_t* data) {
    amxp_expr_t* expr = nullptr;
    const amxp_expr_status_t compiled = amxp_expr_new(&expr, text.c_str());
    EXPECT_EQ(compiled, amxp_expr_status_ok) << text;
    if (compiled != amxp_expr_status_ok) return false;
    amxp_expr_status_t status = amxp_expr_status_unknown_error;
    const bool result = amxp_expr_eval_var(expr, data, &status);
    EXPECT_EQ(status, amxp_expr_status_ok) << text;
    amxp_expr_delete(&expr);
    return result;
}

#endif
