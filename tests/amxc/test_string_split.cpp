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

int by_text(amxc_llist_it_t* a, amxc_llist_it_t* b) {
    return std::string(amxc_string_get(amxc_string_from_llist_it(a), 0))
        .compare(amxc_string_get(amxc_string_from_llist_it(b), 0));
}

// Split, sort and join: how a comma-separated list is kept in order.
TEST(StringSplit, SortedRoundTripKeepsDuplicatesAndEmptyPieces) {
    amxc_string_t s;
    amxc_string_init(&s, 0);
    amxc_string_set(&s, "IPAddress:10.0.0.2,IPRange:1-2,IPAddress:10.0.0.10,,IPAddress:10.0.0.2,");
    amxc_llist_t list;
    amxc_llist_init(&list);
    ASSERT_EQ(amxc_string_split_to_llist(&s, &list, ','), 0);
    ASSERT_EQ(amxc_llist_sort(&list, by_text), 0);
    amxc_string_reset(&s);
    ASSERT_EQ(amxc_string_join_llist(&s, &list, ','), 0);
    EXPECT_STREQ(amxc_string_get(&s, 0),
                 ",,IPAddress:10.0.0.10,IPAddress:10.0.0.2,IPAddress:10.0.0.2,IPRange:1-2");
    amxc_llist_clean(&list, amxc_string_list_it_free);
    amxc_string_clean(&s);
}

}  // namespace
