#include "signal_watch.h"

#include <amxp/amxp_loop.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace gw {

SignalWatch::SignalWatch(std::initializer_list<int> stop_signals, std::initializer_list<int> other_signals) {
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    for (int sig : stop_signals) {
        sigaddset(&set, sig);
        stop_mask_ |= 1ULL << (sig - 1);
    }
    for (int sig : other_signals) {
        sigaddset(&set, sig);
    }
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
        return;
    }
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

SignalWatch::~SignalWatch() {
    if (attached_) {
        amxp_loop_remove_fd(fd_);
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool SignalWatch::attach(std::string& error) {
    int rc = amxp_loop_add_fd(fd_, AMXP_FD_READ, &SignalWatch::on_readable, this);
    if (rc != 0) {
        error = std::string("cannot watch signals: ") + std::strerror(-rc);
        return false;
    }
    attached_ = true;
    return true;
}

void SignalWatch::on_readable(int fd, unsigned int /*events*/, void* priv) {
    auto* self = static_cast<SignalWatch*>(priv);
    signalfd_siginfo info {};
    while (read(fd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
        unsigned int sig = info.ssi_signo;
        if (sig == 0 || sig > 64) {
            continue;
        }
        if ((self->stop_mask_ & (1ULL << (sig - 1))) == 0) {
            auto handler = self->handlers_.find(static_cast<int>(sig));
            if (handler != self->handlers_.end()) {
                handler->second();
            }
            continue;
        }
        if (self->stop_signal_ == 0) {
            self->stop_signal_ = static_cast<int>(sig);
        }
        amxp_loop_stop();
    }
}

}  // namespace gw
