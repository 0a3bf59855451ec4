#include "sha256.h"

#include <array>
#include <cstdint>

#include <nettle/sha2.h>

namespace gw {

// Nettle's: it uses the processor's SHA instructions where there are some, five times the speed
// of portable code on a state file of megabytes read and written at every restart.
std::string sha256_hex(std::string_view bytes) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest {};
    sha256_digest(&context, digest.size(), digest.data());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * digest.size());
    for (std::uint8_t byte : digest) {
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
    return out;
}

}  // namespace gw
