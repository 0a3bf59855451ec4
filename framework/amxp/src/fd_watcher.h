// Watched file descriptors on one epoll instance, plus an eventfd that wakes a blocked wait.
#pragma once

#include "amxp/amxp_loop.h"

#include <atomic>
#include <cstdint>
#include <unordered_map>

namespace amxp {

class FdWatcher {
public:
    FdWatcher() = default;
    FdWatcher(const FdWatcher&) = delete;
    FdWatcher& operator=(const FdWatcher&) = delete;
    ~FdWatcher();

    int add(int fd, uint32_t events, amxp_fd_cb_t cb, void* priv);
    int modify(int fd, uint32_t events);
    int remove(int fd);
    // Forgets every watch.
    void clear();
    // No file descriptor of a caller is watched.
    bool empty() const { return watches_.empty(); }

    // Waits up to `timeout_ms` (-1: no limit) and runs the callbacks of the ready descriptors.
    // Returns the number of callbacks run (0 on a wake-up or an interrupted wait) or -errno.
    int wait_and_dispatch(int timeout_ms);

    // Whether the watch of `fd` is also served while a callback is paused (a second epoll
    // instance holds those watches). -ENOENT when `fd` is not watched.
    int serve_while_paused(int fd, bool serve);
    // Waits up to `timeout_ms` for descriptors served while paused and runs their callbacks;
    // the number of callbacks run (0 also when the wait failed).
    int serve_readers(int timeout_ms);

    // Ends a wait in progress (or the next one). Async-signal-safe.
    void wake();

private:
    struct Watch {
        uint32_t events;
        amxp_fd_cb_t cb;
        void* priv;
        // Tells a watch from an earlier one of the same fd that was removed while its events
        // were already collected.
        uint32_t serial;
        bool while_paused = false;
    };

    int ensure_open();
    void close_all();
    void dispatch(uint64_t tag, uint32_t ready, int& ran, bool readers_only);

    // Ready events of `epoll_fd`, dispatched; the number of callbacks run or -errno.
    int dispatch_ready(int epoll_fd, int timeout_ms, bool readers_only);

    std::unordered_map<int, Watch> watches_;
    int epoll_fd_ = -1;
    int readers_epoll_fd_ = -1; // the watches served while paused, again
    std::atomic<int> wake_fd_{-1};
    uint32_t next_serial_ = 1; // 0 tags the wake fd
};

} // namespace amxp
