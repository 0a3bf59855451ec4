#include "process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>
#include <thread>

#include "temp_dir.h"

namespace gwtest {
namespace {

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const auto& word : argv) {
        out.push_back(const_cast<char*>(word.c_str()));
    }
    out.push_back(nullptr);
    return out;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, std::string out_path, std::string err_path)
    : out_path_(std::move(out_path)), err_path_(std::move(err_path)) {
    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out_fd = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int err_fd = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (null_fd < 0 || out_fd < 0 || err_fd < 0) {
        throw std::runtime_error("cannot open output files of " + argv.at(0));
    }
    auto args = c_argv(argv);
    pid_ = fork();
    if (pid_ == 0) {  // only async-signal-safe calls from here
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a crashed test
        dup2(null_fd, STDIN_FILENO);
        dup2(out_fd, STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    close(null_fd);
    close(out_fd);
    close(err_fd);
}

Child::~Child() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

bool Child::running() {
    if (reaped_) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        outcome_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome_.term_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return false;
    }
    return true;
}

void Child::signal(int sig) const {
    if (!reaped_) {
        kill(pid_, sig);
    }
}

Outcome Child::stop(int sig, std::chrono::milliseconds limit) {
    if (running() && sig != 0) {
        kill(pid_, sig);
    }
    if (!wait_until([this] { return !running(); }, limit)) {
        outcome_.timed_out = true;
        kill(pid_, SIGKILL);
        wait_until([this] { return !running(); });
    }
    Outcome result = outcome_;
    result.out = out();
    result.err = err();
    return result;
}

std::string Child::out() const { return read_file(out_path_); }
std::string Child::err() const { return read_file(err_path_); }

Outcome run(const std::vector<std::string>& argv, std::chrono::milliseconds limit) {
    TempDir dir;
    return Child(argv, dir.file("out"), dir.file("err")).stop(0, limit);
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

}  // namespace gwtest
