// A definition loaded into a data model of its own and served on the bus, as gwrt hosts each
// service and the main definitions: parsed (importing modules from `import_dir`), registered
// on a bus context, entry points run; undone in the reverse order.
#pragma once

#include <string>

#include <amxb/amxb.h>
#include <amxd/amxd.h>
#include <amxo/amxo.h>

namespace bench {

class HostedDefinition {
public:
    HostedDefinition(const char* definition, const char* import_dir) {
        amxd_dm_new(&dm_);
        amxo_parser_new(&parser_);
        amxo_parser_add_import_dir(parser_, import_dir);
        ok_ = amxo_parser_parse_file(parser_, definition, amxd_dm_get_root(dm_)) == 0 &&
              amxb_register_dm(&ctx_, dm_) == 0 && amxo_parser_invoke_entry_points(parser_, dm_, 0) == 0;
    }
    ~HostedDefinition() {
        amxo_parser_invoke_entry_points(parser_, dm_, 1);
        amxb_free(&ctx_);
        amxd_dm_delete(&dm_);
        amxo_parser_delete(&parser_);
    }
    HostedDefinition(const HostedDefinition&) = delete;
    HostedDefinition& operator=(const HostedDefinition&) = delete;

    bool ok() const { return ok_; }
    amxd_dm_t* dm() const { return dm_; }
    amxb_bus_ctx_t* ctx() const { return ctx_; }

private:
    amxd_dm_t* dm_ = nullptr;
    amxo_parser_t* parser_ = nullptr;
    amxb_bus_ctx_t* ctx_ = nullptr;
    bool ok_ = false;
};

}  // namespace bench
