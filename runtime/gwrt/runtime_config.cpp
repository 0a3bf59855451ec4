#include "runtime_config.h"

#include <amxd/amxd.h>

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "default_paths.h"
#include "socket_path.h"

namespace gwrt {
namespace {

namespace fs = std::filesystem;

struct DmDeleter {
    void operator()(amxd_dm_t* dm) const { amxd_dm_delete(&dm); }
};
struct ParserDeleter {
    void operator()(amxo_parser_t* parser) const { amxo_parser_delete(&parser); }
};
using DmPtr = std::unique_ptr<amxd_dm_t, DmDeleter>;
using ParserPtr = std::unique_ptr<amxo_parser_t, ParserDeleter>;

std::string absolute_from(const fs::path& base, const std::string& path) {
    fs::path p(path);
    return (p.is_absolute() ? p : base / p).lexically_normal().string();
}

// Sets `path` of the parser's configuration to `text`.
bool set_text(amxo_parser_t* parser, const char* path, const std::string& text) {
    amxc_var_t value;
    amxc_var_init(&value);
    amxc_var_set_cstring_t(&value, text.c_str());
    int rc = amxo_parser_set_config(parser, path, &value);
    amxc_var_clean(&value);
    return rc == 0;
}

bool apply_overrides(amxo_parser_t* parser, const Options& overrides, std::string& error) {
    bool ok = true;
    if (overrides.socket) {
        ok = ok && set_text(parser, "socket", absolute_from(fs::current_path(), *overrides.socket));
    }
    if (overrides.firewall) {
        ok = ok && set_text(parser, "firewall.backend", *overrides.firewall);
    }
    if (overrides.trace) {
        ok = ok && set_text(parser, "trace", *overrides.trace);
    }
    if (overrides.prefix) {
        ok = ok && set_text(parser, "prefix_", *overrides.prefix);
    }
    if (!ok) {
        error = "cannot pass the command line to the definition loader";
    }
    return ok;
}

// Reads a text key; absent keeps `out`. False when present but not text.
bool read_text(amxo_parser_t* parser, const char* key, std::string& out) {
    const amxc_var_t* value = amxo_parser_get_config(parser, key);
    if (value == nullptr) {
        return true;
    }
    const char* text = amxc_var_get_const_cstring_t(value);
    if (text == nullptr) {
        return false;
    }
    out = text;
    return true;
}

// Reads a boolean; an absent key leaves `out` as it is, any other type is refused.
bool read_bool(amxo_parser_t* parser, const char* key, bool& out) {
    const amxc_var_t* value = amxo_parser_get_config(parser, key);
    if (value == nullptr) {
        return true;
    }
    if (amxc_var_type_of(value) != AMXC_VAR_ID_BOOL) {
        return false;
    }
    out = amxc_var_get_const_bool(value);
    return true;
}

// Reads a list of texts (a single text counts as a list of one); paths resolved against `base`.
bool read_paths(amxo_parser_t* parser, const char* key, const fs::path& base, std::vector<std::string>& out) {
    const amxc_var_t* value = amxo_parser_get_config(parser, key);
    if (value == nullptr) {
        return true;
    }
    if (amxc_var_get_const_cstring_t(value) != nullptr) {
        out.push_back(absolute_from(base, amxc_var_get_const_cstring_t(value)));
        return true;
    }
    if (amxc_var_type_of(value) != AMXC_VAR_ID_LIST) {
        return false;
    }
    amxc_var_for_each(item, value) {
        const char* text = amxc_var_get_const_cstring_t(item);
        if (text == nullptr || text[0] == '\0') {
            return false;
        }
        out.push_back(absolute_from(base, text));
    }
    return true;
}

// An integer of any width, when it lies in [min, max].
bool read_integer(const amxc_var_t* value, long long min, long long max, long long& out) {
    long long number = 0;
    switch (amxc_var_type_of(value)) {
    case AMXC_VAR_ID_INT32:
    case AMXC_VAR_ID_INT64:
        number = amxc_var_get_int64_t(value);
        break;
    case AMXC_VAR_ID_UINT32:
    case AMXC_VAR_ID_UINT64:
        if (amxc_var_get_uint64_t(value) > static_cast<unsigned long long>(LLONG_MAX)) {
            return false;
        }
        number = static_cast<long long>(amxc_var_get_uint64_t(value));
        break;
    default:
        return false;
    }
    if (number < min || number > max) {
        return false;
    }
    out = number;
    return true;
}

bool user_id(const char* name, uid_t& uid) {
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return false;
    }
    uid = found->pw_uid;
    return true;
}

bool read_socket_users(amxo_parser_t* parser, const std::string& file, std::vector<uid_t>& out, std::string& error) {
    const amxc_var_t* value = amxo_parser_get_config(parser, "socket-users");
    if (value == nullptr) {
        return true;
    }
    if (amxc_var_type_of(value) != AMXC_VAR_ID_LIST) {
        error = file + ": 'socket-users' must be a list of user names or uids";
        return false;
    }
    amxc_var_for_each(item, value) {
        const char* name = amxc_var_get_const_cstring_t(item);
        long long number = 0;
        uid_t uid = 0;
        if (name != nullptr && user_id(name, uid)) {
            out.push_back(uid);
        } else if (name == nullptr && read_integer(item, 0, UINT32_MAX - 1LL, number)) {
            out.push_back(static_cast<uid_t>(number));
        } else {
            error = file + ": 'socket-users': " + (name != nullptr ? "no user named '" + std::string(name) + "'" : "not a user name or uid");
            return false;
        }
    }
    return true;
}

bool read_socket_limits(amxo_parser_t* parser, const std::string& file, SocketLimits& limits, std::string& error) {
    struct Key {
        const char* name;
        unsigned int* target;
        long long min;
        long long max;
        const char* unit;
    };
    for (const Key& key : {Key {"socket-request-timeout", &limits.request_timeout_s, 1, 600, "seconds"},
                           Key {"socket-idle-timeout", &limits.idle_timeout_s, 0, 86400, "seconds (0: never)"},
                           Key {"socket-max-per-user", &limits.per_user, 1, 256, "connections"}}) {
        const amxc_var_t* value = amxo_parser_get_config(parser, key.name);
        long long number = 0;
        if (value == nullptr) {
            continue;
        }
        if (!read_integer(value, key.min, key.max, number)) {
            error = file + ": '" + key.name + "' must be a number of " + key.unit + " from " + std::to_string(key.min) + " to " +
                    std::to_string(key.max);
            return false;
        }
        *key.target = static_cast<unsigned int>(number);
    }
    return true;
}

bool read_state(amxo_parser_t* parser, const RuntimeConfig& config, StateConfig& state, std::string& error) {
    const fs::path base = fs::path(config.file).parent_path();
    const amxc_var_t* section = amxo_parser_get_config(parser, "state");
    if (section == nullptr) {
        if (config.overrides.state_dir) {
            error = "--state-dir: " + config.file + " has no 'state' section naming what to keep";
            return false;
        }
        return true;
    }
    const std::string where = config.file + ": 'state.";
    if (amxc_var_type_of(section) != AMXC_VAR_ID_HTABLE) {
        error = config.file + ": 'state' must be a table";
        return false;
    }
    state.enabled = true;
    for (auto [key, target] : {std::pair {"state.export", &state.export_path}, std::pair {"state.import", &state.import_path},
                               std::pair {"state.dir", &state.dir}}) {
        if (!read_text(parser, key, *target)) {
            error = config.file + ": '" + key + "' must be a text";
            return false;
        }
    }
    if (state.export_path.empty() || state.import_path.empty()) {
        error = where + "export' and 'state.import' name the methods that save and restore";
        return false;
    }
    state.dir = config.overrides.state_dir ? absolute_from(fs::current_path(), *config.overrides.state_dir)
                : state.dir.empty()        ? default_state_dir_for(geteuid(), std::getenv("XDG_STATE_HOME"), std::getenv("HOME"))
                                           : absolute_from(base, state.dir);
    const amxc_var_t* delay = amxc_var_get_key(section, "delay", AMXC_VAR_FLAG_DEFAULT);
    long long delay_ms = state.delay_ms;
    if (delay != nullptr && !read_integer(delay, 0, 60000, delay_ms)) {
        error = where + "delay' must be a number of milliseconds from 0 to 60000";
        return false;
    }
    state.delay_ms = static_cast<unsigned int>(delay_ms);
    const amxc_var_t* ignore = amxc_var_get_key(section, "ignore", AMXC_VAR_FLAG_DEFAULT);
    if (ignore != nullptr) {
        if (amxc_var_type_of(ignore) != AMXC_VAR_ID_LIST) {
            error = where + "ignore' must be a list of parameter names";
            return false;
        }
        amxc_var_for_each(item, ignore) {
            const char* name = amxc_var_get_const_cstring_t(item);
            if (name == nullptr || name[0] == '\0') {
                error = where + "ignore' must be a list of parameter names";
                return false;
            }
            state.ignored.insert(name);
        }
    }
    return true;
}

}  // namespace

