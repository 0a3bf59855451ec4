#ifndef AMXP_EXPR_REGEX_H
#define AMXP_EXPR_REGEX_H

#include <memory>
#include <string>

#include <regex.h>

namespace amxp::expr {

// A compiled POSIX extended regular expression (match/no match only). Compiled once when the
// expression is built; matching does not change it.
class Regex {
public:
    enum class Match { yes, no, failed };

    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    // nullptr with `error` set when `pattern` does not compile.
    static std::unique_ptr<Regex> compile(const std::string& pattern, std::string& error);

    // `text` must be NUL-terminated.
    Match match(const char* text) const;

private:
    Regex() = default;
    regex_t compiled_{};
    bool compiled_ok_ = false;  // regfree only what regcomp built
};

}  // namespace amxp::expr

#endif
