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

amxd_status_t refuse_del(amxd_object_t*, amxd_param_t*, amxd_action_t, const amxc_var_t* const, amxc_var_t* const, void*) {
    calls.push_back("refused");
    return amxd_status_permission_denied;
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

TEST_F(ActionTest, DeleteActionDecidesWhetherTheInstanceGoes) {
    amxd_object_t* kept = add_instance(access, "kept");
    ASSERT_EQ(amxd_object_add_action_cb(access, action_object_del_inst, refuse_del, nullptr), amxd_status_ok);
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, access);
        amxd_trans_del_inst(t, 1, nullptr);
    }), amxd_status_permission_denied);
    EXPECT_EQ(calls, std::vector<std::string>{"refused"});
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.AccessControl.1"), kept);

    // Outside a transaction the default has nothing to mark the instance in.
    amxc_var_t args;
    amxc_var_init(&args);
    amxc_var_set_type(&args, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(uint32_t, &args, "index", 1);
    EXPECT_EQ(amxd_action_object_del_inst(access, nullptr, action_object_del_inst, &args, nullptr, nullptr),
              amxd_status_invalid_action);
    amxc_var_clean(&args);
    EXPECT_EQ(amxd_object_get_instance_count(access), 1u);
}

TEST_F(ActionTest, DestroyRunsChildrenFirstAtTeardown) {
    amxd_object_add_action_cb(pfr, action_object_destroy, record_destroy, nullptr);
    amxd_object_add_action_cb(amxd_object_get_child(pfr, "ICMP"), action_object_destroy, record_destroy, nullptr);
    amxd_object_add_action_cb(x, action_object_destroy, record_destroy, nullptr);
    amxd_object_t* rules = amxd_object_get_child(netobj, "Rule");
    amxd_object_add_action_cb(rules, action_object_destroy, record_destroy, nullptr);
    amxd_object_add_action_cb(netobj, action_object_destroy, record_destroy, nullptr);
    add_instance(pfr, nullptr);
    add_instance(pfr, nullptr);
    amxd_object_t* lan = add_instance(netobj, nullptr);
    add_instance(amxd_object_get_child(lan, "Rule"), nullptr);

    amxd_dm_delete(&dm);
    EXPECT_EQ(dm, nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "destroy Device.X.PortForwardingRule.1.ICMP", "destroy Device.X.PortForwardingRule.1",
                         "destroy Device.X.PortForwardingRule.2.ICMP", "destroy Device.X.PortForwardingRule.2",
                         "destroy Device.X.NetworkObject.1.Rule.1", "destroy Device.X.NetworkObject.1",
                         "destroy Device.X"}));
}

TEST_F(ActionTest, DeleteObjectRunsDestroyWithoutEvents) {
    amxd_object_add_action_cb(pfr, action_object_destroy, record_destroy, nullptr);
    amxd_object_add_action_cb(amxd_object_get_child(pfr, "ICMP"), action_object_destroy, record_destroy, nullptr);
    amxd_object_t* rule = add_instance(pfr, nullptr);
    amxp_loop_run_pending();
    EventLog events(dm);
    amxd_object_delete(&rule);
    EXPECT_EQ(rule, nullptr);
    amxp_loop_run_pending();
    EXPECT_EQ(events.size(), 0u);
    EXPECT_EQ(calls, (std::vector<std::string>{"destroy Device.X.PortForwardingRule.1.ICMP",
                                               "destroy Device.X.PortForwardingRule.1"}));
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.PortForwardingRule.1"), nullptr);
}

TEST_F(ActionTest, RolledBackInstancesAreNotDestroyed) {
    amxd_object_add_action_cb(access, action_object_destroy, record_destroy, nullptr);
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, access);
        amxd_trans_add_inst(t, 0, nullptr);
        amxd_trans_set_cstring_t(t, "Enable", "maybe");
    }), amxd_status_invalid_value);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(amxd_object_get_instance_count(access), 0u);
}

