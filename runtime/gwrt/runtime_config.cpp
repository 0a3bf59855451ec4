#include "runtime_config.h"

#include <amxd/amxd.h>
#include <zebtrace/zebtrace.h>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

// A parser and a data model to load the configuration file into, only to read it.
bool new_scratch(ParserPtr& parser, DmPtr& dm, std::string& error) {
    amxo_parser_t* raw_parser = nullptr;
    amxd_dm_t* raw_dm = nullptr;
    if (amxo_parser_new(&raw_parser) != 0 || amxd_dm_new(&raw_dm) != amxd_status_ok) {
        amxo_parser_delete(&raw_parser);
        error = "out of memory";
        return false;
    }
    parser.reset(raw_parser);
    dm.reset(raw_dm);
    return true;
}

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

bool group_id(const char* name, gid_t& gid) {
    std::vector<char> buffer(16384);
    group entry {};
    group* found = nullptr;
    if (getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return false;
    }
    gid = found->gr_gid;
    return true;
}

// socket-mode: octal text; read and write for the owner at least, no other bits than rw.
bool read_socket_access(amxo_parser_t* parser, const std::string& file, RuntimeConfig& config, std::string& error) {
    std::string mode;
    if (!read_text(parser, "socket-mode", mode)) {
        error = file + ": 'socket-mode' must be a text of octal digits, e.g. \"0660\"";
        return false;
    }
    if (!mode.empty()) {
        char* end = nullptr;
        const unsigned long bits = std::strtoul(mode.c_str(), &end, 8);
        if (*end != '\0' || mode.find_first_not_of("01234567") != std::string::npos || (bits & 0600) != 0600 ||
            (bits & ~0666ul) != 0) {
            error = file + ": 'socket-mode' must be octal read/write bits with the owner's set, from \"0600\" to \"0666\"";
            return false;
        }
        config.socket_mode = static_cast<mode_t>(bits);
    }
    const amxc_var_t* group = amxo_parser_get_config(parser, "socket-group");
    if (group == nullptr) {
        return true;
    }
    const char* name = amxc_var_get_const_cstring_t(group);
    long long number = 0;
    gid_t gid = 0;
    if (name != nullptr && group_id(name, gid)) {
        config.socket_group = gid;
    } else if (name == nullptr && read_integer(group, 0, UINT32_MAX - 1LL, number)) {
        config.socket_group = static_cast<gid_t>(number);
    } else {
        error = file + ": 'socket-group': " + (name != nullptr ? "no group named '" + std::string(name) + "'" : "not a group name or gid");
        return false;
    }
    return true;
}

bool read_trace_output(amxo_parser_t* parser, const std::string& file, RuntimeConfig& config, std::string& error) {
    std::string output = "stderr";
    if (!read_text(parser, "trace-output", output) || (output != "stderr" && output != "syslog")) {
        error = file + ": 'trace-output' must be \"stderr\" or \"syslog\"";
        return false;
    }
    config.trace_syslog = output == "syslog";
    return true;
}

// The runtime's own keys; a table's members are named "table.member".
bool runtime_key(const std::string& path) {
    static const std::set<std::string> keys = {
        "definitions", "services", "import-dirs", "socket", "socket-users", "socket-mode", "socket-group",
        "socket-request-timeout", "socket-idle-timeout", "socket-max-per-user", "trace", "trace-output", "prefix_",
        "firewall", "firewall.backend", "firewall.jump", "firewall.sets", "firewall.cut_connections",
        "state", "state.export", "state.import", "state.dir", "state.delay", "state.ignore", "state.services"};
    return keys.count(path) != 0;
}

bool known_key(const char* path, void* priv) {
    return runtime_key(path) || static_cast<const std::set<std::string>*>(priv)->count(path) != 0;
}

