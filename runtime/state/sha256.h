// SHA-256 of a byte string, as lowercase hex: the checksum of the runtime's state file.
#pragma once

#include <string>
#include <string_view>

namespace gw {

std::string sha256_hex(std::string_view bytes);

}  // namespace gw
