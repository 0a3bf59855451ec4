// The object tree: building it, paths, lookups, instances made from templates.
#include "dm_fixture.h"

using namespace amxd_test;

using TreeTest = DmTest;

TEST(TreeBuild, RefusesBadNamesKindsAndLinks) {
    amxd_object_t* object = nullptr;
    EXPECT_EQ(amxd_object_new(&object, amxd_object_singleton, "1abc"), amxd_status_invalid_name);
    EXPECT_EQ(amxd_object_new(&object, amxd_object_singleton, "a.b"), amxd_status_invalid_name);
    EXPECT_EQ(amxd_object_new(&object, amxd_object_singleton, ""), amxd_status_invalid_name);
    EXPECT_EQ(amxd_object_new(&object, amxd_object_instance, "a"), amxd_status_invalid_type);
    EXPECT_EQ(object, nullptr);

    amxd_object_t* a = nullptr;
    amxd_object_t* b = nullptr;
    amxd_object_t* b2 = nullptr;
    ASSERT_EQ(amxd_object_new(&a, amxd_object_singleton, "A"), amxd_status_ok);
    ASSERT_EQ(amxd_object_new(&b, amxd_object_template, "B-1_x"), amxd_status_ok);
    ASSERT_EQ(amxd_object_new(&b2, amxd_object_singleton, "B-1_x"), amxd_status_ok);
    ASSERT_EQ(amxd_object_add_object(a, b), amxd_status_ok);
    EXPECT_EQ(amxd_object_add_object(a, b2), amxd_status_duplicate);
    EXPECT_EQ(amxd_object_add_object(b, a), amxd_status_invalid_arg) << "a cycle";
    EXPECT_EQ(amxd_object_add_object(b2, b), amxd_status_invalid_arg) << "b already has a parent";
    EXPECT_EQ(amxd_object_get_parent(b), a);
    EXPECT_EQ(amxd_object_get_dm(b), nullptr);
    EXPECT_EQ(take_text(amxd_object_get_path(b, AMXD_OBJECT_TERMINATE)), "A.B-1_x.");
    amxd_object_delete(&b2);
    amxd_object_delete(&a);
    EXPECT_EQ(a, nullptr);
}

TEST_F(TreeTest, FindsByPathWithOrWithoutTrailingDotAndByName) {
    amxd_object_t* first = add_instance(access, "cpe-1");
    amxd_object_t* second = add_instance(access, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);

    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.AccessControl.1."), first);
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.AccessControl.1"), first);
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.AccessControl.cpe-1."), first);
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.AccessControl.%d.", 2), second);
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.AccessControl."), access);
    EXPECT_EQ(amxd_dm_findf(dm, "%s", ""), amxd_dm_get_root(dm));
    EXPECT_EQ(amxd_object_findf(x, "AccessControl.%s", "cpe-1"), first);
    EXPECT_EQ(amxd_object_get(access, "2"), second);
    EXPECT_EQ(amxd_object_get(access, "cpe-1"), first);
    EXPECT_EQ(amxd_object_get_instance(access, "cpe-1", 0), first);
    EXPECT_EQ(amxd_object_get_instance(access, nullptr, 2), second);
    EXPECT_EQ(amxd_object_get_instance(access, "", 2), second);
}

TEST_F(TreeTest, EventPathPlusIndexFindsTheInstance) {
    // Handlers build "%s.%d." from an event's "path", which already ends with a dot.
    amxd_object_t* first = add_instance(access, nullptr);
    EXPECT_EQ(amxd_dm_findf(dm, "%s.%d.", "Device.X.AccessControl.", 1), first);
}

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

