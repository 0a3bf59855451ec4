// Transactions: all or nothing, the hook that places additions, and the events that go out
// after an apply, in which order, with which data.
#include "dm_fixture.h"

using namespace amxd_test;

using TransTest = DmTest;
using EventTest = DmTest;

TEST_F(TransTest, FailureOnTheThirdOperationUndoesTheFirstTwo) {
    amxd_object_t* acl = add_instance(access, "a1", {{"Enable", "false"}});
    amxd_object_t* web = add_instance(pfr, "web", {{"Protocol", "6"}, {"DestPortEndRange", "80"}});
    amxd_object_t* web_icmp = amxd_object_get_child(web, "ICMP");
    ASSERT_EQ(set(web_icmp, "Type", "8"), amxd_status_ok);
    amxp_loop_run_pending();
    EventLog events(dm);

    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, acl);
        amxd_trans_set_bool(t, "Enable", true);         // a change
        amxd_trans_select_object(t, access);
        amxd_trans_add_inst(t, 0, "a2");                // an addition
        amxd_trans_set_cstring_t(t, "NetworkGroupRef", "Hosts.Host.1.");
        amxd_trans_select_object(t, pfr);
        amxd_trans_del_inst(t, 0, "web");               // a deletion
        amxd_trans_add_inst(t, 0, "ssh");
        amxd_trans_set_uint32_t(t, "DestPortEndRange", 70000);   // refused by its validate action
    }), amxd_status_invalid_value);
    EXPECT_EQ(last_error, "invalid value for Device.X.PortForwardingRule.2.DestPortEndRange");

    EXPECT_FALSE(amxd_object_get_bool(acl, "Enable", nullptr));
    EXPECT_EQ(amxd_object_get_instance_count(access), 1u);
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.AccessControl.a2"), nullptr);
    // The deleted instance is back in its place, the same object with its children and values.
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.PortForwardingRule.1."), web);
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.PortForwardingRule.web."), web);
    EXPECT_EQ(amxd_object_get_child(web, "ICMP"), web_icmp);
    EXPECT_EQ(amxd_object_get_uint32_t(web_icmp, "Type", nullptr), 8u);
    EXPECT_EQ(amxd_object_get_uint32_t(web, "DestPortEndRange", nullptr), 80u);
    EXPECT_EQ(amxd_object_first_instance(pfr), web);
    EXPECT_EQ(amxd_object_next_instance(web), nullptr);
    EXPECT_EQ(amxd_object_get_dm(web), dm);
    // Indexes handed out by the failed transaction were given back.
    EXPECT_EQ(amxd_object_get_index(add_instance(access, nullptr)), 2u);
    EXPECT_EQ(amxd_object_get_index(add_instance(pfr, nullptr)), 2u);

    amxp_loop_run_pending();
    ASSERT_EQ(events.size(), 2u) << "only the two additions after the failure";
    EXPECT_EQ(events.name(0), "dm:instance-added");
    EXPECT_EQ(events.name(1), "dm:instance-added");
}

namespace {
// Gives "kept" index 7 and leaves every other addition as requested.
uint32_t keep_seven(const amxd_object_t* templ, const char* name, uint32_t requested, void* priv) {
    static_cast<std::vector<std::string>*>(priv)->push_back(std::string(amxd_object_get_name(templ, 0)) + "/" + name +
                                                            "/" + std::to_string(requested));
    return std::string(name) == "kept" ? 7u : requested;
}
} // namespace

TEST_F(TransTest, IndexHookPlacesAdditions) {
    std::vector<std::string> asked;
    amxd_dm_set_index_hook(dm, keep_seven, &asked);
    EXPECT_EQ(amxd_object_get_index(add_instance(access, "kept")), 7u);
    EXPECT_EQ(amxd_object_get_index(add_instance(access, nullptr)), 8u) << "the counter follows the placed index";
    EXPECT_EQ(add_at(access, 3, "other"), amxd_status_ok);
    EXPECT_EQ(asked, (std::vector<std::string>{"AccessControl/kept/0", "AccessControl//0", "AccessControl/other/3"}));
    // A placed index that is taken is refused like any duplicate.
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
                  amxd_trans_select_object(t, pfr);
                  amxd_trans_add_inst(t, 0, "kept");
                  amxd_trans_select_object(t, access);
                  amxd_trans_add_inst(t, 0, "kept");
              }),
              amxd_status_duplicate);
    amxd_dm_set_index_hook(dm, nullptr, nullptr);
    EXPECT_EQ(amxd_object_get_index(add_instance(access, "kept2")), 9u);
}

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

// Queued events keep the values and types of when their transaction ended, whatever happens
// before their delivery.
TEST_F(EventTest, QueuedEventsKeepTheValuesAndTypesTheirTransactionLeft) {
    ASSERT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, access);
        amxd_trans_add_inst(t, 0, "a1");
        amxd_trans_set_bool(t, "Enable", true);
        amxd_trans_set_cstring_t(t, "NetworkGroupRef", std::string(300, 'r').c_str());
        amxd_trans_select_object(t, pfr);
        amxd_trans_add_inst(t, 0, "p1");
        amxd_trans_set_uint32_t(t, "DestPortEndRange", 8080);
    }), amxd_status_ok) << last_error;
    amxd_object_t* acl = amxd_dm_findf(dm, "Device.X.AccessControl.a1.");
    ASSERT_EQ(set(acl, "Alias", "renamed"), amxd_status_ok);
    ASSERT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, access);
        amxd_trans_del_inst(t, 0, "a1");
    }), amxd_status_ok) << last_error;
    EventLog events(dm);
    amxp_loop_run_pending();

    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events.name(0), "dm:instance-added");
    EXPECT_EQ(events.text(0, "path"), "Device.X.AccessControl.");
    EXPECT_EQ(events.text(0, "name"), "a1");
    EXPECT_EQ(amxc_var_type_of(events.get(0, "index")), AMXC_VAR_ID_UINT32);
    EXPECT_EQ(amxc_var_get_const_uint32_t(events.get(0, "index")), 1u);
    EXPECT_EQ(amxc_var_type_of(events.get(0, "parameters.Enable")), AMXC_VAR_ID_BOOL);
    EXPECT_TRUE(amxc_var_get_const_bool(events.get(0, "parameters.Enable")));
    EXPECT_EQ(events.text(0, "parameters.Alias"), "a1") << "the value when the addition ended";
    EXPECT_EQ(amxc_var_type_of(events.get(0, "parameters.Alias")), AMXC_VAR_ID_CSTRING);
    EXPECT_EQ(events.text(0, "parameters.NetworkGroupRef"), std::string(300, 'r'));
    EXPECT_EQ(amxc_var_size(events.get(0, "parameters")), 3u);
    EXPECT_EQ(events.name(1), "dm:instance-added");
    EXPECT_EQ(amxc_var_type_of(events.get(1, "parameters.DestPortEndRange")), AMXC_VAR_ID_UINT32);
    EXPECT_EQ(amxc_var_get_const_uint32_t(events.get(1, "parameters.DestPortEndRange")), 8080u);
    EXPECT_EQ(events.name(2), "dm:object-changed");
    EXPECT_EQ(events.text(2, "parameters.Alias.from"), "a1");
    EXPECT_EQ(events.text(2, "parameters.Alias.to"), "renamed");
    EXPECT_EQ(events.name(3), "dm:instance-removed");
    EXPECT_EQ(events.text(3, "parameters.Alias"), "renamed");
    EXPECT_EQ(events.text(3, "object"), "Device.X.AccessControl.");
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
