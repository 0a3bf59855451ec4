#include "netns.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace nfttest {
namespace {

constexpr std::size_t output_max = 64 * 1024 * 1024;

}  // namespace

Fd::~Fd() {
    if(fd >= 0) {
        close(fd);
    }
}

CommandResult run_command(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    CommandResult result;
    int pipe_fds[2];
    if(argv.empty() || pipe2(pipe_fds, O_CLOEXEC) != 0) {
        return result;
    }
    Fd reader{pipe_fds[0]};
    Fd writer{pipe_fds[1]};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writer.fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writer.fd, STDERR_FILENO);
    std::vector<char*> args;
    for(const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if(spawned != 0) {
        result.output = std::string("cannot run ") + argv[0] + ": " + std::strerror(spawned);
        return result;
    }
    close(writer.fd);
    writer.fd = -1;

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool timed_out = false;
    char buffer[4096];
    for(;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if(left.count() <= 0) {
            timed_out = true;
            break;
        }
        pollfd poller{reader.fd, POLLIN, 0};
        int ready = poll(&poller, 1, static_cast<int>(left.count()));
        if(ready < 0 && errno == EINTR) {
            continue;
        }
        if(ready <= 0) {
            timed_out = ready == 0;
            break;
        }
        ssize_t n = read(reader.fd, buffer, sizeof(buffer));
        if(n <= 0) {
            break;
        }
        if(result.output.size() < output_max) {
            result.output.append(buffer, static_cast<std::size_t>(n));
        }
    }
    // The output may end before the program does; it still gets only what is left of the time.
    int status = 0;
    pid_t waited = 0;
    while(!timed_out && (waited = waitpid(pid, &status, WNOHANG)) == 0) {
        timed_out = std::chrono::steady_clock::now() >= deadline;
        if(!timed_out) {
            usleep(2000);
        }
    }
    if(timed_out) {
        kill(pid, SIGKILL);
        while(waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return result;
    }
    if(waited == pid && WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    return result;
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

CommandResult Namespace::exec(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) const {
    return exec_in(name_, argv, timeout);
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
        if(probe.exec({"nft", "list", "ruleset"}).status != 0) {
            return std::string("nf_tables refused in a network namespace");
        }
        return std::string();
    }();
    return reason;
}

}  // namespace nfttest
