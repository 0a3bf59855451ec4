// The device-map service on a real data model, reached by the client over the bus: which
// reports a query gets, in which order, and what is refused. The service runs as gwrt runs
// it: devices.def loaded with the definition loader into a data model of its own, served on
// an in-process bus context, and the device-map client attached to that context. Devices are
// written over the bus, as gwctl does.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <amxb/amxb.h>
#include <amxc/amxc_scoped_var.h>
#include <amxd/amxd.h>
#include <amxo/amxo.h>
#include <amxp/amxp_loop.h>
#include <gmap/gmap_main.h>
#include <gmap/gmap_query.h>
#include <zebtrace/zebtrace.h>

namespace {

using Values = std::map<std::string, std::string>;

// One report as the module's callback saw it.
struct Seen {
    std::string key;
    gmap_query_action_t action;
    std::string ip;  // the device data's "IPAddress"; "-" without device data
    void* data;      // the query's user data

    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
    static const char* const names[] = {"start", "updated", "stop", "error"};
    return out << "{" << seen.key << " " << names[seen.action] << " " << seen.ip << " " << seen.data << "}";
}

std::vector<Seen> received;

void record(gmap_query_t* query, const char* key, amxc_var_t* device, gmap_query_action_t action) {
    std::string ip = "-";
    if(device != nullptr) {
        const char* text = amxc_var_get_const_cstring_t(amxc_var_get_key(device, "IPAddress", AMXC_VAR_FLAG_DEFAULT));
        ip = text == nullptr ? "<none>" : text;
    }
    received.push_back(Seen{key, action, ip, query->data});
}

void capture(int /*level*/, const char* /*zone*/, const char* line, void* priv) {
    static_cast<std::vector<std::string>*>(priv)->push_back(line);
}

amxc_var_t* table_of(amxc_var_t* var, const Values& values) {
    amxc_var_set_type(var, AMXC_VAR_ID_HTABLE);
    for(const auto& [name, value] : values) {
        amxc_var_add_new_key_cstring_t(var, name.c_str(), value.c_str());
    }
    return var;
}

class DeviceMap : public ::testing::Test {
protected:
    void SetUp() override {
        amxp_loop_reset();
        received.clear();
        zebtrace_reset();
        zebtrace_set_quiet(true);
        zebtrace_set_capture(capture, &traces_);
        ASSERT_EQ(amxd_dm_new(&dm_), amxd_status_ok);
        ASSERT_EQ(amxo_parser_new(&parser_), 0);
        ASSERT_EQ(amxo_parser_add_import_dir(parser_, DEVICES_MODULE_DIR), 0);
        ASSERT_EQ(amxo_parser_parse_file(parser_, DEVICES_DEF, amxd_dm_get_root(dm_)), 0)
            << amxo_parser_get_message(parser_);
        ASSERT_EQ(amxo_parser_invoke_entry_points(parser_, dm_, 0), 0);
        ASSERT_EQ(amxb_register_dm(&ctx_, dm_), 0);
        gmap_client_init(amxb_be_who_has("Devices.Device."));
        ASSERT_EQ(gmap_client_get_ctx(), ctx_);
    }

    void TearDown() override {
        while(!open_.empty()) {
            close(open_.back());
        }
        // Told before the context goes, so that a context of the next test at the same
        // address is not taken for this one.
        gmap_client_init(nullptr);
        amxo_parser_invoke_entry_points(parser_, dm_, 1);
        amxb_free(&ctx_);
        amxd_dm_delete(&dm_);
        amxo_parser_delete(&parser_);
        zebtrace_reset();
        amxp_loop_reset();
    }

    // Adds a device over the bus with these parameters; returns its index (0 on refusal).
    uint32_t add(const Values& values) {
        amxc::ScopedVar args;
        amxc::ScopedVar ret;
        const int rc = amxb_add(ctx_, "Devices.Device.", 0, nullptr, table_of(args.get(), values), ret.get(), 0);
        return rc == 0 ? amxc_var_get_uint32_t(amxc_var_get_key(ret.get(), "index", AMXC_VAR_FLAG_DEFAULT)) : 0;
    }

