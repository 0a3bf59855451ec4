// Events: what goes out after an apply, in which order, with which data.
#include "dm_fixture.h"

using namespace amxd_test;

using EventTest = DmTest;

TEST_F(EventTest, ChangedEventCarriesOnlyParametersThatChanged) {
    amxd_object_t* acl = add_instance(access, "cpe-1", {{"Enable", "false"}, {"NetworkGroupRef", "a"}});
    amxp_loop_run_pending();
    EventLog events(dm);
    ASSERT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, acl);
        amxd_trans_set_bool(t, "Enable", true);
        amxd_trans_set_cstring_t(t, "NetworkGroupRef", "a");      // same value
        amxd_trans_set_cstring_t(t, "Alias", "x");                // changed and changed back
        amxd_trans_set_cstring_t(t, "Alias", "cpe-1");
        amxd_trans_set_cstring_t(t, "Enable", "1");               // same again, other spelling
    }), amxd_status_ok) << last_error;
    EXPECT_EQ(events.size(), 0u) << "delivered on the loop, not during the apply";
    amxp_loop_run_pending();

    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events.name(0), "dm:object-changed");
    EXPECT_EQ(events.text(0, "notification"), "dm:object-changed");
    EXPECT_EQ(events.text(0, "path"), "Device.X.AccessControl.1.");
    EXPECT_EQ(events.text(0, "object"), "Device.X.AccessControl.cpe-1.");
    const amxc_var_t* params = events.get(0, "parameters");
    ASSERT_EQ(amxc_var_size(params), 1u);
    EXPECT_EQ(amxc_var_type_of(events.get(0, "parameters.Enable.from")), AMXC_VAR_ID_BOOL);
    EXPECT_FALSE(amxc_var_get_const_bool(events.get(0, "parameters.Enable.from")));
    EXPECT_TRUE(amxc_var_get_const_bool(events.get(0, "parameters.Enable.to")));
    EXPECT_EQ(amxd_dm_signal_get_object(dm, events.at(0)), acl);

    // A transaction that changes nothing sends nothing.
    ASSERT_EQ(set(acl, "Enable", "true"), amxd_status_ok);
    amxp_loop_run_pending();
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(EventTest, ShortLivedObjectsSendNothing) {
    amxd_object_t* acl = add_instance(access, "a1");
    amxp_loop_run_pending();
    EventLog events(dm);
    ASSERT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, access);
        amxd_trans_add_inst(t, 0, "tmp");
        amxd_trans_select_object(t, access);
        amxd_trans_del_inst(t, 0, "tmp");
        amxd_trans_select_object(t, acl);
        amxd_trans_set_bool(t, "Enable", true);
        amxd_trans_select_object(t, access);
        amxd_trans_del_inst(t, 0, "a1");
    }), amxd_status_ok) << last_error;
    EXPECT_EQ(last_added, "") << "the added instance did not survive";
    amxp_loop_run_pending();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events.name(0), "dm:instance-removed");
    EXPECT_EQ(events.text(0, "name"), "a1");
    EXPECT_EQ(events.text(0, "parameters.Enable"), "true");
    EXPECT_EQ(amxd_dm_signal_get_object(dm, events.at(0)), access);
}

namespace {
struct Stopper {
    amxd_dm_t** dm;
    int calls = 0;
};
void delete_dm_on_event(const char* const, const amxc_var_t* const, void* const priv) {
    auto* stopper = static_cast<Stopper*>(priv);
    stopper->calls++;
    amxd_dm_delete(stopper->dm);
}
} // namespace

TEST_F(EventTest, DeletingTheDataModelFromAHandlerStopsTheDelivery) {
    Stopper stopper{&dm};
    ASSERT_EQ(amxp_slot_connect(amxd_dm_get_sigmngr(dm), "*", nullptr, delete_dm_on_event, &stopper), 0);
    // Several events from one transaction and one from another.
    ASSERT_EQ(apply([&](amxd_trans_t* t) {
        for(int i = 0; i < 3; ++i) {
            amxd_trans_select_object(t, access);
            amxd_trans_add_inst(t, 0, nullptr);
        }
    }), amxd_status_ok);
    add_instance(access, nullptr);
    amxp_loop_run_pending();
    EXPECT_EQ(stopper.calls, 1);
    EXPECT_EQ(dm, nullptr);
}

namespace {
void nothing(void*) {
}
} // namespace

TEST_F(EventTest, AFullLoopQueueFailsTheTransactionInsteadOfLosingItsEvents) {
    amxd_object_t* acl = add_instance(access, nullptr);
    amxp_loop_run_pending();
    int queued = 0;
    while(amxp_loop_defer(nothing, nullptr) == 0) {
        ++queued;
    }
    ASSERT_GT(queued, 0);
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, acl);
        amxd_trans_set_bool(t, "Enable", true);
        amxd_trans_select_object(t, access);
        amxd_trans_add_inst(t, 0, nullptr);
    }), amxd_status_out_of_mem);
    EXPECT_NE(last_error.find("queue"), std::string::npos) << last_error;
    EXPECT_FALSE(amxd_object_get_bool(acl, "Enable", nullptr));
    EXPECT_EQ(amxd_object_get_instance_count(access), 1u);

    amxp_loop_run_pending();
    EventLog events(dm);
    ASSERT_EQ(set(acl, "Enable", "true"), amxd_status_ok) << last_error;
    amxp_loop_run_pending();
    EXPECT_EQ(events.size(), 1u);
}
