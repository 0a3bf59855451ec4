#include "pattern.h"

#include <algorithm>
#include <iterator>

namespace devices {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether every character of the pattern stands for itself, case aside. Bytes outside ASCII
// are left to the engine.
bool is_plain(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7f && std::string_view(".[]()*+?{}|^$\\").find(c) == std::string_view::npos;
    });
}

}  // namespace

std::unique_ptr<Pattern> Pattern::compile(const std::string& text, std::string& error) {
    std::unique_ptr<Pattern> pattern(new Pattern());
    pattern->compiled_ = amxp::Regex::compile(text, amxp::Regex::Case::insensitive, error);
    if(pattern->compiled_ == nullptr) {
        return nullptr;
    }
    if(is_plain(text)) {
        pattern->literal_ = true;
        std::transform(text.begin(), text.end(), std::back_inserter(pattern->lowered_), lower);
    }
    return pattern;
}

bool Pattern::search(const std::string& text) const {
    if(literal_) {
        return std::search(text.begin(), text.end(), lowered_.begin(), lowered_.end(),
                           [](char a, char b) { return lower(a) == b; }) != text.end() ||
               lowered_.empty();
    }
    return compiled_->search(text).value_or(false);
}

}  // namespace devices