    // Sets parameters of Devices.Device.<index>. over the bus; returns the bus status.
    int set(uint32_t index, const Values& values) {
        amxc::ScopedVar args;
        return amxb_set(ctx_, device(index).c_str(), table_of(args.get(), values), nullptr, 0);
    }

    int del(uint32_t index) { return amxb_del(ctx_, device(index).c_str(), nullptr, 0); }

    static std::string device(uint32_t index) { return "Devices.Device." + std::to_string(index) + "."; }

    // Opens a query whose reports are recorded, tagged with `tag`.
    gmap_query_t* open(const std::string& expression, void* tag = nullptr) {
        gmap_query_t* query = gmap_query_open_ext(expression.c_str(), "NetworkObject.1.Rule.1", record, tag);
        if(query != nullptr) {
            open_.push_back(query);
        }
        return query;
    }

    void close(gmap_query_t* query) {
        std::erase(open_, query);
        gmap_query_close(query);
    }

    static void settle() {
        while(amxp_loop_run_pending() > 0) {
        }
    }

    // Takes the reports received since the last take.
    static std::vector<Seen> take() { return std::exchange(received, {}); }

    bool traced(const std::string& part) const {
        return std::any_of(traces_.begin(), traces_.end(),
                           [&](const std::string& line) { return line.find(part) != std::string::npos; });
    }

    amxd_dm_t* dm_ = nullptr;
    amxo_parser_t* parser_ = nullptr;
    amxb_bus_ctx_t* ctx_ = nullptr;
    std::vector<gmap_query_t*> open_;
    std::vector<std::string> traces_;
};

constexpr const char* kMacA = "01:23:45:67:89:ab";
constexpr const char* kMacB = "01:23:45:67:89:cd";

std::string mac_rule(const std::string& mac) {
    return "not self and physical and .PhysAddress matches \"" + mac + "\"";
}

constexpr gmap_query_action_t kStart = gmap_query_expression_start_matching;
constexpr gmap_query_action_t kUpdated = gmap_query_device_updated;
constexpr gmap_query_action_t kStop = gmap_query_expression_stop_matching;

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

// Without a device map (none yet, or its context gone as gwrt frees it before the data
// models' destroy actions close queries), opens give null and closes are safe.
TEST_F(DeviceMap, WithoutADeviceMapOpensGiveNullAndClosesAreSafe) {
    gmap_client_init(nullptr);
    EXPECT_EQ(open(mac_rule(kMacA)), nullptr);
    EXPECT_TRUE(traced("no device map on the bus"));
    gmap_client_init(ctx_);
    gmap_query_t* query = open(mac_rule(kMacA));
    ASSERT_NE(query, nullptr);
    amxb_free(&ctx_);
    close(query);
    EXPECT_EQ(open(mac_rule(kMacA)), nullptr);
}

// Devices that match when a query opens are reported on the loop, under their key. (Golden
// cases: which devices a rule selects, the gateway itself and devices not physical aside, in
// network object rules; keys taken or empty and texts over their bound in hostile patterns.)
TEST_F(DeviceMap, MatchesAtOpenAreReportedOnTheLoopUnderTheirUniqueKey) {
    const uint32_t pc = add({{"Key", "pc-1"}, {"PhysAddress", kMacA}, {"IPAddress", "10.0.0.1"}, {"Tags", "physical"}});
    ASSERT_NE(pc, 0U);
    int rule = 0;
    gmap_query_t* query = open(mac_rule(kMacA), &rule);
    ASSERT_NE(query, nullptr);
    EXPECT_NE(query->index, 0U);
    EXPECT_TRUE(take().empty());  // never from inside the open
    settle();
    EXPECT_EQ(take(), (std::vector<Seen>{{"pc-1", kStart, "10.0.0.1", &rule}}));

    // A new key ends the matches under the old one first.
    ASSERT_EQ(set(pc, {{"Key", "pc-2"}}), 0);
    settle();
    EXPECT_EQ(take(), (std::vector<Seen>{{"pc-1", kStop, "-", &rule}, {"pc-2", kStart, "10.0.0.1", &rule}}));
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

}  // namespace
