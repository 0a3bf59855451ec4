// One piece of work run beside the event loop, so that the loop goes on serving clients
// meanwhile. It sends back one short text; `done` takes it on the loop.
//
// In a forked child, the work sees the process as it was at the fork (copy-on-write) and so
// works on a consistent image; it must only read that image and files, never the loop or
// sockets it inherited. The child dies with its parent, so a crash of the parent leaves
// nothing half-done behind that it did not start itself. The fork costs in proportion to the
// parent's memory, and so does every page the parent writes afterwards (copy-on-write faults):
// a gateway holding a large firewall pays that on its next rebuild.
//
// In a thread, the work must touch only what it owns (its captures) and files: nothing of the
// loop's state. The cheap way for work whose input was made on the loop.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "fd.h"

namespace gwrt {

class BackgroundTask {
public:
    // The work's reply; nullopt when it ended without one (killed, crashed, threw).
    using Done = std::function<void(std::optional<std::string> reply)>;

    BackgroundTask() = default;
    ~BackgroundTask();  // waits for running work
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // Runs `work` in a forked child, or in a thread, and `done` on the loop with its result
    // once it has ended. False (errno kept) when it could not be started, or while work runs.
    bool start_in_child(const std::function<std::string()>& work, Done done);
    bool start_in_thread(std::function<std::string()> work, Done done);
    bool running() const { return pid_ > 0 || thread_.joinable(); }
    // Blocks until running work has ended and its `done` has run.
    void wait();

private:
    static void on_readable(int fd, unsigned int events, void* priv);
    // A pipe whose write end the work gets; false (errno kept) when none could be made.
    bool open_pipe(gw::Fd& write_end);
    // Watches the read end on the loop.
    void follow(Done done);
    // Reads what is there; true at the end of the reply.
    bool read_some();
    void finish();

    pid_t pid_ = -1;
    std::thread thread_;
    gw::Fd reply_fd_;
    std::string reply_;
    Done done_;
};

}  // namespace gwrt
