// Query handles and the delivery of reports: on the loop, in order, never after close.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <amxp/amxp_loop.h>
#include <gmap/gmap_main.h>
#include <gmap/gmap_query.h>
#include <gmap/gmap_query_report.h>

extern "C" int count_from_c(gmap_query_t** out);
extern "C" int report_unknown_action_from_c(uint32_t id);

namespace {

struct Received {
    std::string key;
    std::string ip;  // the device's "IPAddress", "<none>" without device data
    gmap_query_action_t action;
    void* data;
};

std::vector<Received> received;

void record(gmap_query_t* query, const char* key, amxc_var_t* device, gmap_query_action_t action) {
    std::string ip = "<none>";
    if(device != nullptr) {
        const char* text = amxc_var_get_const_cstring_t(amxc_var_get_key(device, "IPAddress", 0));
        ip = text == nullptr ? "<no IPAddress>" : text;
    }
    received.push_back(Received{key, ip, action, query->data});
}

class GmapQuery : public ::testing::Test {
protected:
    void SetUp() override {
        amxp_loop_reset();
        received.clear();
    }
    void TearDown() override {
        for(gmap_query_t* query : open) {
            gmap_query_close(query);
        }
        amxp_loop_reset();
    }

    gmap_query_t* open_query(void* data = nullptr, gmap_query_cb_t fn = record) {
        gmap_query_t* query = gmap_query_open_ext("not self and physical and .Name matches \"pc\"", "NetworkObject.1.Rule.1",
                                                  fn, data);
        if(query != nullptr) {
            open.push_back(query);
        }
        return query;
    }
    void close_query(gmap_query_t* query) {
        std::erase(open, query);
        gmap_query_close(query);
    }
    // Reports a device with the given address.
    static int report(const gmap_query_t* query, const char* key, const char* ip, gmap_query_action_t action) {
        amxc_var_t device;
        amxc_var_init(&device);
        amxc_var_set_type(&device, AMXC_VAR_ID_HTABLE);
        amxc_var_add_new_key_cstring_t(&device, "IPAddress", ip);
        int result = gmap_query_report(query->id, key, &device, action);
        amxc_var_clean(&device);  // the client keeps its own copy
        return result;
    }

    std::vector<gmap_query_t*> open;
};

TEST_F(GmapQuery, OpenCopiesTheTextsAndKeepsTheUserData) {
    int token = 0;
    std::string expression = "not self and physical and .ClientID matches \"x\"";
    std::string name = "NetworkObject.2.Rule.3";
    gmap_query_t* query = gmap_query_open_ext(expression.c_str(), name.c_str(), record, &token);
    ASSERT_NE(query, nullptr);
    open.push_back(query);
    expression.assign(expression.size(), '#');
    name.assign(name.size(), '#');
    EXPECT_STREQ(query->expression, "not self and physical and .ClientID matches \"x\"");
    EXPECT_STREQ(query->name, "NetworkObject.2.Rule.3");
    EXPECT_EQ(query->data, &token);

    gmap_query_t* second = open_query();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->id, 0U);
    EXPECT_NE(second->id, query->id);
}

TEST_F(GmapQuery, OpenRefusesMissingExpressionOrCallback) {
    EXPECT_EQ(gmap_query_open_ext(nullptr, "n", record, nullptr), nullptr);
    EXPECT_EQ(gmap_query_open_ext("", "n", record, nullptr), nullptr);
    EXPECT_EQ(gmap_query_open_ext("x", "n", nullptr, nullptr), nullptr);
    gmap_query_t* unnamed = gmap_query_open_ext("x", nullptr, record, nullptr);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->name, nullptr);
    gmap_query_close(unnamed);
    gmap_query_close(nullptr);
}

TEST_F(GmapQuery, AtMostTheLimitIsOpenAndAClosedQueryMakesRoom) {
    while(open.size() < GMAP_QUERY_MAX) {
        ASSERT_NE(open_query(), nullptr) << open.size() << " open";
    }
    EXPECT_EQ(open_query(), nullptr);
    close_query(open.back());
    EXPECT_NE(open_query(), nullptr);
}

