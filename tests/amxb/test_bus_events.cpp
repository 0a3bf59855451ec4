// Subscriptions on an in-process context: which events reach whom, filtering, and cancelling
// (also from inside a delivery).
#include "event_recorder.h"
#include "in_process_fixture.h"

namespace {

// The module's own filters, byte for byte.
const char* const hosts_filter =
    "notification in ['dm:object-changed', 'dm:instance-added'] && contains('parameters.IPAddress')";
const std::string schedules_filter =
    "(notification == 'dm:object-changed') &&" + std::string(46, ' ') +
    "(contains('parameters.Status') || contains('parameters.InverseMode'))";

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

    void del(const char* path) {
        ASSERT_EQ(amxb_del(ctx, path, nullptr, 5), 0) << amxb_last_error(ctx);
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

TEST_F(InProcessEvents, HostsFilterOfTheModule) {
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.Host.1", hosts_filter, EventRecorder::record, &recorder), 0) << amxb_last_error(ctx);
    add("Hosts.Host.1.IPv4Address.", 3, "IPAddress", "192.168.1.13");
    set("Hosts.Host.1.IPv4Address.1.", "IPAddress", "192.168.1.20");
    set("Hosts.Host.1.", "HostName", "renamed");   // no IPAddress in the data
    del("Hosts.Host.1.IPv4Address.3.");            // instance-removed is not asked for
    deliver();
    EXPECT_EQ(paths(recorder), (std::vector<std::string>{"dm:instance-added Hosts.Host.1.IPv4Address.",
                                                         "dm:object-changed Hosts.Host.1.IPv4Address.1."}));
}

TEST_F(InProcessEvents, SchedulesFilterOfTheModule) {
    ASSERT_EQ(amxb_subscribe(ctx, "Schedules.Schedule.1", schedules_filter.c_str(), EventRecorder::record, &recorder), 0)
        << amxb_last_error(ctx);
    set("Schedules.Schedule.1.", "Status", "Inactive");
    set("Schedules.Schedule.1.", "Status", "Inactive");  // no change, no event
    set("Schedules.Schedule.1.", "InverseMode", "true");
    deliver();
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[0].at("parameters.Status.to"), "Inactive");
    EXPECT_EQ(recorder.events[1].at("parameters.InverseMode.to"), "true");
}

TEST_F(InProcessEvents, BadFiltersAreRefusedNeverMatchAll) {
    EXPECT_EQ(amxb_subscribe(ctx, "Hosts.Host.1", "notification ==", EventRecorder::record, &recorder), amxd_status_invalid_expr);
    EXPECT_NE(std::string(amxb_last_error(ctx)).find("expression"), std::string::npos);
    EXPECT_EQ(amxb_subscribe(ctx, "Hosts.Host.1", "(a == 'b'", EventRecorder::record, &recorder), amxd_status_invalid_expr);
    EXPECT_EQ(amxb_subscribe(ctx, "Hosts.Host.1", "", EventRecorder::record, &recorder), amxd_status_invalid_expr);
    EXPECT_NE(amxb_subscribe(nullptr, "Hosts.Host.1", nullptr, EventRecorder::record, &recorder), 0);
    EXPECT_NE(amxb_subscribe(ctx, "Hosts.Host.1", nullptr, nullptr, &recorder), 0);
    EXPECT_EQ(amxb_subscribe(ctx, "Hosts..Host", nullptr, EventRecorder::record, &recorder), amxd_status_invalid_path);
    EXPECT_EQ(amxb_subscribe(ctx, "Nowhere.Thing", nullptr, EventRecorder::record, &recorder), amxd_status_object_not_found);
    set("Hosts.Host.1.", "HostName", "changed");
    deliver();
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(amxb_unsubscribe(ctx, "Hosts.Host.1", EventRecorder::record, &recorder), amxd_status_object_not_found)
        << "nothing was subscribed";
}

TEST_F(InProcessEvents, ObjectThatDoesNotExistYet) {
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.Host.7.", nullptr, EventRecorder::record, &recorder), 0);
    add("Hosts.Host.", 7, "HostName", "seven");
    set("Hosts.Host.7.", "HostName", "seven2");
    add("Hosts.Host.", 8);
    del("Hosts.Host.7.");
    deliver();
    EXPECT_EQ(paths(recorder), (std::vector<std::string>{"dm:instance-added Hosts.Host.",
                                                         "dm:object-changed Hosts.Host.7.",
                                                         "dm:instance-removed Hosts.Host."}));
}

TEST_F(InProcessEvents, UnsubscribeCancelsExactlyTheMatchingSubscriptions) {
    EventRecorder other;
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.Host.1.", nullptr, EventRecorder::record, &recorder), 0);
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.Host.1.", nullptr, EventRecorder::record, &other), 0);
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.Host.2.", nullptr, EventRecorder::record, &recorder), 0);

    ASSERT_EQ(amxb_unsubscribe(ctx, "Hosts.Host.1", EventRecorder::record, &recorder), 0);
    EXPECT_EQ(amxb_unsubscribe(ctx, "Hosts.Host.1.", EventRecorder::record, &recorder), amxd_status_object_not_found);
    set("Hosts.Host.1.", "HostName", "one");
    set("Hosts.Host.2.", "HostName", "two");
    deliver();
    EXPECT_EQ(paths(recorder), (std::vector<std::string>{"dm:object-changed Hosts.Host.2."}));
    EXPECT_EQ(paths(other), (std::vector<std::string>{"dm:object-changed Hosts.Host.1."}));
}

TEST_F(InProcessEvents, SameSubscriptionTwiceDeliversTwiceAndCancelsTogether) {
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.Host.1.", nullptr, EventRecorder::record, &recorder), 0);
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.Host.1.", hosts_filter, EventRecorder::record, &recorder), 0);
    set("Hosts.Host.1.IPv4Address.1.", "IPAddress", "10.0.0.1");
    deliver();
    EXPECT_EQ(recorder.events.size(), 2u);
    ASSERT_EQ(amxb_unsubscribe(ctx, "Hosts.Host.1.", EventRecorder::record, &recorder), 0);
    set("Hosts.Host.1.IPv4Address.1.", "IPAddress", "10.0.0.2");
    deliver();
    EXPECT_EQ(recorder.events.size(), 2u);
}

TEST_F(InProcessEvents, SubscriberMayCancelItselfDuringDelivery) {
    recorder.on_event = [this] { amxb_unsubscribe(ctx, "Hosts.", EventRecorder::record, &recorder); };
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.", nullptr, EventRecorder::record, &recorder), 0);
    set("Hosts.Host.1.", "HostName", "a");
    set("Hosts.Host.2.", "HostName", "b");
    deliver();
    EXPECT_EQ(recorder.events.size(), 1u);
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

TEST_F(InProcessEvents, FreeingTheContextCancelsItsSubscriptions) {
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.", nullptr, EventRecorder::record, &recorder), 0);
    amxd_trans_t trans;
    amxd_trans_init(&trans);
    amxd_trans_select_pathf(&trans, "Hosts.Host.1.");
    amxd_trans_set_cstring_t(&trans, "HostName", "queued");
    ASSERT_EQ(amxd_trans_apply(&trans, dm), amxd_status_ok);
    amxd_trans_clean(&trans);
    amxb_free(&ctx);  // the event is queued on the loop but must not reach the subscriber
    deliver();
    EXPECT_TRUE(recorder.events.empty());
}

}  // namespace
