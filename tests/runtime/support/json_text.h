// JSON texts compared as values: written compactly, whatever layout they came in.
#pragma once

#include <amxc/amxc_scoped_var.h>
#include <amxj/amxj.h>

#include <string>

namespace gwtest {

inline std::string json_text(const amxc_var_t* var, bool pretty = false) {
    amxc_string_t text;
    amxc_string_init(&text, 0);
    std::string out = amxj_write(var, &text, pretty) == 0 ? amxc_string_get(&text, 0) : "";
    amxc_string_clean(&text);
    return out;
}

// `json` written compactly; "" when it does not parse.
inline std::string compact_json(const std::string& json) {
    amxc::ScopedVar var;
    return amxj_read(var.get(), json.data(), json.size(), nullptr, 0) == 0 ? json_text(var.get()) : "";
}

}  // namespace gwtest
