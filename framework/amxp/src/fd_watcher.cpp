#include "fd_watcher.h"

#include "amxp/amxp_loop.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace amxp {

namespace {

// HUP and ERR are always reported; asking for them is allowed and changes nothing.
constexpr uint32_t known_events = AMXP_FD_READ | AMXP_FD_WRITE | AMXP_FD_HUP | AMXP_FD_ERR;
constexpr int max_events_per_wait = 64;

uint32_t to_epoll(uint32_t events) {
    uint32_t out = 0;
    if((events & AMXP_FD_READ) != 0) {
        out |= EPOLLIN;
    }
    if((events & AMXP_FD_WRITE) != 0) {
        out |= EPOLLOUT;
    }
    return out;
}

uint32_t from_epoll(uint32_t ready, uint32_t wanted) {
    uint32_t out = 0;
    if((ready & EPOLLIN) != 0 && (wanted & AMXP_FD_READ) != 0) {
        out |= AMXP_FD_READ;
    }
    if((ready & EPOLLOUT) != 0 && (wanted & AMXP_FD_WRITE) != 0) {
        out |= AMXP_FD_WRITE;
    }
    if((ready & EPOLLHUP) != 0) {
        out |= AMXP_FD_HUP;
    }
    if((ready & EPOLLERR) != 0) {
        out |= AMXP_FD_ERR;
    }
    return out;
}

// The epoll user data carries the fd and the serial of its watch.
uint64_t make_tag(int fd, uint32_t serial) {
    return (static_cast<uint64_t>(serial) << 32) | static_cast<uint32_t>(fd);
}

} // namespace

FdWatcher::~FdWatcher() {
    close_all();
    const int wake_fd = wake_fd_.exchange(-1);
    if(wake_fd >= 0) {
        ::close(wake_fd);
    }
}

int FdWatcher::ensure_open() {
    if(epoll_fd_ >= 0) {
        return 0;
    }
    int wake_fd = wake_fd_.load();
    if(wake_fd < 0) {
        wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if(wake_fd < 0) {
            return -errno;
        }
        wake_fd_.store(wake_fd);
    }
    const int epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
    if(epoll_fd < 0) {
        return -errno;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = make_tag(wake_fd, 0);
    if(::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, wake_fd, &ev) != 0) {
        const int err = errno;
        ::close(epoll_fd);
        return -err;
    }
    epoll_fd_ = epoll_fd;
    return 0;
}

