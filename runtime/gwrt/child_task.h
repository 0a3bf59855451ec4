// One piece of work run in a forked child, so that the event loop goes on serving clients
// meanwhile. The child sees the process as it was at the fork (copy-on-write) and so works on
// a consistent image; it must only read that image and files, never the loop or sockets it
// inherited. It sends back one short text and exits. The child dies with its parent, so a
// crash of the parent leaves nothing half-done behind that it did not start itself.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

#include "fd.h"

namespace gwrt {

class ChildTask {
public:
    // The child's reply; nullopt when it ended without one (killed, crashed).
    using Done = std::function<void(std::optional<std::string> reply)>;

    ChildTask() = default;
    ~ChildTask();  // waits for a running child
    ChildTask(const ChildTask&) = delete;
    ChildTask& operator=(const ChildTask&) = delete;

    // Forks a child that runs `work` and replies with its result; `done` runs on the loop
    // once the child has ended. False (errno kept) when no child could be started, or while
    // one runs.
    bool start(const std::function<std::string()>& work, Done done);
    bool running() const { return pid_ > 0; }
    // Blocks until a running child has ended and its `done` has run.
    void wait();

private:
    static void on_readable(int fd, unsigned int events, void* priv);
    // Reads what is there; true at the end of the reply.
    bool read_some();
    void finish();

    pid_t pid_ = -1;
    gw::Fd reply_fd_;
    std::string reply_;
    Done done_;
};

}  // namespace gwrt
