/* Regular expressions from clients and from the data model (C++ only): filter expressions and
 * the device map's queries. Matching takes time linear in the text and memory bounded per
 * pattern, so no pattern, however hostile, can stall the loop. */
#ifndef AMXP_AMXP_REGEX_H
#define AMXP_AMXP_REGEX_H

#ifdef __cplusplus

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace re2 {
class RE2;
}

namespace amxp {

#pragma GCC visibility push(default) /* the library hides all but its API */

inline constexpr std::size_t kRegexMaxPattern = 1024;  // bytes of a pattern
inline constexpr long kRegexMaxMemory = 256L << 10;    // compiled program and match cache
// When its cache is full the engine steps through every instruction of the program for each
// byte of the text: a search costs at most text bytes x program size, and is refused above
// this (some 50 ms; a host name against a 2000-instruction pattern is far below it).
inline constexpr std::size_t kRegexMaxSteps = std::size_t{1} << 22;

// A POSIX extended regular expression searched anywhere in a text. `^` and `$` anchor at the
// ends of the text only, `.` matches a newline, and `\w \s \b` work as with the GNU engine.
// Bytes are characters. Back-references and bounds above 1000 are refused.
class Regex {
public:
    enum class Case { sensitive, insensitive };

    // nullptr with `error` set to why the pattern is refused.
    static std::unique_ptr<Regex> compile(std::string_view pattern, Case letters, std::string& error);

    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    // Whether the pattern occurs in `text`; nullopt when the search would cost more than
    // kRegexMaxSteps.
    std::optional<bool> search(std::string_view text) const;

private:
    explicit Regex(std::unique_ptr<re2::RE2> compiled);
    std::unique_ptr<re2::RE2> compiled_;
    std::size_t longest_text_;  // kRegexMaxSteps / program size
};

#pragma GCC visibility pop

}  // namespace amxp

#endif

#endif
