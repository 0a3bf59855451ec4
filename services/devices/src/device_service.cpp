#include "device_service.h"

#include <cstdlib>
#include <memory>
#include <string>

#include <amxd/amxd_parameter.h>
#include <amxp/amxp_slot.h>
#include <zebtrace/zebtrace.h>

#include "report_signal.h"

#define ME "devices"

namespace devices {
namespace {

// Instance events of the table itself (their "path" is the template's) and changes of its
// instances.
constexpr const char* kTableEvents = "path == 'Devices.Device.'";
constexpr const char* kInstanceEvents = "path matches '^Devices\\.Device\\.[0-9]+\\.$'";

std::uint32_t event_index(const amxc_var_t* data) {
    return amxc_var_get_uint32_t(amxc_var_get_key(data, "index", AMXC_VAR_FLAG_DEFAULT));
}

// A table variant on the stack, cleaned when it goes out of scope.
struct Params {
    Params() { amxc_var_init(&var); }
    ~Params() { amxc_var_clean(&var); }
    Params(const Params&) = delete;
    Params& operator=(const Params&) = delete;
    amxc_var_t var;
};

}  // namespace

std::unique_ptr<DeviceService> DeviceService::create(amxd_dm_t* dm, amxd_object_t* devices) {
    amxd_object_t* table = amxd_object_get_child(devices, "Device");
    if(dm == nullptr || table == nullptr || amxd_object_get_type(table) != amxd_object_template) {
        return nullptr;
    }
    std::unique_ptr<DeviceService> service(new DeviceService(dm, table));
    return service->connect() ? std::move(service) : nullptr;
}

DeviceService::DeviceService(amxd_dm_t* dm, amxd_object_t* table)
    : dm_(dm),
      table_(table),
      book_([this](std::uint32_t query, const std::string& key, ReportAction action, const amxc_var_t* device) {
          report(query, key, action, device);
      }) {}

bool DeviceService::connect() {
    amxp_signal_mngr_t* signals = amxd_dm_get_sigmngr(dm_);
    return amxp_slot_connect(signals, "dm:instance-added", kTableEvents, on_added, this) == 0 &&
           amxp_slot_connect(signals, "dm:instance-removed", kTableEvents, on_removed, this) == 0 &&
           amxp_slot_connect(signals, "dm:object-changed", kInstanceEvents, on_changed, this) == 0;
}

// Also undoes a partial connect(): disconnecting what was never connected is harmless.
DeviceService::~DeviceService() {
    amxp_signal_mngr_t* signals = amxd_dm_get_sigmngr(dm_);
    amxp_slot_disconnect_with_priv(signals, on_added, this);
    amxp_slot_disconnect_with_priv(signals, on_removed, this);
    amxp_slot_disconnect_with_priv(signals, on_changed, this);
    book_.close_all();
}

amxd_status_t DeviceService::open_query(const char* expression, const char* name, amxc_var_t* ret) {
    const std::string text = expression == nullptr ? "" : expression;
    const std::string label = name == nullptr ? "" : name;
    ParseError error;
    std::unique_ptr<Expression> parsed = Expression::parse(text, error);
    if(parsed != nullptr) {
        parsed->for_each_field([&](const std::string& field, std::size_t position) {
            if(error.message.empty() && amxd_object_get_param_def(table_, field.c_str()) == nullptr) {
                error = ParseError{"unknown parameter '." + field + "'", position};
            }
        });
    }
    if(!error.message.empty()) {
        zebTrace(TRACE_LEVEL_WARNING, "query '%s' refused: %s at position %zu of \"%s\"", label.c_str(),
                 error.message.c_str(), error.position, text.c_str());
        return amxd_status_invalid_expr;
    }
    const std::uint32_t index = book_.open(std::move(parsed), label);
    if(index == 0) {
        zebTrace(TRACE_LEVEL_WARNING, "query '%s' refused: %zu queries are open already", label.c_str(), book_.size());
        return amxd_status_unknown_error;
    }
    zebTraceZ(TRACE_LEVEL_INFO, ME, "query %u '%s' opened: %s", index, label.c_str(), text.c_str());
    try {
        amxd_object_for_each_instance(instance, table_) {
            Params params;
            book_.match_existing(index, view_of(instance, &params.var));
        }
    } catch(...) {
        book_.close(index);  // nobody would ever learn its index
        throw;
    }
    amxc_var_set_uint32_t(ret, index);
    return amxd_status_ok;
}

amxd_status_t DeviceService::close_query(std::uint32_t index) {
    const std::string* name = book_.name_of(index);
    if(name == nullptr) {
        zebTraceZ(TRACE_LEVEL_NOTICE, ME, "closeQuery: no query %u", index);
        return amxd_status_object_not_found;
    }
    zebTraceZ(TRACE_LEVEL_INFO, ME, "query %u '%s' closed", index, name->c_str());
    book_.close(index);
    return amxd_status_ok;
}

DeviceView DeviceService::view_of(const amxd_object_t* instance, amxc_var_t* params) const {
    DeviceView view;
    view.index = amxd_object_get_index(instance);
    amxd_object_get_params(instance, params);
    amxc_var_for_each(param, params) {
        const char* text = amxc_var_get_const_cstring_t(param);
        if(text != nullptr) {
            view.fields.set(amxc_var_key(param), text);
            continue;
        }
        // Booleans and numbers are compared through their text ("true", "42").
        const std::unique_ptr<char, decltype(&std::free)> converted(amxc_var_get_cstring_t(param), &std::free);
        view.fields.set(amxc_var_key(param), converted ? converted.get() : "");
    }
    if(const std::string* tags = view.fields.text("Tags")) {
        view.fields.set_tags(*tags);
    }
    if(const std::string* key = view.fields.text("Key")) {
        view.key = *key;
    }
    view.data = params;
    return view;
}

void DeviceService::device_event(const amxd_object_t* instance, bool added) {
    Params params;
    const DeviceView view = view_of(instance, &params.var);
    if(added) {
        book_.device_added(view);
    } else {
        book_.device_changed(view);
    }
}

void DeviceService::report(std::uint32_t query, const std::string& key, ReportAction action,
                           const amxc_var_t* device) {
    if(!emit_report(dm_, query, key, action, device)) {
        zebTrace(TRACE_LEVEL_ERROR, "report %s of device '%s' for query %u lost: the event queue is full",
                 action_name(action), key.c_str(), query);
    }
}

// Events are handled when the loop delivers them, so the tree may have moved on since: an
// instance that is gone by now is skipped, and its removal event settles it.
void DeviceService::on_added(const char* /*sig_name*/, const amxc_var_t* data, void* priv) {
    auto* self = static_cast<DeviceService*>(priv);
    const amxd_object_t* instance = amxd_object_get_instance(self->table_, nullptr, event_index(data));
    if(instance != nullptr) {
        self->device_event(instance, true);
    }
}

void DeviceService::on_changed(const char* /*sig_name*/, const amxc_var_t* data, void* priv) {
    auto* self = static_cast<DeviceService*>(priv);
    const amxd_object_t* instance = amxd_dm_signal_get_object(self->dm_, data);
    if(instance != nullptr && amxd_object_get_parent(instance) == self->table_) {
        self->device_event(instance, false);
    }
}

void DeviceService::on_removed(const char* /*sig_name*/, const amxc_var_t* data, void* priv) {
    static_cast<DeviceService*>(priv)->book_.device_removed(event_index(data));
}

}  // namespace devices
