#include <amxc/amxc_string.h>
#include <amxc/amxc_string_split.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class StringTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(amxc_string_init(&s, 0), 0); }
    void TearDown() override { amxc_string_clean(&s); }
    std::string text() const { return amxc_string_get(&s, 0); }
    amxc_string_t s;
};

TEST_F(StringTest, FormattingGrowsPastAnyInternalBuffer) {
    std::string expected;
    for(int i = 0; i < 300; ++i) {
        ASSERT_EQ(amxc_string_appendf(&s, "%d,", i), 0);
        expected += std::to_string(i) + ",";
    }
    EXPECT_EQ(text(), expected);
    EXPECT_EQ(amxc_string_text_length(&s), expected.size());

    std::string wide(1000, 'x');
    ASSERT_EQ(amxc_string_setf(&s, "[%s]", wide.c_str()), 0);
    EXPECT_EQ(text(), "[" + wide + "]");
    EXPECT_EQ(amxc_string_get(&s, 1001)[0], ']');
}

TEST_F(StringTest, OwnTextAsArgumentIsSafe) {
    ASSERT_EQ(amxc_string_set(&s, "abc"), 0);
    // Each of these reads the buffer it writes; growth must not invalidate it.
    for(int i = 0; i < 6; ++i) {
        ASSERT_EQ(amxc_string_appendf(&s, "-%s", amxc_string_get(&s, 0)), 0);
    }
    EXPECT_EQ(amxc_string_text_length(&s), 3U * 64 + 63);
    ASSERT_EQ(amxc_string_set(&s, "hello world"), 0);
    ASSERT_EQ(amxc_string_set(&s, amxc_string_get(&s, 6)), 0);
    EXPECT_EQ(text(), "world");
    ASSERT_EQ(amxc_string_append(&s, amxc_string_get(&s, 0), 100), 0);
    EXPECT_EQ(text(), "worldworld");
    ASSERT_EQ(amxc_string_setf(&s, "<%s>", amxc_string_get(&s, 5)), 0);
    EXPECT_EQ(text(), "<world>");
}

std::vector<std::string> split(const char* text, char separator = ',') {
    amxc_string_t s;
    amxc_string_init(&s, 0);
    amxc_string_set(&s, text);
    amxc_llist_t list;
    amxc_llist_init(&list);
    EXPECT_EQ(amxc_string_split_to_llist(&s, &list, separator), 0);
    std::vector<std::string> pieces;
    amxc_llist_iterate(it, &list) {
        pieces.emplace_back(amxc_string_get(amxc_string_from_llist_it(it), 0));
    }
    amxc_llist_clean(&list, amxc_string_list_it_free);
    amxc_string_clean(&s);
    return pieces;
}

using Pieces = std::vector<std::string>;

TEST(StringSplit, Pieces) {
    EXPECT_EQ(split(""), Pieces{});
    EXPECT_EQ(split("  \t"), Pieces{});
    EXPECT_EQ(split("a"), Pieces{"a"});
    EXPECT_EQ(split(" a , b ,c "), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(split("a,,b"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(split("a,"), (Pieces{"a", ""}));
    EXPECT_EQ(split(",a"), (Pieces{"", "a"}));
    EXPECT_EQ(split(","), (Pieces{"", ""}));
    EXPECT_EQ(split("a b;c", ';'), (Pieces{"a b", "c"}));
    EXPECT_EQ(split("x  y", ' '), (Pieces{"x", "", "y"}));
}

}  // namespace
