// gwctl: reads, changes and watches the data models of a running gwrt through its control socket.
#include <cstdio>
#include <span>

#include "commands.h"
#include "options.h"
#include "session.h"
#include "version.h"

int main(int argc, char** argv) {
    const std::span<char* const> args(argv + 1, argc > 0 ? argc - 1 : 0);
    if (gw::asks_version(args)) {
        std::printf("gwctl %s\n", gw::project_version());
        return gwctl::kExitOk;
    }
    gwctl::Options options;
    std::string error;
    if (!gwctl::parse_options(args, options, error)) {
        std::fprintf(stderr, "gwctl: %s\n", error.c_str());
        return gwctl::kExitUsage;
    }
    if (options.help) {
        std::fputs(gwctl::usage_text(), stdout);
        return gwctl::kExitOk;
    }
    gwctl::Session session(options.socket, options.timeout_sec);
    int status = gwctl::run_command(options, session);
    if (std::fflush(stdout) != 0 && status == gwctl::kExitOk) {
        return gwctl::fail("cannot write the output");
    }
    return status;
}
