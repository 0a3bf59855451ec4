// Option spellings shared by gwrt and gwctl.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arg_cursor.h"

namespace {

using gw::ArgCursor;

std::vector<char*> words(std::vector<std::string>& storage) {
    std::vector<char*> out;
    for (auto& w : storage) {
        out.push_back(w.data());
    }
    return out;
}

TEST(ArgCursor, TakesOptionsInBothSpellingsAndReportsMissingValues) {
    std::vector<std::string> storage {"--socket", "/a.sock", "--trace=default=500", "--prefix=", "--sockets", "get", "--config"};
    auto argv = words(storage);
    ArgCursor args(argv);
    std::string value;
    EXPECT_EQ(args.take_option("--socket", value), ArgCursor::Match::yes);
    EXPECT_EQ(value, "/a.sock");
    // Only the first '=' separates: the value keeps the rest.
    EXPECT_EQ(args.take_option("--trace", value), ArgCursor::Match::yes);
    EXPECT_EQ(value, "default=500");
    // An empty value is a value.
    EXPECT_EQ(args.take_option("--prefix", value), ArgCursor::Match::yes);
    EXPECT_EQ(value, "");
    // A longer option that shares the prefix is not the option.
    EXPECT_EQ(args.take_option("--socket", value), ArgCursor::Match::no);
    EXPECT_EQ(args.next(), "--sockets");
    EXPECT_FALSE(args.at_option());
    EXPECT_EQ(args.next(), "get");
    EXPECT_EQ(args.take_option("--config", value), ArgCursor::Match::missing_value);
    EXPECT_TRUE(args.done());
}

}  // namespace
