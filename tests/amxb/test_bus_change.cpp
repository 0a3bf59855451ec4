// Reading and changing through an in-process context: paths that name nothing, refusals
// that change nothing, and which context serves which path.
#include "in_process_fixture.h"

extern "C" int c_api_round_trip(void);

namespace {

TEST(CApi, HeadersWorkFromC) {
    EXPECT_EQ(c_api_round_trip(), 1);
}

TEST_F(InProcessBus, PathsThatNameNothingFail) {
    Var reply;
    amxc_var_set(cstring_t, &reply.v, "stale");
    EXPECT_EQ(amxb_get(ctx, "Hosts.Host.9.IPv4Address.", 0, &reply.v, 5), amxd_status_object_not_found);
    EXPECT_EQ(amxc_var_type_of(&reply.v), AMXC_VAR_ID_NULL) << "no stale or partial result";
    EXPECT_NE(std::string(amxb_last_error(ctx)).find("Hosts.Host.9.IPv4Address."), std::string::npos);
    EXPECT_EQ(amxb_get(ctx, "Nowhere.", 0, &reply.v, 5), amxd_status_object_not_found);
    EXPECT_EQ(amxb_get(ctx, "Hosts..Host", 0, &reply.v, 5), amxd_status_invalid_path);
    EXPECT_EQ(amxb_get(ctx, "", 0, &reply.v, 5), amxd_status_invalid_path);
    EXPECT_EQ(amxb_get(ctx, "Hosts.Host.1.%s", 0, &reply.v, 5), amxd_status_invalid_path);
    EXPECT_NE(amxb_get(nullptr, "Hosts.", 0, &reply.v, 5), 0);
    EXPECT_NE(amxb_get(ctx, nullptr, 0, &reply.v, 5), 0);

    ASSERT_EQ(amxb_get(ctx, "Hosts.", 0, &reply.v, 5), 0);
    EXPECT_STREQ(amxb_last_error(ctx), "") << "a success clears the last error";
}

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
