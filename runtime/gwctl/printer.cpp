#include "printer.h"

#include <amxc/amxc_string.h>
#include <amxj/amxj.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace gwctl {
namespace {

std::string value_text(const amxc_var_t* value) {
    uint32_t type = amxc_var_type_of(value);
    if (type == AMXC_VAR_ID_LIST || type == AMXC_VAR_ID_HTABLE) {
        std::string json;
        return to_json(value, false, json) ? json : std::string();
    }
    std::unique_ptr<char, decltype(&std::free)> text(amxc_var_get_cstring_t(value), &std::free);
    return text ? std::string(text.get()) : std::string();
}

// A value a line-reading script or the shell would split or misread goes between single
// quotes, a quote inside as '\'' (as the shell reads it back).
std::string quoted_if_needed(std::string text) {
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > ' ' && byte != 0x7f && c != '\'' && c != '"' && c != '\\';
    });
    if (plain) {
        return text;
    }
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

}  // namespace

bool to_json(const amxc_var_t* value, bool pretty, std::string& out) {
    amxc_string_t text;
    amxc_string_init(&text, 0);
    bool ok = amxj_write(value, &text, pretty) == 0;
    if (ok) {
        const char* written = amxc_string_get(&text, 0);
        out = written != nullptr ? written : "";
    }
    amxc_string_clean(&text);
    return ok;
}

std::string parameter_lines(const amxc_var_t* objects) {
    std::string out;
    amxc_var_for_each(object, objects) {
        const char* path = amxc_var_key(object);
        amxc_var_for_each(param, object) {
            out += path != nullptr ? path : "";
            out += amxc_var_key(param) != nullptr ? amxc_var_key(param) : "";
            out += '=';
            out += quoted_if_needed(value_text(param));
            out += '\n';
        }
    }
    return out;
}

}  // namespace gwctl
