// Actions may not restructure the tree they run on.
#include "dm_fixture.h"

using namespace amxd_test;

namespace {

std::vector<std::string> calls;

class ActionTest : public DmTest {
protected:
    void SetUp() override {
        DmTest::SetUp();
        calls.clear();
    }
};

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
