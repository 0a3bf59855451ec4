#include "expr_regex.h"

#include <array>

#include "amxp/amxp_regex_cost.h"

namespace amxp::expr {

Regex::~Regex() {
    if (compiled_ok_) regfree(&compiled_);
}

std::unique_ptr<Regex> Regex::compile(const std::string& pattern, std::string& error) {
    error = regex_cost_refusal(pattern);
    if (!error.empty()) return nullptr;
    std::unique_ptr<Regex> regex(new Regex());
    const int result = regcomp(&regex->compiled_, pattern.c_str(), REG_EXTENDED | REG_NOSUB);
    if (result == 0) {
        regex->compiled_ok_ = true;
        return regex;
    }
    std::array<char, 256> reason{};
    regerror(result, &regex->compiled_, reason.data(), reason.size());
    error = reason.data();
    return nullptr;
}

Regex::Match Regex::match(const char* text) const {
    const int result = regexec(&compiled_, text, 0, nullptr, 0);
    if (result == 0) return Match::yes;
    return result == REG_NOMATCH ? Match::no : Match::failed;
}

}  // namespace amxp::expr
