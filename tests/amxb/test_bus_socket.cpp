// Calls over the Unix socket, against a server in a child process.
#include <unistd.h>

#include <algorithm>

#include <amxp/amxp_loop.h>

#include "socket_fixture.h"

namespace {

using Objects = std::vector<std::string>;

Objects objects_in(const amxc_var_t* reply) {
    return keys_of(amxc_var_get_index(reply, 0, AMXC_VAR_FLAG_DEFAULT));
}

const amxc_var_t* params_in(const amxc_var_t* reply, const char* object_path) {
    return amxc_var_get_key(amxc_var_get_index(reply, 0, AMXC_VAR_FLAG_DEFAULT), object_path, AMXC_VAR_FLAG_DEFAULT);
}

TEST_F(SocketBus, EventsArrivingDuringACallWaitForTheLoop) {
    EventRecorder recorder;
    bool in_call = false;
    bool delivered_in_call = false;
    recorder.on_event = [&] { delivered_in_call = delivered_in_call || in_call; };
    ASSERT_EQ(amxb_subscribe(client, "Schedules.", nullptr, EventRecorder::record, &recorder), 0);
    Var values;
    make_table(values.get(), {{"Status", "Inactive"}});
    ASSERT_EQ(amxb_set(client, "Schedules.Schedule.1.", values.get(), nullptr, 5), 0);
    // Let the event reach the socket, then make a call that reads it off.
    usleep(200 * 1000);
    Var reply;
    in_call = true;
    ASSERT_EQ(amxb_get(client, "Schedules.Schedule.1.", 0, reply.get(), 5), 0);
    in_call = false;
    EXPECT_FALSE(delivered_in_call);
    ASSERT_TRUE(run_loop_until([&] { return !recorder.events.empty(); }));
    EXPECT_STREQ(amxc_var_get_const_cstring_t(amxc_var_get_path(recorder.events[0].get(), "parameters.Status.to", 0)),
                 "Inactive");
}

TEST_F(SocketBus, ServerGoneFailsCallsWithoutHanging) {
    ASSERT_EQ(server->stop(), 0);
    Var reply;
    const int rc = amxb_get(client, "Hosts.", 0, reply.get(), 5);
    EXPECT_NE(rc, 0);
    EXPECT_NE(rc, amxd_status_timeout) << "a closed connection is noticed at once";
    EXPECT_STRNE(amxb_last_error(client), "");
    EXPECT_EQ(amxb_be_who_has("Hosts."), nullptr) << "a broken connection serves nothing";
    EXPECT_EQ(amxb_get_fd(client), -1);
    EXPECT_NE(amxb_get(client, "Hosts.", 0, reply.get(), 5), 0);
}

TEST_F(SocketBus, RequestsStayCappedWhileLargeRepliesComeInParts) {
    Var values;
    make_table(values.get(), {{"Name", std::string(AMXB_MAX_FRAME_SIZE, 'n')}});
    EXPECT_EQ(amxb_set(client, "Device.Test.", values.get(), nullptr, 5), amxd_status_invalid_arg);
    EXPECT_NE(std::string(amxb_last_error(client)).find("frame limit"), std::string::npos) << amxb_last_error(client);

    // Small requests whose answer together outgrows a frame, one host larger than a part.
    const std::string long_name(60 * 1024, 'h');
    for(int i = 0; i < 20; ++i) {
        make_table(values.get(), {{"HostName", long_name + std::to_string(i)}});
        ASSERT_EQ(amxb_add(client, "Hosts.Host.", 0, nullptr, values.get(), nullptr, 5), 0) << amxb_last_error(client);
    }
    make_table(values.get(), {{"HostName", std::string(300 * 1024, 'x') + "\xc3\xa9\n\"end"}});
    ASSERT_EQ(amxb_add(client, "Hosts.Host.", 0, nullptr, values.get(), nullptr, 5), 0) << amxb_last_error(client);
    Var reply;
    ASSERT_EQ(amxb_get(client, "Hosts.", -1, reply.get(), 5), 0) << amxb_last_error(client);
    EXPECT_EQ(objects_in(reply.get()).size(), 6u + 21u);
    EXPECT_EQ(text_of(params_in(reply.get(), "Hosts.Host.22."), "HostName"), long_name + "19");
    EXPECT_EQ(text_of(params_in(reply.get(), "Hosts.Host.23."), "HostName"), std::string(300 * 1024, 'x') + "\xc3\xa9\n\"end");

    // The same reply handed over part by part, each usable as it comes.
    std::vector<size_t> depths;
    auto on_part = [](const amxc_var_t* at, const amxc_var_t* /*piece*/, void* priv) {
        static_cast<std::vector<size_t>*>(priv)->push_back(amxc_var_size(at));
    };
    ASSERT_EQ(amxb_set_reply_part_handler(client, on_part, &depths), 0);
    ASSERT_EQ(amxb_get(client, "Hosts.", -1, reply.get(), 5), 0) << amxb_last_error(client);
    EXPECT_EQ(amxc_var_type_of(reply.get()), AMXC_VAR_ID_NULL);
    EXPECT_GT(depths.size(), 4u);
    EXPECT_EQ(depths.front(), 0u) << "the list that holds the objects comes first";
    EXPECT_NE(std::find(depths.begin(), depths.end(), 3u), depths.end()) << "the largest host name comes in slices";
    amxb_set_reply_part_handler(client, nullptr, nullptr);
    EXPECT_EQ(amxb_get(client, "Hosts.Host.1.", 0, reply.get(), 5), 0) << "the connection is still fine";
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
