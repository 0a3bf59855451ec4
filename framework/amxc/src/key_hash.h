// Hash of a table key.
#pragma once

#include <cstdint>
#include <string_view>

namespace amxc {

// FNV-1a with a final avalanche, so that the low bits used to pick a bucket
// depend on every byte of the key.
std::uint64_t key_hash(std::string_view key) noexcept;

}  // namespace amxc
