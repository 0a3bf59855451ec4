// The module's entry point and the functions schedules.def binds by name. Only these are
// exported; everything else of the module stays hidden.
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include <amxd/amxd_object.h>
#include <amxd/amxd_parameter.h>
#include <amxo/amxo.h>
#include <zebtrace/zebtrace.h>

#include "schedule_service.h"
#include "tree_backup.h"

#define ME "schedules"
#define SCHEDULES_EXPORT __attribute__((visibility("default")))

namespace {

using schedules::ScheduleService;

// Longest text accepted: the names below are short, and a long one is only ever a mistake.
constexpr std::size_t kMaxText = 256;

amxd_object_t* schedules_object(amxd_dm_t* dm) { return dm == nullptr ? nullptr : amxd_dm_findf(dm, "Schedules."); }

ScheduleService* service_of(const amxd_object_t* schedules) {
    return static_cast<ScheduleService*>(amxd_object_get_priv(schedules));
}

void drop_service(amxd_object_t* schedules) {
    std::unique_ptr<ScheduleService> running(service_of(schedules));
    amxd_object_set_priv(schedules, nullptr);
}

std::string config_text(amxo_parser_t* parser, const char* key) {
    const char* text = parser == nullptr ? nullptr : amxc_var_get_const_cstring_t(amxo_parser_get_config(parser, key));
    return text == nullptr ? "" : text;
}

bool read_config(amxo_parser_t* parser, schedules::ServiceConfig& config, std::string& why) {
    const std::string clock = config_text(parser, "schedules-clock");
    const std::string sync = config_text(parser, "schedules-sync-check");
    const std::string unsynced = config_text(parser, "schedules-unsynced");
    if (!clock.empty()) {
        config.clock = clock;
    }
    if (sync == "none") {
        config.sync = schedules::SyncCheck::none;
    } else if (!sync.empty() && sync != "kernel") {
        why = "schedules-sync-check must be \"kernel\" or \"none\"";
        return false;
    }
    if (unsynced == "active") {
        config.unsynced = schedules::UnsyncedPolicy::active;
    } else if (!unsynced.empty() && unsynced != "inactive") {
        why = "schedules-unsynced must be \"active\" or \"inactive\"";
        return false;
    }
    return true;
}

int start(amxd_dm_t* dm, amxo_parser_t* parser) {
    amxd_object_t* schedules = schedules_object(dm);
    schedules::ServiceConfig config;
    std::string why = "no Schedules object in the data model";
    if (schedules == nullptr || !read_config(parser, config, why)) {
        zebTrace(TRACE_LEVEL_ERROR, "%s", why.c_str());
        return 1;
    }
    drop_service(schedules);  // a second start replaces the first
    std::unique_ptr<ScheduleService> service = ScheduleService::create(dm, schedules, config, why);
    if (service == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "%s", why.c_str());
        return 1;
    }
    amxd_object_set_priv(schedules, service.release());
    zebTraceZ(TRACE_LEVEL_INFO, ME, "schedules started");
    return 0;
}

int stop(amxd_dm_t* dm) {
    if (amxd_object_t* schedules = schedules_object(dm)) {
        drop_service(schedules);
    }
    return 0;
}

// The text a validate action is given; nullptr (refused) when it is not a text or too long.
const char* checked_text(const amxc_var_t* args, const amxd_param_t* param) {
    const char* text = amxc_var_get_const_cstring_t(args);
    if (text == nullptr || std::strlen(text) > kMaxText) {
        zebTrace(TRACE_LEVEL_WARNING, "%s refused: not a text of at most %zu bytes",
                 amxd_param_get_name(param), kMaxText);
        return nullptr;
    }
    return text;
}

// Runs one check of a written text; empty texts are left for the service to report.
template <typename Parse>
amxd_status_t check_text(const amxd_param_t* param, amxd_action_t reason, const amxc_var_t* args, Parse&& parse) {
    if (reason != action_param_validate) {
        return amxd_status_function_not_implemented;
    }
    const char* text = checked_text(args, param);
    if (text == nullptr) {
        return amxd_status_invalid_value;
    }
    std::string why;
    if (text[0] != '\0' && !parse(text, why)) {
        zebTrace(TRACE_LEVEL_WARNING, "%s refused: %s", amxd_param_get_name(param), why.c_str());
        return amxd_status_invalid_value;
    }
    return amxd_status_ok;
}

}  // namespace

