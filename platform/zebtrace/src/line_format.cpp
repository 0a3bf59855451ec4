#include "line_format.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include <zebtrace/zebtrace.h>

namespace zebtrace {
namespace {

constexpr std::size_t zone_width = 7;
constexpr std::string_view cut_marker = "...";

void append_zone(std::string& out, std::string_view zone) {
    const std::string_view shown = zone.substr(0, zone_width);
    out.append(shown);
    out.append(zone_width - shown.size(), ' ');
}

void append_place(std::string& out, const SourcePlace& place) {
    out.append(" - ");
    out.append(place.function);
    out.push_back('(');
    out.append(place.file);
    out.push_back('@');
    out.append(std::to_string(place.line));
    out.push_back(')');
}

bool is_control(unsigned char c) {
    return (c < 0x20 && c != '\t') || c == 0x7f;
}

// One call must stay one line, whatever text a caller passes in: a newline in a client's value
// must not forge a second line.
std::string escape_controls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (!is_control(c)) {
            out.push_back(ch);
            continue;
        }
        std::array<char, 5> hex{};
        std::snprintf(hex.data(), hex.size(), "\\x%02x", c);
        out.append(hex.data(), 4);
    }
    return out;
}

}  // namespace

std::string_view level_mark(int level) {
    if (level >= TRACE_LEVEL_DEBUG) return "d";
    if (level >= TRACE_LEVEL_INFO) return "i";
    if (level >= TRACE_LEVEL_APP_INFO) return "I";
    if (level >= TRACE_LEVEL_NOTICE) return "n";
    if (level >= TRACE_LEVEL_WARNING) return "!";
    if (level >= TRACE_LEVEL_ERROR) return "x";
    return "X";
}

std::string format_message(const char* format, va_list args) {
    if (format == nullptr) return {};
    std::array<char, 1024> small{};
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small.data(), small.size(), format, args);
    std::string raw;
    if (needed < 0) {
        raw = "(unformattable message)";
    } else if (static_cast<std::size_t>(needed) < small.size()) {
        raw.assign(small.data(), static_cast<std::size_t>(needed));
    } else {
        const std::size_t kept = std::min<std::size_t>(static_cast<std::size_t>(needed), ZEBTRACE_MESSAGE_MAX);
        raw.resize(kept + 1);
        std::vsnprintf(raw.data(), raw.size(), format, again);
        raw.resize(kept);
        if (static_cast<std::size_t>(needed) > kept) {
            raw.replace(kept - cut_marker.size(), cut_marker.size(), cut_marker);
        }
    }
    va_end(again);
    return escape_controls(raw);
}

std::string format_line(int level, std::string_view zone, std::string_view message, const SourcePlace& place) {
    std::string out;
    out.reserve(zone_width + message.size() + place.function.size() + place.file.size() + 32);
    append_zone(out, zone);
    out.append(" - [");
    out.append(level_mark(level));
    out.push_back(']');
    out.append(message);
    append_place(out, place);
    return out;
}

std::string format_arrow_line(std::string_view zone, std::string_view arrows, const SourcePlace& place) {
    std::string out;
    append_zone(out, zone);
    out.append(" - ");
    out.append(arrows);
    append_place(out, place);
    return out;
}

}  // namespace zebtrace
