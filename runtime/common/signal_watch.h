// Signals read from a signalfd on the event loop, so that no work is ever done inside a signal
// handler. Stop signals end amxp_loop_run(); other watched signals run their handler on the
// loop, or are dropped when they have none. SIGPIPE is ignored as well, so a peer that goes
// away cannot kill the process.
#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <string>

namespace gw {

class SignalWatch {
public:
    // Blocks the given signals for the whole process (construct it before anything starts
    // threads) and opens the signalfd. Check ok() afterwards.
    SignalWatch(std::initializer_list<int> stop_signals, std::initializer_list<int> other_signals);
    // Stops watching and closes the signalfd; the signals stay blocked.
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    bool ok() const { return fd_ >= 0; }

    // Watches the signalfd on the loop. False, with a reason in `error`, when that fails.
    bool attach(std::string& error);

    // Runs `handler` on the loop for each `sig` received (one of the other signals).
    void on(int sig, std::function<void()> handler) { handlers_[sig] = std::move(handler); }

    // The first stop signal received; 0 while none was.
    int stop_signal() const { return stop_signal_; }

private:
    static void on_readable(int fd, unsigned int events, void* priv);

    int fd_ = -1;
    bool attached_ = false;
    int stop_signal_ = 0;
    unsigned long long stop_mask_ = 0;  // bit n-1 set for each stop signal n
    std::map<int, std::function<void()>> handlers_;
};

}  // namespace gw
