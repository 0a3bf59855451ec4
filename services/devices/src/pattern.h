// A regular expression of a query ("matches"), compiled once and run on device texts.
#ifndef DEVICES_PATTERN_H
#define DEVICES_PATTERN_H

#include <amxp/amxp_regex.h>

#include <memory>
#include <string>
#include <string_view>

namespace devices {

// POSIX extended regular expression, case-insensitive (MAC addresses and names are written in
// either case), searched anywhere in the text. Not copyable: it owns the compiled form.
class Pattern {
public:
    // The compiled pattern, or nullptr with `error` set to why it is refused.
    static std::unique_ptr<Pattern> compile(const std::string& text, std::string& error);

    // Whether the pattern occurs in `text`. A text too long to search counts as no match.
    bool search(const std::string& text) const;

private:
    Pattern() = default;

    std::unique_ptr<amxp::Regex> compiled_;
    // A pattern of plain ASCII characters (a MAC address, a host name) is searched for
    // directly, in lower case: the same answer as the engine's, without it.
    bool literal_ = false;
    std::string lowered_;
};

}  // namespace devices

#endif  // DEVICES_PATTERN_H
