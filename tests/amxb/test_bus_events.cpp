// Subscriptions on an in-process context: which events reach whom, and freeing the context from
// inside a delivery.
#include "event_recorder.h"
#include "in_process_fixture.h"

namespace {

class InProcessEvents : public InProcessBus {
protected:
    void set(const char* path, const char* param, const char* value) {
        Var values;
        make_table(&values.v, {{param, value}});
        ASSERT_EQ(amxb_set(ctx, path, &values.v, nullptr, 5), 0) << amxb_last_error(ctx);
    }

    void add(const char* path, uint32_t index, const char* param = nullptr, const char* value = nullptr) {
        Var values;
        if(param != nullptr) {
            make_table(&values.v, {{param, value}});
        }
        ASSERT_EQ(amxb_add(ctx, path, index, nullptr, param == nullptr ? nullptr : &values.v, nullptr, 5), 0)
            << amxb_last_error(ctx);
    }

    // Delivers everything the data model queued.
    static void deliver() {
        while(amxp_loop_run_pending() > 0) {
        }
    }

    static std::vector<std::string> paths(const EventRecorder& recorder) {
        std::vector<std::string> result;
        for(const ReceivedEvent& event : recorder.events) {
            result.push_back(event.name + " " + event.path);
        }
        return result;
    }

    EventRecorder recorder;
};

TEST_F(InProcessEvents, ObjectAndDescendantsOnlyAndOnTheLoop) {
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.Host.1", nullptr, EventRecorder::record, &recorder), 0) << amxb_last_error(ctx);
    set("Hosts.Host.1.IPv4Address.2.", "IPAddress", "192.168.1.12");
    EXPECT_TRUE(recorder.events.empty()) << "delivered on the loop, not inside the bus call";
    set("Hosts.Host.1.", "HostName", "alpha2");
    set("Hosts.Host.2.", "HostName", "other");  // a sibling
    add("Hosts.Host.", 10, "HostName", "ten");  // shares the prefix "Hosts.Host.1"
    set("Hosts.Host.10.", "HostName", "ten2");
    deliver();
    EXPECT_EQ(paths(recorder), (std::vector<std::string>{"dm:object-changed Hosts.Host.1.IPv4Address.2.",
                                                         "dm:object-changed Hosts.Host.1."}));
    EXPECT_EQ(recorder.events[0].at("parameters.IPAddress.from"), "192.168.1.11");
    EXPECT_EQ(recorder.events[0].at("parameters.IPAddress.to"), "192.168.1.12");
    EXPECT_EQ(recorder.events[0].at("notification"), "dm:object-changed");
}

TEST_F(InProcessEvents, SubscriberMayFreeTheContextDuringDelivery) {
    EventRecorder later;
    recorder.on_event = [this] { amxb_free(&ctx); };
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.", nullptr, EventRecorder::record, &recorder), 0);
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.", nullptr, EventRecorder::record, &later), 0);
    set("Hosts.Host.1.", "HostName", "a");
    deliver();
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(recorder.events.size(), 1u);
    EXPECT_TRUE(later.events.empty()) << "the context's other subscriptions died with it";
}

}  // namespace