TEST_F(ActionTest, ValidateDataReachesPrivInEveryInstance) {
    amxd_object_t* first = add_instance(pfr, nullptr);
    amxd_object_t* second = add_instance(pfr, nullptr);
    for(amxd_object_t* rule : {first, second}) {
        EXPECT_EQ(apply([&](amxd_trans_t* t) {
            amxd_trans_select_object(t, rule);
            amxd_trans_set_uint32_t(t, "DestPortEndRange", 65536);
        }), amxd_status_invalid_value);
        EXPECT_EQ(apply([&](amxd_trans_t* t) {
            amxd_trans_select_object(t, rule);
            amxd_trans_set_uint32_t(t, "DestPortEndRange", 65535);
        }), amxd_status_ok) << last_error;
    }
    // The template's copy of the data goes with the template; the instances keep theirs.
    amxd_object_delete(&second);
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, first);
        amxd_trans_set_uint32_t(t, "DestPortEndRange", 70000);
    }), amxd_status_invalid_value);
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

namespace {
amxd_status_t lowercase_only(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason, const amxc_var_t* const args,
                             amxc_var_t* const retval, void* priv) {
    const char* name = amxc_var_get_const_cstring_t(amxc_var_get_key(args, "Name", AMXC_VAR_FLAG_DEFAULT));
    if(name != nullptr) {
        for(const char* c = name; *c != '\0'; ++c) {
            if((*c >= 'A') && (*c <= 'Z')) {
                return amxd_status_invalid_value;
            }
        }
    }
    return amxd_action_object_write(object, param, reason, args, retval, priv);
}

amxd_status_t with_count(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason, const amxc_var_t* const args,
                         amxc_var_t* const retval, void* priv) {
    amxd_status_t status = amxd_action_object_read(object, param, reason, args, retval, priv);
    amxc_var_add_key(uint32_t, retval, "RuleNumberOfEntries",
                     amxd_object_get_instance_count(amxd_object_get_child(object, "Rule")));
    return status;
}
} // namespace

TEST_F(ActionTest, WriteAndReadActionsWrapTheDefaults) {
    amxd_object_add_action_cb(netobj, action_object_write, lowercase_only, nullptr);
    amxd_object_add_action_cb(netobj, action_object_read, with_count, nullptr);
    amxd_object_t* lan = add_instance(netobj, nullptr, {{"Name", "lan"}});
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, lan);
        amxd_trans_set_cstring_t(t, "Name", "LAN");
    }), amxd_status_invalid_value);
    EXPECT_EQ(text_of(lan, "Name"), "lan");
    add_instance(amxd_object_get_child(lan, "Rule"), nullptr);

    amxc_var_t params;
    amxc_var_init(&params);
    ASSERT_EQ(amxd_object_get_params(lan, &params), amxd_status_ok);
    EXPECT_STREQ(amxc_var_get_const_cstring_t(amxc_var_get_key(&params, "Name", AMXC_VAR_FLAG_DEFAULT)), "lan");
    EXPECT_EQ(amxc_var_get_uint32_t(amxc_var_get_key(&params, "RuleNumberOfEntries", AMXC_VAR_FLAG_DEFAULT)), 1u);
    amxc_var_clean(&params);
}

TEST_F(ActionTest, RegistrationRefusalsLeaveTheDataWithTheCaller) {
    amxc_var_t* data = range_data(1, 2);
    EXPECT_EQ(amxd_object_add_action_cb(x, action_object_del_inst, record_del, data), amxd_status_not_a_template);
    EXPECT_EQ(amxd_object_add_action_cb(x, action_param_validate, record_del, data), amxd_status_invalid_action);
    EXPECT_EQ(amxd_object_add_action_cb(x, action_object_list, record_del, data), amxd_status_invalid_action);
    EXPECT_EQ(amxd_param_add_action_cb(amxd_object_get_param_def(access, "Enable"), action_object_validate, record_del, data),
              amxd_status_invalid_action);
    EXPECT_EQ(amxd_object_add_action_cb(x, action_object_validate, nullptr, data), amxd_status_invalid_arg);
    amxc_var_delete(&data);
}
