// The object tree: malformed paths, instance indexes and names, parameter bounds, and actions
// that may not restructure the tree they run on, nor let readers in while they run.
#include "dm_fixture.h"

#include <unistd.h>

#include <chrono>
#include <type_traits>

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
    ASSERT_EQ(add_at(access, 10, nullptr), amxd_status_ok);
    EXPECT_EQ(last_added, "Device.X.AccessControl.10.");
    EXPECT_EQ(amxd_object_get_index(add_instance(access, nullptr)), 11u);
    EXPECT_EQ(add_at(access, 10, nullptr), amxd_status_duplicate);

    // Indices stop at a bound; at it, the counter goes on from the lowest free index.
    EXPECT_EQ(add_at(access, AMXD_MAX_INDEX + 1u, nullptr), amxd_status_invalid_value);
    EXPECT_NE(last_error.find("above the highest allowed"), std::string::npos) << last_error;
    ASSERT_EQ(add_at(access, AMXD_MAX_INDEX, nullptr), amxd_status_ok);
    EXPECT_EQ(amxd_object_get_index(add_instance(access, nullptr)), 2u);
    EXPECT_EQ(amxd_object_get_index(add_instance(access, nullptr)), 3u);

    // "AccessControl-<n>" is how exports name the unnamed instance n: no other may take it.
    EXPECT_EQ(add_at(access, 0, "AccessControl-4"), amxd_status_duplicate);
    EXPECT_NE(last_error.find("the name AccessControl-4 stands for Device.X.AccessControl.4"), std::string::npos)
        << last_error;
    EXPECT_EQ(add_at(access, 5, "AccessControl-5"), amxd_status_ok);
    EXPECT_EQ(add_at(access, 0, "AccessControl-05"), amxd_status_ok);
}

TEST_F(TreeTest, InstanceNamesMustBeUsableInPaths) {
    for(const char* name : {"123", "a.b", "a b", "x/y"}) {
        EXPECT_EQ(add_at(access, 0, name), amxd_status_invalid_name) << name;
    }
    add_instance(access, "dup");
    EXPECT_EQ(add_at(access, 0, "dup"), amxd_status_duplicate);
    EXPECT_EQ(amxd_object_get_instance_count(access), 1u);
}

// Texts longer than their parameter's bound are refused, in transactions as in direct writes;
// the bound is per parameter and copied to instances.
TEST_F(TreeTest, TextsLongerThanTheirBoundAreRefused) {
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
        EXPECT_EQ(set(c.object, c.param, c.value.c_str()), c.status) << c.param << "=" << c.value;
    }
    EXPECT_EQ(last_error, "Device.X.NetworkObject.1.Rule.1.SourceIP is longer than 8 bytes");
    EXPECT_EQ(text_of(acl, "Alias"), std::string(AMXD_PARAM_MAX_LENGTH, 'a'));
    EXPECT_EQ(text_of(rule, "SourceIP"), "10.0.0.1");

    amxc::ScopedVar value;
    amxc_var_set_cstring_t(value.get(), "too long!");
    EXPECT_EQ(amxd_param_set_value(source_ip, value.get()), amxd_status_invalid_value);
    EXPECT_EQ(amxd_param_set_max_length(amxd_object_get_param_def(acl, "Alias"), 10), amxd_status_invalid_value);
    EXPECT_EQ(amxd_param_set_max_length(amxd_object_get_param_def(acl, "Enable"), 10), amxd_status_invalid_type);
}

