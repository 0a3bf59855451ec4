// An in-process context freed from inside a delivery, and the headers used from C.
#include <gtest/gtest.h>

#include <amxb/amxb.h>
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

}  // namespace
