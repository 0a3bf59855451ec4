// The parser's configuration: the values of %config sections and the values set from outside
// (amxo_parser_set_config), which win over file values whatever the order they come in.
#pragma once

#include <string>
#include <string_view>

#include "load_error.h"
#include "token.h"
#include "var.h"

namespace amxo {

class Config {
public:
    Config();
    Config(const Config& other);
    Config& operator=(const Config&) = delete;

    // The merged table (file values overlaid with outside values). Borrowed; changes when a
    // value is merged or set.
    amxc_var_t* table() const { return effective_.get(); }

    // The value at a dotted path ("" is the whole table); NULL when absent.
    amxc_var_t* get(std::string_view path) const;

    // Merges one file value under `key`: tables merge member by member, anything else replaces.
    void merge_file_value(const std::string& key, const amxc_var_t* value);

    // Sets an outside value at a dotted path, creating tables on the way. False (nothing
    // changed) when the path is empty, has an empty component or more than kMaxNesting
    // components, or runs through a value that is not a table.
    bool set_override(std::string_view path, const amxc_var_t* value);

    // Replaces ${path} references by the texts of configuration values. Throws LoadError at
    // `where` for an unknown path, a value that is a list or table, or a result longer than
    // kMaxExpandedLength.
    std::string expand(const Text& text, const Location& where) const;

    void swap(Config& other) noexcept;

private:
    void refresh(const std::string& key);

    VarPtr file_values_;
    VarPtr overrides_;
    VarPtr effective_;
};

}  // namespace amxo
