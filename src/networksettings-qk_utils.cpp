// Address checks by fixed regular expressions.
#include "networksettings-qk_utils.h"

#include <regex.h>

#include <cstdlib>

extern "C" {
const char* IPv4_regexp =
    "^((25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)$";
const char* IPv6_regexp =
    "^(([0-9a-fA-F]{1,4}:){7,7}[0-9a-fA-F]{1,4}|([0-9a-fA-F]{1,4}:){1,7}:|([0-9a-fA-F]{1,4}:){1,6}:[0-9a-fA-F]{1,4}|"
    "([0-9a-fA-F]{1,4}:){1,5}(:[0-9a-fA-F]{1,4}){1,2}|([0-9a-fA-F]{1,4}:){1,3}(:[0-9a-fA-F]{1,4}){1,4}|"
    "([0-9a-fA-F]{1,4}:){1,2}(:[0-9a-fA-F]{1,4}){1,5}|[0-9a-fA-F]{1,4}:((:[0-9a-fA-F]{1,4}){1,6})|"
    ":((:[0-9a-fA-F]{1,4}){1,7}|:)|fe80:(:[0-9a-fA-F]{0,4}){0,4}%[0-9a-zA-Z]{1,}|"
    "::(ffff(:0{1,4}){0,1}:){0,1}((25[0-5]|(2[0-4]|1{0,1}[0-9]){0,1}[0-9])\\.){3,3}"
    "(25[0-5]|(2[0-4]|1{0,1}[0-9]){0,1}[0-9])|([0-9a-fA-F]{1,4}:){1,4}:((25[0-5]|(2[0-4]|1{0,1}[0-9]){0,1}[0-9])\\.){3,3}"
    "(25[0-5]|(2[0-4]|1{0,1}[0-9]){0,1}[0-9]))$";
const char* macaddr_regexp = "^([0-9a-fA-F]{2}:){5}([0-9a-fA-F]{2})$";
}

namespace {

// A pattern compiled on first use and kept for the life of the module: the checks run for
// every source address of every rule update.
class CompiledPattern {
public:
    explicit CompiledPattern(const char* pattern)
        : m_ok(regcomp(&m_regex, pattern, REG_EXTENDED | REG_NOSUB) == 0) {
    }
    ~CompiledPattern() {
        if(m_ok) {
            regfree(&m_regex);
        }
    }
    CompiledPattern(const CompiledPattern&) = delete;
    CompiledPattern& operator=(const CompiledPattern&) = delete;

    // A pattern that could not be compiled (only possible when memory runs out) answers
    // "matches", as callers expect a plain yes or no.
    bool matches(const char* value) const {
        return !m_ok || regexec(&m_regex, value, 0, nullptr, 0) == 0;
    }

private:
    regex_t m_regex{};
    bool m_ok;
};

bool validate_regexp(const CompiledPattern& pattern, const char* value) {
    return pattern.matches(value);
}

const CompiledPattern& ipv4_pattern() {
    static const CompiledPattern pattern(IPv4_regexp);
    return pattern;
}

const CompiledPattern& ipv6_pattern() {
    static const CompiledPattern pattern(IPv6_regexp);
    return pattern;
}

const CompiledPattern& macaddr_pattern() {
    static const CompiledPattern pattern(macaddr_regexp);
    return pattern;
}

} // namespace

extern "C" {

int check_is_valid_ip(const char* value_str) {
    if(util_is_empty_text(value_str)) {
        return 0;
    }
    if(validate_regexp(ipv4_pattern(), value_str)) {
        return 4;
    }
    if(validate_regexp(ipv6_pattern(), value_str)) {
        return 6;
    }
    return 0;
}

bool check_is_valid_macaddr(const char* value_str) {
    return !util_is_empty_text(value_str) && validate_regexp(macaddr_pattern(), value_str);
}

}

bool util_is_empty_text(const char* text) {
    return text == nullptr || text[0] == '\0';
}

std::string util_param_text(const amxd_object_t* object, const char* name) {
    const amxc_var_t* value = amxd_object_get_param_value(object, name);
    // A text parameter is read where it lies: validate actions read four of them per change.
    if(const char* text = amxc_var_constcast(cstring_t, value); text != nullptr) {
        return text;
    }
    char* rendered = value == nullptr ? nullptr : amxc_var_get_cstring_t(value);
    std::string result = rendered == nullptr ? "" : rendered;
    free(rendered);
    return result;
}

amxd_status_t util_refuse(amxc_var_t* retval, const std::string& why) {
    if(retval != nullptr) {
        amxc_var_set_cstring_t(retval, why.c_str());
    }
    return amxd_status_invalid_value;
}
