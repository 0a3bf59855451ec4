// The runtime's state file reader on arbitrary bytes, and on states that pass the checksum: the
// input read as JSON is sealed as a state file first, so that the shape checks behind the
// checksum are reached too. Whatever is accepted must seal and read back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <amxc/amxc_scoped_var.h>
#include <amxc/amxc_variant.h>
#include <amxj/amxj.h>

#include "fuzz_require.h"
#include "state_file.h"

namespace {

// A state the reader accepted is written again and must be read back unchanged.
void expect_round_trip(const amxc_var_t* state) {
    if(amxc_var_get_key(state, "indices", AMXC_VAR_FLAG_DEFAULT) != nullptr) {
        return;  // the older shape is read, never written: gwrt saves what it builds anew
    }
    const std::string sealed = gw::encode_state_file(state);
    if(sealed.empty()) {
        return;  // not writable (the encoder says why to its caller)
    }
    amxc::ScopedVar again;
    std::string error;
    require(gw::decode_state_file(sealed, again.get(), error) && gw::encode_state_file(again.get()) == sealed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    {
        amxc::ScopedVar state;
        if(gw::decode_state_file(bytes, state.get(), error)) {
            expect_round_trip(state.get());
        }
    }
    amxc::ScopedVar candidate;
    char reason[128];
    if(amxj_read(candidate.get(), bytes.data(), bytes.size(), reason, sizeof(reason)) != 0 ||
       amxc_var_type_of(candidate.get()) != AMXC_VAR_ID_HTABLE) {
        return 0;
    }
    const std::string sealed = gw::encode_state_file(candidate.get());
    amxc::ScopedVar state;
    if(!sealed.empty() && gw::decode_state_file(sealed, state.get(), error)) {
        expect_round_trip(state.get());
    }
    return 0;
}
