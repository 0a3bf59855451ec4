// Faults on the wire: hostile or broken clients against the listener, a server that does not
// answer or answers garbage against the client, and the socket file itself.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include <amxj/amxj.h>
#include <amxp/amxp_loop.h>

#include "bus_test_support.h"

namespace {

struct Reply {
    int64_t id = -1;
    int64_t status = -1;
    std::string error;
};

Reply parse_reply(const std::optional<std::string>& text) {
    Reply reply;
    Var message;
    if(!text || amxj_read(message.get(), text->data(), text->size(), nullptr, 0) != 0) {
        return reply;
    }
    reply.id = amxc_var_get_int64_t(amxc_var_get_key(message.get(), "id", 0));
    reply.status = amxc_var_get_int64_t(amxc_var_get_key(message.get(), "status", 0));
    reply.error = text_of(message.get(), "error");
    return reply;
}

class RawClient {
public:
    explicit RawClient(const std::string& path) : fd(raw_connect(path)) {}
    ~RawClient() {
        if(fd >= 0) {
            close(fd);
        }
    }
    Reply ask(const std::string& text) {
        if(!raw_send(fd, frame_of(text))) {
            return {};
        }
        return parse_reply(raw_read_frame(fd));
    }
    int fd;
};

// ---- hostile clients against the listener ------------------------------------------------

TEST_F(SocketBus, MalformedRequestsGetErrorRepliesAndTheConnectionLivesOn) {
    struct Case {
        std::string text;
        int64_t id;
        int64_t status;
    };
    const Case cases[] = {
        {"not json", 0, amxd_status_invalid_arg},
        {"", 0, amxd_status_invalid_arg},
        {"[1, 2]", 0, amxd_status_invalid_arg},
        {R"({"op": "get"})", 0, amxd_status_invalid_arg},
        {R"({"id": -1, "op": "get"})", 0, amxd_status_invalid_arg},
        {R"({"id": 5, "op": "fly", "path": "Hosts."})", 5, amxd_status_invalid_arg},
        {R"({"id": 6, "op": "get", "path": "Hosts."})", 6, amxd_status_invalid_arg},
        {R"({"id": 7, "op": "get", "path": "Hosts.", "depth": "0"})", 7, amxd_status_invalid_arg},
        {R"({"id": 8, "op": "get", "path": 42, "depth": 0})", 8, amxd_status_invalid_arg},
        {R"({"id": 9, "op": "set", "path": "Device.Test.", "values": [1]})", 9, amxd_status_invalid_arg},
        {R"({"id": 10, "op": "add", "path": "Hosts.Host.", "index": -3})", 10, amxd_status_invalid_arg},
        {R"({"id": 11, "op": "call", "path": "Device.Test.", "method": "Echo", "args": "x"})", 11, amxd_status_invalid_arg},
        {R"({"id": 12, "op": "subscribe", "path": "Hosts.", "sid": 1, "expression": "a =="})", 12, amxd_status_invalid_expr},
        {R"({"id": 13, "op": "subscribe", "path": "Hosts.", "sid": "one"})", 13, amxd_status_invalid_arg},
        {R"({"id": 14, "op": "unsubscribe", "sid": 99})", 14, amxd_status_object_not_found},
        {R"({"id": 15, "op": "get", "path": "Hosts.Host.1.%n%s", "depth": 0})", 15, amxd_status_invalid_path},
        {R"({"id": 16, "op": "set", "path": "Device.Test.", "values": {"Port": 1.5}})", 0, amxd_status_invalid_arg},
        {R"({"id": 17, "op": "get", "path": "Hosts.Host.2.", "depth": 0})", 17, amxd_status_ok},
    };
    RawClient raw(socket_path);
    ASSERT_GE(raw.fd, 0);
    for(const Case& c : cases) {
        const Reply reply = raw.ask(c.text);
        EXPECT_EQ(reply.id, c.id) << c.text;
        EXPECT_EQ(reply.status, c.status) << c.text << " -> " << reply.error;
        if(c.status == amxd_status_invalid_arg) {
            EXPECT_NE(reply.error.find("malformed request"), std::string::npos) << reply.error;
        }
    }
    Var reply;
    EXPECT_EQ(amxb_get(client, "Hosts.Host.2.", 0, reply.get(), 5), 0) << "other clients are not disturbed";
}

TEST_F(SocketBus, OversizedFrameIsAnsweredThenTheConnectionCloses) {
    RawClient raw(socket_path);
    ASSERT_TRUE(raw_send(raw.fd, frame_prefix(AMXB_MAX_FRAME_SIZE + 1) + std::string(1000, '{')));
    const Reply reply = parse_reply(raw_read_frame(raw.fd));
    EXPECT_EQ(reply.id, 0);
    EXPECT_EQ(reply.status, amxd_status_invalid_arg);
    EXPECT_NE(reply.error.find("frame limit"), std::string::npos) << reply.error;
    EXPECT_TRUE(raw_wait_closed(raw.fd));
    Var answer;
    EXPECT_EQ(amxb_get(client, "Hosts.", 0, answer.get(), 5), 0);
}

TEST_F(SocketBus, ClientThatStopsReadingIsDisconnected) {
    RawClient raw(socket_path);
    const std::string request = frame_of(R"({"id": 1, "op": "get", "path": "Hosts.", "depth": -1})");
    const std::optional<std::string> one = (raw_send(raw.fd, request), raw_read_frame(raw.fd));
    ASSERT_TRUE(one.has_value());
    // Enough requests for the unread replies to pass the backlog bound with room to spare for
    // what the kernel buffers on the way.
    const size_t count = (AMXB_MAX_CLIENT_BACKLOG + 4u * 1024u * 1024u) / one->size() + 1;
    std::string burst;
    for(size_t i = 0; i < count; ++i) {
        burst += request;
    }
    raw_send(raw.fd, burst);  // may fail part-way once the server has hung up
    EXPECT_TRUE(raw_wait_closed(raw.fd, 20000));
    Var answer;
    EXPECT_EQ(amxb_get(client, "Hosts.", 0, answer.get(), 5), 0) << "the server kept serving the others";
}

TEST_F(SocketBus, SubscriptionIdsBelongToTheirConnection) {
    RawClient first(socket_path);
    RawClient second(socket_path);
    const std::string subscribe = R"({"id": 1, "op": "subscribe", "path": "Hosts.Host.1.", "sid": 1, "expression": null})";
    EXPECT_EQ(first.ask(subscribe).status, 0);
    EXPECT_EQ(second.ask(subscribe).status, 0);
    EXPECT_EQ(first.ask(subscribe).status, amxd_status_invalid_arg) << "sid 1 is taken on this connection";

    Var values;
    make_table(values.get(), {{"HostName", "evented"}});
    ASSERT_EQ(amxb_set(client, "Hosts.Host.1.", values.get(), nullptr, 5), 0);
    for(RawClient* raw : {&first, &second}) {
        Var event;
        const std::optional<std::string> text = raw_read_frame(raw->fd);
        ASSERT_TRUE(text.has_value());
        ASSERT_EQ(amxj_read(event.get(), text->data(), text->size(), nullptr, 0), 0);
        EXPECT_EQ(amxc_var_get_int64_t(amxc_var_get_key(event.get(), "sid", 0)), 1);
        EXPECT_EQ(text_of(event.get(), "event"), "dm:object-changed");
        EXPECT_EQ(text_of(amxc_var_get_key(event.get(), "data", 0), "path"), "Hosts.Host.1.");
    }
    // A client that leaves with subscriptions open is cleaned up after.
    close(first.fd);
    first.fd = -1;
    EXPECT_EQ(amxb_set(client, "Hosts.Host.1.", values.get(), nullptr, 5), 0);
}

// ---- a scripted server against the client --------------------------------------------------

// Listens on `path`; a thread accepts one client and runs `script` on it.
class ScriptedServer {
public:
    ScriptedServer(const std::string& path, std::function<void(int)> script) {
        listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        listen(listen_fd_, 4);
        if(script) {
            thread_ = std::thread([this, script] {
                pollfd entry {listen_fd_, POLLIN, 0};
                if(poll(&entry, 1, 10000) == 1) {
                    const int fd = accept(listen_fd_, nullptr, nullptr);
                    script(fd);
                    close(fd);
                }
            });
        }
    }
    ~ScriptedServer() {
        if(thread_.joinable()) {
            thread_.join();
        }
        close(listen_fd_);
    }

private:
    int listen_fd_ = -1;
    std::thread thread_;
};

// The id of the next request, -1 when none came.
int64_t next_request(int fd) {
    return parse_reply(raw_read_frame(fd, 10000)).id;
}

void answer(int fd, int64_t id, const std::string& result_json) {
    raw_send(fd, frame_of(R"({"id": )" + std::to_string(id) + R"(, "status": 0, "error": "", "result": )" + result_json + "}"));
}

void answer_roots(int fd) {
    answer(fd, next_request(fd), R"(["Hosts."])");
}

class ScriptedBus : public ::testing::Test {
protected:
    void TearDown() override {
        amxb_free(&client);
    }
    TempDir dir;
    const std::string path = dir.path("scripted.sock");
    amxb_bus_ctx_t* client = nullptr;
};

TEST_F(ScriptedBus, GetTimesOutAndItsLateReplyIsNotTakenForTheNext) {
    ScriptedServer server(path, [](int fd) {
        answer_roots(fd);
        const int64_t ignored = next_request(fd);
        const int64_t next = next_request(fd);  // sent once the first one timed out
        answer(fd, ignored, R"([{"late.": {}}])");
        answer(fd, next, R"([{"fresh.": {}}])");
        next_request(fd);  // hold the connection until the client leaves
    });
    ASSERT_EQ(amxb_connect(&client, ("unix:" + path).c_str()), 0);
    Var reply;
    EXPECT_EQ(amxb_get(client, "Hosts.", 0, reply.get(), 1), amxd_status_timeout);
    EXPECT_NE(std::string(amxb_last_error(client)).find("no answer"), std::string::npos);
    ASSERT_EQ(amxb_get(client, "Hosts.", 0, reply.get(), 5), 0) << amxb_last_error(client);
    EXPECT_EQ(keys_of(amxc_var_get_first(reply.get())), (std::vector<std::string>{"fresh."}));
    amxb_free(&client);
}

// A server that answers garbage, too much, a message without a status or of no known kind, or
// that hangs up: only that connection breaks, with a clear error.
TEST_F(ScriptedBus, BrokenServerBreaksOnlyThatConnectionWithAClearError) {
    const struct {
        std::string bytes;  // none: hang up at once
        const char* why;
    } cases[] = {
        {frame_of("garbage"), "malformed message"},
        {frame_prefix(AMXB_MAX_FRAME_SIZE + 1), "oversized"},
        {frame_of(R"({"id": 2})"), "valid status"},
        {frame_of(R"({"hello": 1})"), "neither"},
        {std::string(), "closed"},
    };
    for(const auto& c : cases) {
        const std::string bytes = c.bytes;
        const std::string socket = dir.path(c.why);
        ScriptedServer server(socket, [bytes](int fd) {
            answer_roots(fd);
            next_request(fd);
            if(!bytes.empty()) {
                raw_send(fd, bytes);
                raw_wait_closed(fd, 10000);
            }
        });
        ASSERT_EQ(amxb_connect(&client, ("unix:" + socket).c_str()), 0);
        Var reply;
        EXPECT_EQ(amxb_get(client, "Hosts.", 0, reply.get(), 5), amxd_status_unknown_error) << c.why;
        EXPECT_NE(std::string(amxb_last_error(client)).find(c.why), std::string::npos) << amxb_last_error(client);
        EXPECT_EQ(amxb_be_who_has("Hosts."), nullptr) << "a broken connection serves nothing";
        EXPECT_EQ(amxb_get_fd(client), -1) << c.why;
        EXPECT_EQ(amxb_get(client, "Hosts.", 0, reply.get(), 5), amxd_status_unknown_error) << c.why;
        amxb_free(&client);  // lets the script see the end of the stream
    }
}

TEST_F(ScriptedBus, InvalidRootsRefuseTheConnection) {
    ScriptedServer server(path, [](int fd) {
        answer(fd, next_request(fd), R"(["Hosts.Host."])");
        raw_wait_closed(fd, 10000);
    });
    EXPECT_NE(amxb_connect(&client, ("unix:" + path).c_str()), 0);
    EXPECT_EQ(client, nullptr);
}

// A server busy taking in a burst of connections has its backlog full for a moment: a client
// then waits for room instead of failing at once.
TEST_F(ScriptedBus, AClientWaitsOutAFullBacklog) {
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    std::vector<int> burst;
    for(bool room = true; room && burst.size() < 64;) {
        burst.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        room = connect(burst.back(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    }
    ASSERT_EQ(errno, EAGAIN) << "the backlog never filled";
    std::thread server([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for(std::size_t queued = 0; queued + 1 < burst.size(); ++queued) {
            close(accept(listener, nullptr, nullptr));
        }
        pollfd entry {listener, POLLIN, 0};
        if(poll(&entry, 1, 5000) == 1) {
            const int fd = accept(listener, nullptr, nullptr);
            answer_roots(fd);
            next_request(fd);  // hold the connection until the client leaves
            close(fd);
        }
    });
    EXPECT_EQ(amxb_connect(&client, ("unix:" + path).c_str()), 0);
    amxb_free(&client);
    server.join();
    for(const int fd : burst) {
        close(fd);
    }
    close(listener);
}

// ---- the socket file -------------------------------------------------------------------------

TEST(ListenerSocket, StaleFileReplacedPrivateLiveOneAndOtherFilesKept) {
    TempDir dir;
    const std::string path = dir.path("bus.sock");
    {
        ScriptedServer crashed(path, nullptr);  // bound and listening, then closed: a stale file
    }
    amxb_bus_ctx_t* listener = nullptr;
    ASSERT_EQ(amxb_listen(&listener, path.c_str()), 0);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_GE(amxb_get_fd(listener), 0);
    EXPECT_EQ(amxb_be_who_has("Hosts."), nullptr) << "a listener serves nothing by itself";
    Var reply;
    EXPECT_EQ(amxb_get(listener, "Hosts.", 0, reply.get(), 1), amxd_status_not_supported);

    amxb_bus_ctx_t* second = nullptr;
    EXPECT_NE(amxb_listen(&second, path.c_str()), 0) << "a live socket is not taken over";
    EXPECT_EQ(second, nullptr);
    amxb_free(&listener);
    EXPECT_NE(stat(path.c_str(), &info), 0);

    const std::string file = dir.path("notes.txt");
    std::ofstream(file) << "keep me";
    EXPECT_NE(amxb_listen(&listener, file.c_str()), 0);
    std::ifstream kept(file);
    std::string content;
    std::getline(kept, content);
    EXPECT_EQ(content, "keep me");

    EXPECT_NE(amxb_listen(&listener, dir.path(std::string(200, 'x')).c_str()), 0);
    EXPECT_NE(amxb_listen(&listener, nullptr), 0);
}

}  // namespace
