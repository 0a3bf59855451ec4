// Errors of a definition load: every one carries the place in the input it is about, and reads
// "file.def:LINE: what" once formatted.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace amxo {

// A place in a definition file (line 0: the file as a whole). The file name is shared by
// every token of the file.
struct Location {
    std::shared_ptr<const std::string> file;
    unsigned line = 0;
};

class LoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void fail(const Location& where, std::string_view what) {
    std::string message = where.file ? *where.file : std::string("<input>");
    if (where.line != 0) {
        message += ':';
        message += std::to_string(where.line);
    }
    message += ": ";
    message += what;
    throw LoadError(message);
}

}  // namespace amxo
