// Parameters: types, conversion on write, read-only, typed reads.
#include "dm_fixture.h"

using namespace amxd_test;

using ParamTest = DmTest;

TEST(ParamDefinition, RefusesUnknownTypesAndNamesAndDuplicates) {
    amxd_param_t* param = nullptr;
    EXPECT_EQ(amxd_param_new(&param, "P", AMXC_VAR_ID_LIST), amxd_status_invalid_type);
    EXPECT_EQ(amxd_param_new(&param, "P", AMXC_VAR_ID_HTABLE), amxd_status_invalid_type);
    EXPECT_EQ(amxd_param_new(&param, "9P", AMXC_VAR_ID_BOOL), amxd_status_invalid_name);
    EXPECT_EQ(param, nullptr);

    amxd_object_t* object = nullptr;
    ASSERT_EQ(amxd_object_new(&object, amxd_object_singleton, "O"), amxd_status_ok);
    add_param(object, "P", AMXC_VAR_ID_INT32, "-5");
    amxd_param_t* again = nullptr;
    ASSERT_EQ(amxd_param_new(&again, "P", AMXC_VAR_ID_BOOL), amxd_status_ok);
    EXPECT_EQ(amxd_object_add_param(object, again), amxd_status_duplicate);
    amxd_param_delete(&again);
    EXPECT_EQ(again, nullptr);

    // A parameter owned by an object is not deleted on its own.
    amxd_param_t* owned = amxd_object_get_param_def(object, "P");
    amxd_param_delete(&owned);
    EXPECT_NE(owned, nullptr);
    EXPECT_EQ(amxd_object_get_int32_t(object, "P", nullptr), -5);
    EXPECT_EQ(amxd_param_get_owner(owned), object);
    amxd_object_delete(&object);
}

TEST(ParamDefinition, DefaultsConvertOrAreRefused) {
    amxd_param_t* param = nullptr;
    ASSERT_EQ(amxd_param_new(&param, "Enable", AMXC_VAR_ID_BOOL), amxd_status_ok);
    EXPECT_EQ(amxc_var_type_of(amxd_param_get_value(param)), AMXC_VAR_ID_BOOL);
    amxc_var_t value;
    amxc_var_init(&value);
    amxc_var_set_cstring_t(&value, "abc");
    EXPECT_EQ(amxd_param_set_value(param, &value), amxd_status_invalid_value);
    amxc_var_set_cstring_t(&value, "yes");
    EXPECT_EQ(amxd_param_set_value(param, &value), amxd_status_ok);
    EXPECT_TRUE(amxc_var_get_const_bool(amxd_param_get_value(param)));
    amxc_var_clean(&value);
    amxd_param_delete(&param);
}

TEST_F(ParamTest, WritesAreConvertedToTheParameterType) {
    amxd_object_t* rule = add_instance(pfr, nullptr);
    ASSERT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, rule);
        amxd_trans_set_cstring_t(t, "DestPortEndRange", " 443 ");
        amxd_trans_set_uint32_t(t, "Protocol", 6);
    }), amxd_status_ok) << last_error;
    const amxc_var_t* port = amxd_object_get_param_value(rule, "DestPortEndRange");
    EXPECT_EQ(amxc_var_type_of(port), AMXC_VAR_ID_UINT32);
    EXPECT_EQ(amxc_var_get_const_uint32_t(port), 443u);
    EXPECT_EQ(amxc_var_type_of(amxd_object_get_param_value(rule, "Protocol")), AMXC_VAR_ID_CSTRING);
    EXPECT_EQ(text_of(rule, "Protocol"), "6");
}