bool record_key(const char* path, void* priv) {
    static_cast<std::set<std::string>*>(priv)->insert(path);
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

bool read_ignored(const amxc_var_t* ignore, std::set<std::string>& ignored) {
    if (amxc_var_type_of(ignore) != AMXC_VAR_ID_LIST) {
        return false;
    }
    amxc_var_for_each(item, ignore) {
        const char* name = amxc_var_get_const_cstring_t(item);
        if (name == nullptr || name[0] == '\0') {
            return false;
        }
        ignored.insert(name);
    }
    return true;
}

// state.services = [ { export = "Schedules._Export"; import = "Schedules._Import"; ignore = [...]; } ]:
// each kept like the main tree, in the same folder with the same delay, in "<object>-state.json"
// (the export's top-level object in lower case).
bool read_service_states(const amxc_var_t* list, const StateConfig& main, std::vector<StateConfig>& out,
                         const std::string& where, std::string& error) {
    error = where + "services' must be a list of { export; import; ignore; } tables";
    if (amxc_var_type_of(list) != AMXC_VAR_ID_LIST) {
        return false;
    }
    amxc_var_for_each(item, list) {
        StateConfig service = main;
        service.ignored.clear();
        const char* exported = amxc_var_get_const_cstring_t(amxc_var_get_key(item, "export", AMXC_VAR_FLAG_DEFAULT));
        const char* imported = amxc_var_get_const_cstring_t(amxc_var_get_key(item, "import", AMXC_VAR_FLAG_DEFAULT));
        const amxc_var_t* ignore = amxc_var_get_key(item, "ignore", AMXC_VAR_FLAG_DEFAULT);
        if (amxc_var_type_of(item) != AMXC_VAR_ID_HTABLE || exported == nullptr || imported == nullptr ||
            (ignore != nullptr && !read_ignored(ignore, service.ignored))) {
            return false;
        }
        service.export_path = exported;
        service.import_path = imported;
        std::string object = service.export_path.substr(0, service.export_path.find('.'));
        if (object.empty() || object.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") !=
                                  std::string::npos) {
            return false;
        }
        std::transform(object.begin(), object.end(), object.begin(), [](unsigned char c) { return std::tolower(c); });
        service.file = object + "-state.json";
        out.push_back(std::move(service));
    }
    error.clear();
    return true;
}

bool read_state(amxo_parser_t* parser, RuntimeConfig& config, StateConfig& state, std::string& error) {
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
    if (ignore != nullptr && !read_ignored(ignore, state.ignored)) {
        error = where + "ignore' must be a list of parameter names";
        return false;
    }
    const amxc_var_t* services = amxc_var_get_key(section, "services", AMXC_VAR_FLAG_DEFAULT);
    return services == nullptr || read_service_states(services, state, config.service_states, where, error);
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

    ParserPtr parser;
    DmPtr scratch;
    if (!new_scratch(parser, scratch, error)) {
        return false;
    }
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
        !read_socket_limits(parser.get(), config.file, config.socket_limits, error) ||
        !read_socket_access(parser.get(), config.file, config, error) || !read_trace_output(parser.get(), config.file, config, error)) {
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

bool apply_trace_config(const RuntimeConfig& config, std::string& error) {
    if (zebtrace_reconfigure(config.trace.c_str()) != 0) {
        error = "trace: bad level configuration '" + config.trace + "'";
        return false;
    }
    if (config.trace_syslog) {
        zebtrace_open_syslog("gwrt");
    } else {
        zebtrace_use_stderr();
    }
    return true;
}

void record_declared_keys(amxo_parser_t* parser, std::set<std::string>* declared) {
    amxo_parser_check_config_keys(parser, record_key, declared);
}

bool check_config_keys(const RuntimeConfig& config, const std::set<std::string>& declared, std::string& error) {
    ParserPtr parser;
    DmPtr scratch;
    if (!new_scratch(parser, scratch, error)) {
        return false;
    }
    amxo_parser_check_config_keys(parser.get(), known_key, const_cast<std::set<std::string>*>(&declared));
    if (amxo_parser_parse_file(parser.get(), config.file.c_str(), amxd_dm_get_root(scratch.get())) != 0) {
        error = amxo_parser_get_message(parser.get());
        return false;
    }
    return true;
}

bool prepare_parser(amxo_parser_t* parser, const RuntimeConfig& config, std::string& error) {
    // The file's values are handed over as outside values, so that they win over the defaults
    // a definition's own %config gives (`prefix_ = "";`), as the command line's win over them.
    ParserPtr file_parser;
    DmPtr scratch;
    if (!new_scratch(file_parser, scratch, error)) {
        return false;
    }
    if (amxo_parser_parse_file(file_parser.get(), config.file.c_str(), amxd_dm_get_root(scratch.get())) != 0) {
        error = amxo_parser_get_message(file_parser.get());
        return false;
    }
    const amxc_var_t* values = amxo_parser_get_config(file_parser.get(), "");
    amxc_var_for_each(value, values) {
        if (amxo_parser_set_config(parser, amxc_var_key(value), value) != 0) {
            error = "cannot pass the configuration to the definition loader";
            return false;
        }
    }
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
    return true;
}

}  // namespace gwrt
