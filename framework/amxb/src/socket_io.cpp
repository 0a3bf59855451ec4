#include "socket_io.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace amxb {

namespace {

// How long a client waits for room in a full backlog: 40 tries, 25 ms apart.
constexpr int connect_retries = 40;
constexpr auto connect_retry_pause = std::chrono::milliseconds(25);

bool make_address(const std::string& path, sockaddr_un& address, std::string& error) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if(path.empty() || path.size() >= sizeof(address.sun_path)) {
        error = "socket path is empty or longer than " + std::to_string(sizeof(address.sun_path) - 1) + " bytes";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int new_socket(std::string& error) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if(fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
    }
    return fd;
}

int connect_address(int fd, const sockaddr_un& address) {
    return connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

// Removes `path` only when it is a socket that nobody accepts on, so that a crashed server
// can be restarted but a running one, or an unrelated file, is never taken over.
bool clear_stale_socket(const std::string& path, const sockaddr_un& address, std::string& error) {
    struct stat info {};
    if(lstat(path.c_str(), &info) != 0) {
        if(errno == ENOENT) {
            return true;
        }
        error = std::string("stat ") + path + ": " + std::strerror(errno);
        return false;
    }
    if(!S_ISSOCK(info.st_mode)) {
        error = path + " exists and is not a socket";
        return false;
    }
    const int probe = new_socket(error);
    if(probe < 0) {
        return false;
    }
    const bool refused = connect_address(probe, address) != 0 && errno == ECONNREFUSED;
    close(probe);
    if(!refused) {
        error = path + " is in use by a running server";
        return false;
    }
    if(unlink(path.c_str()) != 0) {
        error = std::string("unlink: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

int connect_unix(const std::string& path, std::string& error) {
    sockaddr_un address {};
    if(!make_address(path, address, error)) {
        return -1;
    }
    const int fd = new_socket(error);
    if(fd < 0) {
        return -1;
    }
    // A Unix socket connects at once or not at all; EAGAIN means its backlog is full, for
    // instance while the server takes in a burst of connections: tried again for a while.
    int rc = connect_address(fd, address);
    for(int retry = 0; rc != 0 && errno == EAGAIN && retry < connect_retries; ++retry) {
        std::this_thread::sleep_for(connect_retry_pause);
        rc = connect_address(fd, address);
    }
    if(rc != 0) {
        error = "connect " + path + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

int listen_unix(const std::string& path, std::string& error) {
    sockaddr_un address {};
    if(!make_address(path, address, error) || !clear_stale_socket(path, address, error)) {
        return -1;
    }
    const int fd = new_socket(error);
    if(fd < 0) {
        return -1;
    }
    // The mode is set at creation so that no other user can connect in between.
    const mode_t old_mask = umask(0177);
    const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    const int bind_errno = errno;
    umask(old_mask);
    if(bound != 0) {
        error = "bind " + path + ": " + std::strerror(bind_errno);
        close(fd);
        return -1;
    }
    if(chmod(path.c_str(), 0600) != 0 || listen(fd, SOMAXCONN) != 0) {
        error = "listen " + path + ": " + std::strerror(errno);
        unlink(path.c_str());
        close(fd);
        return -1;
    }
    return fd;
}

long send_some(int fd, const char* data, std::size_t length) {
    while(true) {
        const ssize_t sent = send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if(sent >= 0) {
            return static_cast<long>(sent);
        }
        if(errno == EINTR) {
            continue;
        }
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? io::would_block : io::failed;
    }
}

long receive_some(int fd, char* buffer, std::size_t length) {
    while(true) {
        const ssize_t got = recv(fd, buffer, length, MSG_DONTWAIT);
        if(got > 0) {
            return static_cast<long>(got);
        }
        if(got == 0) {
            return io::closed;
        }
        if(errno == EINTR) {
            continue;
        }
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? io::would_block : io::failed;
    }
}

int wait_fd(int fd, bool for_write, int timeout_ms) {
    pollfd entry {fd, static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
    const int rc = poll(&entry, 1, timeout_ms);
    if(rc < 0) {
        return errno == EINTR ? 0 : -1;
    }
    return rc > 0 ? 1 : 0;
}

}  // namespace amxb
