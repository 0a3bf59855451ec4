// The test data model behind an in-process context, with queued events of its filling
// already delivered (to nobody).
#ifndef IN_PROCESS_FIXTURE_H
#define IN_PROCESS_FIXTURE_H

#include <gtest/gtest.h>

#include <amxb/amxb.h>
#include <amxp/amxp_loop.h>

#include "bus_test_dm.h"
#include "bus_test_support.h"

class InProcessBus : public ::testing::Test {
protected:
    void SetUp() override {
        dm = bus_test_dm_new();
        amxp_loop_run_pending();
        ASSERT_EQ(amxb_register_dm(&ctx, dm), 0);
    }

    void TearDown() override {
        amxb_free(&ctx);
        amxd_dm_delete(&dm);
        amxp_loop_run_pending();
    }

    amxd_dm_t* dm = nullptr;
    amxb_bus_ctx_t* ctx = nullptr;
};

#endif