TEST_F(ParamTest, ValuesThatDoNotConvertAreRefused) {
    amxd_object_t* acl = add_instance(access, nullptr);
    amxd_object_t* rule = add_instance(pfr, nullptr);
    struct Case {
        amxd_object_t* object;
        const char* param;
        const char* value;
    };
    for(const Case& c : {Case{acl, "Enable", "abc"}, Case{acl, "Enable", ""}, Case{rule, "DestPortEndRange", "-1"},
                         Case{rule, "DestPortEndRange", "12abc"}, Case{rule, "DestPortEndRange", "4294967296"}}) {
        EXPECT_EQ(apply([&](amxd_trans_t* t) {
            amxd_trans_select_object(t, c.object);
            amxd_trans_set_cstring_t(t, c.param, c.value);
        }), amxd_status_invalid_value) << c.param << "=" << c.value;
        EXPECT_NE(last_error.find("invalid value for"), std::string::npos) << last_error;
        EXPECT_NE(last_error.find(c.param), std::string::npos) << last_error;
    }
    EXPECT_FALSE(amxd_object_get_bool(acl, "Enable", nullptr));
    EXPECT_EQ(amxd_object_get_uint32_t(rule, "DestPortEndRange", nullptr), 0u);
}

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

TEST_F(ParamTest, TypedReadsConvertAndReportFailures) {
    amxd_object_t* acl = add_instance(access, "a1", {{"NetworkGroupRef", "42"}});
    amxd_status_t status = amxd_status_unknown_error;

    char* text = amxd_object_get_cstring_t(acl, "Enable", &status);
    EXPECT_EQ(status, amxd_status_ok);
    EXPECT_EQ(take_text(text), "false");
    EXPECT_EQ(amxd_object_get_uint32_t(acl, "NetworkGroupRef", &status), 42u);
    EXPECT_EQ(status, amxd_status_ok);
    EXPECT_EQ(amxd_object_get_int64_t(acl, "NetworkGroupRef", &status), 42);

    EXPECT_FALSE(amxd_object_get_bool(acl, "Alias", &status));
    EXPECT_EQ(status, amxd_status_invalid_value) << "\"a1\" is no boolean";
    EXPECT_EQ(amxd_object_get_cstring_t(acl, "Missing", &status), nullptr);
    EXPECT_EQ(status, amxd_status_parameter_not_found);
    EXPECT_EQ(amxd_object_get_param_value(acl, "Missing"), nullptr);
    EXPECT_EQ(amxd_object_get_value(int32_t, acl, "Missing", nullptr), 0);

    amxc_var_t copy;
    amxc_var_init(&copy);
    EXPECT_EQ(amxd_object_get_param(acl, "Alias", &copy), amxd_status_ok);
    EXPECT_STREQ(amxc_var_get_const_cstring_t(&copy), "a1");
    EXPECT_EQ(amxd_object_get_param(acl, "Missing", &copy), amxd_status_parameter_not_found);
    amxc_var_clean(&copy);
}

TEST_F(ParamTest, AllParametersInDeclarationOrder) {
    amxd_object_t* acl = add_instance(access, "a1");
    amxc_var_t params;
    amxc_var_init(&params);
    ASSERT_EQ(amxd_object_get_params(acl, &params), amxd_status_ok);
    std::vector<std::string> keys;
    amxc_var_for_each(value, &params) {
        keys.push_back(amxc_var_key(value));
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"Alias", "Enable", "NetworkGroupRef", "Status"}));
    EXPECT_STREQ(amxc_var_get_const_cstring_t(amxc_var_get_key(&params, "Status", AMXC_VAR_FLAG_DEFAULT)), "Inactive");
    amxc_var_clean(&params);
}

TEST_F(ParamTest, KeyParametersAreUniqueAmongSiblings) {
    amxd_param_set_attr(amxd_object_get_param_def(netobj, "Name"), amxd_pattr_key, true);
    add_instance(netobj, nullptr, {{"Name", "lan"}});
    add_instance(netobj, nullptr, {{"Name", "wan"}});
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, netobj);
        amxd_trans_add_inst(t, 0, nullptr);
        amxd_trans_set_cstring_t(t, "Name", "lan");
    }), amxd_status_duplicate);
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_pathf(t, "Device.X.NetworkObject.2.");
        amxd_trans_set_cstring_t(t, "Name", "lan");
    }), amxd_status_duplicate);
    EXPECT_EQ(text_of(amxd_dm_findf(dm, "Device.X.NetworkObject.2."), "Name"), "wan");
    EXPECT_EQ(amxd_object_get_instance_count(netobj), 2u);
}
