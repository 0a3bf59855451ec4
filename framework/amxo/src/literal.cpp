#include "literal.h"

#include <charconv>
#include <set>

namespace amxo {
namespace {

void set_integer(amxc_var_t* var, const Value& value) {
    std::string_view digits = value.integer;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
    }
    const char* first = digits.data();
    const char* last = digits.data() + digits.size();
    int64_t signed_value = 0;
    if (auto r = std::from_chars(first, last, signed_value); r.ec == std::errc() && r.ptr == last) {
        if (signed_value >= INT32_MIN && signed_value <= INT32_MAX) {
            amxc_var_set_int32_t(var, static_cast<int32_t>(signed_value));
        } else {
            amxc_var_set_int64_t(var, signed_value);
        }
        return;
    }
    uint64_t unsigned_value = 0;
    if (auto r = std::from_chars(first, last, unsigned_value); r.ec == std::errc() && r.ptr == last) {
        amxc_var_set_uint64_t(var, unsigned_value);
        return;
    }
    fail(value.where, "integer " + value.integer + " out of range");
}

void fill(amxc_var_t* var, const Value& value, const Config& config) {
    switch (value.kind) {
    case Value::Kind::String:
        if (amxc_var_set_cstring_t(var, config.expand(value.text, value.where).c_str()) != 0) {
            throw std::bad_alloc();
        }
        return;
    case Value::Kind::Integer:
        set_integer(var, value);
        return;
    case Value::Kind::Bool:
        amxc_var_set_bool(var, value.boolean);
        return;
    case Value::Kind::List:
        amxc_var_set_type(var, AMXC_VAR_ID_LIST);
        for (const Value& item : value.items) {
            amxc_var_t* element = amxc_var_add_new(var);
            if (element == nullptr) {
                throw std::bad_alloc();
            }
            fill(element, item, config);
        }
        return;
    case Value::Kind::Table: {
        amxc_var_set_type(var, AMXC_VAR_ID_HTABLE);
        std::set<std::string_view> seen;
        for (const Entry& entry : value.entries) {
            if (!seen.insert(entry.key).second) {
                fail(entry.where, "duplicate key '" + entry.key + "'");
            }
            amxc_var_t* member = amxc_var_add_new_key(var, entry.key.c_str());
            if (member == nullptr) {
                throw std::bad_alloc();
            }
            fill(member, entry.value, config);
        }
        return;
    }
    }
}

}  // namespace

VarPtr literal_to_var(const Value& value, const Config& config) {
    VarPtr var = new_var();
    fill(var.get(), value, config);
    return var;
}

std::string describe_literal(const Value& value, const Config& config) {
    switch (value.kind) {
    case Value::Kind::String: return "\"" + config.expand(value.text, value.where) + "\"";
    case Value::Kind::Integer: return value.integer;
    case Value::Kind::Bool: return value.boolean ? "true" : "false";
    case Value::Kind::List: return "a list";
    case Value::Kind::Table: return "a table";
    }
    return {};
}

}  // namespace amxo