void FdWatcher::close_all() {
    watches_.clear();
    for(int* fd : {&epoll_fd_, &readers_epoll_fd_}) {
        if(*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

int FdWatcher::add(int fd, uint32_t events, amxp_fd_cb_t cb, void* priv) {
    if(fd < 0) {
        return -EBADF;
    }
    if(cb == nullptr || (events & ~known_events) != 0) {
        return -EINVAL;
    }
    if(const int rc = ensure_open(); rc != 0) {
        return rc;
    }
    const uint32_t serial = next_serial_++;
    if(next_serial_ == 0) {
        next_serial_ = 1;
    }
    epoll_event ev{};
    ev.events = to_epoll(events);
    ev.data.u64 = make_tag(fd, serial);
    // The kernel decides whether fd is already watched: a stale entry left by an fd that was
    // closed without being removed is then simply replaced.
    if(::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
        return -errno;
    }
    try {
        watches_.insert_or_assign(fd, Watch{events, cb, priv, serial});
    } catch(const std::bad_alloc&) {
        ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
        return -ENOMEM;
    }
    return 0;
}

int FdWatcher::modify(int fd, uint32_t events) {
    if((events & ~known_events) != 0) {
        return -EINVAL;
    }
    auto found = watches_.find(fd);
    if(found == watches_.end()) {
        return -ENOENT;
    }
    epoll_event ev{};
    ev.events = to_epoll(events);
    ev.data.u64 = make_tag(fd, found->second.serial);
    if(::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, fd, &ev) != 0) {
        return -errno;
    }
    if(found->second.while_paused) {
        ::epoll_ctl(readers_epoll_fd_, EPOLL_CTL_MOD, fd, &ev);
    }
    found->second.events = events;
    return 0;
}

int FdWatcher::serve_while_paused(int fd, bool serve) {
    auto found = watches_.find(fd);
    if(found == watches_.end()) {
        return -ENOENT;
    }
    if(found->second.while_paused == serve) {
        return 0;
    }
    if(readers_epoll_fd_ < 0) {
        readers_epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
        if(readers_epoll_fd_ < 0) {
            return -errno;
        }
    }
    epoll_event ev{};
    ev.events = to_epoll(found->second.events);
    ev.data.u64 = make_tag(fd, found->second.serial);
    if(::epoll_ctl(readers_epoll_fd_, serve ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, fd, &ev) != 0) {
        return -errno;
    }
    found->second.while_paused = serve;
    return 0;
}

int FdWatcher::remove(int fd) {
    auto found = watches_.find(fd);
    if(found == watches_.end()) {
        return -ENOENT;
    }
    const bool while_paused = found->second.while_paused;
    watches_.erase(found);
    // Fails harmlessly (EBADF) when the fd was already closed, which removed it from epoll.
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
    if(while_paused) {
        ::epoll_ctl(readers_epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
    }
    return 0;
}

void FdWatcher::clear() {
    close_all();
}

void FdWatcher::wake() {
    const int wake_fd = wake_fd_.load();
    if(wake_fd >= 0) {
        const uint64_t one = 1;
        // A full counter already means "wake up"; nothing to do on failure.
        [[maybe_unused]] const ssize_t written = ::write(wake_fd, &one, sizeof(one));
    }
}

void FdWatcher::dispatch(uint64_t tag, uint32_t ready, int& ran, bool readers_only) {
    const int fd = static_cast<int>(static_cast<uint32_t>(tag));
    const uint32_t serial = static_cast<uint32_t>(tag >> 32);
    if(serial == 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(fd, &count, sizeof(count));
        return;
    }
    // Looked up again for every event: an earlier callback of this batch may have removed or
    // replaced this watch.
    auto found = watches_.find(fd);
    if(found == watches_.end() || found->second.serial != serial || (readers_only && !found->second.while_paused)) {
        return;
    }
    const Watch watch = found->second;
    const uint32_t events = from_epoll(ready, watch.events);
    if(events == 0) {
        return;
    }
    watch.cb(fd, events, watch.priv);
    ++ran;
}

int FdWatcher::dispatch_ready(int epoll_fd, int timeout_ms, bool readers_only) {
    std::array<epoll_event, max_events_per_wait> ready{};
    const int count = ::epoll_wait(epoll_fd, ready.data(), static_cast<int>(ready.size()), timeout_ms);
    if(count < 0) {
        return errno == EINTR ? 0 : -errno;
    }
    int ran = 0;
    for(int i = 0; i < count; ++i) {
        dispatch(ready[static_cast<std::size_t>(i)].data.u64, ready[static_cast<std::size_t>(i)].events, ran, readers_only);
        // Between two callbacks nothing is half done: clients whose requests each take a while
        // (a firewall dump) do not keep a newcomer out for all of theirs.
        if(!readers_only) {
            amxp_loop_slice_point_now();
        }
    }
    return ran;
}

int FdWatcher::wait_and_dispatch(int timeout_ms) {
    if(const int rc = ensure_open(); rc != 0) {
        return rc;
    }
    return dispatch_ready(epoll_fd_, timeout_ms, false);
}

int FdWatcher::serve_readers(int timeout_ms) {
    return readers_epoll_fd_ < 0 ? 0 : std::max(dispatch_ready(readers_epoll_fd_, timeout_ms, true), 0);
}

} // namespace amxp
