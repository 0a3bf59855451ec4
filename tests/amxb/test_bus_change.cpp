// Changing and calling through an in-process context: one transaction per call, refusals that
// change nothing, and which context serves which path.
#include "in_process_fixture.h"

namespace {

std::string param_text(amxb_bus_ctx_t* ctx, const char* path) {
    Var reply;
    if(amxb_get(ctx, path, 0, &reply.v, 5) != 0) {
        return "<missing>";
    }
    char* text = amxc_var_get_cstring_t(amxc_var_get_first(amxc_var_get_first(amxc_var_get_first(&reply.v))));
    std::string result = text == nullptr ? "<not text>" : text;
    free(text);
    return result;
}

TEST_F(InProcessBus, SetWritesAllValuesAndReportsThem) {
    Var values;
    make_table(&values.v, {{"Name", "lan"}, {"Port", "8080"}});
    Var ret;
    ASSERT_EQ(amxb_set(ctx, "Device.Test", &values.v, &ret.v, 5), 0) << amxb_last_error(ctx);
    EXPECT_EQ(objects_in(&ret.v), (std::vector<std::string>{"Device.Test."}));
    EXPECT_EQ(amxc_var_get_uint32_t(amxc_var_get_key(params_in(&ret.v, "Device.Test."), "Port", 0)), 8080u);
    EXPECT_EQ(param_text(ctx, "Device.Test.Name"), "lan");
    EXPECT_EQ(param_text(ctx, "Device.Test.Port"), "8080");
}

TEST_F(InProcessBus, RefusedSetChangesNothing) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> values;
        int status;
    };
    const Case cases[] = {
        {{{"Name", "changed"}, {"Status", "Active"}}, amxd_status_read_only},
        {{{"Name", "changed"}, {"Port", "70000"}}, amxd_status_invalid_value},
        {{{"Name", "changed"}, {"Port", "0"}}, amxd_status_invalid_value},
        {{{"Name", "changed"}, {"Port", "eighty"}}, amxd_status_invalid_value},
    };
    for(const Case& c : cases) {
        Var values;
        make_table(&values.v, c.values);
        Var ret;
        EXPECT_EQ(amxb_set(ctx, "Device.Test.", &values.v, &ret.v, 5), c.status) << c.values[1].second;
        EXPECT_STRNE(amxb_last_error(ctx), "");
        EXPECT_EQ(param_text(ctx, "Device.Test.Name"), "") << "all or nothing";
        EXPECT_EQ(param_text(ctx, "Device.Test.Port"), "80");
    }
    Var values;
    make_table(&values.v, {{"Name", "changed"}, {"NoSuchParameter", "1"}});
    EXPECT_NE(amxb_set(ctx, "Device.Test.", &values.v, nullptr, 5), 0);
    EXPECT_EQ(param_text(ctx, "Device.Test.Name"), "");
    EXPECT_EQ(amxb_set(ctx, "Device.Missing.", &values.v, nullptr, 5), amxd_status_object_not_found);

    Var not_a_table;
    amxc_var_set(cstring_t, &not_a_table.v, "Name=x");
    EXPECT_EQ(amxb_set(ctx, "Device.Test.", &not_a_table.v, nullptr, 5), amxd_status_invalid_arg);
    EXPECT_EQ(amxb_set(ctx, "Device.Test.", nullptr, nullptr, 5), amxd_status_invalid_arg);
}

TEST_F(InProcessBus, AddCreatesOneInstanceWithItsValues) {
    Var values;
    make_table(&values.v, {{"HostName", "gamma"}});
    Var ret;
    ASSERT_EQ(amxb_add(ctx, "Hosts.Host", 0, "gamma", &values.v, &ret.v, 5), 0) << amxb_last_error(ctx);
    EXPECT_EQ(text_of(&ret.v, "path"), "Hosts.Host.3.");
    EXPECT_EQ(amxc_var_get_uint32_t(amxc_var_get_key(&ret.v, "index", 0)), 3u);
    EXPECT_EQ(text_of(&ret.v, "name"), "gamma");
    EXPECT_EQ(param_text(ctx, "Hosts.Host.gamma.HostName"), "gamma");

    ASSERT_EQ(amxb_add(ctx, "Hosts.Host.3.IPv4Address.", 7, nullptr, nullptr, &ret.v, 5), 0);
    EXPECT_EQ(text_of(&ret.v, "path"), "Hosts.Host.3.IPv4Address.7.");
    EXPECT_EQ(text_of(&ret.v, "name"), "7") << "an unnamed instance is named by its index";
}

