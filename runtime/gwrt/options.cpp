#include "options.h"

#include "arg_cursor.h"

namespace gwrt {

const char* usage_text() {
    return "usage: gwrt [--config FILE] [--socket PATH] [--firewall NAME] [--trace LEVELS] [--prefix X_]\n"
           "            [--state-dir DIR]\n"
           "  --config FILE    configuration (%config only); default: the shipped gwrt.conf\n"
           "  --socket PATH    control socket gwctl talks to\n"
           "  --firewall NAME  firewall backend: memory (default) or nftables (root)\n"
           "  --trace LEVELS   trace levels, e.g. default=400,networksettings=500\n"
           "  --prefix X_      vendor prefix of the module's objects\n"
           "  --state-dir DIR  folder of the saved configuration (the configuration's state section)\n"
           "  --version        prints the version and exits\n"
           "Stops on SIGTERM or SIGINT; SIGHUP reloads the trace settings and the socket's users, mode and group.\n";
}

bool parse_options(std::span<char* const> args, Options& options, std::string& error) {
    gw::ArgCursor cursor(args);
    struct Valued {
        const char* name;
        bool may_be_empty;
        std::optional<std::string>* target;
    };
    std::optional<std::string> config;
    const Valued valued[] = {
        {"--config", false, &config},
        {"--socket", false, &options.socket},
        {"--firewall", false, &options.firewall},
        {"--trace", true, &options.trace},
        {"--prefix", true, &options.prefix},
        {"--state-dir", false, &options.state_dir},
    };
    while (!cursor.done()) {
        if (cursor.take_flag("--help") || cursor.take_flag("-h")) {
            options.help = true;
            return true;
        }
        bool taken = false;
        for (const Valued& option : valued) {
            std::string value;
            auto match = cursor.take_option(option.name, value);
            if (match == gw::ArgCursor::Match::no) {
                continue;
            }
            if (match == gw::ArgCursor::Match::missing_value || (value.empty() && !option.may_be_empty)) {
                error = std::string(option.name) + " needs a value";
                return false;
            }
            *option.target = value;
            taken = true;
            break;
        }
        if (!taken) {
            error = (cursor.at_option() ? "unknown option " : "unexpected argument ") + std::string(cursor.peek());
            return false;
        }
    }
    options.config = config.value_or("");
    return true;
}

}  // namespace gwrt
