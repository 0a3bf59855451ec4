// gwctl's command line: global options, then a command and its words.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace gwctl {

struct Options {
    std::string socket;         // empty: the default socket path rule
    bool json = false;          // print replies as JSON
    int timeout_sec = 5;        // bound of every request to gwrt
    bool help = false;
    std::string command;        // get, set, add, del, call, monitor, firewall
    std::vector<std::string> words;  // what follows the command
};

// Parses `args` (without the program name). Global options come before the command. False,
// with a one-line reason in `error`, for an unknown option, a missing or bad value, or no command.
bool parse_options(std::span<char* const> args, Options& options, std::string& error);

// The usage text printed by --help.
const char* usage_text();

}  // namespace gwctl
