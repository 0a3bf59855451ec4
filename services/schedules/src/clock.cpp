#include "clock.h"

#include <sys/inotify.h>
#include <sys/timerfd.h>
#include <sys/timex.h>
#include <unistd.h>

#include <amxp/amxp_loop.h>
#include <zebtrace/zebtrace.h>

#define ME "schedules"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace schedules {
namespace {

using std::chrono::nanoseconds;
using Precise = std::chrono::sys_time<nanoseconds>;

timespec to_timespec(nanoseconds ns) {
    const auto s = std::chrono::floor<std::chrono::seconds>(ns);
    return timespec{static_cast<time_t>(s.count()), static_cast<long>((ns - s).count())};
}

// A file descriptor watched on the event loop for reading; closed with it.
class WatchedFd {
public:
    WatchedFd(int fd, amxp_fd_cb_t cb, void* priv) : fd_(fd) {
        if (fd_ >= 0 && amxp_loop_add_fd(fd_, AMXP_FD_READ, cb, priv) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~WatchedFd() {
        if (fd_ >= 0) {
            amxp_loop_remove_fd(fd_);
            close(fd_);
        }
    }
    WatchedFd(const WatchedFd&) = delete;
    WatchedFd& operator=(const WatchedFd&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

class SystemClock final : public Clock {
public:
    SystemClock(SyncCheck check, Callback callback)
        : check_(check),
          callback_(std::move(callback)),
          timer_(timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC), on_timer, this) {}
    bool ready() const { return timer_.fd() >= 0; }

    Seconds now() const override { return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()); }

    bool synced() const override {
        if (check_ == SyncCheck::none) {
            return true;
        }
        timex tx{};
        const int state = adjtimex(&tx);
        return state != -1 && state != TIME_ERROR && (tx.status & STA_UNSYNC) == 0;
    }

    void arm(Seconds when) override {
        // Absolute and cancelled by any setting of the clock: that is how jumps are seen.
        itimerspec spec{};
        spec.it_value = to_timespec(when.time_since_epoch());
        if (spec.it_value.tv_sec <= 0) {
            spec.it_value.tv_nsec = 1;
        }
        if (timerfd_settime(timer_.fd(), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr) != 0) {
            zebTrace(TRACE_LEVEL_ERROR, "cannot arm the timer: %s", std::strerror(errno));
        }
    }

private:
    static void on_timer(int fd, uint32_t /*events*/, void* priv) {
        std::uint64_t expiries = 0;
        const bool jumped = read(fd, &expiries, sizeof expiries) < 0 && errno == ECANCELED;
        static_cast<SystemClock*>(priv)->callback_(jumped);
    }

    SyncCheck check_;
    Callback callback_;
    WatchedFd timer_;
};

class FakeClock final : public Clock {
public:
    FakeClock(std::string file, Callback callback)
        : file_(std::move(file)),
          callback_(std::move(callback)),
          timer_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC), on_timer, this),
          notify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC), on_notify, this) {}

    bool start(std::string& why) {
        if (timer_.fd() < 0 || notify_.fd() < 0) {
            why = std::string("no timer or inotify: ") + std::strerror(errno);
            return false;
        }
        const std::size_t slash = file_.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : file_.substr(0, slash == 0 ? 1 : slash);
        name_ = slash == std::string::npos ? file_ : file_.substr(slash + 1);
        if (inotify_add_watch(notify_.fd(), dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
            why = "cannot watch " + dir + ": " + std::strerror(errno);
            return false;
        }
        return load(why);
    }

    Seconds now() const override { return std::chrono::floor<std::chrono::seconds>(precise_now()); }
    bool synced() const override { return synced_; }

    void arm(Seconds when) override {
        const nanoseconds wait = std::max(Precise(when) - precise_now(), nanoseconds(1));
        itimerspec spec{};
        spec.it_value = to_timespec(wait);
        timerfd_settime(timer_.fd(), 0, &spec, nullptr);
    }

private:
    Precise precise_now() const { return base_ + (std::chrono::steady_clock::now() - read_at_); }

    // "TIME" or "TIME unsynced"; anything else leaves the clock as it was.
    bool load(std::string& why) {
        std::ifstream in(file_);
        std::string time;
        std::string flag;
        in >> time >> flag;
        const std::optional<Seconds> parsed = parse_utc(time);
        if (!parsed || (!flag.empty() && flag != "unsynced")) {
            why = file_ + " does not hold \"YYYY-MM-DDTHH:MM:SSZ [unsynced]\"";
            return false;
        }
        base_ = *parsed;
        read_at_ = std::chrono::steady_clock::now();
        synced_ = flag.empty();
        return true;
    }

    static void on_timer(int fd, uint32_t /*events*/, void* priv) {
        std::uint64_t expiries = 0;
        if (read(fd, &expiries, sizeof expiries) == sizeof expiries) {
            static_cast<FakeClock*>(priv)->callback_(false);
        }
    }

    static void on_notify(int fd, uint32_t /*events*/, void* priv) {
        auto* self = static_cast<FakeClock*>(priv);
        alignas(inotify_event) char buffer[4096];
        bool ours = false;
        ssize_t got = 0;
        while ((got = read(fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                ours = ours || (event->len > 0 && self->name_ == event->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        std::string why;
        if (!ours) {
            return;
        }
        if (!self->load(why)) {
            zebTrace(TRACE_LEVEL_WARNING, "fake clock kept: %s", why.c_str());
            return;
        }
        self->callback_(true);
    }

    std::string file_;
    std::string name_;
    Callback callback_;
    WatchedFd timer_;
    WatchedFd notify_;
    Precise base_;
    std::chrono::steady_clock::time_point read_at_;
    bool synced_ = true;
};

}  // namespace

std::unique_ptr<Clock> Clock::create(const std::string& spec, SyncCheck check, Callback callback, std::string& why) {
    if (spec.empty() || spec == "system") {
        auto clock = std::make_unique<SystemClock>(check, std::move(callback));
        if (!clock->ready()) {
            why = std::string("no wall-clock timer: ") + std::strerror(errno);
            return nullptr;
        }
        return clock;
    }
    if (spec.rfind("fake:", 0) == 0 && spec.size() > 5) {
        auto clock = std::make_unique<FakeClock>(spec.substr(5), std::move(callback));
        return clock->start(why) ? std::move(clock) : nullptr;
    }
    why = "schedules-clock '" + spec.substr(0, 64) + "' is neither \"system\" nor \"fake:<file>\"";
    return nullptr;
}

}  // namespace schedules
