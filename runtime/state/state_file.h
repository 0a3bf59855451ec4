// The runtime's state file: what it saved of a data model, in an envelope that says which
// format it is and carries a checksum, so that a torn or damaged file is told from a good one.
//
// File (JSON text):
//   {"format": "gwrt-state", "version": 2, "sha256": "<64 hex>", "state": STATE}
// STATE is {"instances": {TEMPLATE-PATH: {"<index>": "<name>", ...}, ...}, "export": TREE}:
// TREE is what the configured export function returned; "instances" gives, per template path
// (indexed, without trailing dot), each instance's index and name ("" for an unnamed one).
// Version 1, still read, had "indices": {TEMPLATE-PATH: [index, ...]} (ascending) instead.
// "sha256" is the SHA-256 of STATE written as compact JSON (members in file order), so the
// check does not depend on layout.
#pragma once

#include <amxc/amxc_variant.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gw {

// Largest state file read.
constexpr std::size_t kMaxStateFileSize = 64u * 1024u * 1024u;

// The index a key of "instances" stands for: decimal, no leading zero, 1 .. UINT32_MAX.
std::optional<std::uint32_t> saved_index_key(std::string_view key);

// The file text for `state` (a table {"instances", "counters", "export"}); "" when it cannot be written
// (not valid UTF-8, nested too deep). `digest`, when given, receives its "sha256": the text
// follows from it, so it tells two files written by this version apart as their bytes would.
std::string encode_state_file(const amxc_var_t* state, std::string* digest = nullptr);

// Reads a state file's bytes. True with `state` replaced by the STATE table when the envelope,
// the checksum and the shape of STATE are all sound; otherwise false, `state` untouched and a
// one-line reason in `error`. Never trusts the input: any bytes may be given. `written_digest`,
// when given, receives the checksum of a sound file laid out exactly as encode_state_file()
// writes it, and "" for any other.
bool decode_state_file(std::string_view bytes, amxc_var_t* state, std::string& error,
                       std::string* written_digest = nullptr);

}  // namespace gw
