// The device-map service on a real data model, reached by the client over the bus: which
// reports a query gets, in which order, and what is refused.

#include <string>
#include <vector>

#include <amxc/amxc_scoped_var.h>
#include <amxd/amxd.h>

#include "device_map_fixture.h"

namespace {

constexpr const char* kMacA = "01:23:45:67:89:ab";
constexpr const char* kMacB = "01:23:45:67:89:cd";

std::string mac_rule(const std::string& mac) {
    return "not self and physical and .PhysAddress matches \"" + mac + "\"";
}

constexpr gmap_query_action_t kStart = gmap_query_expression_start_matching;
constexpr gmap_query_action_t kUpdated = gmap_query_device_updated;
constexpr gmap_query_action_t kStop = gmap_query_expression_stop_matching;

TEST_F(DeviceMap, DevicesThatMatchAtOpenAreReportedOnTheLoop) {
    ASSERT_EQ(add({{"PhysAddress", kMacA}, {"IPAddress", "192.168.1.10"}, {"Tags", "physical lan"}}), 1U);
    ASSERT_EQ(add({{"PhysAddress", kMacB}, {"IPAddress", "192.168.1.11"}, {"Tags", "physical"}}), 2U);
    ASSERT_EQ(add({{"PhysAddress", kMacA}, {"IPAddress", "192.168.1.1"}, {"Tags", "self physical"}}), 3U);
    ASSERT_EQ(add({{"PhysAddress", kMacA}, {"IPAddress", "192.168.1.12"}, {"Tags", "lan"}}), 4U);
    settle();

    int rule = 0;
    gmap_query_t* query = open(mac_rule(kMacA), &rule);
    ASSERT_NE(query, nullptr);
    EXPECT_NE(query->index, 0U);
    EXPECT_TRUE(take().empty());  // never from inside the open
    settle();
    EXPECT_EQ(take(), (std::vector<Seen>{{"ID-1", kStart, "192.168.1.10", &rule}}));
}

TEST_F(DeviceMap, ReportsFollowTheOrderOfTheEvents) {
    int first = 0;
    int second = 0;
    ASSERT_NE(open(mac_rule(kMacA), &first), nullptr);
    ASSERT_NE(open(mac_rule(kMacB), &second), nullptr);
    const uint32_t a = add({{"PhysAddress", kMacA}, {"IPAddress", "10.0.0.1"}, {"Tags", "physical"}});
    ASSERT_NE(add({{"PhysAddress", kMacB}, {"IPAddress", "10.0.0.2"}, {"Tags", "physical"}}), 0U);
    ASSERT_EQ(set(a, {{"PhysAddress", kMacB}}), 0);
    settle();
    // The first event was handled after the third change: the device already carried B's address.
    EXPECT_EQ(take(), (std::vector<Seen>{{"ID-1", kStart, "10.0.0.1", &second},
                                         {"ID-2", kStart, "10.0.0.2", &second},
                                         {"ID-1", kUpdated, "10.0.0.1", &second}}));
    ASSERT_EQ(set(a, {{"PhysAddress", kMacA}}), 0);
    ASSERT_EQ(del(a), 0);
    settle();
    EXPECT_EQ(take(), (std::vector<Seen>{{"ID-1", kStop, "-", &second}}));
}

TEST_F(DeviceMap, NoReportArrivesAfterClose) {
    ASSERT_NE(add({{"PhysAddress", kMacA}, {"IPAddress", "10.0.0.1"}, {"Tags", "physical"}}), 0U);
    settle();
    int closed = 0;
    int kept = 0;
    gmap_query_t* query = open(mac_rule(kMacA), &closed);
    ASSERT_NE(query, nullptr);
    ASSERT_NE(open(mac_rule(kMacA), &kept), nullptr);
    close(query);  // its start-matching report is on its way
    ASSERT_NE(add({{"PhysAddress", kMacA}, {"IPAddress", "10.0.0.3"}, {"Tags", "physical"}}), 0U);
    settle();
    EXPECT_EQ(take(), (std::vector<Seen>{{"ID-1", kStart, "10.0.0.1", &kept}, {"ID-2", kStart, "10.0.0.3", &kept}}));

    // Reopened, the same rule gets a new index: nothing of the closed one reaches it.
    int reopened = 0;
    gmap_query_t* again = open(mac_rule(kMacA), &reopened);
    ASSERT_NE(again, nullptr);
    settle();
    EXPECT_EQ(take().size(), 2U);
}

TEST_F(DeviceMap, ACallbackMayCloseItsOwnQuery) {
    static std::vector<gmap_query_t*>* tracked = nullptr;
    tracked = &open_;
    static int calls = 0;
    calls = 0;
    auto close_self = [](gmap_query_t* query, const char*, amxc_var_t*, gmap_query_action_t) {
        ++calls;
        std::erase(*tracked, query);
        gmap_query_close(query);
    };
    ASSERT_NE(add({{"PhysAddress", kMacA}, {"Tags", "physical"}}), 0U);
    ASSERT_NE(add({{"PhysAddress", kMacA}, {"Tags", "physical"}}), 0U);
    settle();
    gmap_query_t* query = gmap_query_open_ext(mac_rule(kMacA).c_str(), nullptr, close_self, nullptr);
    ASSERT_NE(query, nullptr);
    open_.push_back(query);
    settle();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(open_.empty());
}

TEST_F(DeviceMap, AMalformedExpressionGivesNoHandleAndAWarning) {
    EXPECT_EQ(open("not self and physical and"), nullptr);
    EXPECT_TRUE(traced("[!]query 'NetworkObject.1.Rule.1' refused: expected a tag, a field, 'not' or '(', found the end at position 25 of \"not self and physical and\""));

    EXPECT_EQ(open("physical and .PhysAdress matches \"x\""), nullptr);
    EXPECT_TRUE(traced("unknown parameter '.PhysAdress' at position 13"));
    settle();
    EXPECT_TRUE(take().empty());
}

TEST_F(DeviceMap, WithoutADeviceMapEveryOpenGivesNull) {
    gmap_client_init(nullptr);
    EXPECT_EQ(open(mac_rule(kMacA)), nullptr);
    EXPECT_TRUE(traced("no device map on the bus"));
    gmap_client_init(ctx_);
    EXPECT_NE(open(mac_rule(kMacA)), nullptr);
}

TEST_F(DeviceMap, AQueryOutlivingTheBusContextClosesSafely) {
    gmap_query_t* query = open(mac_rule(kMacA));
    ASSERT_NE(query, nullptr);
    amxb_free(&ctx_);  // as gwrt does before the data models' destroy actions close queries
    close(query);
    EXPECT_EQ(open(mac_rule(kMacA)), nullptr);
}

TEST_F(DeviceMap, DevicesAreReportedUnderTheirKey) {
    const uint32_t pc = add({{"Key", "pc-1"}, {"PhysAddress", kMacA}, {"IPAddress", "10.0.0.1"}, {"Tags", "physical"}});
    ASSERT_NE(pc, 0U);
    int rule = 0;
    ASSERT_NE(open(mac_rule(kMacA), &rule), nullptr);
    settle();
    EXPECT_EQ(take(), (std::vector<Seen>{{"pc-1", kStart, "10.0.0.1", &rule}}));

    // A new key ends the matches under the old one first.
    ASSERT_EQ(set(pc, {{"Key", "pc-2"}}), 0);
    settle();
    EXPECT_EQ(take(), (std::vector<Seen>{{"pc-1", kStop, "-", &rule}, {"pc-2", kStart, "10.0.0.1", &rule}}));

    EXPECT_EQ(add({{"Key", "pc-2"}}), 0U);  // keys are unique
    EXPECT_NE(set(pc, {{"Key", ""}}), 0);    // and never empty
}

TEST_F(DeviceMap, DeviceTextsAreBounded) {
    const uint32_t pc = add({{"Tags", "physical"}});
    EXPECT_EQ(set(pc, {{"Name", std::string(1024, 'n')}}), 0);
    EXPECT_NE(set(pc, {{"Name", std::string(1025, 'n')}}), 0);
    EXPECT_EQ(add({{"UserClassID", std::string(2000, 'u')}}), 0U);
}

TEST_F(DeviceMap, StoppingTheServiceEndsItsQueriesWithAnError) {
    ASSERT_NE(add({{"PhysAddress", kMacA}, {"Tags", "physical"}}), 0U);
    int rule = 0;
    ASSERT_NE(open(mac_rule(kMacA), &rule), nullptr);
    settle();
    take();
    ASSERT_EQ(amxo_parser_invoke_entry_points(parser_, dm_, 1), 0);
    settle();
    EXPECT_EQ(take(), (std::vector<Seen>{{"", gmap_query_error, "-", &rule}}));
    EXPECT_EQ(open(mac_rule(kMacA)), nullptr);
}

TEST_F(DeviceMap, TheMethodsAnswerBusClientsDirectly) {
    amxc::ScopedVar scoped_args;
    amxc::ScopedVar scoped_ret;
    amxc_var_t* args = scoped_args.get();
    amxc_var_t* ret = scoped_ret.get();
    amxc_var_set_type(args, AMXC_VAR_ID_HTABLE);
    amxc_var_add_new_key_cstring_t(args, "expression", ".Active == \"true\"");
    ASSERT_EQ(amxb_call(ctx_, "Devices.", "openQuery", args, ret, 0), 0);
    const uint32_t index = amxc_var_get_uint32_t(ret);
    EXPECT_NE(index, 0U);
    ASSERT_EQ(amxb_call(ctx_, "Devices.", "openQuery", args, ret, 0), 0);
    EXPECT_GT(amxc_var_get_uint32_t(ret), index);

    amxc_var_set_type(args, AMXC_VAR_ID_HTABLE);
    amxc_var_add_new_key_cstring_t(args, "expression", "(physical");
    EXPECT_EQ(amxb_call(ctx_, "Devices.", "openQuery", args, ret, 0), amxd_status_invalid_expr);
    EXPECT_TRUE(traced("expected ')', found the end at position 9"));

    amxc_var_set_type(args, AMXC_VAR_ID_HTABLE);
    amxc_var_add_new_key_uint32_t(args, "index", index);
    EXPECT_EQ(amxb_call(ctx_, "Devices.", "closeQuery", args, nullptr, 0), 0);
    EXPECT_EQ(amxb_call(ctx_, "Devices.", "closeQuery", args, nullptr, 0), amxd_status_object_not_found);
}

}  // namespace
