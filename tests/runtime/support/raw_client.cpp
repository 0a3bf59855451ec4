#include "raw_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace gwtest {

RawClient::RawClient(const std::string& socket_path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socket_path.c_str(), sizeof(addr.sun_path) - 1);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

RawClient::~RawClient() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool RawClient::send_bytes(const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t sent = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

bool RawClient::send_frame(const std::string& json) {
    const auto size = static_cast<uint32_t>(json.size());
    std::string prefix {static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                        static_cast<char>(size)};
    return send_bytes(prefix + json);
}

// Waits for bytes (or the end) to read until `deadline`; false when none came in time.
bool RawClient::readable(std::chrono::steady_clock::time_point deadline) const {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry {fd_, POLLIN, 0};
    return left.count() > 0 && poll(&entry, 1, static_cast<int>(left.count())) > 0;
}

bool RawClient::read_exact(char* out, std::size_t size, std::chrono::steady_clock::time_point deadline) {
    for (std::size_t done = 0; done < size;) {
        ssize_t got = readable(deadline) ? recv(fd_, out + done, size - done, 0) : -1;
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

std::string RawClient::read_frame(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    unsigned char prefix[4];
    if (!read_exact(reinterpret_cast<char*>(prefix), 4, deadline)) {
        return "";
    }
    std::size_t size = (std::size_t {prefix[0]} << 24) | (std::size_t {prefix[1]} << 16) | (std::size_t {prefix[2]} << 8) | prefix[3];
    std::string text(size, '\0');
    return read_exact(text.data(), size, deadline) ? text : "";
}

bool RawClient::closed_by_peer(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[65536];
    while (readable(deadline)) {
        if (recv(fd_, buffer, sizeof(buffer), 0) <= 0) {
            return true;
        }
    }
    return false;
}

}  // namespace gwtest
