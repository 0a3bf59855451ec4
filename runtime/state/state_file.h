// The runtime's state file: what it saved of a data model, in an envelope that says which
// format it is and carries a checksum, so that a torn or damaged file is told from a good one.
//
// File (JSON text):
//   {"format": "gwrt-state", "version": 1, "sha256": "<64 hex>", "state": STATE}
// STATE is {"indices": {TEMPLATE-PATH: [index, ...], ...}, "export": TREE}: TREE is what the
// configured export function returned; "indices" lists, per template path (indexed, without
// trailing dot), the indices its instances had, ascending. "sha256" is the SHA-256 of STATE
// written as compact JSON (members in file order), so the check does not depend on layout.
#pragma once

#include <amxc/amxc_variant.h>

#include <string>
#include <string_view>

namespace gw {

// Largest state file read.
constexpr std::size_t kMaxStateFileSize = 64u * 1024u * 1024u;

// The file text for `state` (a table {"indices", "export"}); "" when it cannot be written
// (not valid UTF-8, nested too deep).
std::string encode_state_file(const amxc_var_t* state);

// Reads a state file's bytes. True with `state` replaced by the STATE table when the envelope,
// the checksum and the shape of STATE are all sound; otherwise false, `state` untouched and a
// one-line reason in `error`. Never trusts the input: any bytes may be given.
bool decode_state_file(std::string_view bytes, amxc_var_t* state, std::string& error);

}  // namespace gw
