// The C interface: arguments checked, exceptions stopped here, messages kept on the parser.
#include <algorithm>
#include <exception>
#include <new>
#include <vector>

#include <amxo/amxo.h>

#include "load.h"
#include "parser_state.h"

namespace {

void set_message(amxo_parser_t* parser, const char* text) {
    try {
        parser->message = text;
    } catch (...) {
        parser->message.clear();
    }
}

template <typename Run>
int load(amxo_parser_t* parser, amxd_object_t* root, const void* input, Run run) {
    if (parser == nullptr) {
        return -1;
    }
    parser->message.clear();
    if (input == nullptr || root == nullptr) {
        set_message(parser, "invalid argument");
        return -1;
    }
    if (parser->loading) {
        set_message(parser, "a load is already running on this parser");
        return -1;
    }
    parser->loading = true;
    int rc = -1;
    try {
        amxo::Load load(*parser, root);
        run(load);
        load.finish();
        rc = 0;
    } catch (const amxo::LoadError& e) {
        set_message(parser, e.what());
    } catch (const std::bad_alloc&) {
        set_message(parser, "out of memory");
    } catch (const std::exception& e) {
        set_message(parser, e.what());
    }
    parser->loading = false;
    return rc;
}

}  // namespace

extern "C" {

int amxo_parser_new(amxo_parser_t** parser) {
    if (parser == nullptr) {
        return -1;
    }
    *parser = new (std::nothrow) _amxo_parser();
    return *parser != nullptr ? 0 : -1;
}

void amxo_parser_delete(amxo_parser_t** parser) {
    if (parser == nullptr || *parser == nullptr) {
        return;
    }
    delete *parser;
    *parser = nullptr;
}

int amxo_parser_parse_file(amxo_parser_t* parser, const char* path, amxd_object_t* root) {
    return load(parser, root, path, [&](amxo::Load& l) { l.run_file(path); });
}

int amxo_parser_parse_string(amxo_parser_t* parser, const char* text, amxd_object_t* root) {
    return load(parser, root, text, [&](amxo::Load& l) { l.run_text(text); });
}

const char* amxo_parser_get_message(const amxo_parser_t* parser) {
    return parser != nullptr ? parser->message.c_str() : "";
}

amxc_var_t* amxo_parser_get_config(amxo_parser_t* parser, const char* path) {
    if (parser == nullptr || path == nullptr) {
        return nullptr;
    }
    return parser->config.get(path);
}

int amxo_parser_set_config(amxo_parser_t* parser, const char* path, amxc_var_t* value) {
    if (parser == nullptr || path == nullptr || value == nullptr || *path == '\0') {
        return -1;
    }
    try {
        return parser->config.set_override(path, value) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

int amxo_parser_invoke_entry_points(amxo_parser_t* parser, amxd_dm_t* dm, int reason) {
    if (parser == nullptr) {
        return -1;
    }
    // A copy: an entry point may load more files, which adds entry points.
    std::vector<amxo_entry_point_t> calls;
    try {
        calls = parser->entry_points;
    } catch (...) {
        return -1;
    }
    if (reason == 1) {
        std::reverse(calls.begin(), calls.end());
    }
    int failures = 0;
    for (amxo_entry_point_t fn : calls) {
        if (fn(reason, dm, parser) != 0) {
            ++failures;
        }
    }
    return failures;
}

int amxo_parser_confine(amxo_parser_t* parser) {
    if (parser == nullptr) {
        return -1;
    }
    parser->confined = true;
    return 0;
}

int amxo_parser_check_config_keys(amxo_parser_t* parser, amxo_config_key_check_t known, void* priv) {
    if (parser == nullptr) {
        return -1;
    }
    parser->known_key = known;
    parser->known_key_priv = priv;
    return 0;
}

int amxo_parser_add_import_dir(amxo_parser_t* parser, const char* dir) {
    if (parser == nullptr || dir == nullptr || *dir == '\0') {
        return -1;
    }
    try {
        parser->import_dirs.emplace_back(dir);
        return 0;
    } catch (...) {
        return -1;
    }
}

}  // extern "C"
