#include "state_file.h"

#include <amxc/amxc_string.h>
#include <amxj/amxj.h>

#include <cstdint>

#include <amxc/amxc_scoped_var.h>
#include "sha256.h"

namespace gw {
namespace {

constexpr const char* kFormat = "gwrt-state";
constexpr std::int64_t kVersion = 2;
constexpr std::int64_t kOldestVersion = 1;  // "indices" as ordered lists; still read

class ScopedText {
public:
    ScopedText() { amxc_string_init(&text_, 0); }
    ~ScopedText() { amxc_string_clean(&text_); }
    ScopedText(const ScopedText&) = delete;
    ScopedText& operator=(const ScopedText&) = delete;
    amxc_string_t* get() { return &text_; }
    std::string str() const { return std::string(amxc_string_get(&text_, 0), amxc_string_text_length(&text_)); }

private:
    amxc_string_t text_;
};

bool compact_json(const amxc_var_t* var, std::string& out) {
    ScopedText text;
    if (amxj_write(var, text.get(), false) != 0) {
        return false;
    }
    out = text.str();
    return true;
}

bool is_hex_digest(const char* text) {
    if (text == nullptr || std::string_view(text).size() != 64) {
        return false;
    }
    for (const char* c = text; *c != '\0'; ++c) {
        if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// An index as JSON gives it back: a positive integer that fits 32 bits.
bool index_of(const amxc_var_t* value, std::uint32_t& index) {
    std::int64_t number = 0;
    switch (amxc_var_type_of(value)) {
    case AMXC_VAR_ID_INT64:
        number = amxc_var_get_const_int64_t(value);
        break;
    case AMXC_VAR_ID_UINT32:
        number = amxc_var_get_const_uint32_t(value);
        break;
    default:
        return false;
    }
    if (number < 1 || number > UINT32_MAX) {
        return false;
    }
    index = static_cast<std::uint32_t>(number);
    return true;
}

// Version 1: {TEMPLATE: [index, ...]}, ascending.
bool check_index_lists(const amxc_var_t* indices, std::string& error) {
    if (amxc_var_type_of(indices) != AMXC_VAR_ID_HTABLE) {
        error = "\"indices\" is not an object";
        return false;
    }
    amxc_var_for_each(list, indices) {
        if (amxc_var_type_of(list) != AMXC_VAR_ID_LIST) {
            error = std::string("indices of ") + amxc_var_key(list) + " are not a list";
            return false;
        }
        std::uint32_t previous = 0;
        amxc_var_for_each(item, list) {
            std::uint32_t index = 0;
            if (!index_of(item, index) || index <= previous) {
                error = std::string("indices of ") + amxc_var_key(list) + " are not ascending positive 32-bit integers";
                return false;
            }
            previous = index;
        }
    }
    return true;
}

// Version 2, optional: {TEMPLATE: highest index it ever gave}.
bool check_counters(const amxc_var_t* counters, std::string& error) {
    if (counters == nullptr) {
        return true;  // written by later saves only
    }
    if (amxc_var_type_of(counters) != AMXC_VAR_ID_HTABLE) {
        error = "\"counters\" is not an object";
        return false;
    }
    amxc_var_for_each(counter, counters) {
        std::uint32_t index = 0;
        if (!index_of(counter, index)) {
            error = std::string("the counter of ") + amxc_var_key(counter) + " is not a positive 32-bit integer";
            return false;
        }
    }
    return true;
}

// Version 2: {TEMPLATE: {"<index>": "<name>" ("" for none)}}; keyed by index, so two instances
// can never share an entry.
bool check_instance_tables(const amxc_var_t* instances, std::string& error) {
    if (amxc_var_type_of(instances) != AMXC_VAR_ID_HTABLE) {
        error = "\"instances\" is not an object";
        return false;
    }
    amxc_var_for_each(table, instances) {
        if (amxc_var_type_of(table) != AMXC_VAR_ID_HTABLE) {
            error = std::string("instances of ") + amxc_var_key(table) + " are not an object";
            return false;
        }
        amxc_var_for_each(name, table) {
            if (!saved_index_key(amxc_var_key(name)) || amxc_var_type_of(name) != AMXC_VAR_ID_CSTRING) {
                error = std::string("instances of ") + amxc_var_key(table) + " are not index: name pairs";
                return false;
            }
        }
    }
    return true;
}

bool check_state(const amxc_var_t* state, std::int64_t version, std::string& error) {
    if (amxc_var_type_of(state) != AMXC_VAR_ID_HTABLE) {
        error = "\"state\" is not an object";
        return false;
    }
    if (amxc_var_type_of(amxc_var_get_key(state, "export", AMXC_VAR_FLAG_DEFAULT)) != AMXC_VAR_ID_HTABLE) {
        error = "\"state\" has no \"export\" object";
        return false;
    }
    return version == kOldestVersion
               ? check_index_lists(amxc_var_get_key(state, "indices", AMXC_VAR_FLAG_DEFAULT), error)
               : check_instance_tables(amxc_var_get_key(state, "instances", AMXC_VAR_FLAG_DEFAULT), error) &&
                     check_counters(amxc_var_get_key(state, "counters", AMXC_VAR_FLAG_DEFAULT), error);
}

// What encode_state_file() writes before the state and after it.
std::string file_head(std::string_view digest) {
    return std::string("{\"format\":\"") + kFormat + "\",\"version\":" + std::to_string(kVersion) + ",\"sha256\":\"" +
           std::string(digest) + "\",\"state\":";
}
constexpr std::string_view kFileTail = "}\n";

// The state's bytes in a file laid out as encode_state_file() writes it, "" in any other.
std::string_view written_state(std::string_view bytes, std::string_view digest) {
    const std::string head = file_head(digest);
    const std::string_view tail = kFileTail;
    if (!bytes.starts_with(head) || !bytes.ends_with(tail) || bytes.size() < head.size() + tail.size()) {
        return {};
    }
    return bytes.substr(head.size(), bytes.size() - head.size() - tail.size());
}

}  // namespace

std::optional<std::uint32_t> saved_index_key(std::string_view key) {
    if (key.empty() || key.size() > 10 || key.front() == '0' ||
        key.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    std::uint64_t value = std::stoull(std::string(key));
    return value <= UINT32_MAX ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(value)) : std::nullopt;
}

std::string encode_state_file(const amxc_var_t* state, std::string* digest) {
    std::string compact;
    if (!compact_json(state, compact)) {
        return "";
    }
    // The state is spliced in as written, so the checksum covers exactly these bytes.
    std::string sum = sha256_hex(compact);
    std::string file = file_head(sum) + compact + std::string(kFileTail);
    if (digest != nullptr) {
        *digest = std::move(sum);
    }
    return file;
}

bool decode_state_file(std::string_view bytes, amxc_var_t* state, std::string& error, std::string* written_digest) {
    if (bytes.size() > kMaxStateFileSize) {
        error = "larger than " + std::to_string(kMaxStateFileSize) + " bytes";
        return false;
    }
    if (bytes.empty()) {
        error = "empty";
        return false;
    }
    amxc::ScopedVar file;
    char why[128] = "";
    if (amxj_read(file.get(), bytes.data(), bytes.size(), why, sizeof(why)) != 0) {
        error = std::string("not JSON (") + why + ")";
        return false;
    }
    const amxc_var_t* format = amxc_var_get_key(file.get(), "format", AMXC_VAR_FLAG_DEFAULT);
    const amxc_var_t* version = amxc_var_get_key(file.get(), "version", AMXC_VAR_FLAG_DEFAULT);
    const amxc_var_t* digest = amxc_var_get_key(file.get(), "sha256", AMXC_VAR_FLAG_DEFAULT);
    amxc_var_t* content = amxc_var_get_key(file.get(), "state", AMXC_VAR_FLAG_DEFAULT);
    if (amxc_var_type_of(file.get()) != AMXC_VAR_ID_HTABLE || amxc_var_get_const_cstring_t(format) == nullptr ||
        std::string_view(amxc_var_get_const_cstring_t(format)) != kFormat) {
        error = "not a gwrt state file";
        return false;
    }
    if (amxc_var_type_of(version) != AMXC_VAR_ID_INT64 || amxc_var_get_const_int64_t(version) < kOldestVersion ||
        amxc_var_get_const_int64_t(version) > kVersion) {
        error = "unsupported version (this gwrt reads versions " + std::to_string(kOldestVersion) + " to " +
                std::to_string(kVersion) + ")";
        return false;
    }
    if (!is_hex_digest(amxc_var_get_const_cstring_t(digest)) || content == nullptr) {
        error = "no checksum or no state";
        return false;
    }
    // A file as encode_state_file() writes it holds the state's bytes as they were hashed, so
    // hashing them spares encoding a large tree again; any other layout (a file formatted by
    // hand) is checked on the state encoded anew.
    const std::string_view written = written_state(bytes, amxc_var_get_const_cstring_t(digest));
    const bool as_written = !written.empty() && sha256_hex(written) == amxc_var_get_const_cstring_t(digest);
    std::string compact;
    if (!as_written &&
        (!compact_json(content, compact) || sha256_hex(compact) != amxc_var_get_const_cstring_t(digest))) {
        error = "checksum mismatch";
        return false;
    }
    if (!check_state(content, amxc_var_get_const_int64_t(version), error)) {
        return false;
    }
    if (written_digest != nullptr) {
        *written_digest = as_written ? amxc_var_get_const_cstring_t(digest) : "";
    }
    amxc_var_move(state, content);
    return true;
}

}  // namespace gw
