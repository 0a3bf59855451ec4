#include "text_scalar.h"

#include <array>
#include <cctype>
#include <charconv>

#include "text_pieces.h"

namespace amxc {
namespace {

bool equal_no_case(std::string_view a, std::string_view b) {
    if(a.size() != b.size()) {
        return false;
    }
    for(size_t i = 0; i < a.size(); ++i) {
        if(std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

template<typename T>
std::optional<T> parse_whole(std::string_view text) {
    T value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if(ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<bool> parse_bool(std::string_view text) noexcept {
    constexpr std::array<std::string_view, 4> yes{"true", "1", "yes", "on"};
    constexpr std::array<std::string_view, 4> no{"false", "0", "no", "off"};
    text = trim_blanks(text);
    for(std::string_view word : yes) {
        if(equal_no_case(text, word)) {
            return true;
        }
    }
    for(std::string_view word : no) {
        if(equal_no_case(text, word)) {
            return false;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> parse_int64(std::string_view text) noexcept {
    text = trim_blanks(text);
    // from_chars takes '-' but not '+'; a '+' must still be followed by a digit.
    if(text.size() > 1 && text.front() == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    return parse_whole<std::int64_t>(text);
}

std::optional<std::uint64_t> parse_uint64(std::string_view text) noexcept {
    text = trim_blanks(text);
    if(text.size() > 1 && text.front() == '+') {
        text.remove_prefix(1);
    }
    // from_chars for unsigned refuses '-' itself, so "-0" fails as well.
    return parse_whole<std::uint64_t>(text);
}

void format_int64(std::int64_t value, char (&out)[number_text_size]) noexcept {
    auto result = std::to_chars(out, out + number_text_size - 1, value);
    *result.ptr = '\0';
}

void format_uint64(std::uint64_t value, char (&out)[number_text_size]) noexcept {
    auto result = std::to_chars(out, out + number_text_size - 1, value);
    *result.ptr = '\0';
}

}  // namespace amxc
