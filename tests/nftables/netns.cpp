#include "netns.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "process.h"

namespace nfttest {

Fd::~Fd() {
    if(fd >= 0) {
        close(fd);
    }
}

CommandResult run_command(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    std::vector<std::string> searched{"/usr/bin/env"};  // finds the program in PATH
    searched.insert(searched.end(), argv.begin(), argv.end());
    gwtest::Outcome outcome = gwtest::run(searched, timeout);
    return CommandResult{outcome.timed_out ? -1 : outcome.exit_code, outcome.out + outcome.err};
}

std::string unique_prefix() {
    static unsigned counter = 0;
    return "nsft" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

Namespace::Namespace(std::string_view role) : name_(unique_prefix() + "-" + std::string(role)) {
    CommandResult added = run_command({"ip", "netns", "add", name_});
    ok_ = added.status == 0;
    if(!ok_) {
        error_ = "ip netns add " + name_ + ": " + added.output;
    }
}

Namespace::~Namespace() {
    if(ok_) {
        run_command({"ip", "netns", "del", name_});
    }
}

CommandResult exec_in(const std::string& namespace_name, const std::vector<std::string>& argv,
                      std::chrono::milliseconds timeout) {
    std::vector<std::string> full{"ip", "netns", "exec", namespace_name};
    full.insert(full.end(), argv.begin(), argv.end());
    return run_command(full, timeout);
}

Inside::Inside(const std::string& namespace_name) {
    home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int target = open(("/run/netns/" + namespace_name).c_str(), O_RDONLY | O_CLOEXEC);
    ok_ = home_ >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if(target >= 0) {
        close(target);
    }
}

Inside::~Inside() {
    if(home_ >= 0) {
        if(ok_) {
            setns(home_, CLONE_NEWNET);
        }
        close(home_);
    }
}

const std::string& kernel_tests_refused() {
    static const std::string reason = [] {
        if(geteuid() != 0) {
            return std::string("needs root (network namespaces and nf_tables)");
        }
        if(run_command({"nft", "--version"}).status != 0) {
            return std::string("nft is not installed");
        }
        Namespace probe("probe");
        if(!probe.ok()) {
            return "network namespaces refused: " + probe.error();
        }
        Inside inside(probe.name());
        if(!inside.ok()) {
            return std::string("cannot enter a network namespace");
        }
        if(exec_in(probe.name(), {"nft", "list", "ruleset"}).status != 0) {
            return std::string("nf_tables refused in a network namespace");
        }
        return std::string();
    }();
    return reason;
}

}  // namespace nfttest
