// An in-process context freed from inside a delivery, and the headers used from C.
#include "event_recorder.h"
#include "in_process_fixture.h"

extern "C" int c_api_round_trip(void);

namespace {

TEST(CApi, HeadersWorkFromC) {
    EXPECT_EQ(c_api_round_trip(), 1);
}

TEST_F(InProcessBus, SubscriberMayFreeTheContextDuringDelivery) {
    EventRecorder first;
    EventRecorder later;
    first.on_event = [this] { amxb_free(&ctx); };
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.", nullptr, EventRecorder::record, &first), 0);
    ASSERT_EQ(amxb_subscribe(ctx, "Hosts.", nullptr, EventRecorder::record, &later), 0);
    Var values;
    make_table(&values.v, {{"HostName", "a"}});
    ASSERT_EQ(amxb_set(ctx, "Hosts.Host.1.", &values.v, nullptr, 5), 0) << amxb_last_error(ctx);
    while(amxp_loop_run_pending() > 0) {
    }
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(first.events.size(), 1u);
    EXPECT_TRUE(later.events.empty()) << "the context's other subscriptions died with it";
}

}  // namespace
