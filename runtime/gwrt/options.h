// gwrt's command line. Values given here win over those of the configuration file.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace gwrt {

struct Options {
    std::string config;                   // configuration file; empty: the shipped default
    std::optional<std::string> socket;    // control socket path
    std::optional<std::string> firewall;  // firewall backend name
    std::optional<std::string> trace;     // trace levels, "zone=level,..."
    std::optional<std::string> prefix;    // vendor prefix handed to the modules as prefix_
    std::optional<std::string> state_dir; // folder of the saved configuration
    bool help = false;
};

// Parses `args` (without the program name). False, with a one-line reason in `error`, for an
// unknown option or word, a missing value, or an empty path or backend name.
bool parse_options(std::span<char* const> args, Options& options, std::string& error);

const char* usage_text();

}  // namespace gwrt
