#include <gtest/gtest.h>

#include <cstdlib>

extern "C" int c_api_sum_of_ports(const char* csv, char** joined_out);

namespace {

TEST(CApi, HeadersWorkFromC) {
    char* joined = nullptr;
    EXPECT_EQ(c_api_sum_of_ports("80, 443 ,8080", &joined), 8603);
    EXPECT_STREQ(joined, "80;443;8080");
    std::free(joined);
    EXPECT_EQ(c_api_sum_of_ports("", &joined), -1);
}

}  // namespace
