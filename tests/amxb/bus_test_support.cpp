#include "bus_test_support.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <amxp/amxp_loop.h>

namespace {

using Clock = std::chrono::steady_clock;

int left_ms(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for data until `deadline`, then reads what is there: the byte count, 0 at the end of
// the stream (or a reset), -1 when nothing came in time.
ssize_t recv_within(int fd, char* buffer, size_t length, Clock::time_point deadline) {
    while(true) {
        pollfd entry {fd, POLLIN, 0};
        if(poll(&entry, 1, left_ms(deadline)) <= 0) {
            return -1;
        }
        const ssize_t got = recv(fd, buffer, length, MSG_DONTWAIT);
        if(got >= 0 || errno == ECONNRESET) {
            return got < 0 ? 0 : got;
        }
    }
}

bool read_exact(int fd, char* buffer, size_t length, Clock::time_point deadline) {
    for(size_t done = 0; done < length;) {
        const ssize_t got = recv_within(fd, buffer + done, length - done, deadline);
        if(got <= 0) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

void EventRecorder::record(const char* /*sig_name*/, const amxc_var_t* data, void* priv) {
    auto* self = static_cast<EventRecorder*>(priv);
    amxc_var_t* copy = nullptr;
    amxc_var_new(&copy);
    amxc_var_copy(copy, data);
    self->events.emplace_back(copy, [](amxc_var_t* var) { amxc_var_delete(&var); });
    if(self->on_event) {
        self->on_event();
    }
}

std::vector<std::string> keys_of(const amxc_var_t* table) {
    std::vector<std::string> keys;
    amxc_var_for_each(member, table) {
        keys.emplace_back(amxc_var_key(member));
    }
    return keys;
}

std::string text_of(const amxc_var_t* table, const char* key) {
    const char* text = amxc_var_get_const_cstring_t(amxc_var_get_key(table, key, AMXC_VAR_FLAG_DEFAULT));
    return text == nullptr ? std::string() : std::string(text);
}

void make_table(amxc_var_t* var, const std::vector<std::pair<std::string, std::string>>& members) {
    amxc_var_set_type(var, AMXC_VAR_ID_HTABLE);
    for(const auto& [key, value] : members) {
        amxc_var_add_key(cstring_t, var, key.c_str(), value.c_str());
    }
}

bool run_loop_until(const std::function<bool()>& done, int limit_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    while(!done()) {
        if(Clock::now() >= deadline) {
            return false;
        }
        amxp_loop_run_once(20);
    }
    return true;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/amxb-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    dir_ = made == nullptr ? std::string("/tmp") : std::string(made);
}

TempDir::~TempDir() {
    std::error_code ignored;
    if(dir_ != "/tmp") {
        std::filesystem::remove_all(dir_, ignored);
    }
}

int raw_connect(const std::string& socket_path) {
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

bool raw_send(int fd, const std::string& bytes) {
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

std::string frame_prefix(uint32_t size) {
    return {static_cast<char>(size >> 24), static_cast<char>((size >> 16) & 0xFF), static_cast<char>((size >> 8) & 0xFF),
            static_cast<char>(size & 0xFF)};
}

std::string frame_of(const std::string& text) {
    return frame_prefix(static_cast<uint32_t>(text.size())) + text;
}

std::optional<std::string> raw_read_frame(int fd, int limit_ms) {
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

bool raw_wait_closed(int fd, int limit_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    char buffer[65536];
    ssize_t got = 1;
    while(got > 0) {
        got = recv_within(fd, buffer, sizeof(buffer), deadline);
    }
    return got == 0;
}

ServerProcess::ServerProcess(const std::string& socket_path) {
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

ServerProcess::~ServerProcess() {
    stop();
}

int ServerProcess::stop() {
    if(pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
