#include "config.h"

#include <cstdlib>
#include <vector>

#include "limits.h"

namespace amxo {
namespace {

void merge_into(amxc_var_t* table, const std::string& key, const amxc_var_t* value) {
    amxc_var_t* current = amxc_var_get_key(table, key.c_str(), AMXC_VAR_FLAG_DEFAULT);
    if (current != nullptr && amxc_var_type_of(current) == AMXC_VAR_ID_HTABLE &&
        amxc_var_type_of(value) == AMXC_VAR_ID_HTABLE) {
        amxc_var_for_each(member, value) {
            merge_into(current, amxc_var_key(member), member);
        }
        return;
    }
    if (amxc_var_set_key(table, key.c_str(), const_cast<amxc_var_t*>(value),
                         AMXC_VAR_FLAG_COPY | AMXC_VAR_FLAG_UPDATE) != 0) {
        throw std::bad_alloc();
    }
}

std::vector<std::string> split_path(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = path.find('.', start);
        parts.emplace_back(path.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) {
            return parts;
        }
        start = dot + 1;
    }
}

}  // namespace

Config::Config()
    : file_values_(new_var(AMXC_VAR_ID_HTABLE)),
      overrides_(new_var(AMXC_VAR_ID_HTABLE)),
      effective_(new_var(AMXC_VAR_ID_HTABLE)) {}

Config::Config(const Config& other)
    : file_values_(copy_var(other.file_values_.get())),
      overrides_(copy_var(other.overrides_.get())),
      effective_(copy_var(other.effective_.get())) {}

amxc_var_t* Config::get(std::string_view path) const {
    if (path.empty()) {
        return effective_.get();
    }
    return amxc_var_get_path(effective_.get(), std::string(path).c_str(), AMXC_VAR_FLAG_DEFAULT);
}

void Config::merge_file_value(const std::string& key, const amxc_var_t* value) {
    merge_into(file_values_.get(), key, value);
    refresh(key);
}

bool Config::set_override(std::string_view path, const amxc_var_t* value) {
    const std::vector<std::string> parts = split_path(path);
    // Merging walks tables recursively: keep outside values as shallow as file values.
    if (parts.size() > static_cast<std::size_t>(kMaxNesting)) {
        return false;
    }
    amxc_var_t* table = overrides_.get();
    for (const std::string& part : parts) {
        if (part.empty()) {
            return false;
        }
    }
    // Check the whole walk before changing anything, so a refused path leaves no new tables.
    for (std::size_t i = 0; i + 1 < parts.size() && table != nullptr; ++i) {
        amxc_var_t* next = amxc_var_get_key(table, parts[i].c_str(), AMXC_VAR_FLAG_DEFAULT);
        if (next != nullptr && amxc_var_type_of(next) != AMXC_VAR_ID_HTABLE) {
            return false;
        }
        table = next;
    }
    table = overrides_.get();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        amxc_var_t* next = amxc_var_get_key(table, parts[i].c_str(), AMXC_VAR_FLAG_DEFAULT);
        if (next == nullptr) {
            next = amxc_var_add_new_key_htable(table, parts[i].c_str());
            if (next == nullptr) {
                throw std::bad_alloc();
            }
        }
        table = next;
    }
    if (amxc_var_set_key(table, parts.back().c_str(), const_cast<amxc_var_t*>(value),
                         AMXC_VAR_FLAG_COPY | AMXC_VAR_FLAG_UPDATE) != 0) {
        throw std::bad_alloc();
    }
    refresh(parts.front());
    return true;
}

// Recomputes one top-level key of the merged table: the file value overlaid with the outside
// value. Only that key is copied, so a section of many entries stays linear.
void Config::refresh(const std::string& key) {
    const amxc_var_t* file = amxc_var_get_key(file_values_.get(), key.c_str(), AMXC_VAR_FLAG_DEFAULT);
    const amxc_var_t* outside = amxc_var_get_key(overrides_.get(), key.c_str(), AMXC_VAR_FLAG_DEFAULT);
    if (file == nullptr && outside == nullptr) {
        return;
    }
    VarPtr merged = new_var(AMXC_VAR_ID_HTABLE);
    if (file != nullptr) {
        merge_into(merged.get(), key, file);
    }
    if (outside != nullptr) {
        merge_into(merged.get(), key, outside);
    }
    amxc_var_t* value = amxc_var_take_it(amxc_var_get_key(merged.get(), key.c_str(), AMXC_VAR_FLAG_DEFAULT));
    if (amxc_var_set_key(effective_.get(), key.c_str(), value, AMXC_VAR_FLAG_UPDATE) != 0) {
        amxc_var_delete(&value);
        throw std::bad_alloc();
    }
}

std::string Config::expand(const Text& text, const Location& where) const {
    std::string out;
    for (const TextPiece& piece : text) {
        if (!piece.is_reference) {
            out += piece.text;
        } else {
            const amxc_var_t* value = get(piece.text);
            if (value == nullptr) {
                fail(where, "unknown configuration value '${" + piece.text + "}'");
            }
            const uint32_t type = amxc_var_type_of(value);
            if (type == AMXC_VAR_ID_LIST || type == AMXC_VAR_ID_HTABLE) {
                fail(where, "configuration value '${" + piece.text + "}' is not a text");
            }
            char* s = amxc_var_get_cstring_t(value);
            if (s == nullptr) {
                throw std::bad_alloc();
            }
            out += s;
            std::free(s);
        }
        if (out.size() > kMaxExpandedLength) {
            fail(where, "text longer than " + std::to_string(kMaxExpandedLength) + " bytes after expansion");
        }
    }
    return out;
}

void Config::swap(Config& other) noexcept {
    file_values_.swap(other.file_values_);
    overrides_.swap(other.overrides_);
    effective_.swap(other.effective_);
}

}  // namespace amxo
