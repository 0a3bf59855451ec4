#include <amxc/amxc_string_split.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

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
