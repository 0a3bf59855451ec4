// Out of memory at every allocation of an apply: the call fails cleanly or succeeds, and a
// failed apply leaves the data model exactly as it was and leaks nothing.
#include "dm_fixture.h"

#include "failing_allocator.h"

using namespace amxd_test;

namespace {

// Every object with its parameters, as text, depth first.
std::string dump(const amxd_object_t* object) {
    std::string text = take_text(amxd_object_get_path(object, AMXD_OBJECT_NAMED | AMXD_OBJECT_TERMINATE)) + "\n";
    amxc_var_t params;
    amxc_var_init(&params);
    amxd_object_get_params(object, &params);
    amxc_var_for_each(value, &params) {
        text += "  " + std::string(amxc_var_key(value)) + "=" + take_text(amxc_var_get_cstring_t(value)) + "\n";
    }
    amxc_var_clean(&params);
    amxd_object_for_each_child(child, object) {
        text += dump(child);
    }
    amxd_object_for_each_instance(inst, object) {
        text += dump(inst);
    }
    return text;
}

class AllocFailureTest : public DmTest {};

} // namespace

TEST_F(AllocFailureTest, ApplyFailsCleanlyAtEveryAllocation) {
    if(!failing_allocator_works()) {
        GTEST_SKIP() << "the allocator is replaced by a tool";
    }
    add_instance(pfr, "web", {{"Protocol", "6"}});
    add_instance(access, "a1");
    amxp_loop_run_pending();
    const std::string before = dump(amxd_dm_get_root(dm));
    EventLog events(dm);

    amxd_trans_t trans;
    bool applied = false;
    long failures = 0;
    for(long budget = 0; !applied && (budget < 100000); ++budget) {
        const long live = failing_allocator_live_blocks();
        ASSERT_EQ(amxd_trans_init(&trans), amxd_status_ok);
        amxd_trans_select_pathf(&trans, "Device.X.AccessControl.a1.");
        amxd_trans_set_bool(&trans, "Enable", true);
        amxd_trans_select_object(&trans, pfr);
        amxd_trans_del_inst(&trans, 0, "web");
        amxd_trans_add_inst(&trans, 0, "ssh");
        amxd_trans_set_cstring_t(&trans, "Protocol", "6,17");
        failing_allocator_fail_after(budget);
        amxd_status_t status = amxd_trans_apply(&trans, dm);
        failing_allocator_disarm();
        amxd_trans_clean(&trans);
        if(status == amxd_status_ok) {
            applied = true;
        } else {
            ++failures;
            ASSERT_EQ(status, amxd_status_out_of_mem) << "budget " << budget;
            ASSERT_EQ(dump(amxd_dm_get_root(dm)), before) << "budget " << budget;
            ASSERT_EQ(failing_allocator_live_blocks(), live) << "leak at budget " << budget;
        }
    }
    ASSERT_TRUE(applied);
    EXPECT_GT(failures, 50) << "the apply allocates; each of those allocations was made to fail once";
    amxp_loop_run_pending();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events.name(0), "dm:object-changed");
    EXPECT_EQ(events.name(1), "dm:instance-removed");
    EXPECT_EQ(events.name(2), "dm:instance-added");
    EXPECT_EQ(text_of(amxd_dm_findf(dm, "Device.X.PortForwardingRule.ssh."), "Protocol"), "6,17");
}
