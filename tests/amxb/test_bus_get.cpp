// Reading through an in-process context: depth, and paths that name nothing.
#include "in_process_fixture.h"

extern "C" int c_api_round_trip(void);

namespace {

TEST(CApi, HeadersWorkFromC) {
    EXPECT_EQ(c_api_round_trip(), 1);
}

using Objects = std::vector<std::string>;

TEST_F(InProcessBus, DepthAddsDescendantsWithTemplatesTransparent) {
    Var reply;
    ASSERT_EQ(amxb_get(ctx, "Hosts.Host.1.", 0, &reply.v, 5), 0);
    EXPECT_EQ(objects_in(&reply.v), (Objects{"Hosts.Host.1."}));
    EXPECT_EQ(text_of(params_in(&reply.v, "Hosts.Host.1."), "HostName"), "alpha");

    ASSERT_EQ(amxb_get(ctx, "Hosts.Host.1.", 1, &reply.v, 5), 0);
    EXPECT_EQ(objects_in(&reply.v), (Objects{"Hosts.Host.1.", "Hosts.Host.1.IPv4Address.1.",
                                             "Hosts.Host.1.IPv4Address.2.", "Hosts.Host.1.IPv6Address.1."}));

    ASSERT_EQ(amxb_get(ctx, "Hosts.", 1, &reply.v, 5), 0);
    EXPECT_EQ(objects_in(&reply.v), (Objects{"Hosts.", "Hosts.Host.1.", "Hosts.Host.2."}));

    ASSERT_EQ(amxb_get(ctx, "Hosts.", -1, &reply.v, 5), 0);
    EXPECT_EQ(objects_in(&reply.v), (Objects{"Hosts.", "Hosts.Host.1.", "Hosts.Host.1.IPv4Address.1.",
                                             "Hosts.Host.1.IPv4Address.2.", "Hosts.Host.1.IPv6Address.1.",
                                             "Hosts.Host.2."}));
}

TEST_F(InProcessBus, ParameterPathGivesOnlyThatParameter) {
    Var reply;
    ASSERT_EQ(amxb_get(ctx, "Device.Test.Port", 0, &reply.v, 5), 0);
    EXPECT_EQ(objects_in(&reply.v), (Objects{"Device.Test."}));
    EXPECT_EQ(keys_of(params_in(&reply.v, "Device.Test.")), (Objects{"Port"}));
    EXPECT_EQ(amxc_var_get_uint32_t(amxc_var_get_key(params_in(&reply.v, "Device.Test."), "Port", 0)), 80u);
    // With the trailing dot it is an object path, and there is no such object.
    EXPECT_EQ(amxb_get(ctx, "Device.Test.Port.", 0, &reply.v, 5), amxd_status_object_not_found);
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

}  // namespace
