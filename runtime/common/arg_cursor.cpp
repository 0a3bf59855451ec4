#include "arg_cursor.h"

namespace gw {

ArgCursor::Match ArgCursor::take_option(std::string_view name, std::string& value) {
    std::string_view word = peek();
    if (!word.starts_with(name)) {
        return Match::no;
    }
    std::string_view rest = word.substr(name.size());
    if (rest.empty()) {
        ++pos_;
        if (done()) {
            return Match::missing_value;
        }
        value = next();
        return Match::yes;
    }
    if (rest.front() != '=') {
        return Match::no;  // a longer option that merely shares the prefix
    }
    ++pos_;
    value = rest.substr(1);
    return Match::yes;
}

bool ArgCursor::take_flag(std::string_view name) {
    if (done() || peek() != name) {
        return false;
    }
    ++pos_;
    return true;
}

bool ArgCursor::at_option() const {
    std::string_view word = peek();
    return word.size() > 1 && word.front() == '-';
}

}  // namespace gw