TEST_F(TreeTest, PathsAndNamesOfInstances) {
    amxd_object_t* named = add_instance(access, "cpe-1");
    amxd_object_t* plain = add_instance(access, nullptr);
    EXPECT_EQ(take_text(amxd_object_get_path(named, AMXD_OBJECT_INDEXED)), "Device.X.AccessControl.1");
    EXPECT_EQ(take_text(amxd_object_get_path(named, AMXD_OBJECT_NAMED | AMXD_OBJECT_TERMINATE)),
              "Device.X.AccessControl.cpe-1.");
    EXPECT_EQ(take_text(amxd_object_get_path(plain, AMXD_OBJECT_NAMED)), "Device.X.AccessControl.2");
    EXPECT_STREQ(amxd_object_get_name(named, AMXD_OBJECT_NAMED), "cpe-1");
    EXPECT_STREQ(amxd_object_get_name(named, AMXD_OBJECT_INDEXED), "1");
    EXPECT_STREQ(amxd_object_get_name(access, AMXD_OBJECT_INDEXED), "AccessControl");
    EXPECT_EQ(amxd_object_get_index(plain), 2u);
    EXPECT_EQ(amxd_object_get_type(named), amxd_object_instance);
    EXPECT_EQ(take_text(amxd_object_get_path(amxd_dm_get_root(dm), AMXD_OBJECT_TERMINATE)), "");
    EXPECT_EQ(amxd_object_get_root(named), amxd_dm_get_root(dm));
    EXPECT_EQ(amxd_object_get_dm(named), dm);
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

TEST_F(TreeTest, InstancesGetDeepCopiesOfTheirTemplate) {
    amxd_object_t* web = add_instance(pfr, "web");
    amxd_object_t* ssh = add_instance(pfr, "ssh");
    amxd_object_t* web_icmp = amxd_object_findf(web, "ICMP");
    amxd_object_t* ssh_icmp = amxd_object_findf(ssh, "ICMP.");
    ASSERT_NE(web_icmp, nullptr);
    ASSERT_NE(ssh_icmp, nullptr);
    EXPECT_NE(web_icmp, ssh_icmp);

    ASSERT_EQ(apply([](amxd_trans_t* t) {
        amxd_trans_select_pathf(t, "Device.X.PortForwardingRule.web.ICMP.");
        amxd_trans_set_uint32_t(t, "Type", 8);
    }), amxd_status_ok) << last_error;
    EXPECT_EQ(amxd_object_get_uint32_t(web_icmp, "Type", nullptr), 8u);
    EXPECT_EQ(amxd_object_get_uint32_t(ssh_icmp, "Type", nullptr), 0u);

    // A template nested in a template: each instance gets its own, with the declared parameters.
    amxd_object_t* lan = add_instance(netobj, "lan");
    amxd_object_t* rules = amxd_object_get_child(lan, "Rule");
    ASSERT_NE(rules, nullptr);
    EXPECT_EQ(amxd_object_get_type(rules), amxd_object_template);
    EXPECT_EQ(amxd_object_get_instance_count(rules), 0u);
    amxd_object_t* rule = add_instance(rules, nullptr);
    EXPECT_EQ(text_of(rule, "Type"), "IPAddress");
    EXPECT_EQ(last_added, "Device.X.NetworkObject.1.Rule.1.");
    EXPECT_EQ(amxd_object_get_instance_count(amxd_object_get_child(add_instance(netobj, "wan"), "Rule")), 0u);
}

TEST_F(TreeTest, AliasStartsAsTheInstanceName) {
    EXPECT_EQ(text_of(add_instance(access, "cpe-guest"), "Alias"), "cpe-guest");
    EXPECT_EQ(text_of(add_instance(access, nullptr), "Alias"), "");
    // A value set in the same transaction wins over the name.
    EXPECT_EQ(text_of(add_instance(access, "n3", {{"Alias", "mine"}}), "Alias"), "mine");
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

TEST_F(TreeTest, DefinitionsUnderTemplatesTakeNoData) {
    amxd_object_t* declared_rules = amxd_object_get_child(netobj, "Rule");
    amxd_object_t* declared_icmp = amxd_object_get_child(pfr, "ICMP");
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, declared_rules);
        amxd_trans_add_inst(t, 0, nullptr);
    }), amxd_status_not_instantiated);
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, declared_icmp);
        amxd_trans_set_uint32_t(t, "Type", 3);
    }), amxd_status_not_instantiated);
    EXPECT_EQ(apply([&](amxd_trans_t* t) {
        amxd_trans_select_object(t, x);
        amxd_trans_add_inst(t, 0, nullptr);
    }), amxd_status_not_a_template);
}

TEST_F(TreeTest, IterationInOrderToleratesDeletingTheCurrentObject) {
    for(int i = 0; i < 5; ++i) {
        add_instance(access, nullptr);
    }
    std::vector<uint32_t> seen;
    amxd_object_for_each_instance(inst, access) {
        seen.push_back(amxd_object_get_index(inst));
        if(amxd_object_get_index(inst) % 2 == 0) {
            amxd_object_delete(&inst);
        }
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(amxd_object_get_instance_count(access), 3u);
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.AccessControl.2"), nullptr);

    std::vector<std::string> children;
    amxd_object_for_each_child(child, x) {
        children.push_back(amxd_object_get_name(child, 0));
    }
    EXPECT_EQ(children, (std::vector<std::string>{"AccessControl", "PortForwardingRule", "NetworkObject"}));
}

TEST_F(TreeTest, ManyInstancesStayReachable) {
    amxd_trans_t trans;
    amxd_trans_init(&trans);
    amxd_trans_select_object(&trans, access);
    for(int i = 0; i < 2000; ++i) {
        amxd_trans_select_object(&trans, access);
        char name[16];
        snprintf(name, sizeof(name), "n%d", i);
        amxd_trans_add_inst(&trans, 0, name);
    }
    ASSERT_EQ(amxd_trans_apply(&trans, dm), amxd_status_ok) << amxd_trans_get_error(&trans);
    amxd_trans_clean(&trans);
    EXPECT_EQ(amxd_object_get_instance_count(access), 2000u);
    EXPECT_EQ(amxd_object_get_index(amxd_dm_findf(dm, "Device.X.AccessControl.n1234.")), 1235u);
    EXPECT_EQ(amxd_dm_findf(dm, "Device.X.AccessControl.2000."), amxd_dm_findf(dm, "Device.X.AccessControl.n1999"));
}
