// The runtime's configuration: a file in the definition language holding only %config { },
// read with the definition loader, with the command line's values winning over the file's.
//
// Keys: definitions (list of files loaded into the main data model), services (list of files,
// one data model each), import-dirs (list of folders searched by `import`), socket (control
// socket path), firewall = { backend = "memory"; }, trace ("zone=level,..."), prefix_ (vendor
// prefix). Relative paths are relative to the configuration file's folder. Every key, also
// those the runtime does not know, reaches each hosted module through its parser.
#pragma once

#include <amxo/amxo.h>

#include <string>
#include <vector>

#include "options.h"

namespace gwrt {

struct RuntimeConfig {
    std::string file;                      // the configuration file read (absolute)
    std::vector<std::string> definitions;  // main data model, in load order
    std::vector<std::string> services;     // one data model each, in load order
    std::vector<std::string> import_dirs;  // searched by `import`, in this order
    std::string socket;                    // control socket path
    std::string firewall_backend;          // "memory" unless configured
    bool firewall_jump = false;            // nftables: hook our chains on forward ourselves
    std::string trace;                     // "" leaves the trace levels as they are
    std::string prefix;                    // vendor prefix ("" when none)
    Options overrides;                     // the command line, handed to every parser
};

// Reads the configuration named by `options` (or the shipped default). False, with one line
// in `error` ("file:line: what" or "file: what"), for a file that does not load, that holds
// more than %config, or a key of the wrong type.
bool read_runtime_config(const Options& options, RuntimeConfig& config, std::string& error);

// Prepares a parser for loading definitions: the command-line values, the import folders and
// the configuration's %config, so that modules read the runtime's configuration from it.
bool prepare_parser(amxo_parser_t* parser, const RuntimeConfig& config, std::string& error);

}  // namespace gwrt
