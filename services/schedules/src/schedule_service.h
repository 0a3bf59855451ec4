// The schedules service on one data model: follows Schedules.Schedule.{i} and their windows
// through the data model's events, judges the schedules that have windows on its clock, and
// writes their Status and StatusInfo. Schedules without windows are left to their clients.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <amxd/amxd_dm.h>
#include <amxd/amxd_object.h>

#include "clock.h"
#include "schedule_book.h"

namespace schedules {

struct ServiceConfig {
    std::string clock = "system";  // see Clock::create
    SyncCheck sync = SyncCheck::kernel;
    UnsyncedPolicy unsynced = UnsyncedPolicy::inactive;
};

class ScheduleService {
public:
    // Serves `schedules` ("Schedules.", borrowed) of `dm` (borrowed); both outlive the service.
    // nullptr, with a reason, when the clock cannot be had or the events cannot be followed.
    static std::unique_ptr<ScheduleService> create(amxd_dm_t* dm, amxd_object_t* schedules,
                                                   const ServiceConfig& config, std::string& why);
    ~ScheduleService();
    ScheduleService(const ScheduleService&) = delete;
    ScheduleService& operator=(const ScheduleService&) = delete;

    // Whether the service is writing a Status now (clients may not write a computed one).
    bool writing() const { return writing_; }

private:
    ScheduleService(amxd_dm_t* dm, amxd_object_t* table, UnsyncedPolicy unsynced);
    bool connect();

    static void on_event(const char* sig_name, const amxc_var_t* data, void* priv);
    void on_clock(bool jumped);

    // Reads schedule `id` anew from the tree into the book (or out of it).
    void refresh(std::uint32_t id);
    // Judges what is due (everything with `all`), writes what changed and re-arms the timer.
    void run(bool all);
    void write(std::uint32_t id, const Verdict& verdict);

    amxd_dm_t* dm_;
    amxd_object_t* table_;  // Schedules.Schedule.
    ScheduleBook book_;
    std::unique_ptr<Clock> clock_;
    bool writing_ = false;
    bool last_synced_ = true;
};

}  // namespace schedules
