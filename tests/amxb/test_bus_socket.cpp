// Calls and events: in process (a context freed from inside a delivery, the headers used from
// C) and over the Unix socket, against a server in a child process.
#include <unistd.h>

#include <amxp/amxp_loop.h>

#include "bus_test_dm.h"
#include "bus_test_support.h"

extern "C" int c_api_round_trip(void);

namespace {

TEST(CApi, HeadersWorkFromC) {
    EXPECT_EQ(c_api_round_trip(), 1);
}

TEST(InProcessBus, SubscriberMayFreeTheContextDuringDelivery) {
    amxd_dm_t* dm = bus_test_dm_new();
    amxp_loop_run_pending();  // the events of the filling, to nobody
    amxb_bus_ctx_t* ctx = nullptr;
    ASSERT_EQ(amxb_register_dm(&ctx, dm), 0);
    EventRecorder first;
    EventRecorder later;
    first.on_event = [&ctx] { amxb_free(&ctx); };
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.", nullptr, EventRecorder::record, &first), 0);
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.", nullptr, EventRecorder::record, &later), 0);
    Var values;
    make_table(values.get(), {{"HostName", "a"}});
    ASSERT_EQ(amxb_set(ctx, "Hosts.Host.1.", values.get(), nullptr, 5), 0) << amxb_last_error(ctx);
    while(amxp_loop_run_pending() > 0) {
    }
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(first.events.size(), 1u);
    EXPECT_TRUE(later.events.empty()) << "the context's other subscriptions died with it";
    amxd_dm_delete(&dm);
    amxp_loop_run_pending();
}

TEST_F(SocketBus, EventsArrivingDuringACallWaitForTheLoop) {
    EventRecorder recorder;
    bool in_call = false;
    bool delivered_in_call = false;
    recorder.on_event = [&] { delivered_in_call = delivered_in_call || in_call; };
    ASSERT_EQ(amxb_subscribe(client, "Device.Test.", nullptr, EventRecorder::record, &recorder), 0);
    Var values;
    make_table(values.get(), {{"Name", "Inactive"}});
    ASSERT_EQ(amxb_set(client, "Device.Test.", values.get(), nullptr, 5), 0);
    // Let the event reach the socket, then make a call that reads it off.
    usleep(200 * 1000);
    Var reply;
    in_call = true;
    ASSERT_EQ(amxb_get(client, "Device.Test.", 0, reply.get(), 5), 0);
    in_call = false;
    EXPECT_FALSE(delivered_in_call);
    ASSERT_TRUE(run_loop_until([&] { return !recorder.events.empty(); }));
    EXPECT_STREQ(amxc_var_get_const_cstring_t(amxc_var_get_path(recorder.events[0].get(), "parameters.Name.to", 0)),
                 "Inactive");
}

TEST_F(SocketBus, RequestsStayCappedWhileLargeRepliesArriveWhole) {
    Var values;
    make_table(values.get(), {{"Name", std::string(AMXB_MAX_FRAME_SIZE, 'n')}});
    EXPECT_EQ(amxb_set(client, "Device.Test.", values.get(), nullptr, 5), amxd_status_invalid_arg);
    EXPECT_NE(std::string(amxb_last_error(client)).find("frame limit"), std::string::npos) << amxb_last_error(client);

    // Small requests whose answer together outgrows a frame, each host larger than a part.
    const std::string long_name = std::string(400 * 1024, 'x') + "\xc3\xa9\n\"end";
    for(int i = 1; i <= 3; ++i) {
        make_table(values.get(), {{"HostName", long_name + std::to_string(i)}});
        ASSERT_EQ(amxb_add(client, "Hosts.Host.", 0, nullptr, values.get(), nullptr, 5), 0) << amxb_last_error(client);
    }
    Var reply;
    ASSERT_EQ(amxb_get(client, "Hosts.", -1, reply.get(), 5), 0) << amxb_last_error(client);
    const amxc_var_t* objects = amxc_var_get_first(reply.get());
    EXPECT_EQ(keys_of(objects).size(), 5u + 3u);
    const amxc_var_t* last = amxc_var_get_key(objects, "Hosts.Host.5.", AMXC_VAR_FLAG_DEFAULT);
    EXPECT_EQ(text_of(last, "HostName"), long_name + "3");
}

TEST(SocketConnect, RefusesBadUrisAndMissingServers) {
    amxb_bus_ctx_t* ctx = reinterpret_cast<amxb_bus_ctx_t*>(1);
    EXPECT_EQ(amxb_connect(&ctx, "tcp:localhost:1"), amxd_status_invalid_arg);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(amxb_connect(&ctx, nullptr), amxd_status_invalid_arg);
    EXPECT_NE(amxb_connect(&ctx, "unix:/nonexistent/amxb.sock"), 0);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_NE(amxb_connect(&ctx, ("unix:/" + std::string(200, 'x')).c_str()), 0);
}

}  // namespace
