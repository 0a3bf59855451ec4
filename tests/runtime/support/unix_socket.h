// A bound Unix socket, listening or not; closed (without unlinking the file) at scope exit.
#pragma once

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace gwtest {

class UnixSocket {
public:
    UnixSocket(const std::string& path, bool listening) {
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        if (listening) {
            EXPECT_EQ(listen(fd_, 4), 0);
        }
    }
    ~UnixSocket() { close(fd_); }
    UnixSocket(const UnixSocket&) = delete;
    UnixSocket& operator=(const UnixSocket&) = delete;

private:
    int fd_;
};

}  // namespace gwtest
