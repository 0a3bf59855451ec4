// Helpers shared by the bus tests: variant handles, a subscriber, loop waits, raw frames on a
// socket, and a bus server in a child process with a client on it.
#ifndef BUS_TEST_SUPPORT_H
#define BUS_TEST_SUPPORT_H

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <amxb/amxb.h>
#include <amxc/amxc_scoped_var.h>

using Var = amxc::ScopedVar;

// A subscriber that keeps a copy of each event's data.
struct EventRecorder {
    std::vector<std::shared_ptr<amxc_var_t>> events;
    std::function<void()> on_event;  // runs after recording, e.g. to free the context

    // The amxp_slot_fn_t to subscribe with; priv is the recorder.
    static void record(const char* sig_name, const amxc_var_t* data, void* priv);
};

// Keys of a table variant in order.
std::vector<std::string> keys_of(const amxc_var_t* table);

// Text of the member at `key` of a table (keys may hold dots), "" when absent.
std::string text_of(const amxc_var_t* table, const char* key);

// A table {key: value, ...} of texts, for set/add values and call arguments.
void make_table(amxc_var_t* var, const std::vector<std::pair<std::string, std::string>>& members);

// Runs the amxp loop until `done` holds or `limit_ms` passes; whether `done` held.
bool run_loop_until(const std::function<bool()>& done, int limit_ms = 5000);

// A fresh directory under /tmp, removed with everything in it by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

// Raw framed I/O on a blocking or non-blocking socket, for tests that speak the wire protocol
// by hand.
int raw_connect(const std::string& socket_path);
bool raw_send(int fd, const std::string& bytes);
// The 4-byte big-endian length that starts a frame.
std::string frame_prefix(uint32_t size);
std::string frame_of(const std::string& text);
// The next frame's text, or nothing on end of stream or after `limit_ms`.
std::optional<std::string> raw_read_frame(int fd, int limit_ms = 5000);
// Whether the peer closes the stream within `limit_ms` (data before the end is skipped).
bool raw_wait_closed(int fd, int limit_ms = 5000);

// The test bus server (bus_test_server) running in a child process.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& socket_path);
    ~ServerProcess();
    bool ready() const { return pid_ > 0; }
    // Stops the child with SIGTERM and returns its exit status (0: clean, sanitizers quiet).
    int stop();

private:
    pid_t pid_ = -1;
};

// The test data model served by a bus server child process, and a client context on it.
class SocketBus : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<ServerProcess>(socket_path);
        ASSERT_TRUE(server->ready());
        ASSERT_EQ(amxb_connect(&client, uri.c_str()), 0);
    }

    void TearDown() override {
        amxb_free(&client);
        if(server->ready()) {
            EXPECT_EQ(server->stop(), 0) << "the server must exit cleanly";
        }
    }

    TempDir dir;
    const std::string socket_path = dir.path("bus.sock");
    const std::string uri = "unix:" + socket_path;
    std::unique_ptr<ServerProcess> server;
    amxb_bus_ctx_t* client = nullptr;
};

#endif