TEST_F(GmapQuery, ReportsArriveOnTheLoopInOrderWithCopiedData) {
    int token = 0;
    gmap_query_t* query = open_query(&token);
    ASSERT_EQ(report(query, "dev1", "192.168.1.10", gmap_query_expression_start_matching), 0);
    ASSERT_EQ(report(query, "dev1", "192.168.1.11", gmap_query_device_updated), 0);
    ASSERT_EQ(gmap_query_report(query->id, nullptr, nullptr, gmap_query_error), 0);
    EXPECT_TRUE(received.empty());  // never from inside the report call

    EXPECT_EQ(amxp_loop_run_pending(), 3);
    ASSERT_EQ(received.size(), 3U);
    EXPECT_EQ(received[0].key, "dev1");
    EXPECT_EQ(received[0].ip, "192.168.1.10");
    EXPECT_EQ(received[0].action, gmap_query_expression_start_matching);
    EXPECT_EQ(received[0].data, &token);
    EXPECT_EQ(received[1].ip, "192.168.1.11");
    EXPECT_EQ(received[1].action, gmap_query_device_updated);
    EXPECT_EQ(received[2].key, "");
    EXPECT_EQ(received[2].ip, "<none>");
    EXPECT_EQ(received[2].action, gmap_query_error);
}

TEST_F(GmapQuery, NoReportAfterClose) {
    gmap_query_t* closed = open_query();
    gmap_query_t* kept = open_query();
    uint32_t closed_id = closed->id;
    ASSERT_EQ(report(closed, "dev1", "10.0.0.1", gmap_query_expression_start_matching), 0);
    ASSERT_EQ(report(kept, "dev2", "10.0.0.2", gmap_query_expression_start_matching), 0);
    close_query(closed);

    EXPECT_EQ(amxp_loop_run_pending(), 1);  // the dropped report is not even run
    ASSERT_EQ(received.size(), 1U);
    EXPECT_EQ(received[0].key, "dev2");
    EXPECT_NE(gmap_query_report(closed_id, "dev1", nullptr, gmap_query_device_updated), 0);
}

TEST_F(GmapQuery, CallbackMayCloseItsOwnQuery) {
    static std::vector<gmap_query_t*>* tracked = nullptr;
    tracked = &open;
    auto close_self = [](gmap_query_t* query, const char* key, amxc_var_t* device, gmap_query_action_t action) {
        record(query, key, device, action);
        std::erase(*tracked, query);
        gmap_query_close(query);
        EXPECT_STREQ(query->expression, "not self and physical and .Name matches \"pc\"");  // readable until return
    };
    gmap_query_t* query = open_query(nullptr, close_self);
    ASSERT_EQ(report(query, "dev1", "10.0.0.1", gmap_query_expression_start_matching), 0);
    ASSERT_EQ(report(query, "dev1", "10.0.0.1", gmap_query_expression_stop_matching), 0);
    amxp_loop_run_pending();
    ASSERT_EQ(received.size(), 1U);
    EXPECT_EQ(received[0].action, gmap_query_expression_start_matching);
    EXPECT_TRUE(open.empty());
}

TEST_F(GmapQuery, BadReportsAreRefused) {
    gmap_query_t* query = open_query();
    EXPECT_NE(gmap_query_report(query->id + 1000, "dev", nullptr, gmap_query_device_updated), 0);
    EXPECT_NE(gmap_query_report(0, "dev", nullptr, gmap_query_device_updated), 0);
    EXPECT_NE(report_unknown_action_from_c(query->id), 0);
    EXPECT_EQ(amxp_loop_run_pending(), 0);
    EXPECT_TRUE(received.empty());
}

TEST_F(GmapQuery, UsableFromC) {
    gmap_query_t* query = nullptr;
    ASSERT_EQ(count_from_c(&query), 0);
    open.push_back(query);
    amxp_loop_run_pending();
    EXPECT_EQ(*static_cast<int*>(query->data), 1);
}

}  // namespace
