// The JSON reader on arbitrary bytes. Whatever it accepts must be written, read back to the
// same value and written again to the same text: the bus and _Import rely on that round trip.
#include <cstddef>
#include <cstdint>
#include <string>

#include <amxc/amxc_string.h>
#include <amxc/amxc_variant.h>
#include <amxj/amxj.h>

#include "fuzz_require.h"

namespace {

std::string written(const amxc_var_t* value, bool pretty) {
    amxc_string_t text;
    amxc_string_init(&text, 0);
    require(amxj_write(value, &text, pretty) == 0);  // the writer takes every value the reader made
    std::string out(amxc_string_get(&text, 0), amxc_string_text_length(&text));
    amxc_string_clean(&text);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    amxc_var_t value;
    amxc_var_t again;
    amxc_var_init(&value);
    amxc_var_init(&again);
    char error[128];
    if(amxj_read(&value, reinterpret_cast<const char*>(data), size, error, sizeof(error)) == 0) {
        for(const bool pretty : {false, true}) {
            const std::string text = written(&value, pretty);
            require(amxj_read(&again, text.data(), text.size(), error, sizeof(error)) == 0);  // readable
            int order = 1;
            // Read back as the same value.
            require(amxc_var_compare(&value, &again, &order) == 0 && order == 0 && written(&again, pretty) == text);
        }
    }
    amxc_var_clean(&again);
    amxc_var_clean(&value);
    return 0;
}
