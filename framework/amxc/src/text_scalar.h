// Strict conversions between text and scalars: a text either holds the
// whole value or the conversion fails; nothing is ever read as a silent 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace amxc {

// "true", "1", "yes", "on" / "false", "0", "no", "off", any case, with
// surrounding blanks.
std::optional<bool> parse_bool(std::string_view text) noexcept;

// Decimal with optional sign and surrounding blanks. Signed values come back
// as int64, unsigned ones as uint64 ("-" refused, "+" allowed).
std::optional<std::int64_t> parse_int64(std::string_view text) noexcept;
std::optional<std::uint64_t> parse_uint64(std::string_view text) noexcept;

// Enough for any 64-bit value in decimal plus terminator.
constexpr std::size_t number_text_size = 24;

// Writes the decimal text of a value into `out` (NUL-terminated).
void format_int64(std::int64_t value, char (&out)[number_text_size]) noexcept;
void format_uint64(std::uint64_t value, char (&out)[number_text_size]) noexcept;

}  // namespace amxc
