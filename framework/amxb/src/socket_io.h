// Unix-domain stream sockets, non-blocking, without SIGPIPE.
#ifndef AMXB_SOCKET_IO_H
#define AMXB_SOCKET_IO_H

#include <cstddef>
#include <string>

namespace amxb {

// A connected non-blocking socket to `path`, or -1 with `error` set.
int connect_unix(const std::string& path, std::string& error);

// A non-blocking listening socket at `path`, created with mode 0600, or -1 with `error` set.
// A socket file that nobody accepts on is replaced; any other existing file is left alone.
int listen_unix(const std::string& path, std::string& error);

// Result of one non-blocking transfer: bytes moved (> 0), `would_block`, `closed` (the peer
// closed; receive only) or `failed`.
namespace io {
constexpr long would_block = 0;
constexpr long closed = -1;
constexpr long failed = -2;
}  // namespace io

long send_some(int fd, const char* data, std::size_t length);
long receive_some(int fd, char* buffer, std::size_t length);

// Waits until `fd` can be read (`for_write` false) or written, or `timeout_ms` passes.
// 1 ready (also on hang-up or error, which the next transfer reports), 0 timed out, -1 failed.
int wait_fd(int fd, bool for_write, int timeout_ms);

}  // namespace amxb

#endif
