// What a parser keeps between loads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <amxo/amxo.h>

#include "config.h"
#include "module.h"

struct _amxo_parser {
    amxo::Config config;
    std::vector<std::unique_ptr<amxo::Module>> modules;  // in import order
    std::vector<amxo_entry_point_t> entry_points;        // in load order
    std::vector<std::string> import_dirs;
    std::string message;
    bool loading = false;  // a load is running: a callback of it must not start another
    bool confined = false;  // no includes; imports by plain file name from import_dirs only
    amxo_config_key_check_t known_key = nullptr;  // NULL: every %config key is accepted
    void* known_key_priv = nullptr;

    ~_amxo_parser() {
        while (!modules.empty()) {
            modules.pop_back();  // last imported first: it may use an earlier one
        }
    }
};