std::string default_state_dir_for(uid_t uid, const char* xdg_state_home, const char* home) {
    if (uid == 0) {
        return "/var/lib/gwrt";
    }
    if (xdg_state_home != nullptr && xdg_state_home[0] == '/') {
        return std::string(xdg_state_home) + "/gwrt";
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/gwrt";
    }
    return "/tmp/gwrt-state-" + std::to_string(uid);
}

bool read_runtime_config(const Options& options, RuntimeConfig& config, std::string& error) {
    config = RuntimeConfig {};
    config.overrides = options;
    config.file = absolute_from(fs::current_path(), options.config.empty() ? default_config_file() : options.config);
    const fs::path base = fs::path(config.file).parent_path();

    amxo_parser_t* raw_parser = nullptr;
    amxd_dm_t* raw_dm = nullptr;
    if (amxo_parser_new(&raw_parser) != 0 || amxd_dm_new(&raw_dm) != amxd_status_ok) {
        amxo_parser_delete(&raw_parser);
        error = "out of memory";
        return false;
    }
    ParserPtr parser(raw_parser);
    DmPtr scratch(raw_dm);
    if (!apply_overrides(parser.get(), options, error)) {
        return false;
    }
    if (amxo_parser_parse_file(parser.get(), config.file.c_str(), amxd_dm_get_root(scratch.get())) != 0) {
        error = amxo_parser_get_message(parser.get());
        if (error.empty()) {
            error = config.file + ": cannot be loaded";
        }
        return false;
    }
    if (amxd_object_first_child(amxd_dm_get_root(scratch.get())) != nullptr) {
        error = config.file + ": a runtime configuration holds only %config { }";
        return false;
    }

    struct PathKey {
        const char* key;
        std::vector<std::string>* target;
    };
    for (const PathKey& k : {PathKey {"definitions", &config.definitions}, PathKey {"services", &config.services},
                             PathKey {"import-dirs", &config.import_dirs}}) {
        if (!read_paths(parser.get(), k.key, base, *k.target)) {
            error = config.file + ": '" + k.key + "' must be a list of non-empty texts";
            return false;
        }
    }
    struct TextKey {
        const char* key;
        std::string* target;
    };
    config.firewall_backend = "memory";
    for (const TextKey& k : {TextKey {"socket", &config.socket}, TextKey {"firewall.backend", &config.firewall_backend},
                             TextKey {"trace", &config.trace}, TextKey {"prefix_", &config.prefix}}) {
        if (!read_text(parser.get(), k.key, *k.target)) {
            error = config.file + ": '" + k.key + "' must be a text";
            return false;
        }
    }
    for (const auto& [key, target] : {std::pair {"firewall.jump", &config.firewall_jump},
                                      std::pair {"firewall.sets", &config.firewall_sets},
                                      std::pair {"firewall.cut_connections", &config.firewall_cut_connections}}) {
        if (!read_bool(parser.get(), key, *target)) {
            error = config.file + ": '" + key + "' must be true or false";
            return false;
        }
    }
    config.socket = config.socket.empty() ? gw::default_socket_path() : absolute_from(base, config.socket);
    if (!read_state(parser.get(), config, config.state, error) ||
        !read_socket_users(parser.get(), config.file, config.socket_users, error) ||
        !read_socket_limits(parser.get(), config.file, config.socket_limits, error)) {
        return false;
    }
    for (const std::string& dir : config.import_dirs) {
        if (!fs::is_directory(dir)) {
            error = config.file + ": import folder " + dir + " does not exist";
            return false;
        }
    }
    return true;
}

bool prepare_parser(amxo_parser_t* parser, const RuntimeConfig& config, std::string& error) {
    if (!apply_overrides(parser, config.overrides, error)) {
        return false;
    }
    std::vector<std::string> dirs = config.import_dirs;
    std::error_code ec;
    if (const std::string own = builtin_module_dir(); fs::is_directory(own, ec)) {
        dirs.emplace_back(own);
    }
    for (const std::string& dir : dirs) {
        if (amxo_parser_add_import_dir(parser, dir.c_str()) != 0) {
            error = "cannot search " + dir + " for modules";
            return false;
        }
    }
    // The file holds only %config (checked when it was read), so nothing lands in the tree.
    amxd_dm_t* raw_dm = nullptr;
    if (amxd_dm_new(&raw_dm) != amxd_status_ok) {
        error = "out of memory";
        return false;
    }
    DmPtr scratch(raw_dm);
    if (amxo_parser_parse_file(parser, config.file.c_str(), amxd_dm_get_root(scratch.get())) != 0) {
        error = amxo_parser_get_message(parser);
        return false;
    }
    return true;
}

}  // namespace gwrt
