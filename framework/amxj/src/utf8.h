// UTF-8 checks shared by the reader and the writer, so that whatever one writes the other reads.
#ifndef AMXJ_UTF8_H
#define AMXJ_UTF8_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace amxj {

// Length (1 to 4) of the well-formed UTF-8 sequence at the start of `text`, or 0 when it is
// ill-formed: a stray continuation byte, an overlong form, a UTF-16 surrogate, a code point
// above U+10FFFF or a sequence cut short.
std::size_t utf8_sequence_length(std::string_view text);

// Whether all of `text` is well-formed UTF-8.
bool utf8_is_valid(std::string_view text);

// Appends the UTF-8 form of `code_point` (at most U+10FFFF, not a surrogate).
void utf8_append(std::string& out, std::uint32_t code_point);

}  // namespace amxj

#endif
