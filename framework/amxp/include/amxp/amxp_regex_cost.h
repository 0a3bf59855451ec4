/* Refusal of regular expressions that would stall the engine (C++ only). Filter expressions
 * and the device map's queries take patterns from any bus client; both check them here first. */
#ifndef AMXP_AMXP_REGEX_COST_H
#define AMXP_AMXP_REGEX_COST_H

#ifdef __cplusplus

#include <cstddef>
#include <string>
#include <string_view>

namespace amxp {

// The engine copies a bounded repetition once per repeat (and the atom of a '+' once) while
// compiling, and back-references make matching exponential.
inline constexpr std::size_t kRegexMaxExpansion = 1024;  // sum of (size x repeat count) of bounded repeats
inline constexpr unsigned kRegexMaxRepeat = 255;         // largest {m,n} bound

// Why a POSIX extended pattern is refused, or "" when its compilation is affordable.
std::string regex_cost_refusal(std::string_view pattern);

}  // namespace amxp

#endif

#endif
