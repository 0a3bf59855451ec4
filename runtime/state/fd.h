// A file descriptor owned by a scope, and a write that finishes what it starts.
#pragma once

#include <string_view>

namespace gw {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd();
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Gives up ownership without closing (for a close whose result matters).
    int release();
    void reset(int fd = -1);

private:
    int fd_;
};

// Writes all of `bytes`, retrying interrupted and partial writes. False on any error.
bool write_all(int fd, std::string_view bytes);

}  // namespace gw