// A definition changed on the template reaches only the instances made afterwards; one changed
// on an instance stays its own.
TEST_F(TreeTest, DefinitionsChangedLaterReachOnlyTheObjectChanged) {
    amxd_object_t* before = add_instance(access, "before");
    amxd_param_t* alias = amxd_object_get_param_def(access, "Alias");
    ASSERT_EQ(amxd_param_set_max_length(alias, 6), amxd_status_ok);
    ASSERT_EQ(amxd_param_set_attr(alias, amxd_pattr_persistent, true), amxd_status_ok);
    amxd_object_t* after = add_instance(access, "after");
    EXPECT_EQ(set(before, "Alias", "longer than six"), amxd_status_ok);
    EXPECT_EQ(set(after, "Alias", "longer than six"), amxd_status_invalid_value);
    EXPECT_FALSE(amxd_param_is_attr_set(amxd_object_get_param_def(before, "Alias"), amxd_pattr_persistent));
    EXPECT_TRUE(amxd_param_is_attr_set(amxd_object_get_param_def(after, "Alias"), amxd_pattr_persistent));

    amxd_param_t* own = amxd_object_get_param_def(after, "Enable");
    ASSERT_EQ(amxd_param_set_attr(own, amxd_pattr_read_only, true), amxd_status_ok);
    EXPECT_EQ(set(after, "Enable", "true"), amxd_status_read_only);
    EXPECT_FALSE(amxd_param_is_attr_set(amxd_object_get_param_def(access, "Enable"), amxd_pattr_read_only));
    EXPECT_EQ(set(add_instance(access, "third"), "Enable", "true"), amxd_status_ok);
    ASSERT_EQ(amxd_param_set_attr(own, amxd_pattr_read_only, false), amxd_status_ok);
    EXPECT_EQ(set(after, "Enable", "true"), amxd_status_ok);

    // An object of many parameters finds them by name, also once one has a definition of its own.
    amxd_object_t* wide = add_object(x, amxd_object_template, "Wide");
    for(int n = 0; n < 20; ++n) {
        add_param(wide, ("P" + std::to_string(n)).c_str(), AMXC_VAR_ID_CSTRING);
    }
    amxd_object_t* instance = add_instance(wide, nullptr);
    add_instance(wide, "other");
    amxd_param_t* p7 = amxd_object_get_param_def(instance, "P7");
    ASSERT_EQ(amxd_param_set_attr(p7, amxd_pattr_key, true), amxd_status_ok);
    // The definition the instance first shared goes with the last object holding it.
    ASSERT_EQ(amxd_param_set_attr(amxd_object_get_param_def(wide, "P7"), amxd_pattr_persistent, true), amxd_status_ok);
    ASSERT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, wide);
        amxd_trans_del_inst(t, 0, "other");
    }), amxd_status_ok) << last_error;
    EXPECT_EQ(amxd_object_get_param_def(instance, "P7"), p7);
    EXPECT_STREQ(amxd_param_get_name(amxd_object_get_param_def(instance, "P19")), "P19");
}

namespace {

std::vector<std::string> calls;

using ActionTest = DmTest;

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
    calls.clear();
    busy_dm = dm;
    amxd_object_add_action_cb(access, action_object_validate, try_to_restructure, nullptr);
    add_instance(access, nullptr, {{"Enable", "true"}});
    EXPECT_EQ(calls, (std::vector<std::string>{"reads Enable=true", "nested apply recursion", "delete refused",
                                               "add recursion", "dm delete refused"}));
    EXPECT_TRUE(amxd_object_get_bool(amxd_dm_findf(dm, "Device.X.AccessControl.1"), "Enable", nullptr));
}

namespace {

// Long work in a validate action: slice points for three slices.
amxd_status_t validate_at_length(amxd_object_t*, amxd_param_t*, amxd_action_t, const amxc_var_t* const,
                                 amxc_var_t* const, void*) {
    const auto start = std::chrono::steady_clock::now();
    while(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(3 * AMXP_LOOP_SLICE_MS)) {
        amxp_loop_slice_point();
    }
    calls.emplace_back("validated");
    return amxd_status_ok;
}

} // namespace

// A transaction runs whole, even from a callback of the loop whose actions do long work: a reader
// let in meanwhile would see the tree half changed.
TEST_F(ActionTest, LongWorkInAnActionLetsNoReaderIn) {
    calls.clear();
    int reader[2] = {-1, -1};
    ASSERT_EQ(pipe(reader), 0);
    ASSERT_EQ(write(reader[1], "r", 1), 1);
    amxp_loop_add_fd(reader[0], AMXP_FD_READ, [](int fd, uint32_t, void*) {
        char c;
        EXPECT_EQ(read(fd, &c, 1), 1);
        calls.emplace_back("read");
    }, nullptr);
    ASSERT_EQ(amxp_loop_serve_while_paused(reader[0], true), 0);
    amxd_object_add_action_cb(access, action_object_validate, validate_at_length, nullptr);
    using Self = std::remove_pointer_t<decltype(this)>;
    amxp_loop_defer([](void* priv) { static_cast<Self*>(priv)->add_instance(static_cast<Self*>(priv)->access, nullptr); }, this);
    amxp_loop_run_pending();
    // Let in once the callback is done, never within the transaction.
    EXPECT_EQ(calls, (std::vector<std::string>{"validated", "read"}));
    amxp_loop_remove_fd(reader[0]);
    close(reader[0]);
    close(reader[1]);
}
