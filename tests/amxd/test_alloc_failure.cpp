// Every allocation an operation makes is made to fail in turn: the operation must then report
// failure, leave its variants or its data model exactly as they were, and leak nothing.
#include "dm_fixture.h"

#include <functional>
#include <optional>

#include "../amxc/var_test_util.h"
#include "failing_allocator.h"

#include <fwrules/fw_rule.h>

using namespace amxd_test;

namespace {

using amxc_test::Var;

struct Scenario {
    std::function<void()> setup;
    std::function<int()> op;             // 0 on success
    std::function<std::string()> state;  // must read the same after a failure
    std::function<void()> teardown;
    bool success_is_final = false;       // what a success built outlives the teardown
};

// Returns how many allocations were made to fail.
long exercise(const Scenario& s) {
    for(long n = 0;; ++n) {
        long live_before = failing_allocator_live_blocks();
        s.setup();
        auto* before = new std::string(s.state());
        failing_allocator_fail_after(n);
        int rv = s.op();
        bool injected = failing_allocator_disarm();
        if(injected && rv != 0) {
            EXPECT_EQ(s.state(), *before) << "allocation " << n;
        }
        delete before;
        s.teardown();
        if(rv != 0 || !s.success_is_final) {
            EXPECT_EQ(failing_allocator_live_blocks(), live_before) << "leak at allocation " << n;
        }
        if(!injected || (rv == 0 && s.success_is_final)) {
            EXPECT_EQ(rv, 0);
            return n;
        }
    }
}

class AllocFailure : public DmTest {
protected:
    void SetUp() override {
        if(!failing_allocator_works()) {
            GTEST_SKIP() << "allocation failures cannot be injected here";
        }
        DmTest::SetUp();
    }
};

void fill_table(amxc_var_t* table) {
    amxc_var_set_type(table, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(cstring_t, table, "a", "A");
    amxc_var_t* list = amxc_var_add_new_key_list(table, "l");
    amxc_var_add(uint32_t, list, 1);
    amxc_var_add(cstring_t, list, "two");
    amxc_var_add_new_key_htable(table, "t");
}

TEST_F(AllocFailure, CopyingAndStoringInTables) {
    std::optional<Var> table;
    std::optional<Var> data;
    amxc_var_t* owned = nullptr;  // handed to the table, which owns it only when stored
    auto setup = [&] {
        table.emplace(fill_table);
        data.emplace(fill_table);
        amxc_var_new(&owned);
        amxc_var_set(cstring_t, owned, "v");
    };
    auto state = [&] {
        return amxc_test::dump(*table) + amxc_test::dump(*data) + std::to_string(amxc_var_get_parent(owned) != nullptr);
    };
    auto teardown = [&] {
        if(amxc_var_get_parent(owned) == nullptr) {
            amxc_var_delete(&owned);
        }
        table.reset();
        data.reset();
    };
    const std::function<int()> ops[] = {
        [&] { return amxc_var_copy(amxc_var_get_key(table->get(), "a", AMXC_VAR_FLAG_DEFAULT), data->get()); },
        [&] { return amxc_var_set_key(table->get(), "new", data->get(), AMXC_VAR_FLAG_COPY); },
        [&] { return amxc_var_set_key(table->get(), "l", data->get(), AMXC_VAR_FLAG_COPY | AMXC_VAR_FLAG_UPDATE); },
        [&] { return amxc_var_add_key(cstring_t, table->get(), "a", "replacement") != nullptr ? 0 : -1; },
        [&] { return amxc_var_set_key(table->get(), "fresh key", owned, AMXC_VAR_FLAG_DEFAULT); },
    };
    for(const auto& op : ops) {
        EXPECT_GT(exercise({setup, op, state, teardown}), 0) << "the operation should allocate";
    }
}

// Every object with its parameters, as text, depth first.
std::string dump(const amxd_object_t* object) {
    std::string text = take_text(amxd_object_get_path(object, AMXD_OBJECT_NAMED | AMXD_OBJECT_TERMINATE)) + "\n";
    amxc::ScopedVar params;
    amxd_object_get_params(object, params.get());
    amxc_var_for_each(value, params.get()) {
        text += "  " + std::string(amxc_var_key(value)) + "=" + take_text(amxc_var_get_cstring_t(value)) + "\n";
    }
    amxd_object_for_each_child(child, object) {
        text += dump(child);
    }
    amxd_object_for_each_instance(inst, object) {
        text += dump(inst);
    }
    return text;
}

TEST_F(AllocFailure, ApplyLeavesTheDataModelAsItWas) {
    add_instance(pfr, "web", {{"Protocol", "6"}});
    add_instance(access, "a1");
    amxp_loop_run_pending();
    EventLog events(dm);
    amxd_trans_t trans;
    auto build = [&] {
        ASSERT_EQ(amxd_trans_init(&trans), amxd_status_ok);
        amxd_trans_select_pathf(&trans, "Device.X.AccessControl.a1.");
        amxd_trans_set_bool(&trans, "Enable", true);
        amxd_trans_select_object(&trans, pfr);
        amxd_trans_del_inst(&trans, 0, "web");
        amxd_trans_add_inst(&trans, 0, "ssh");
        amxd_trans_set_cstring_t(&trans, "Protocol", "6,17");
    };
    auto run = [&] {
        amxd_status_t status = amxd_trans_apply(&trans, dm);
        EXPECT_TRUE(status == amxd_status_ok || status == amxd_status_out_of_mem) << status;
        return static_cast<int>(status);
    };
    auto state = [&] { return dump(amxd_dm_get_root(dm)); };
    EXPECT_GT(exercise({build, run, state, [&] { amxd_trans_clean(&trans); }, true}), 10);  // the apply allocates at least this often

    amxp_loop_run_pending();
    ASSERT_EQ(events.size(), 3u) << "the failed applies sent nothing";
    EXPECT_EQ(events.name(0), "dm:object-changed");
    EXPECT_EQ(events.name(1), "dm:instance-removed");
    EXPECT_EQ(events.name(2), "dm:instance-added");
    EXPECT_EQ(text_of(amxd_dm_findf(dm, "Device.X.PortForwardingRule.ssh."), "Protocol"), "6,17");
}

// A firewall rule's setters allocate for the matches few rules have and for texts kept as
// written: refused then, the rule reads as before.
TEST_F(AllocFailure, RuleSettersRefuseWithTheRuleAsItWas) {
    fw_rule_t* rule = nullptr;
    // The rule text only: a getter would keep the given texts and so allocate them before.
    const auto state = [&rule] {
        char text[512];
        return std::to_string(fw_rule_to_text(rule, text, sizeof(text))) + text;
    };
    const auto made = [&rule] {
        fw_rule_new(&rule);
        fw_rule_set_table(rule, "filter");
        fw_rule_set_chain(rule, "FORWARD_AccessControl_QK");
        fw_rule_set_ipv4(rule, true);
        fw_rule_set_target_policy(rule, FW_RULE_POLICY_DROP);
        fw_rule_set_source(rule, "10.0.0.1");
    };
    const auto gone = [&rule] { fw_rule_delete(&rule); };
    made();  // the table of names keeps its room once made
    gone();
    EXPECT_GT(exercise({made, [&rule] { return fw_rule_set_destination(rule, "10.9.0.1"); }, state, gone}), 0);
    EXPECT_GT(exercise({made, [&rule] { return fw_rule_set_source_mac_address(rule, "AA:bb:CC:dd:EE:0f"); }, state, gone}), 0);
}

}  // namespace
