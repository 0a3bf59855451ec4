// Raw clients of a control socket for the attack benchmarks: bytes as an attacker writes
// them, with no client library in between, and the server's resident memory.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace rawsock {

// VmRSS of `pid` in KiB; -1 when it cannot be read.
// A field of /proc/PID/status in kB ("VmRSS", "VmHWM"); -1 when it cannot be read.
inline long status_kb(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while(std::getline(status, line)) {
        if(line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

inline long rss_kb(pid_t pid) { return status_kb(pid, "VmRSS"); }

// The peak resident size from now on (VmHWM after a reset through clear_refs, which needs the
// process's owner or root); false when the kernel refuses the reset.
inline bool reset_peak_rss(pid_t pid) {
    std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}
inline long peak_rss_kb(pid_t pid) { return status_kb(pid, "VmHWM"); }

// Time `pid` has spent on a CPU, in ms (/proc/PID/schedstat); -1 when it cannot be read. On a
// loaded machine a client's wait grows with everyone's work; the server's own CPU time during
// the wait does not.
inline double cpu_ms(pid_t pid) {
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = -1;
    schedstat >> ns;
    return ns < 0 ? -1 : ns / 1e6;
}

// Page faults `pid` has taken that needed no reading from disk (/proc/PID/stat, field 10):
// each one a pass through the kernel, such as a write to a page shared with a forked child;
// -1 when it cannot be read.
inline long minor_faults(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name, which sits in parentheses and may hold blanks.
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string field;
    for(int n = 3; n < 10 && fields >> field; ++n) {
    }
    long faults = -1;
    fields >> faults;
    return faults;
}

// A non-blocking connection to the Unix socket `path`; -1 when refused.
inline int connect_to(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if(fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// `json` behind its 4-byte big-endian length.
inline std::string frame(const std::string& json) {
    const auto size = static_cast<uint32_t>(json.size());
    return std::string {static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                        static_cast<char>(size)} + json;
}

// Sends `bytes` whole, waiting for room at most `limit`; false when the peer refused them.
inline bool send_all(int fd, const std::string& bytes, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::size_t sent = 0;
    while(sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if(n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        pollfd watch {fd, POLLOUT, 0};
        if(n < 0 && errno != EAGAIN) {
            return false;
        }
        if(poll(&watch, 1, static_cast<int>(limit.count())) <= 0) {
            return false;
        }
    }
    return true;
}

// Reads one whole frame (its body), waiting at most `limit` between bytes; "" on end or time-out.
inline std::string read_frame(int fd, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::string bytes;
    std::size_t want = 4;
    bool header = true;
    char buffer[65536];
    while(bytes.size() < want) {
        const ssize_t n = recv(fd, buffer, std::min(sizeof(buffer), want - bytes.size()), 0);
        if(n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        } else {
            pollfd watch {fd, POLLIN, 0};
            if(n == 0 || errno != EAGAIN || poll(&watch, 1, static_cast<int>(limit.count())) <= 0) {
                return {};
            }
        }
        if(header && bytes.size() == 4) {
            const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
            want = 4 + (std::size_t {b[0]} << 24 | std::size_t {b[1]} << 16 | std::size_t {b[2]} << 8 | b[3]);
            header = false;
        }
    }
    return bytes.substr(4);
}

}  // namespace rawsock
