#include "utf8.h"

namespace amxj {

namespace {

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0u) == 0x80u;
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view text) {
    if(text.empty()) {
        return 0;
    }
    const auto lead = static_cast<unsigned char>(text[0]);
    if(lead < 0x80u) {
        return 1;
    }
    std::size_t length = 0;
    std::uint32_t code_point = 0;
    std::uint32_t lowest = 0;
    if((lead & 0xE0u) == 0xC0u) {
        length = 2;
        code_point = lead & 0x1Fu;
        lowest = 0x80u;
    } else if((lead & 0xF0u) == 0xE0u) {
        length = 3;
        code_point = lead & 0x0Fu;
        lowest = 0x800u;
    } else if((lead & 0xF8u) == 0xF0u) {
        length = 4;
        code_point = lead & 0x07u;
        lowest = 0x10000u;
    } else {
        return 0;
    }
    if(text.size() < length) {
        return 0;
    }
    for(std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if(!is_continuation(byte)) {
            return 0;
        }
        code_point = (code_point << 6) | (byte & 0x3Fu);
    }
    const bool overlong = code_point < lowest;
    const bool surrogate = code_point >= 0xD800u && code_point <= 0xDFFFu;
    if(overlong || surrogate || code_point > 0x10FFFFu) {
        return 0;
    }
    return length;
}

bool utf8_is_valid(std::string_view text) {
    while(!text.empty()) {
        const std::size_t length = utf8_sequence_length(text);
        if(length == 0) {
            return false;
        }
        text.remove_prefix(length);
    }
    return true;
}

void utf8_append(std::string& out, std::uint32_t code_point) {
    if(code_point < 0x80u) {
        out.push_back(static_cast<char>(code_point));
    } else if(code_point < 0x800u) {
        out.push_back(static_cast<char>(0xC0u | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80u | (code_point & 0x3Fu)));
    } else if(code_point < 0x10000u) {
        out.push_back(static_cast<char>(0xE0u | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80u | ((code_point >> 6) & 0x3Fu)));
        out.push_back(static_cast<char>(0x80u | (code_point & 0x3Fu)));
    } else {
        out.push_back(static_cast<char>(0xF0u | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80u | ((code_point >> 12) & 0x3Fu)));
        out.push_back(static_cast<char>(0x80u | ((code_point >> 6) & 0x3Fu)));
        out.push_back(static_cast<char>(0x80u | (code_point & 0x3Fu)));
    }
}

}  // namespace amxj
