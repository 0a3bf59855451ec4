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

    int timeout() const { return timeout_sec_; }

    // Prints "gwctl: <subject>: <why the last call failed>" (the subject is left out when the
    // reason names it already) and returns the failure exit status.
    int report(int status, const std::string& subject) const;
    // The same with the reason given (amxb_last_error() taken earlier).
    int report(int status, const std::string& subject, std::string reason) const;

private:
    std::string socket_path_;
    int timeout_sec_;
    amxb_bus_ctx_t* ctx_ = nullptr;
};

// Prints "gwctl: <message>" and returns the failure exit status.
int fail(const std::string& message);

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

}  // namespace gwctl