TEST_F(InProcessBus, RefusedAddAddsNothing) {
    Var ret;
    EXPECT_EQ(amxb_add(ctx, "Hosts.Host.", 0, "alpha", nullptr, &ret.v, 5), amxd_status_duplicate);
    EXPECT_EQ(amxb_add(ctx, "Hosts.Host.", 1, nullptr, nullptr, &ret.v, 5), amxd_status_duplicate);
    EXPECT_EQ(amxb_add(ctx, "Device.Test.", 0, nullptr, nullptr, &ret.v, 5), amxd_status_not_a_template);
    EXPECT_EQ(amxb_add(ctx, "Hosts.Missing.", 0, nullptr, nullptr, &ret.v, 5), amxd_status_object_not_found);
    Var values;
    make_table(&values.v, {{"NoSuchParameter", "1"}});
    EXPECT_NE(amxb_add(ctx, "Hosts.Host.", 0, nullptr, &values.v, &ret.v, 5), 0);

    Var hosts;
    ASSERT_EQ(amxb_get(ctx, "Hosts.Host.", 0, &hosts.v, 5), 0);
    EXPECT_EQ(objects_in(&hosts.v), (std::vector<std::string>{"Hosts.Host.1.", "Hosts.Host.2."}));
}

TEST_F(InProcessBus, DelRemovesExactlyOneInstance) {
    Var ret;
    ASSERT_EQ(amxb_del(ctx, "Hosts.Host.beta", &ret.v, 5), 0) << amxb_last_error(ctx);
    ASSERT_EQ(amxc_var_size(&ret.v), 1u);
    EXPECT_STREQ(amxc_var_get_const_cstring_t(amxc_var_get_first(&ret.v)), "Hosts.Host.2.");
    Var hosts;
    ASSERT_EQ(amxb_get(ctx, "Hosts.Host.", 0, &hosts.v, 5), 0);
    EXPECT_EQ(objects_in(&hosts.v), (std::vector<std::string>{"Hosts.Host.1."}));

    EXPECT_EQ(amxb_del(ctx, "Hosts.Host.2.", &ret.v, 5), amxd_status_object_not_found);
    EXPECT_EQ(amxb_del(ctx, "Hosts.Host.", &ret.v, 5), amxd_status_not_instantiated);
    EXPECT_EQ(amxb_del(ctx, "Device.Test.", &ret.v, 5), amxd_status_not_instantiated);
}

TEST_F(InProcessBus, CallReturnsTheMethodsResultAndStatus) {
    Var args;
    make_table(&args.v, {{"text", "hello"}});
    Var ret;
    ASSERT_EQ(amxb_call(ctx, "Device.Test.", "Echo", &args.v, &ret.v, 5), 0) << amxb_last_error(ctx);
    EXPECT_EQ(text_of(&ret.v, "text"), "hello");

    EXPECT_EQ(amxb_call(ctx, "Device.Test.", "Fail", nullptr, &ret.v, 5), amxd_status_invalid_value);
    EXPECT_NE(std::string(amxb_last_error(ctx)).find("Device.Test.Fail()"), std::string::npos) << amxb_last_error(ctx);
    EXPECT_EQ(amxb_call(ctx, "Device.Test.", "Missing", nullptr, &ret.v, 5), amxd_status_function_not_found);
    EXPECT_EQ(amxb_call(ctx, "Device.Nothing.", "Echo", nullptr, &ret.v, 5), amxd_status_object_not_found);
    Var list;
    amxc_var_set_type(&list.v, AMXC_VAR_ID_LIST);
    EXPECT_EQ(amxb_call(ctx, "Device.Test.", "Echo", &list.v, &ret.v, 5), amxd_status_invalid_arg);
    EXPECT_EQ(amxb_call(ctx, "Device.Test.", "", nullptr, &ret.v, 5), amxd_status_invalid_arg);
}

TEST_F(InProcessBus, WhoHasPicksTheContextServingTheTopLevelObject) {
    EXPECT_EQ(amxb_be_who_has("Hosts.Host.3.IPv4Address."), ctx);
    EXPECT_EQ(amxb_be_who_has("Device"), ctx);
    EXPECT_EQ(amxb_be_who_has("Devices.Device."), nullptr) << "\"Device.\" must not serve \"Devices.\"";
    EXPECT_EQ(amxb_be_who_has("Nowhere."), nullptr);
    EXPECT_EQ(amxb_be_who_has(nullptr), nullptr);

    // A second data model with a top-level object of its own gets its own context.
    amxd_dm_t* devices = nullptr;
    ASSERT_EQ(amxd_dm_new(&devices), amxd_status_ok);
    amxd_object_t* top = nullptr;
    ASSERT_EQ(amxd_object_new(&top, amxd_object_singleton, "Devices"), amxd_status_ok);
    ASSERT_EQ(amxd_object_add_object(amxd_dm_get_root(devices), top), amxd_status_ok);
    amxb_bus_ctx_t* second = nullptr;
    ASSERT_EQ(amxb_register_dm(&second, devices), 0);
    EXPECT_EQ(amxb_be_who_has("Devices.Device."), second);
    EXPECT_EQ(amxb_be_who_has("Device.Test."), ctx);
    Var reply;
    EXPECT_EQ(amxb_get(second, "Hosts.", 0, &reply.v, 5), amxd_status_object_not_found)
        << "a context serves only its own data model";

    amxb_free(&second);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(amxb_be_who_has("Devices.Device."), nullptr);
    amxd_dm_delete(&devices);
    amxb_free(&second);  // freeing twice through the cleared pointer is harmless
}

}  // namespace
