// Query handles of the device-map client: what is refused and how many may be open. Delivery
// (on the loop, in order, never after close) is driven through the device-map service in
// tests/services.

#include <gtest/gtest.h>

#include <vector>

#include <amxp/amxp_loop.h>
#include <gmap/gmap_main.h>
#include <gmap/gmap_query.h>
#include <gmap/gmap_query_report.h>

extern "C" int report_unknown_action_from_c(uint32_t id);

namespace {

int reports = 0;

void count(gmap_query_t*, const char*, amxc_var_t*, gmap_query_action_t) { ++reports; }

class GmapQuery : public ::testing::Test {
protected:
    void SetUp() override {
        amxp_loop_reset();
        reports = 0;
    }
    void TearDown() override {
        for(gmap_query_t* query : open) {
            gmap_query_close(query);
        }
        amxp_loop_reset();
    }

    gmap_query_t* open_query() {
        gmap_query_t* query = gmap_query_open_ext("not self and physical", "NetworkObject.1.Rule.1", count, nullptr);
        if(query != nullptr) {
            open.push_back(query);
        }
        return query;
    }

    std::vector<gmap_query_t*> open;
};

TEST_F(GmapQuery, AtMostTheLimitIsOpenAndAClosedQueryMakesRoom) {
    while(open.size() < GMAP_QUERY_MAX) {
        ASSERT_NE(open_query(), nullptr) << open.size() << " open";
    }
    EXPECT_EQ(open_query(), nullptr);
    gmap_query_close(open.back());
    open.pop_back();
    EXPECT_NE(open_query(), nullptr);
}

TEST_F(GmapQuery, BadOpensAndReportsAreRefused) {
    EXPECT_EQ(gmap_query_open_ext(nullptr, "n", count, nullptr), nullptr);
    EXPECT_EQ(gmap_query_open_ext("", "n", count, nullptr), nullptr);
    EXPECT_EQ(gmap_query_open_ext("x", "n", nullptr, nullptr), nullptr);
    gmap_query_t* unnamed = gmap_query_open_ext("x", nullptr, count, nullptr);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->name, nullptr);
    gmap_query_close(unnamed);
    gmap_query_close(nullptr);
    gmap_query_t* query = open_query();
    gmap_query_t* closed = open_query();
    const uint32_t closed_id = closed->id;
    gmap_query_close(closed);
    open.pop_back();
    EXPECT_NE(gmap_query_report(closed_id, "dev", nullptr, gmap_query_device_updated), 0);
    EXPECT_NE(gmap_query_report(query->id + 1000, "dev", nullptr, gmap_query_device_updated), 0);
    EXPECT_NE(gmap_query_report(0, "dev", nullptr, gmap_query_device_updated), 0);
    EXPECT_NE(report_unknown_action_from_c(query->id), 0);
    EXPECT_EQ(amxp_loop_run_pending(), 0);
    EXPECT_EQ(reports, 0);
}

}  // namespace
