// gwctl's connection to gwrt, made when a command first needs it, and the one-line error
// reports every command uses.
#pragma once

#include <amxb/amxb.h>

#include <string>

namespace gwctl {

class Session {
public:
    Session(std::string socket_path, int timeout_sec);
    ~Session();  // closes the connection
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The connected bus context; NULL after printing why gwrt cannot be reached.
    amxb_bus_ctx_t* ctx();

    // The exit status for the last ctx() that returned NULL: kExitNotRunning or kExitRefused
    // when that is why, else kExitFailure.
    int unreachable() const { return unreachable_; }

    int timeout() const { return timeout_sec_; }

    // Prints "gwctl: <subject>: <why the last call failed>" (the subject is left out when the
    // reason names it already) and returns the exit status for `status` (exit_status()).
    int report(int status, const std::string& subject) const;
    // The same with the reason given (amxb_last_error() taken earlier).
    int report(int status, const std::string& subject, std::string reason) const;

private:
    std::string socket_path_;
    int timeout_sec_;
    amxb_bus_ctx_t* ctx_ = nullptr;
    int unreachable_ = 1;
};

// Prints "gwctl: <message>" and returns the failure exit status.
int fail(const std::string& message);

// Exit statuses (listed in --help): scripts tell why a command failed without reading stderr.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;     // any other failure
constexpr int kExitUsage = 2;       // bad command line; gwrt not contacted
constexpr int kExitNotFound = 3;    // no such object, instance, parameter or method
constexpr int kExitInvalid = 4;     // a value or argument refused as invalid
constexpr int kExitNotRunning = 5;  // no gwrt serves the socket
constexpr int kExitRefused = 6;     // not allowed: socket permissions, a client limit, read-only

// The exit status for a failed request: its data-model status, and the reason the client
// library gives (a connection gwrt closed on a refusal says "refused: why").
int exit_status(int status, const std::string& reason);

}  // namespace gwctl
