#include "options.h"

#include <charconv>

#include "arg_cursor.h"

namespace gwctl {
namespace {

// Longest accepted time-out: a day; beyond that a wait is a hang in all but name.
constexpr int kMaxTimeoutSec = 86400;

bool parse_timeout(const std::string& text, int& out) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > kMaxTimeoutSec) {
        return false;
    }
    out = value;
    return true;
}

}  // namespace

const char* usage_text() {
    return "usage: gwctl [--socket PATH] [--json] [--timeout SEC] COMMAND\n"
           "commands:\n"
           "  get PATH                          parameters of PATH and everything below it\n"
           "  set PATH.Param=value ...          one transaction per object\n"
           "  set PATH Param=value ...          same, parameters relative to PATH\n"
           "  add TABLE. [--name NAME] [Param=value ...]\n"
           "                                    prints the new instance path\n"
           "  del INSTANCE.                     deletes an instance\n"
           "  call PATH METHOD [JSON-ARGS|-]    prints the return value as JSON; -: the arguments\n"
           "                                    are read from standard input\n"
           "  list [PATH]                       the objects, methods and parameters the loaded\n"
           "                                    definitions declare (type, access, constraints)\n"
           "  monitor PATH [EXPRESSION]         prints each event as one JSON line until killed\n"
           "  firewall [--kernel|--check] [--json]\n"
           "                                    prints the running firewall rules; --json: as a\n"
           "                                    list of chains and their rules' fields; --kernel: as\n"
           "                                    the kernel holds them (nftables backend); --check:\n"
           "                                    how the kernel differs from them (exit 1 if it does)\n"
           "values holding blanks, quotes, backslashes or control characters are printed\n"
           "between single quotes, a quote inside as '\\''\n"
           "exit status: 0 success; 1 other failure; 2 bad command line; 3 not found (object,\n"
           "  instance, parameter or method); 4 invalid value or argument; 5 gwrt not running;\n"
           "  6 refused (socket permissions, a client limit, a read-only parameter)\n";
}

bool parse_options(std::span<char* const> args, Options& options, std::string& error) {
    gw::ArgCursor cursor(args);
    while (!cursor.done() && cursor.at_option()) {
        std::string value;
        if (cursor.take_flag("--help") || cursor.take_flag("-h")) {
            options.help = true;
            return true;
        }
        if (cursor.take_flag("--json")) {
            options.json = true;
            continue;
        }
        if (cursor.take_flag("--")) {
            break;
        }
        auto socket = cursor.take_option("--socket", value);
        if (socket != gw::ArgCursor::Match::no) {
            if (socket == gw::ArgCursor::Match::missing_value || value.empty()) {
                error = "--socket needs a path";
                return false;
            }
            options.socket = value;
            continue;
        }
        auto timeout = cursor.take_option("--timeout", value);
        if (timeout != gw::ArgCursor::Match::no) {
            if (timeout == gw::ArgCursor::Match::missing_value || !parse_timeout(value, options.timeout_sec)) {
                error = "--timeout needs a number of seconds from 1 to 86400";
                return false;
            }
            continue;
        }
        error = "unknown option " + std::string(cursor.peek());
        return false;
    }
    if (cursor.done()) {
        error = "no command given (see gwctl --help)";
        return false;
    }
    options.command = cursor.next();
    while (!cursor.done()) {
        options.words.emplace_back(cursor.next());
    }
    return true;
}

}  // namespace gwctl
