#include <amxc/amxc_htable.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Entry {
    int value;
    amxc_htable_it_t hit;
};

Entry* entry_of(amxc_htable_it_t* it) {
    return amxc_container_of(it, Entry, hit);
}

std::vector<std::string> keys_in_order(const amxc_htable_t* ht) {
    std::vector<std::string> keys;
    amxc_htable_iterate(it, ht) {
        keys.emplace_back(amxc_htable_it_get_key(it));
    }
    return keys;
}

void delete_entry(const char* key, amxc_htable_it_t* it) {
    EXPECT_NE(key, nullptr);
    EXPECT_EQ(it->ht, nullptr);
    delete entry_of(it);
}

class HtableTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(amxc_htable_init(&ht, 0), 0); }
    void TearDown() override { amxc_htable_clean(&ht, delete_entry); }
    Entry* insert(const std::string& key, int value) {
        auto* entry = new Entry{value, {}};
        amxc_htable_it_init(&entry->hit);
        EXPECT_EQ(amxc_htable_insert(&ht, key.c_str(), &entry->hit), 0);
        return entry;
    }
    amxc_htable_t ht;
};

TEST_F(HtableTest, ManyKeysSurviveRehashInInsertionOrder) {
    constexpr int count = 10000;
    std::vector<std::string> expected;
    for(int i = 0; i < count; ++i) {
        // Built with += : GCC 12 at -O3 misreports "key" + std::to_string(...).
        expected.emplace_back("key");
        expected.back() += std::to_string(i * 7919 % count);
        insert(expected.back(), i);
    }
    EXPECT_GE(ht.capacity, static_cast<size_t>(count));  // it did grow
    for(int i = 0; i < count; ++i) {
        amxc_htable_it_t* it = amxc_htable_get(&ht, expected[static_cast<size_t>(i)].c_str());
        ASSERT_NE(it, nullptr) << expected[static_cast<size_t>(i)];
        EXPECT_EQ(entry_of(it)->value, i);
    }
    EXPECT_EQ(keys_in_order(&ht), expected);
    EXPECT_FALSE(amxc_htable_contains(&ht, "key"));
    EXPECT_FALSE(amxc_htable_contains(&ht, "key10000"));
}

TEST_F(HtableTest, DuplicateKeyIsRefusedAndATakenItemMayGoUnderAnotherKey) {
    Entry* first = insert("a", 1);
    auto* second = new Entry{2, {}};
    amxc_htable_it_init(&second->hit);
    EXPECT_NE(amxc_htable_insert(&ht, "a", &second->hit), 0);
    EXPECT_NE(amxc_htable_insert(&ht, nullptr, &second->hit), 0);
    EXPECT_EQ(second->hit.ht, nullptr);
    EXPECT_EQ(entry_of(amxc_htable_get(&ht, "a")), first);
    delete second;

    insert("b", 2);
    insert("c", 3);
    amxc_htable_it_t* taken = amxc_htable_take(&ht, "a");
    ASSERT_EQ(taken, &first->hit);
    EXPECT_EQ(amxc_htable_take(&ht, "a"), nullptr);
    ASSERT_EQ(amxc_htable_insert(&ht, "z", taken), 0);
    EXPECT_EQ(keys_in_order(&ht), (std::vector<std::string>{"b", "c", "z"}));
    // Inserting an item that is in the table moves it to its new key.
    ASSERT_EQ(amxc_htable_insert(&ht, "y", amxc_htable_get(&ht, "b")), 0);
    EXPECT_EQ(keys_in_order(&ht), (std::vector<std::string>{"c", "z", "y"}));
    EXPECT_EQ(amxc_htable_size(&ht), 3U);
}

}  // namespace
