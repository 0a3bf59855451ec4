// The byte-wise order of the object's list entries: the radix sort against a comparison sort
// with strcmp, on inputs that stress its buckets (shared prefixes, items that are prefixes of
// others, bytes above 0x7f, duplicates) and its switch to insertion sort on small groups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "networkobject/networkobject_sort.h"

namespace {

std::vector<std::string> random_items(std::size_t count, std::mt19937& random) {
    const std::string prefixes[] = {"", "IPAddress:", "IPAddress:10.0.", "IPRange:", "\xc3\xa9"};
    std::uniform_int_distribution<std::size_t> pick_prefix(0, std::size(prefixes) - 1);
    std::uniform_int_distribution<std::size_t> length(0, 6);
    std::uniform_int_distribution<int> byte(1, 255);
    std::vector<std::string> items;
    for(std::size_t i = 0; i < count; ++i) {
        if(!items.empty() && i % 7 == 0) {
            items.push_back(items[i / 2]);  // a duplicate
            continue;
        }
        std::string item = prefixes[pick_prefix(random)];
        for(std::size_t n = length(random); n > 0; --n) {
            item.push_back(static_cast<char>(i % 3 == 0 ? '0' + byte(random) % 10 : byte(random)));
        }
        items.push_back(item);
    }
    return items;
}

void expect_strcmp_order(const std::vector<std::string>& items) {
    std::vector<std::string_view> views(items.begin(), items.end());
    netobj::sort_bytewise(views);
    std::vector<std::string> expected = items;
    std::sort(expected.begin(), expected.end(),
              [](const std::string& a, const std::string& b) { return std::strcmp(a.c_str(), b.c_str()) < 0; });
    ASSERT_EQ(views.size(), expected.size());
    for(std::size_t i = 0; i < views.size(); ++i) {
        ASSERT_EQ(views[i], expected[i]) << "at " << i << " of " << items.size();
    }
}

// Random items across the group sizes around the switch, then items that are prefixes of
// one another, with duplicates, in one group above it.
TEST(ObjectListOrder, MatchesStrcmpOrder) {
    std::mt19937 random(20261207);
    for(std::size_t count : {0U, 1U, 2U, 15U, 16U, 17U, 100U, 5000U}) {
        expect_strcmp_order(random_items(count, random));
    }
    std::vector<std::string> prefixes;
    for(const char* tail : {"10", "1", "1", "", "1", "2", "10", "1", "100", "1", "10", "1", "1", "19", "1", "1", "1", "1", "0"}) {
        prefixes.push_back(std::string("IPAddress:10.0.0.") + tail);
    }
    expect_strcmp_order(prefixes);
}

}  // namespace
