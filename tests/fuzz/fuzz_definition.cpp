// The definition loader on arbitrary text, into a fresh data model each time. The parser is
// confined: the text reads no other file and imports only the loader's test module (which
// binds actions, events, methods and an entry point) from a folder holding nothing else.
#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <amxd/amxd_dm.h>
#include <amxo/amxo.h>
#include <amxp/amxp_loop.h>

#include "fuzz_require.h"
#include "../../framework/amxo/src/parser_state.h"  // the entry points a definition named

// The test module reports what it is called with; nothing to record here.
extern "C" void amxo_test_record(const char* /*line*/) {}

namespace {

amxo_entry_point_t module_entry = nullptr;

// The loader calls what a definition names as an entry point with an entry point's type, as a
// caller of dlsym() would: a function of another kind named there is undefined to call, and
// nothing a loader can tell from a symbol. The entry points run only when they are the module's.
bool names_only_the_module_entry(const amxo_parser_t* parser) {
    for(amxo_entry_point_t entry : parser->entry_points) {
        if(entry != module_entry) {
            return false;
        }
    }
    return true;
}

}  // namespace

// Kept loaded for the whole run, so that a parser unloading it never unmaps code whose
// coverage counters the fuzzer still reads.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    void* module = dlopen(FUZZ_TEST_MODULE_DIR "/test-module-a.so", RTLD_NOW);
    require(module != nullptr);
    module_entry = reinterpret_cast<amxo_entry_point_t>(dlsym(module, "_test_main"));
    require(module_entry != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    amxd_dm_t* dm = nullptr;
    amxo_parser_t* parser = nullptr;
    require(amxd_dm_new(&dm) == amxd_status_ok && amxo_parser_new(&parser) == 0 && amxo_parser_confine(parser) == 0 &&
            amxo_parser_add_import_dir(parser, FUZZ_TEST_MODULE_DIR) == 0);
    if(amxo_parser_parse_string(parser, text.c_str(), amxd_dm_get_root(dm)) == 0) {
        const bool entries = names_only_the_module_entry(parser);
        if(entries) {
            amxo_parser_invoke_entry_points(parser, dm, 0);
        }
        amxp_loop_run_pending();  // %populate events reach their handlers
        if(entries) {
            amxo_parser_invoke_entry_points(parser, dm, 1);
        }
    } else {
        require(*amxo_parser_get_message(parser) != '\0');  // a refusal must say why
    }
    amxd_dm_delete(&dm);
    amxo_parser_delete(&parser);
    amxp_loop_run_pending();
    return 0;
}
