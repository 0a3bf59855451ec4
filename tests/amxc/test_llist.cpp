// Linking itself is used by every container and test; sorting is not, so it is checked here.
#include <amxc/amxc_llist.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct Item {
    int value;
    int seq;
    amxc_llist_it_t it;
};

Item* item_of(amxc_llist_it_t* it) {
    return amxc_container_of(it, Item, it);
}

int by_value(amxc_llist_it_t* a, amxc_llist_it_t* b) {
    return item_of(a)->value - item_of(b)->value;
}

TEST(LlistSort, StableAndCompleteForManySizes) {
    std::mt19937 random(7);
    for(int size : {0, 1, 2, 3, 7, 64, 1000, 1025}) {
        std::vector<Item> items(static_cast<size_t>(size));
        amxc_llist_t list;
        amxc_llist_init(&list);
        for(int i = 0; i < size; ++i) {
            items[static_cast<size_t>(i)] = Item{static_cast<int>(random() % 10), i, {}};
            amxc_llist_append(&list, &items[static_cast<size_t>(i)].it);
        }
        ASSERT_EQ(amxc_llist_sort(&list, by_value), 0);

        std::vector<Item> expected = items;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const Item& a, const Item& b) { return a.value < b.value; });
        size_t index = 0;
        const amxc_llist_it_t* prev = nullptr;
        amxc_llist_iterate(it, &list) {
            ASSERT_LT(index, expected.size());
            EXPECT_EQ(item_of(it)->seq, expected[index].seq) << "size " << size << " at " << index;
            EXPECT_EQ(it->prev, prev);
            prev = it;
            ++index;
        }
        EXPECT_EQ(index, expected.size());
        EXPECT_EQ(list.tail, prev);
        amxc_llist_clean(&list, nullptr);
    }
}

}  // namespace
