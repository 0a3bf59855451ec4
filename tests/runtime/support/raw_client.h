// A client of the control socket that writes whatever bytes a test wants, to see how the
// runtime takes malformed, oversized, truncated or unread traffic.
#pragma once

#include <chrono>
#include <string>

namespace gwtest {

class RawClient {
public:
    // Connects to `socket_path`; connected() tells whether it worked.
    explicit RawClient(const std::string& socket_path);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return fd_ >= 0; }

    // Sends bytes as they are; false when the socket refuses them.
    bool send_bytes(const std::string& bytes);
    // Sends `json` behind its 4-byte big-endian length.
    bool send_frame(const std::string& json);

    // The next frame's text; "" when none came within `limit` or the connection closed.
    std::string read_frame(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Whether the runtime closed the connection within `limit` (what it still sent is dropped).
    bool closed_by_peer(std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    bool readable(std::chrono::steady_clock::time_point deadline) const;
    bool read_exact(char* out, std::size_t size, std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
};

}  // namespace gwtest
