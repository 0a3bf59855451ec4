#ifndef TESTS_AMXP_TEST_EXPR_EVENT_DATA_H
#define TESTS_AMXP_TEST_EXPR_EVENT_DATA_H

#include <string>

#include <amxc/amxc_variant.h>
#include <amxp/amxp_expr.h>

// A table variant on the stack, freed at scope end.
class Table {
public:
    Table();
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    amxc_var_t* get() { return &var_; }
    operator const amxc_var_t*() const { return &var_; }

private:
    amxc_var_t var_;
};

// Event data as the bus delivers it: {"notification": ..., "path": ..., "parameters": {...}}.
class Event {
public:
    Event(const char* notification, const char* path);
    // parameters.<name> = {"from": from, "to": to}, as an object-changed event carries it.
    Event& changed(const char* name, const char* from, const char* to);
    operator const amxc_var_t*() const { return data_; }

private:
    amxc_var_t* parameter(const char* name);
    Table data_;
};

// Compiles `text` (failing the test when it does not compile) and evaluates it on `data`.
bool eval(const std::string& text, const amxc_var_t* data);

#endif
