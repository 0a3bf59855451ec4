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

std::vector<int> values(const amxc_llist_t* list) {
    std::vector<int> out;
    amxc_llist_iterate(it, list) {
        out.push_back(item_of(it)->value);
    }
    return out;
}

std::vector<int> values_backwards(const amxc_llist_t* list) {
    std::vector<int> out;
    amxc_llist_for_each_reverse(it, list) {
        out.push_back(item_of(it)->value);
    }
    return out;
}

class LlistTest : public ::testing::Test {
protected:
    void SetUp() override {
        amxc_llist_init(&list);
        amxc_llist_init(&other);
        for(int i = 0; i < 5; ++i) {
            items[i].value = i;
            items[i].seq = 0;
            amxc_llist_it_init(&items[i].it);
        }
    }
    void TearDown() override {
        amxc_llist_clean(&list, nullptr);
        amxc_llist_clean(&other, nullptr);
    }
    void fill() {
        for(Item& item : items) {
            amxc_llist_append(&list, &item.it);
        }
    }
    amxc_llist_t list;
    amxc_llist_t other;
    Item items[5];
};

TEST_F(LlistTest, LinkingKeepsBothDirectionsConsistent) {
    amxc_llist_append(&list, &items[1].it);
    amxc_llist_prepend(&list, &items[0].it);
    amxc_llist_append(&list, &items[3].it);
    amxc_llist_it_insert_before(&items[3].it, &items[2].it);
    amxc_llist_it_insert_after(&items[3].it, &items[4].it);
    EXPECT_EQ(values(&list), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(values_backwards(&list), (std::vector<int>{4, 3, 2, 1, 0}));
    EXPECT_EQ(amxc_llist_size(&list), 5U);
    EXPECT_EQ(item_of(amxc_llist_get_at(&list, 3))->value, 3);
    EXPECT_EQ(amxc_llist_get_at(&list, 5), nullptr);
}

TEST_F(LlistTest, ForEachSurvivesRemovalOfTheCurrentItem) {
    fill();
    amxc_llist_for_each(it, &list) {
        if(item_of(it)->value % 2 == 0) {
            amxc_llist_append(&other, it);
        }
    }
    EXPECT_EQ(values(&list), (std::vector<int>{1, 3}));
    EXPECT_EQ(values(&other), (std::vector<int>{0, 2, 4}));
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
