#include "event_filter.h"

#include <cstdlib>
#include <memory>
#include <new>

#include <amxd/amxd_object.h>

namespace amxo {

std::string regex_quote(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (std::string_view(".[]{}()\\*+?^$|").find(c) != std::string_view::npos) {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string child_prefix_of(const amxd_object_t* root) {
    const amxd_object_type_t type = amxd_object_get_type(root);
    if (type == amxd_object_root) {
        return {};
    }
    std::unique_ptr<char, decltype(&std::free)> path(amxd_object_get_path(root, AMXD_OBJECT_INDEXED), &std::free);
    if (!path) {
        throw std::bad_alloc();
    }
    std::string prefix = regex_quote(path.get()) + "\\.";
    if (type == amxd_object_template) {
        prefix += "[0-9]+\\.";
    }
    return prefix;
}

std::string child_prefix_of(const std::string& parent_prefix, std::string_view name, bool is_template) {
    return parent_prefix + regex_quote(name) + (is_template ? "\\.[0-9]+\\." : "\\.");
}

std::string path_pattern(const std::string& parent_prefix, std::string_view name, bool is_template) {
    return "^" + parent_prefix + regex_quote(name) + (is_template ? "\\.([0-9]+\\.)?$" : "\\.$");
}

std::string scoped_expression(const std::string& pattern, const std::optional<std::string>& filter) {
    // Inside a quoted literal of the expression language only \\ and \' are escapes; every
    // other backslash of the pattern stays as it is.
    std::string quoted;
    for (char c : pattern) {
        if (c == '\\' || c == '\'') {
            quoted += '\\';
        }
        quoted += c;
    }
    std::string expression = "path matches '" + quoted + "'";
    if (filter) {
        expression += " && (" + *filter + ")";
    }
    return expression;
}

}  // namespace amxo