extern "C" {

SCHEDULES_EXPORT int _schedules_main(int reason, amxd_dm_t* dm, amxo_parser_t* parser) {
    try {
        return reason == 0 ? start(dm, parser) : reason == 1 ? stop(dm) : 0;
    } catch (const std::exception& e) {  // only std::bad_alloc is expected; never into C callers
        zebTrace(TRACE_LEVEL_ERROR, "%s", e.what());
        return 1;
    }
}

SCHEDULES_EXPORT amxd_status_t _Export(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* /*args*/,
                                       amxc_var_t* ret) {
    try {
        amxc_var_set_type(ret, AMXC_VAR_ID_HTABLE);
        schedules::export_tree(object, amxc_var_add_new_key(ret, "data"));
        return amxd_status_ok;
    } catch (const std::exception& e) {
        zebTrace(TRACE_LEVEL_ERROR, "_Export: %s", e.what());
        return amxd_status_unknown_error;
    }
}

// Fails, with the reason as its return value, when anything of `data` is refused.
SCHEDULES_EXPORT amxd_status_t _Import(amxd_object_t* object, amxd_function_t* /*func*/, amxc_var_t* args,
                                       amxc_var_t* ret) {
    std::string why;
    try {
        if (schedules::import_tree(amxd_object_get_dm(object), amxc_var_get_key(args, "data", AMXC_VAR_FLAG_DEFAULT), why)) {
            return amxd_status_ok;
        }
    } catch (const std::exception& e) {
        why = e.what();
    }
    zebTrace(TRACE_LEVEL_WARNING, "_Import refused: %s", why.c_str());
    amxc_var_set_cstring_t(ret, why.c_str());
    return amxd_status_invalid_value;
}

SCHEDULES_EXPORT amxd_status_t _schedules_check_days(amxd_object_t* /*object*/, amxd_param_t* param,
                                                    amxd_action_t reason, const amxc_var_t* const args,
                                                    amxc_var_t* const /*retval*/, void* /*priv*/) {
    return check_text(param, reason, args,
                      [](const char* text, std::string& why) { return schedules::parse_days(text, why).has_value(); });
}

SCHEDULES_EXPORT amxd_status_t _schedules_check_time(amxd_object_t* /*object*/, amxd_param_t* param,
                                                    amxd_action_t reason, const amxc_var_t* const args,
                                                    amxc_var_t* const /*retval*/, void* /*priv*/) {
    return check_text(param, reason, args,
                      [](const char* text, std::string& why) { return schedules::parse_time(text, why).has_value(); });
}

// An empty zone is the system's, which may be unknown now and fine later: not refused.
SCHEDULES_EXPORT amxd_status_t _schedules_check_zone(amxd_object_t* /*object*/, amxd_param_t* param,
                                                    amxd_action_t reason, const amxc_var_t* const args,
                                                    amxc_var_t* const /*retval*/, void* /*priv*/) {
    return check_text(param, reason, args,
                      [](const char* text, std::string& why) { return schedules::find_zone(text, why) != nullptr; });
}

// Status: computed while the schedule has windows, so only the service writes it then.
// Otherwise any text, as before: the access-control module tells only "Active" from the rest.
SCHEDULES_EXPORT amxd_status_t _schedules_check_status(amxd_object_t* object, amxd_param_t* param,
                                                      amxd_action_t reason, const amxc_var_t* const args,
                                                      amxc_var_t* const /*retval*/, void* /*priv*/) {
    if (reason != action_param_validate) {
        return amxd_status_function_not_implemented;
    }
    const amxd_object_t* templ = amxd_object_get_parent(object);
    const ScheduleService* service = service_of(templ == nullptr ? nullptr : amxd_object_get_parent(templ));
    if (amxd_object_get_type(object) != amxd_object_instance || (service != nullptr && service->writing())) {
        return amxd_status_ok;
    }
    const amxd_object_t* windows = amxd_object_get_child(object, "Window");
    if (windows != nullptr && amxd_object_get_instance_count(windows) > 0) {
        zebTrace(TRACE_LEVEL_WARNING, "Status refused: the schedule's windows decide it");
        return amxd_status_read_only;
    }
    return checked_text(args, param) == nullptr ? amxd_status_invalid_value : amxd_status_ok;
}

}  // extern "C"
