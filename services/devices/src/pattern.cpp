#include "pattern.h"

#include <amxp/amxp_regex_cost.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

namespace devices {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether every character of the pattern stands for itself, case aside. Bytes outside ASCII
// are left to the engine, whose case folding may follow the locale.
bool is_plain(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7f && std::string_view(".[]()*+?{}|^$\\").find(c) == std::string_view::npos;
    });
}

}  // namespace

std::unique_ptr<Pattern> Pattern::compile(const std::string& text, std::string& error) {
    error = amxp::regex_cost_refusal(text);
    if(!error.empty()) {
        return nullptr;
    }
    std::unique_ptr<Pattern> pattern(new Pattern());
    const int rc = regcomp(&pattern->compiled_, text.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB);
    if(rc != 0) {
        std::array<char, 128> message{};
        regerror(rc, &pattern->compiled_, message.data(), message.size());
        error = message.data();
        return nullptr;  // a failed regcomp keeps nothing: the destructor skips regfree
    }
    pattern->compiled_ok_ = true;
    if(is_plain(text)) {
        pattern->literal_ = true;
        std::transform(text.begin(), text.end(), std::back_inserter(pattern->lowered_), lower);
    }
    return pattern;
}

Pattern::~Pattern() {
    if(compiled_ok_) {
        regfree(&compiled_);
    }
}

bool Pattern::search(const std::string& text) const {
    if(literal_) {
        return std::search(text.begin(), text.end(), lowered_.begin(), lowered_.end(),
                           [](char a, char b) { return lower(a) == b; }) != text.end() ||
               lowered_.empty();
    }
    return regexec(&compiled_, text.c_str(), 0, nullptr, 0) == 0;
}

}  // namespace devices
