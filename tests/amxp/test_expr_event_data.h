#ifndef TESTS_AMXP_TEST_EXPR_EVENT_DATA_H
#define TESTS_AMXP_TEST_EXPR_EVENT_DATA_H

#include <string>

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
    Event(const char* notification, const char* path);
    // parameters.<name> = {"from": from, "to": to}, as an object-changed event carries it.
    Event& changed(const char* name, const char* from, const char* to);
    operator const amxc_var_t*() const { return data_; }

private:
    Table data_;
};

// Compiles `text` (failing the test when it does not compile) and evaluates it on `data`.
bool eval(const std::string& text, const amxc_var_t* data);

#endif
