// The object tree: malformed paths, instance indexes and names.
#include "dm_fixture.h"

using namespace amxd_test;

using TreeTest = DmTest;

TEST_F(TreeTest, MalformedPathsFindNothing) {
    add_instance(access, nullptr);
    for(const char* path : {".Device", "Device...X", "Device.X.AccessControl.0", "Device.X.AccessControl.4294967296",
                            "Device.X.AccessControl.99999999999999999999999", "Device.X.Nope", "Device.X.AccessControl.2",
                            "Device.X.AccessControl.1.Nope", "Device X"}) {
        EXPECT_EQ(amxd_dm_findf(dm, "%s", path), nullptr) << path;
    }
    EXPECT_EQ(amxd_dm_findf(dm, nullptr), nullptr);
    EXPECT_EQ(amxd_object_get(x, "AccessControl.1"), nullptr);
    std::string huge(70000, 'A');
    EXPECT_EQ(amxd_dm_findf(dm, "%s", huge.c_str()), nullptr);
}

TEST_F(TreeTest, IndexesAreNeverReused) {
    add_instance(access, nullptr);
    add_instance(access, nullptr);
    add_instance(access, nullptr);
    ASSERT_EQ(apply([](amxd_trans_t* t) {
        amxd_trans_select_pathf(t, "Device.X.AccessControl.");
        amxd_trans_del_inst(t, 3, nullptr);
        amxd_trans_del_inst(t, 2, nullptr);
    }), amxd_status_ok) << last_error;
    amxd_object_t* next = add_instance(access, nullptr);
    EXPECT_EQ(amxd_object_get_index(next), 4u);

    // An explicit index is taken as given when free, and later automatic ones go above it.
    ASSERT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, access);
        amxd_trans_add_inst(t, 10, nullptr);
    }), amxd_status_ok);
    EXPECT_EQ(last_added, "Device.X.AccessControl.10.");
    EXPECT_EQ(amxd_object_get_index(add_instance(access, nullptr)), 11u);
    auto add_at = [&](uint32_t index, const char* name) {
        return apply([&](amxd_trans_t* t) {
            amxd_trans_select_object(t, access);
            amxd_trans_add_inst(t, index, name);
        });
    };
    EXPECT_EQ(add_at(10, nullptr), amxd_status_duplicate);

    // Indices stop at a bound; at it, the counter goes on from the lowest free index.
    EXPECT_EQ(add_at(AMXD_MAX_INDEX + 1u, nullptr), amxd_status_invalid_value);
    EXPECT_NE(last_error.find("above the highest allowed"), std::string::npos) << last_error;
    ASSERT_EQ(add_at(AMXD_MAX_INDEX, nullptr), amxd_status_ok);
    EXPECT_EQ(amxd_object_get_index(add_instance(access, nullptr)), 2u);
    EXPECT_EQ(amxd_object_get_index(add_instance(access, nullptr)), 3u);

    // "AccessControl-<n>" is how exports name the unnamed instance n: no other may take it.
    EXPECT_EQ(add_at(0, "AccessControl-4"), amxd_status_duplicate);
    EXPECT_NE(last_error.find("the name AccessControl-4 stands for Device.X.AccessControl.4"), std::string::npos)
        << last_error;
    EXPECT_EQ(add_at(5, "AccessControl-5"), amxd_status_ok);
    EXPECT_EQ(add_at(0, "AccessControl-05"), amxd_status_ok);
}

TEST_F(TreeTest, InstanceNamesMustBeUsableInPaths) {
    for(const char* name : {"123", "a.b", "a b", "x/y"}) {
        EXPECT_EQ(apply([&](amxd_trans_t* t) {
            amxd_trans_select_object(t, access);
            amxd_trans_add_inst(t, 0, name);
        }), amxd_status_invalid_name) << name;
    }
    add_instance(access, "dup");
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, access);
        amxd_trans_add_inst(t, 0, "dup");
    }), amxd_status_duplicate);
    EXPECT_EQ(amxd_object_get_instance_count(access), 1u);
}
