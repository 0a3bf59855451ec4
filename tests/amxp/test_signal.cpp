#include "test_amxp_fixture.h"
#include "test_expr_event_data.h"

#include <amxp/amxp_signal.h>
#include <amxp/amxp_slot.h>

#include <cerrno>

namespace {

using SignalTest = LoopTest;
using Strings = std::vector<std::string>;

// Logs "<priv>/<signal>:<data text or ->".
void log_slot(const char* const name, const amxc_var_t* const data, void* const priv) {
    const char* value = data != nullptr ? amxc_var_get_const_cstring_t(data) : nullptr;
    std::string entry(static_cast<const char*>(priv));
    entry.append("/").append(name).append(":").append(value != nullptr ? value : "-");
    g_log.push_back(std::move(entry));
}

void* tag(const char* t) {
    return const_cast<char*>(t);
}

struct Text : amxc::ScopedVar {
    explicit Text(const char* value) { amxc_var_set_cstring_t(get(), value); }
};

struct Mngr {
    amxp_signal_mngr_t* m = nullptr;
    Mngr() { EXPECT_EQ(amxp_sigmngr_new(&m), 0); }
    ~Mngr() { amxp_sigmngr_delete(&m); }
};

TEST_F(SignalTest, EmissionsAreDeliveredOnTheLoopInOrderToSlotsInConnectionOrder) {
    Mngr mngr;
    ASSERT_EQ(amxp_slot_connect(mngr.m, "changed", nullptr, log_slot, tag("b")), 0);
    ASSERT_EQ(amxp_slot_connect(mngr.m, "*", nullptr, log_slot, tag("a")), 0);
    Text one("1");
    Text two("2");
    ASSERT_EQ(amxp_sigmngr_emit(mngr.m, "changed", one.get()), 0);
    ASSERT_EQ(amxp_sigmngr_emit(mngr.m, "other", two.get()), 0);
    ASSERT_EQ(amxp_sigmngr_emit(mngr.m, "changed", nullptr), 0);
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(amxp_loop_run_pending(), 3);
    EXPECT_EQ(g_log, (Strings{"b/changed:1", "a/changed:1", "a/other:2", "b/changed:-", "a/changed:-"}));
}

TEST_F(SignalTest, FullQueueRefusesTheEmitAndKeepsWhatWasQueued) {
    Mngr mngr;
    amxp_slot_connect(mngr.m, "s", nullptr, log_slot, tag("a"));
    Text data("d");
    for(int i = 0; i < AMXP_LOOP_QUEUE_MAX; ++i) {
        ASSERT_EQ(amxp_sigmngr_emit(mngr.m, "s", data.get()), 0);
    }
    EXPECT_EQ(amxp_sigmngr_emit(mngr.m, "s", data.get()), -ENOSPC);
    EXPECT_EQ(amxp_loop_run_pending(), AMXP_LOOP_QUEUE_MAX);
    EXPECT_EQ(g_log.size(), static_cast<std::size_t>(AMXP_LOOP_QUEUE_MAX));
}

amxp_signal_mngr_t* g_mngr = nullptr;

TEST_F(SignalTest, DeletedManagerCallsNoFurtherSlotsAndDropsItsPendingEmissions) {
    Mngr survivor;
    amxp_sigmngr_new(&g_mngr);
    amxp_slot_connect(g_mngr, "s", nullptr, [](const char* const, const amxc_var_t* const, void* const) {
        g_log.emplace_back("deleting");
        amxp_sigmngr_delete(&g_mngr);
    }, nullptr);
    amxp_slot_connect(g_mngr, "s", nullptr, log_slot, tag("after-delete"));
    amxp_slot_connect(survivor.m, "s", nullptr, log_slot, tag("survivor"));
    amxp_sigmngr_emit(g_mngr, "s", nullptr);
    amxp_sigmngr_emit(g_mngr, "s", nullptr); // pending when the manager goes
    amxp_sigmngr_emit(survivor.m, "s", nullptr);
    amxp_loop_run_pending();
    EXPECT_EQ(g_log, (Strings{"deleting", "survivor/s:-"}));
    EXPECT_EQ(g_mngr, nullptr);

    // Deleted outside any delivery, and after a loop reset: the same.
    Text data("x");
    amxp_sigmngr_new(&g_mngr);
    amxp_slot_connect(g_mngr, "s", nullptr, log_slot, tag("gone"));
    amxp_sigmngr_emit(g_mngr, "s", data.get());
    amxp_sigmngr_emit(survivor.m, "s", data.get());
    amxp_loop_reset(); // drops both, frees the copies
    amxp_sigmngr_emit(g_mngr, "s", data.get());
    amxp_sigmngr_delete(&g_mngr);
    EXPECT_EQ(amxp_loop_run_pending(), 0);
    EXPECT_EQ(g_log.size(), 2u);
}

TEST_F(SignalTest, FilteredSlotGetsOnlyMatchingDataAndAMalformedFilterIsRefused) {
    Mngr mngr;
    ASSERT_EQ(amxp_slot_connect(mngr.m, "dm:object-changed",
                                "(notification == 'dm:object-changed') && contains('parameters.NetworkObjectIPList')",
                                log_slot, tag("filtered")),
              0);
    for(const char* bad : {"(notification == 'x'", "", "path matches '('"}) {
        EXPECT_EQ(amxp_slot_connect(mngr.m, "dm:object-changed", bad, log_slot, tag("bad")), -EINVAL) << bad;
    }
    EXPECT_EQ(amxp_slot_connect(mngr.m, "s", nullptr, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(amxp_slot_connect(mngr.m, "", nullptr, log_slot, tag("bad")), -EINVAL);

    Event matching("dm:object-changed", "Device.X.NetworkObject.1.");
    Event other_parameter("dm:object-changed", "Device.X.NetworkObject.1.");
    matching.changed("NetworkObjectIPList", "", "new");
    other_parameter.changed("Alias", "", "new");
    amxp_sigmngr_emit(mngr.m, "dm:object-changed", matching);
    amxp_sigmngr_emit(mngr.m, "dm:object-changed", other_parameter);
    amxp_sigmngr_emit(mngr.m, "dm:object-changed", nullptr); // no fields: the filter fails
    EXPECT_EQ(amxp_loop_run_pending(), 3);
    EXPECT_EQ(g_log, Strings{"filtered/dm:object-changed:-"});
}

} // namespace
