// The clock schedules are judged by, and the one timer that wakes the service at the next
// change. Both kinds watch their file descriptors on the event loop and call back with
// `jumped` set when the time moved by other means than passing: then every verdict may be
// wrong and must be judged again at once.
//
// - "system": the wall clock. The timer is a CLOCK_REALTIME timerfd armed at an absolute time
//   with TFD_TIMER_CANCEL_ON_SET, so that a clock set by hand, an NTP step or a resume from
//   suspend ends it at once (ECANCELED). Synchronised: with the "kernel" check, when the
//   kernel's NTP state (adjtimex) does not say "unsynchronised"; with "none", always.
// - "fake:<file>": for tests and demonstrations. The file holds "YYYY-MM-DDTHH:MM:SSZ",
//   optionally followed by " unsynced"; the clock starts there and runs in real time, and
//   writing the file (inotify on its folder) is a jump to the new time. The timer is a
//   CLOCK_MONOTONIC timerfd.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "timetable.h"

namespace schedules {

enum class SyncCheck { kernel, none };

class Clock {
public:
    using Callback = std::function<void(bool jumped)>;

    // `spec` "system" (or "") or "fake:<file>"; nullptr with a reason when the clock cannot be
    // had (unknown spec, fake file unreadable, no timerfd).
    static std::unique_ptr<Clock> create(const std::string& spec, SyncCheck check, Callback callback,
                                         std::string& why);
    virtual ~Clock() = default;
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    virtual Seconds now() const = 0;
    virtual bool synced() const = 0;
    // Wakes the callback at `when` (at once when that has passed).
    virtual void arm(Seconds when) = 0;

protected:
    Clock() = default;
};

}  // namespace schedules
