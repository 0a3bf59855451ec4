// The level configuration text: what it sets, and that a refused text changes nothing.

#include <string>

#include <gtest/gtest.h>
#include <zebtrace/zebtrace.h>

#include "trace_capture.h"

using Configure = TraceTest;

TEST_F(Configure, SetsDefaultAndZones) {
    ASSERT_EQ(zebtrace_configure("default=300,firewall_rule=500,networksettings=350"), 0);
    EXPECT_EQ(zebtrace_get_level(nullptr), 300);
    EXPECT_EQ(zebtrace_get_level("other"), 300);
    EXPECT_EQ(zebtrace_get_level("firewall_rule"), 500);
    EXPECT_EQ(zebtrace_get_level("networksettings"), 350);
    EXPECT_TRUE(zebtrace_is_enabled(TRACE_LEVEL_DEBUG, "firewall_rule"));

    // A later text keeps the zones it does not name.
    ASSERT_EQ(zebtrace_configure("portmapping=100"), 0);
    EXPECT_EQ(zebtrace_get_level("firewall_rule"), 500);
    EXPECT_EQ(zebtrace_get_level("portmapping"), 100);
}

TEST_F(Configure, MalformedTextIsRefusedAndChangesNothing) {
    ASSERT_EQ(zebtrace_configure("kept=123,default=450"), 0);
    const std::string too_long_name(65, 'z');
    const char* const refused[] = {
        "default",             // no '='
        "a=",                  // no level
        "=5",                  // no name
        "a=5,",                // empty item at the end
        ",a=5",                // empty item at the start
        "a=5,,b=6",            // empty item inside
        "a=5,a=6",             // name given twice
        "default=1,default=2", // default given twice
        "a b=5",               // blank inside a name
        "a=5x",                // trailing garbage
        "a=+5",                // only '-' is a sign
        "a=0x10",              // decimal only
        "a=99999999999",       // out of int range
        "a=5;b=6",             // wrong separator
        "z\xc3\xa9=1",         // non-ASCII name
        "kept=1,bad",          // a good item before a bad one must not be applied
    };
    for (const char* text : refused) {
        EXPECT_EQ(zebtrace_configure(text), -1) << text;
    }
    EXPECT_EQ(zebtrace_configure((too_long_name + "=1").c_str()), -1);
    EXPECT_EQ(zebtrace_configure((std::string(64, 'z') + "=1").c_str()), 0);
    EXPECT_EQ(zebtrace_configure(nullptr), -1);

    EXPECT_EQ(zebtrace_get_level("kept"), 123);
    EXPECT_EQ(zebtrace_get_level(nullptr), 450);
    EXPECT_EQ(zebtrace_get_level("a"), 450);
}
