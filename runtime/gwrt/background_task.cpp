#include "background_task.h"

#include <amxp/amxp_loop.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace gwrt {
namespace {

// A reply is a status line, not data: more than this is a fault of the work, and cut.
constexpr std::size_t kMaxReply = 64 * 1024;

// Lets go of every socket inherited from the parent, the control socket's listener above all:
// while a child held it, a restarted parent would find its socket still served. Each number
// stays taken, by /dev/null, so that a file the child opens cannot be mistaken for one of them.
void drop_sockets(int keep) {
    gw::Fd null_fd(open("/dev/null", O_RDWR | O_CLOEXEC));
    DIR* dir = opendir("/proc/self/fd");
    if (null_fd.get() < 0 || dir == nullptr) {
        if (dir != nullptr) {
            closedir(dir);
        }
        return;
    }
    std::vector<int> sockets;
    while (const dirent* entry = readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        struct stat st {};
        if (fd > 2 && fd != keep && fd != dirfd(dir) && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) {
            sockets.push_back(fd);
        }
    }
    closedir(dir);
    for (const int fd : sockets) {
        dup2(null_fd.get(), fd);
    }
}

[[noreturn]] void run_child(pid_t parent, int reply_fd, const std::function<std::string()>& work) {
    // Dies with the parent, so no write of an earlier moment can land after a restarted
    // process has written its own.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
        _exit(1);
    }
    drop_sockets(reply_fd);
    int code = 1;
    try {
        code = gw::write_all(reply_fd, work()) ? 0 : 1;
    } catch (...) {
    }
    // No exit handlers or destructors: they belong to the parent's state.
    _exit(code);
}

}  // namespace

BackgroundTask::~BackgroundTask() { wait(); }

bool BackgroundTask::open_pipe(gw::Fd& write_end) {
    if (running()) {
        errno = EBUSY;
        return false;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    reply_fd_.reset(fds[0]);
    write_end.reset(fds[1]);
    return true;
}

void BackgroundTask::follow(Done done) {
    reply_.clear();
    done_ = std::move(done);
    // Without a watch the reply is read at once: slower for the loop, but never lost.
    if (fcntl(reply_fd_.get(), F_SETFL, O_NONBLOCK) != 0 ||
        amxp_loop_add_fd(reply_fd_.get(), AMXP_FD_READ, &BackgroundTask::on_readable, this) != 0) {
        wait();
    }
}

bool BackgroundTask::start_in_child(const std::function<std::string()>& work, Done done) {
    gw::Fd write_end;
    if (!open_pipe(write_end)) {
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        reply_fd_.reset();
        errno = error;
        return false;
    }
    if (pid == 0) {
        run_child(parent, write_end.get(), work);
    }
    pid_ = pid;
    write_end.reset();
    follow(std::move(done));
    return true;
}

bool BackgroundTask::start_in_thread(std::function<std::string()> work, Done done) {
    gw::Fd write_end;
    if (!open_pipe(write_end)) {
        return false;
    }
    const int out = write_end.release();
    try {
        // The write end closes when the work is done, which ends the reply.
        thread_ = std::thread([work = std::move(work), out] {
            gw::Fd end(out);
            try {
                gw::write_all(end.get(), work());
            } catch (...) {
            }
        });
    } catch (const std::system_error& error) {
        close(out);
        reply_fd_.reset();
        errno = error.code().value();
        return false;
    }
    follow(std::move(done));
    return true;
}

bool BackgroundTask::read_some() {
    char buffer[4096];
    for (;;) {
        ssize_t got = read(reply_fd_.get(), buffer, sizeof buffer);
        if (got > 0) {
            const std::size_t room = kMaxReply - std::min(kMaxReply, reply_.size());
            reply_.append(buffer, std::min(room, static_cast<std::size_t>(got)));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got == 0 || errno != EAGAIN;
    }
}

void BackgroundTask::on_readable(int /*fd*/, unsigned int /*events*/, void* priv) {
    auto* self = static_cast<BackgroundTask*>(priv);
    if (self->read_some()) {
        self->finish();
    }
}

void BackgroundTask::wait() {
    if (!running()) {
        return;
    }
    fcntl(reply_fd_.get(), F_SETFL, 0);
    read_some();
    finish();
}

void BackgroundTask::finish() {
    amxp_loop_remove_fd(reply_fd_.get());
    reply_fd_.reset();
    bool replied = !reply_.empty();
    if (thread_.joinable()) {
        thread_.join();
    } else {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        replied = replied && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    Done done = std::move(done_);
    done_ = nullptr;
    if (done) {
        done(replied ? std::optional<std::string>(std::move(reply_)) : std::nullopt);
    }
}

}  // namespace gwrt
