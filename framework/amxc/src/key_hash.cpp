#include "key_hash.h"

namespace amxc {

std::uint64_t key_hash(std::string_view key) noexcept {
    std::uint64_t hash = 14695981039346656037ULL;
    for(unsigned char c : key) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 33;
    return hash;
}

}  // namespace amxc
