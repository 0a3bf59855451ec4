#include "schedule_service.h"

#include <amxd/amxd_transaction.h>
#include <amxp/amxp_slot.h>
#include <zebtrace/zebtrace.h>

#include <cstdlib>
#include <cstring>

#define ME "schedules"

namespace schedules {
namespace {

constexpr const char* kTablePath = "Schedules.Schedule.";
constexpr const char* kEvents = "path starts with 'Schedules.Schedule.'";
// While the clock is not synchronised nothing says when it will be: look again this often.
constexpr std::chrono::seconds kSyncRecheck{10};
// A timer is always armed: the system clock sees jumps only through an armed timer.
constexpr std::chrono::hours kLongestSleep{24};

std::string text_of(const amxd_object_t* object, const char* name) {
    const char* text = amxc_var_get_const_cstring_t(amxd_object_get_param_value(object, name));
    return text == nullptr ? "" : text;
}

// The schedule an event is about: "Schedules.Schedule.<id>..." or the table's own events.
std::uint32_t schedule_of(const amxc_var_t* data) {
    const char* path = amxc_var_get_const_cstring_t(amxc_var_get_key(data, "path", AMXC_VAR_FLAG_DEFAULT));
    const std::size_t prefix = std::strlen(kTablePath);
    if (path == nullptr || std::strncmp(path, kTablePath, prefix) != 0) {
        return 0;
    }
    if (path[prefix] == '\0') {
        return amxc_var_get_uint32_t(amxc_var_get_key(data, "index", AMXC_VAR_FLAG_DEFAULT));
    }
    return static_cast<std::uint32_t>(std::strtoul(path + prefix, nullptr, 10));
}

// Changes of only what the service itself (or a client, for schedules without windows) writes.
bool only_status(const amxc_var_t* data) {
    const amxc_var_t* params = amxc_var_get_key(data, "parameters", AMXC_VAR_FLAG_DEFAULT);
    bool other = false;
    amxc_var_for_each(param, params) {
        const char* name = amxc_var_key(param);
        other = other || (std::strcmp(name, "Status") != 0 && std::strcmp(name, "StatusInfo") != 0);
    }
    return !other;
}

// What schedule `instance` (with at least one window) asks for, or why it cannot be used.
Plan plan_of(const amxd_object_t* instance, const amxd_object_t* windows) {
    Plan plan;
    plan.enabled = amxc_var_get_bool(amxd_object_get_param_value(instance, "Enable"));
    Timetable table;
    std::string why;
    table.zone = find_zone(text_of(instance, "TimeZone"), why);
    if (table.zone == nullptr) {
        plan.error = "TimeZone: " + why;
        return plan;
    }
    amxd_object_for_each_instance(window, windows) {
        const std::string name = "Window." + std::to_string(amxd_object_get_index(window));
        const std::string days = text_of(window, "Days");
        const std::string start = text_of(window, "StartTime");
        const std::string end = text_of(window, "EndTime");
        if (days.empty() || start.empty() || end.empty()) {
            plan.error = name + " needs Days, StartTime and EndTime";
            return plan;
        }
        const auto d = parse_days(days, why);
        const auto s = parse_time(start, why);
        const auto e = parse_time(end, why);
        if (!d || !s || !e) {
            plan.error = name + ": " + why;
            return plan;
        }
        table.windows.push_back(Window{*d, *s, *e});
    }
    plan.table = std::move(table);
    return plan;
}

}  // namespace

std::unique_ptr<ScheduleService> ScheduleService::create(amxd_dm_t* dm, amxd_object_t* schedules,
                                                         const ServiceConfig& config, std::string& why) {
    amxd_object_t* table = amxd_object_get_child(schedules, "Schedule");
    if (dm == nullptr || table == nullptr || amxd_object_get_type(table) != amxd_object_template) {
        why = "no Schedules.Schedule. table";
        return nullptr;
    }
    std::unique_ptr<ScheduleService> service(new ScheduleService(dm, table, config.unsynced));
    ScheduleService* self = service.get();
    service->clock_ = Clock::create(config.clock, config.sync, [self](bool jumped) { self->on_clock(jumped); }, why);
    if (service->clock_ == nullptr) {
        return nullptr;
    }
    if (!service->connect()) {
        why = "cannot follow the data model's events";
        return nullptr;
    }
    amxd_object_for_each_instance(instance, table) {
        service->refresh(amxd_object_get_index(instance));
    }
    service->run(true);
    return service;
}

ScheduleService::ScheduleService(amxd_dm_t* dm, amxd_object_t* table, UnsyncedPolicy unsynced)
    : dm_(dm), table_(table), book_(unsynced) {}

bool ScheduleService::connect() {
    amxp_signal_mngr_t* signals = amxd_dm_get_sigmngr(dm_);
    return amxp_slot_connect(signals, "dm:instance-added", kEvents, on_event, this) == 0 &&
           amxp_slot_connect(signals, "dm:instance-removed", kEvents, on_event, this) == 0 &&
           amxp_slot_connect(signals, "dm:object-changed", kEvents, on_event, this) == 0;
}

ScheduleService::~ScheduleService() { amxp_slot_disconnect_with_priv(amxd_dm_get_sigmngr(dm_), on_event, this); }

// Events arrive when the loop delivers them, so the tree may have moved on: the schedule is
// read as it is now.
void ScheduleService::on_event(const char* sig_name, const amxc_var_t* data, void* priv) {
    auto* self = static_cast<ScheduleService*>(priv);
    const std::uint32_t id = schedule_of(data);
    if (id == 0 || (std::strcmp(sig_name, "dm:object-changed") == 0 && only_status(data))) {
        return;
    }
    self->refresh(id);
    self->run(false);
}

void ScheduleService::on_clock(bool jumped) {
    if (jumped) {
        zebTraceZ(TRACE_LEVEL_NOTICE, ME, "the clock was set: every schedule judged again");
    }
    run(jumped);
}

void ScheduleService::refresh(std::uint32_t id) {
    const amxd_object_t* instance = amxd_object_get_instance(table_, nullptr, id);
    const amxd_object_t* windows = instance == nullptr ? nullptr : amxd_object_get_child(instance, "Window");
    if (windows != nullptr && amxd_object_get_instance_count(windows) > 0) {
        book_.set(id, plan_of(instance, windows));
        return;
    }
    if (book_.contains(id)) {
        book_.remove(id);
        if (instance != nullptr) {
            write(id, Verdict{text_of(instance, "Status"), ""});  // the client's again, with no reason
        }
    }
}

void ScheduleService::run(bool all) {
    // A change of synchronisation (the system clock's may come without a jump) changes every
    // verdict.
    const bool synced = clock_->synced();
    all = all || synced != last_synced_;
    last_synced_ = synced;
    const Seconds now = clock_->now();
    for (const auto& [id, verdict] : book_.recompute(now, synced, all)) {
        write(id, verdict);
    }
    Seconds wake = now + (synced ? std::chrono::seconds(kLongestSleep) : kSyncRecheck);
    if (const std::optional<Seconds> due = book_.next_due(); due && *due < wake) {
        wake = *due;
    }
    clock_->arm(wake);
}

void ScheduleService::write(std::uint32_t id, const Verdict& verdict) {
    amxd_trans_t trans;
    amxd_trans_init(&trans);
    amxd_trans_set_attr(&trans, amxd_tattr_change_ro, true);
    amxd_trans_select_pathf(&trans, "%s%u.", kTablePath, id);
    amxd_trans_set_cstring_t(&trans, "Status", verdict.status.c_str());
    amxd_trans_set_cstring_t(&trans, "StatusInfo", verdict.info.c_str());
    writing_ = true;
    const amxd_status_t status = amxd_trans_apply(&trans, dm_);
    writing_ = false;
    if (status != amxd_status_ok) {
        zebTrace(TRACE_LEVEL_ERROR, "Schedule.%u.Status not written: %s", id, amxd_trans_get_error(&trans));
    } else if (!verdict.status.empty()) {
        zebTraceZ(TRACE_LEVEL_INFO, ME, "Schedule.%u %s %s", id, verdict.status.c_str(), verdict.info.c_str());
    }
    amxd_trans_clean(&trans);
}

}  // namespace schedules
