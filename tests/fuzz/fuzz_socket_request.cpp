// The bus server on arbitrary client bytes: a listener on a Unix socket serves the bus tests'
// data model (fresh for each input); the input is sent as a client would send it (length
// prefixes and JSON requests, or garbage), then the client half-closes and reads every reply
// until the server hangs up. A server that neither answers nor closes is a hang.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <amxb/amxb.h>
#include <amxd/amxd_dm.h>
#include <amxp/amxp_loop.h>

#include "bus_test_dm.h"
#include "fuzz_require.h"

namespace {

constexpr int MAX_ROUNDS = 1000;  // loop iterations of 50 ms at most: a hang, not a slow input

// One listener for the whole run, in a folder of its own. Freed at exit (which removes its
// socket file), before the folder goes; the handler is registered after the statics it uses.
const std::string& socket_path() {
    static std::string folder;
    static std::string path;
    static amxb_bus_ctx_t* listener = nullptr;
    if(listener == nullptr) {
        char name[] = "/tmp/fuzz-socket-XXXXXX";
        require(mkdtemp(name) != nullptr);
        folder = name;
        path = folder + "/bus";
        require(amxb_listen(&listener, path.c_str()) == 0);
        std::atexit([] {
            amxb_free(&listener);
            rmdir(folder.c_str());
        });
    }
    return path;
}

int connect_client(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    require(fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0);
    return fd;
}

// Reads what the server sent; false once it has closed the connection.
bool drain(int fd) {
    char buffer[65536];
    for(;;) {
        const ssize_t got = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if(got > 0) {
            continue;
        }
        if(got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        return false;  // end of stream or reset: the server let go
    }
}

void converse(int fd, const uint8_t* data, size_t size) {
    size_t sent = 0;
    bool half_closed = false;
    for(int round = 0; round < MAX_ROUNDS; ++round) {
        if(sent < size) {
            const ssize_t n = send(fd, data + sent, size - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
            if(n > 0) {
                sent += static_cast<size_t>(n);
            } else if(errno != EAGAIN && errno != EWOULDBLOCK) {
                sent = size;  // the server closed early (after a refused frame): nothing more to say
            }
        }
        if(sent == size && !half_closed) {
            shutdown(fd, SHUT_WR);
            half_closed = true;
        }
        amxp_loop_run_once(50);
        if(!drain(fd)) {
            return;
        }
    }
    __builtin_trap();  // the server neither answered to the end nor closed
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = socket_path();
    amxd_dm_t* dm = bus_test_dm_new();
    amxb_bus_ctx_t* ctx = nullptr;
    require(amxb_register_dm(&ctx, dm) == 0);
    amxp_loop_run_pending();  // the filling's events, before anyone subscribes
    const int fd = connect_client(path);
    converse(fd, data, size);
    close(fd);
    amxp_loop_run_pending();  // the listener frees the closed connection
    amxb_free(&ctx);
    amxd_dm_delete(&dm);
    amxp_loop_run_pending();
    return 0;
}
