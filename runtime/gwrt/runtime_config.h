// The runtime's configuration: a file in the definition language holding only %config { },
// read with the definition loader, with the command line's values winning over the file's.
//
// Keys: definitions (list of files loaded into the main data model), services (list of files,
// one data model each), import-dirs (list of folders searched by `import`), socket (control
// socket path), firewall = { backend = "memory"; }, trace ("zone=level,..."), prefix_ (vendor
// prefix), state = { dir; export; import; delay; ignore; services; } (what to
// persist, see persistence.h), socket-users (list of user names or uids allowed on the control socket
// besides the runtime's own user and root), socket-request-timeout, socket-idle-timeout and
// socket-max-per-user (SocketLimits), socket-mode ("0660": octal, of the socket file),
// socket-group (group name or gid of the socket), trace-output ("stderr" or "syslog"). Relative paths are relative to the configuration file's folder. Every key, also
// those the runtime does not know, reaches each hosted module through its parser.
#pragma once

#include <amxo/amxo.h>

#include <sys/types.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "options.h"
#include "persistence.h"

namespace gwrt {

// What the control socket allows each client (see amxb_listen_set_limits).
struct SocketLimits {
    unsigned int request_timeout_s = 5;  // a started request must be complete within this
    unsigned int idle_timeout_s = 60;    // idle connections without subscriptions; 0 never
    unsigned int per_user = 32;          // connections one user may hold
};

struct RuntimeConfig {
    std::string file;                      // the configuration file read (absolute)
    std::vector<std::string> definitions;  // main data model, in load order
    std::vector<std::string> services;     // one data model each, in load order
    std::vector<std::string> import_dirs;  // searched by `import`, in this order
    std::string socket;                    // control socket path
    std::string firewall_backend;          // "memory" unless configured
    bool firewall_jump = false;            // nftables: hook our chains on forward ourselves
    bool firewall_sets = true;             // nftables: compile sources into set lookups
    bool firewall_cut_connections = true;  // nftables: new DROP rules end the connections they cover
    std::string trace;                     // "" leaves the trace levels as they are
    bool trace_syslog = false;             // trace-output = "syslog" (else stderr)
    std::string prefix;                    // vendor prefix ("" when none)
    StateConfig state;                     // enabled when the file has a state section
    std::vector<StateConfig> service_states;  // state.services: service trees kept beside it
    std::vector<uid_t> socket_users;       // allowed on the control socket, besides ours and root
    mode_t socket_mode = 0600;             // of the socket file
    std::optional<gid_t> socket_group;     // group of the socket file (and of its private folder)
    SocketLimits socket_limits;
    Options overrides;                     // the command line, handed to every parser
};

// Reads the configuration named by `options` (or the shipped default). False, with one line
// in `error` ("file:line: what" or "file: what"), for a file that does not load, that holds
// more than %config, or a key of the wrong type.
bool read_runtime_config(const Options& options, RuntimeConfig& config, std::string& error);

// Refuses, with "file:line: unknown configuration key 'k'", a key of the configuration file
// that is neither the runtime's own nor one of `declared` (keys the hosted definitions declare
// in their own %config sections, with their defaults: a module's own settings).
bool check_config_keys(const RuntimeConfig& config, const std::set<std::string>& declared, std::string& error);

// Puts the trace levels and output of `config` in force, levels it does not name back at their
// defaults. False, with a reason, for levels that do not parse (nothing changed then).
bool apply_trace_config(const RuntimeConfig& config, std::string& error);

// Installs on `parser` a recorder of every %config key its later loads declare, into `declared`
// (borrowed; it must outlive those loads).
void record_declared_keys(amxo_parser_t* parser, std::set<std::string>* declared);

// Where the state is kept when the configuration does not say: /var/lib/gwrt for root, else
// $XDG_STATE_HOME/gwrt when that is an absolute path, else $HOME/.local/state/gwrt, else
// /tmp/gwrt-state-<uid>.
std::string default_state_dir_for(uid_t uid, const char* xdg_state_home, const char* home);

// Prepares a parser for loading definitions: the configuration's %config values and the
// command line's over them, both winning over the defaults of the definitions' own %config,
// and the import folders, so that modules read the runtime's configuration from it.
bool prepare_parser(amxo_parser_t* parser, const RuntimeConfig& config, std::string& error);

}  // namespace gwrt
