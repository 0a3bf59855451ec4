#include "schema_lines.h"

#include <cstdlib>
#include <memory>

namespace gwctl {
namespace {

std::string text_of(const amxc_var_t* table, const char* key) {
    const char* text = amxc_var_get_const_cstring_t(amxc_var_get_key(table, key, AMXC_VAR_FLAG_DEFAULT));
    return text != nullptr ? text : "";
}

bool flag_of(const amxc_var_t* table, const char* key) {
    const amxc_var_t* value = amxc_var_get_key(table, key, AMXC_VAR_FLAG_DEFAULT);
    return value != nullptr && amxc_var_get_const_bool(value);
}

// "validated" for a check without data, "validated(min=0,max=65535)" with.
std::string validator_text(const amxc_var_t* data) {
    if (amxc_var_type_of(data) != AMXC_VAR_ID_HTABLE || amxc_var_size(data) == 0) {
        return "validated";
    }
    std::string out = "validated(";
    bool first = true;
    amxc_var_for_each(item, data) {
        std::unique_ptr<char, decltype(&std::free)> value(amxc_var_get_cstring_t(item), &std::free);
        out += (first ? "" : ",") + std::string(amxc_var_key(item)) + "=" + (value ? value.get() : "");
        first = false;
    }
    return out + ")";
}

std::string parameter_line(const std::string& path, const amxc_var_t* param) {
    std::string line = path + text_of(param, "name") + " " + text_of(param, "type") + " " +
                       (flag_of(param, "read-only") ? "read-only" : "read-write");
    const amxc_var_t* max = amxc_var_get_key(param, "max-length", AMXC_VAR_FLAG_DEFAULT);
    if (max != nullptr) {
        line += " max-length=" + std::to_string(amxc_var_get_uint64_t(max));
    }
    const amxc_var_t* validators = amxc_var_get_key(param, "validate", AMXC_VAR_FLAG_DEFAULT);
    amxc_var_for_each(data, validators) {
        line += " " + validator_text(data);
    }
    return line + "\n";
}

std::string function_line(const std::string& path, const amxc_var_t* func) {
    std::string args;
    amxc_var_for_each(arg, amxc_var_get_key(func, "arguments", AMXC_VAR_FLAG_DEFAULT)) {
        args += (args.empty() ? "" : ", ") + std::string(flag_of(arg, "mandatory") ? "mandatory " : "") + text_of(arg, "type") +
                " " + text_of(arg, "name");
    }
    return path + text_of(func, "name") + "(" + args + ") method " + text_of(func, "return") + "\n";
}

}  // namespace

std::string schema_lines(const amxc_var_t* described) {
    std::string out;
    amxc_var_for_each(object, described) {
        const std::string path = text_of(object, "path");
        out += path + " " + text_of(object, "kind") + "\n";
        amxc_var_for_each(func, amxc_var_get_key(object, "functions", AMXC_VAR_FLAG_DEFAULT)) {
            out += function_line(path, func);
        }
        amxc_var_for_each(param, amxc_var_get_key(object, "parameters", AMXC_VAR_FLAG_DEFAULT)) {
            out += parameter_line(path, param);
        }
    }
    return out;
}

}  // namespace gwctl
