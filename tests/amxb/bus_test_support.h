// Helpers shared by the bus tests: variant handles, a subscriber, loop waits, raw frames on a
// socket, and a bus server in a child process with a client on it.
#ifndef BUS_TEST_SUPPORT_H
#define BUS_TEST_SUPPORT_H

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <amxb/amxb.h>
#include <amxc/amxc_scoped_var.h>
#include <amxp/amxp_loop.h>

using Var = amxc::ScopedVar;
using Clock = std::chrono::steady_clock;

// A subscriber that keeps a copy of each event's data.
struct EventRecorder {
    std::vector<std::shared_ptr<amxc_var_t>> events;
    std::function<void()> on_event;  // runs after recording, e.g. to free the context

    // The amxp_slot_fn_t to subscribe with; priv is the recorder.
    static void record(const char* /*sig_name*/, const amxc_var_t* data, void* priv) {
        auto* self = static_cast<EventRecorder*>(priv);
        amxc_var_t* copy = nullptr;
        amxc_var_new(&copy);
        amxc_var_copy(copy, data);
        self->events.emplace_back(copy, [](amxc_var_t* var) { amxc_var_delete(&var); });
        if(self->on_event) {
            self->on_event();
        }
    }
};

// Keys of a table variant in order.
inline std::vector<std::string> keys_of(const amxc_var_t* table) {
    std::vector<std::string> keys;
    amxc_var_for_each(member, table) {
        keys.emplace_back(amxc_var_key(member));
    }
    return keys;
}

// Text of the member at `key` of a table (keys may hold dots), "" when absent.
inline std::string text_of(const amxc_var_t* table, const char* key) {
    const char* text = amxc_var_get_const_cstring_t(amxc_var_get_key(table, key, AMXC_VAR_FLAG_DEFAULT));
    return text == nullptr ? std::string() : std::string(text);
}

// A table {key: value, ...} of texts, for set/add values and call arguments.
inline void make_table(amxc_var_t* var, const std::vector<std::pair<std::string, std::string>>& members) {
    amxc_var_set_type(var, AMXC_VAR_ID_HTABLE);
    for(const auto& [key, value] : members) {
        amxc_var_add_key(cstring_t, var, key.c_str(), value.c_str());
    }
}

// Runs the amxp loop until `done` holds or `limit_ms` passes; whether `done` held.
inline bool run_loop_until(const std::function<bool()>& done, int limit_ms = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    while(!done()) {
        if(Clock::now() >= deadline) {
            return false;
        }
        amxp_loop_run_once(20);
    }
    return true;
}

// A fresh directory under /tmp, removed with everything in it by the destructor.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/amxb-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        dir_ = made == nullptr ? std::string("/tmp") : std::string(made);
    }
    ~TempDir() {
        std::error_code ignored;
        if(dir_ != "/tmp") {
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

// ---- raw framed I/O, for tests that speak the wire protocol by hand ------------------------

inline int raw_connect(const std::string& socket_path) {
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof(address.sun_path) - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if(fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool raw_send(int fd, const std::string& bytes) {
    size_t done = 0;
    while(done < bytes.size()) {
        const ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if(sent <= 0) {
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    return true;
}

// The 4-byte big-endian length that starts a frame.
inline std::string frame_prefix(uint32_t size) {
    return {static_cast<char>(size >> 24), static_cast<char>((size >> 16) & 0xFF), static_cast<char>((size >> 8) & 0xFF),
            static_cast<char>(size & 0xFF)};
}

inline std::string frame_of(const std::string& text) {
    return frame_prefix(static_cast<uint32_t>(text.size())) + text;
}

// Waits for data until `deadline`, then reads what is there: the byte count, 0 at the end of
// the stream (or a reset), -1 when nothing came in time.
inline ssize_t recv_within(int fd, char* buffer, size_t length, Clock::time_point deadline) {
    while(true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry {fd, POLLIN, 0};
        if(poll(&entry, 1, left < 0 ? 0 : static_cast<int>(left)) <= 0) {
            return -1;
        }
        const ssize_t got = recv(fd, buffer, length, MSG_DONTWAIT);
        if(got >= 0 || errno == ECONNRESET) {
            return got < 0 ? 0 : got;
        }
    }
}

inline bool read_exact(int fd, char* buffer, size_t length, Clock::time_point deadline) {
    for(size_t done = 0; done < length;) {
        const ssize_t got = recv_within(fd, buffer + done, length - done, deadline);
        if(got <= 0) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

// The next frame's text, or nothing on end of stream or after `limit_ms`.
inline std::optional<std::string> raw_read_frame(int fd, int limit_ms = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    unsigned char prefix[4];
    if(!read_exact(fd, reinterpret_cast<char*>(prefix), sizeof(prefix), deadline)) {
        return std::nullopt;
    }
    const uint32_t length = (uint32_t(prefix[0]) << 24) | (uint32_t(prefix[1]) << 16) | (uint32_t(prefix[2]) << 8) | prefix[3];
    std::string text(length, '\0');
    if(length > 0 && !read_exact(fd, text.data(), length, deadline)) {
        return std::nullopt;
    }
    return text;
}

// Whether the peer closes the stream within `limit_ms` (data before the end is skipped).
inline bool raw_wait_closed(int fd, int limit_ms = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    char buffer[65536];
    ssize_t got = 1;
    while(got > 0) {
        got = recv_within(fd, buffer, sizeof(buffer), deadline);
    }
    return got == 0;
}

// ---- the test bus server (bus_test_server) in a child process, and a client on it -----------

class ServerProcess {
public:
    explicit ServerProcess(const std::string& socket_path) {
        int ready_pipe[2];
        if(pipe(ready_pipe) != 0) {
            return;
        }
        const pid_t child = fork();
        if(child == 0) {
            dup2(ready_pipe[1], STDOUT_FILENO);
            close(ready_pipe[0]);
            close(ready_pipe[1]);
            execl(BUS_TEST_SERVER, BUS_TEST_SERVER, socket_path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready_pipe[1]);
        pid_ = child;
        char line[16] = "";
        pollfd entry {ready_pipe[0], POLLIN, 0};
        const bool ready = child > 0 && poll(&entry, 1, 20000) == 1 && read(ready_pipe[0], line, 6) == 6 &&
                           std::strncmp(line, "ready\n", 6) == 0;
        close(ready_pipe[0]);
        if(!ready) {
            stop();
        }
    }
    ~ServerProcess() { stop(); }
    bool ready() const { return pid_ > 0; }

    // Stops the child with SIGTERM and returns its exit status (0: clean, sanitizers quiet).
    int stop() {
        if(pid_ <= 0) {
            return -1;
        }
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
};

class SocketBus : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<ServerProcess>(socket_path);
        ASSERT_TRUE(server->ready());
        ASSERT_EQ(amxb_connect(&client, ("unix:" + socket_path).c_str()), 0);
    }

    void TearDown() override {
        amxb_free(&client);
        if(server->ready()) {
            EXPECT_EQ(server->stop(), 0) << "the server must exit cleanly";
        }
    }

    TempDir dir;
    const std::string socket_path = dir.path("bus.sock");
    std::unique_ptr<ServerProcess> server;
    amxb_bus_ctx_t* client = nullptr;
};

#endif
