// Actions: when each runs, in what order, what it receives, what it may do.
#include "dm_fixture.h"

using namespace amxd_test;

namespace {

std::vector<std::string> calls;

std::string path_of(const amxd_object_t* object) {
    return take_text(amxd_object_get_path(object, AMXD_OBJECT_INDEXED));
}

std::string index_arg(const amxc_var_t* args) {
    return std::to_string(amxc_var_get_uint32_t(amxc_var_get_key(args, "index", AMXC_VAR_FLAG_DEFAULT)));
}

amxd_status_t record_add(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason, const amxc_var_t* const args,
                         amxc_var_t* const retval, void* priv) {
    calls.push_back("add_inst " + path_of(object) + " index=" + index_arg(args));
    amxd_status_t status = amxd_action_object_add_inst(object, param, reason, args, retval, priv);
    calls.push_back("added " + std::to_string(amxc_var_get_uint32_t(retval)));
    return status;
}

amxd_status_t record_del(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason, const amxc_var_t* const args,
                         amxc_var_t* const retval, void* priv) {
    calls.push_back("del_inst " + path_of(object) + " index=" + index_arg(args));
    return amxd_action_object_del_inst(object, param, reason, args, retval, priv);
}

amxd_status_t record_validate(amxd_object_t* object, amxd_param_t*, amxd_action_t reason, const amxc_var_t* const,
                              amxc_var_t* const, void*) {
    EXPECT_EQ(reason, action_object_validate);
    calls.push_back("validate " + path_of(object));
    return amxd_status_ok;
}

amxd_status_t record_destroy(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason, const amxc_var_t* const args,
                             amxc_var_t* const retval, void* priv) {
    EXPECT_EQ(reason, action_object_destroy);
    calls.push_back("destroy " + path_of(object));
    return amxd_action_object_destroy(object, param, reason, args, retval, priv);
}

class ActionTest : public DmTest {
protected:
    void SetUp() override {
        DmTest::SetUp();
        calls.clear();
    }
};

} // namespace

TEST_F(ActionTest, OrderOfActionsAtAddDeleteAndDestroy) {
    ASSERT_EQ(amxd_object_add_action_cb(pfr, action_object_add_inst, record_add, nullptr), amxd_status_ok);
    ASSERT_EQ(amxd_object_add_action_cb(pfr, action_object_del_inst, record_del, nullptr), amxd_status_ok);
    ASSERT_EQ(amxd_object_add_action_cb(pfr, action_object_validate, record_validate, nullptr), amxd_status_ok);
    ASSERT_EQ(amxd_object_add_action_cb(pfr, action_object_destroy, record_destroy, nullptr), amxd_status_ok);
    ASSERT_EQ(amxd_object_add_action_cb(amxd_object_get_child(pfr, "ICMP"), action_object_destroy, record_destroy, nullptr),
              amxd_status_ok);

    add_instance(pfr, "web", {{"Protocol", "6"}});
    EXPECT_EQ(calls, (std::vector<std::string>{"add_inst Device.X.PortForwardingRule index=0", "added 1",
                                               "validate Device.X.PortForwardingRule.1"}));
    calls.clear();

    ASSERT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, pfr);
        amxd_trans_del_inst(t, 0, "web");
        calls.push_back("recorded");
    }), amxd_status_ok) << last_error;
    // The action learns the index of an instance deleted by name; destroy runs after the
    // apply succeeded, children first.
    EXPECT_EQ(calls, (std::vector<std::string>{"recorded", "del_inst Device.X.PortForwardingRule index=1",
                                               "destroy Device.X.PortForwardingRule.1.ICMP",
                                               "destroy Device.X.PortForwardingRule.1"}));
    EXPECT_EQ(amxd_object_get_instance_count(pfr), 0u);
}

namespace {
amxd_dm_t* busy_dm = nullptr;
amxd_status_t try_to_restructure(amxd_object_t* object, amxd_param_t*, amxd_action_t, const amxc_var_t* const,
                                 amxc_var_t* const, void*) {
    // Reads are fine.
    calls.push_back("reads Enable=" + take_text(amxd_object_get_cstring_t(object, "Enable", nullptr)));
    amxd_trans_t trans;
    amxd_trans_init(&trans);
    amxd_trans_select_object(&trans, object);
    amxd_trans_set_bool(&trans, "Enable", false);
    calls.push_back("nested apply " + std::string(amxd_status_string(amxd_trans_apply(&trans, busy_dm))));
    amxd_trans_clean(&trans);
    amxd_object_t* victim = object;
    amxd_object_delete(&victim);
    calls.push_back(victim == object ? "delete refused" : "deleted");
    amxd_object_t* orphan = nullptr;
    amxd_object_new(&orphan, amxd_object_singleton, "Orphan");
    calls.push_back("add " + std::string(amxd_status_string(amxd_object_add_object(object, orphan))));
    amxd_object_delete(&orphan);
    amxd_dm_t* dm = busy_dm;
    amxd_dm_delete(&dm);
    calls.push_back(dm == busy_dm ? "dm delete refused" : "dm deleted");
    return amxd_status_ok;
}
} // namespace

TEST_F(ActionTest, ActionsCannotRestructureTheTree) {
    busy_dm = dm;
    amxd_object_add_action_cb(access, action_object_validate, try_to_restructure, nullptr);
    add_instance(access, nullptr, {{"Enable", "true"}});
    EXPECT_EQ(calls, (std::vector<std::string>{"reads Enable=true", "nested apply recursion", "delete refused",
                                               "add recursion", "dm delete refused"}));
    EXPECT_TRUE(amxd_object_get_bool(amxd_dm_findf(dm, "Device.X.AccessControl.1"), "Enable", nullptr));
}

namespace {
amxd_status_t refuse_disabled(amxd_object_t* object, amxd_param_t*, amxd_action_t, const amxc_var_t* const,
                              amxc_var_t* const, void*) {
    // Object validation sees the new values of the whole transaction.
    return amxd_object_get_bool(object, "Enable", nullptr) || !take_text(amxd_object_get_cstring_t(object, "NetworkGroupRef", nullptr)).empty()
           ? amxd_status_ok
           : amxd_status_invalid_value;
}
} // namespace

TEST_F(ActionTest, ObjectValidationSeesTheFinalState) {
    amxd_object_add_action_cb(access, action_object_validate, refuse_disabled, nullptr);
    amxd_object_t* acl = add_instance(access, nullptr, {{"Enable", "false"}, {"NetworkGroupRef", "Hosts.Host.1."}});
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, acl);
        amxd_trans_set_cstring_t(t, "NetworkGroupRef", "");
    }), amxd_status_invalid_value);
    EXPECT_EQ(last_error, "invalid value for Device.X.AccessControl.1");
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, acl);
        amxd_trans_set_cstring_t(t, "NetworkGroupRef", "");
        amxd_trans_set_bool(t, "Enable", true);
    }), amxd_status_ok) << last_error;
}

