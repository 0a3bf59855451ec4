#ifndef ZEBTRACE_LINE_FORMAT_H
#define ZEBTRACE_LINE_FORMAT_H

#include <cstdarg>
#include <string>
#include <string_view>

namespace zebtrace {

// One-letter mark of a level; a level between two defined ones takes the lower one's mark.
std::string_view level_mark(int level);

// printf-formats a message, cut to ZEBTRACE_MESSAGE_MAX bytes, with control characters escaped.
std::string format_message(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Where a line was written from.
struct SourcePlace {
    std::string_view function;
    std::string_view file;
    int line;
};

// "zone    - [m]message - function(file@line)".
std::string format_line(int level, std::string_view zone, std::string_view message, const SourcePlace& place);

// "zone    - >>>>>>>>>> - function(file@line)" (or the exit arrows).
std::string format_arrow_line(std::string_view zone, std::string_view arrows, const SourcePlace& place);

}  // namespace zebtrace

#endif
