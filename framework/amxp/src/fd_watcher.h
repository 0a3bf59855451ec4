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
    };

    int ensure_open();
    void close_all();
    void dispatch(uint64_t tag, uint32_t ready, int& ran);

    std::unordered_map<int, Watch> watches_;
    int epoll_fd_ = -1;
    std::atomic<int> wake_fd_{-1};
    uint32_t next_serial_ = 1; // 0 tags the wake fd
};

} // namespace amxp
