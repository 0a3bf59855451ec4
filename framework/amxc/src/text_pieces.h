// Cutting a text into blank-trimmed pieces at a separator; shared by the
// string split and the text-to-list conversion so both agree exactly.
#pragma once

#include <cctype>
#include <string_view>

namespace amxc {

inline std::string_view trim_blanks(std::string_view text) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while(!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while(!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Calls `take(piece)` for each trimmed piece, in order, until it returns
// false. An empty or blank text has no piece; "a,,b" has three.
template<typename Take>
bool for_each_piece(std::string_view text, char separator, Take&& take) {
    if(trim_blanks(text).empty()) {
        return true;
    }
    for(;;) {
        size_t end = text.find(separator);
        if(!take(trim_blanks(text.substr(0, end)))) {
            return false;
        }
        if(end == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(end + 1);
    }
}

}  // namespace amxc
