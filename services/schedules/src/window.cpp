#include "window.h"

#include <array>

namespace schedules {
namespace {

constexpr std::array<std::string_view, 7> kDayNames = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

bool starts_on(std::uint8_t days, int weekday) { return (days >> weekday & 1U) != 0; }

}  // namespace

bool Window::covers(int weekday, int second_of_day) const {
    const int start_s = start * 60;
    const int end_s = end * 60;
    const int yesterday = (weekday + 6) % 7;
    if (!overnight()) {
        return starts_on(days, weekday) && second_of_day >= start_s && second_of_day < end_s;
    }
    return (starts_on(days, weekday) && second_of_day >= start_s) ||
           (starts_on(days, yesterday) && second_of_day < end_s);
}

std::optional<std::uint8_t> parse_days(std::string_view text, std::string& why) {
    std::uint8_t days = 0;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view name = text.substr(0, comma);
        int found = -1;
        for (int i = 0; i < 7; ++i) {
            if (name == kDayNames[i]) {
                found = i;
            }
        }
        if (found < 0) {
            why = "'" + std::string(name.substr(0, 16)) + "' is not one of Mon,Tue,Wed,Thu,Fri,Sat,Sun";
            return std::nullopt;
        }
        if (starts_on(days, found)) {
            why = std::string(name) + " is listed twice";
            return std::nullopt;
        }
        days = static_cast<std::uint8_t>(days | 1U << found);
        if (comma == std::string_view::npos) {
            return days;
        }
        text.remove_prefix(comma + 1);
    }
}

std::optional<int> parse_time(std::string_view text, std::string& why) {
    auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -100; };
    if (text.size() == 5 && text[2] == ':') {
        const int hours = digit(0) * 10 + digit(1);
        const int minutes = digit(3) * 10 + digit(4);
        if (hours >= 0 && hours < 24 && minutes >= 0 && minutes < 60) {
            return hours * 60 + minutes;
        }
    }
    why = "'" + std::string(text.substr(0, 16)) + "' is not a time HH:MM (00:00-23:59)";
    return std::nullopt;
}

}  // namespace schedules
