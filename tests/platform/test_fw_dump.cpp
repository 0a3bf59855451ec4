// The dump, byte for byte: golden tests of the module compare against this format.

#include "fw_fixture.h"

extern "C" int insert_mac_accept_rule_from_c(uint32_t position);

namespace fwtest {
namespace {

using FwDump = FwInterface;

// Tables and chains sorted, new chains kept when emptied, and a rule made in C (so that the
// public headers compile as C11) in its canonical form. (The dump of the access-control chains
// is shown by every golden case of the module.)
TEST_F(FwDump, TablesAndChainsAreSortedAndNewChainsStayWhenEmptied) {
    auto rule_in = [](const char* table, const char* chain) {
        Rule rule = RuleMaker().source("").make();
        EXPECT_EQ(fw_rule_set_table(rule.get(), table), 0);
        EXPECT_EQ(fw_rule_set_chain(rule.get(), chain), 0);
        return rule;
    };
    Rule nat = rule_in("nat", "POSTROUTING_x");
    ASSERT_EQ(fw_rule_set_target_policy(nat.get(), FW_RULE_POLICY_MASQUERADE), 0);
    Rule zeta = rule_in("filter", "zeta");
    Rule alpha = rule_in("filter", "Alpha");
    ASSERT_EQ(fw_add_rule(nat.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(zeta.get(), 1), FW_OK);
    ASSERT_EQ(fw_add_rule(alpha.get(), 1), FW_OK);
    ASSERT_EQ(insert_mac_accept_rule_from_c(1), FW_OK);
    ASSERT_EQ(fw_apply(), FW_OK);
    ASSERT_EQ(fw_delete_rule(zeta.get(), 1), FW_OK);
    ASSERT_EQ(fw_apply(), FW_OK);

    EXPECT_EQ(dump(),
              "# ipv4\n"
              "*filter\n"
              ":Alpha - [0:0]\n"
              ":FORWARD_AccessControl_QK - [0:0]\n"
              ":zeta - [0:0]\n"
              "-A Alpha -j DROP\n"
              "-A FORWARD_AccessControl_QK -m mac --mac-source 01:23:45:67:89:ab -j ACCEPT\n"
              "COMMIT\n"
              "*nat\n"
              ":POSTROUTING_x - [0:0]\n"
              "-A POSTROUTING_x -j MASQUERADE\n"
              "COMMIT\n"
              "# ipv6\n"
              "*filter\n"
              ":FORWARD6_AccessControl_QK - [0:0]\n"
              "COMMIT\n");
}

TEST_F(FwDump, UnknownBackendsAreRefusedAndReselectingMemoryKeepsTheRules) {
    insert_now("10.0.0.1", 1);
    EXPECT_NE(fw_backend_select("no-such-backend"), 0);
    EXPECT_NE(fw_backend_select(nullptr), 0);
    EXPECT_EQ(fw_backend_select("memory"), 0);
    EXPECT_STREQ(fw_backend_name(), "memory");
    EXPECT_EQ(sources(), "10.0.0.1");
}

}  // namespace
}  // namespace fwtest
