// A subscriber that keeps what it receives.
#ifndef EVENT_RECORDER_H
#define EVENT_RECORDER_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <amxc/amxc_variant.h>

struct ReceivedEvent {
    std::string name;
    std::string path;
    std::shared_ptr<amxc_var_t> data;  // a copy of the event data

    // Text at a dotted path of the data ("parameters.Status.to"), "" when absent.
    std::string at(const char* dotted) const;
};

struct EventRecorder {
    std::vector<ReceivedEvent> events;
    std::function<void()> on_event;  // runs after recording, e.g. to cancel or free things

    // The amxp_slot_fn_t to subscribe with; priv is the recorder.
    static void record(const char* sig_name, const amxc_var_t* data, void* priv);
};

#endif
