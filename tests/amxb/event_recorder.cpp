#include "event_recorder.h"

std::string ReceivedEvent::at(const char* dotted) const {
    char* text = amxc_var_get_cstring_t(amxc_var_get_path(data.get(), dotted, AMXC_VAR_FLAG_DEFAULT));
    std::string result = text == nullptr ? std::string() : std::string(text);
    free(text);
    return result;
}

void EventRecorder::record(const char* sig_name, const amxc_var_t* data, void* priv) {
    auto* self = static_cast<EventRecorder*>(priv);
    amxc_var_t* copy = nullptr;
    amxc_var_new(&copy);
    amxc_var_copy(copy, data);
    std::shared_ptr<amxc_var_t> owned(copy, [](amxc_var_t* var) { amxc_var_delete(&var); });
    const char* path = amxc_var_get_const_cstring_t(amxc_var_get_key(data, "path", AMXC_VAR_FLAG_DEFAULT));
    self->events.push_back({sig_name, path == nullptr ? "" : path, owned});
    if(self->on_event) {
        self->on_event();
    }
}
