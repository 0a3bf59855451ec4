// Parameters: texts that do not fit, read-only.
#include "dm_fixture.h"

using namespace amxd_test;

using ParamTest = DmTest;

// Texts longer than their parameter's bound are refused, in transactions as in direct writes;
// the bound is per parameter and copied to instances.
TEST_F(ParamTest, TextsLongerThanTheirBoundAreRefused) {
    amxd_param_t* source_ip = amxd_object_get_param_def(amxd_object_get_child(netobj, "Rule"), "SourceIP");
    ASSERT_EQ(amxd_param_set_max_length(source_ip, 8), amxd_status_ok);
    amxd_object_t* rule = add_instance(amxd_object_get_child(add_instance(netobj, nullptr), "Rule"), nullptr);
    amxd_object_t* acl = add_instance(access, nullptr);
    struct Case {
        amxd_object_t* object;
        const char* param;
        std::string value;
        amxd_status_t status;
    };
    for(const Case& c : {Case{acl, "Alias", std::string(AMXD_PARAM_MAX_LENGTH, 'a'), amxd_status_ok},
                         Case{acl, "Alias", std::string(AMXD_PARAM_MAX_LENGTH + 1, 'b'), amxd_status_invalid_value},
                         Case{rule, "SourceIP", "10.0.0.1", amxd_status_ok}, Case{rule, "SourceIP", "10.0.0.10", amxd_status_invalid_value}}) {
        EXPECT_EQ(apply([&](amxd_trans_t* t) {
            amxd_trans_select_object(t, c.object);
            amxd_trans_set_cstring_t(t, c.param, c.value.c_str());
        }), c.status) << c.param << "=" << c.value;
    }
    EXPECT_EQ(last_error, "Device.X.NetworkObject.1.Rule.1.SourceIP is longer than 8 bytes");
    EXPECT_EQ(text_of(acl, "Alias"), std::string(AMXD_PARAM_MAX_LENGTH, 'a'));
    EXPECT_EQ(text_of(rule, "SourceIP"), "10.0.0.1");

    amxc_var_t value;
    amxc_var_init(&value);
    amxc_var_set_cstring_t(&value, "too long!");
    EXPECT_EQ(amxd_param_set_value(source_ip, &value), amxd_status_invalid_value);
    EXPECT_EQ(amxd_param_set_max_length(amxd_object_get_param_def(acl, "Alias"), 10), amxd_status_invalid_value);
    EXPECT_EQ(amxd_param_set_max_length(amxd_object_get_param_def(acl, "Enable"), 10), amxd_status_invalid_type);
    amxc_var_clean(&value);
}

TEST_F(ParamTest, ReadOnlyNeedsTheChangeReadOnlyAttribute) {
    amxd_object_t* acl = add_instance(access, nullptr);
    auto write_status = [&](amxd_trans_t* t) {
        amxd_trans_select_object(t, acl);
        amxd_trans_set_cstring_t(t, "Status", "Active");
    };
    EXPECT_EQ(apply(write_status), amxd_status_read_only);
    EXPECT_EQ(last_error, "Device.X.AccessControl.1.Status is read-only");
    EXPECT_EQ(text_of(acl, "Status"), "Inactive");

    EXPECT_EQ(apply(write_status, true), amxd_status_ok) << last_error;
    EXPECT_EQ(text_of(acl, "Status"), "Active");

    // Clients cannot sneak a read-only value in with a new instance either.
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, access);
        amxd_trans_add_inst(t, 0, nullptr);
        amxd_trans_set_cstring_t(t, "Status", "Active");
    }), amxd_status_read_only);
    EXPECT_EQ(amxd_object_get_instance_count(access), 1u);
}
