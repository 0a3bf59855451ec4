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

// Built with += : GCC 12 at -O3 misreports `numbered("k", i)`.
std::string numbered(const char* prefix, int i) {
    std::string key = prefix;
    key += std::to_string(i);
    return key;
}

Entry* new_entry(int value) {
    auto* entry = new Entry{value, {}};
    amxc_htable_it_init(&entry->hit);
    return entry;
}

class HtableTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(amxc_htable_init(&ht, 0), 0); }
    void TearDown() override { amxc_htable_clean(&ht, delete_entry); }
    Entry* insert(const std::string& key, int value) {
        Entry* entry = new_entry(value);
        EXPECT_EQ(amxc_htable_insert(&ht, key.c_str(), &entry->hit), 0);
        return entry;
    }
    amxc_htable_t ht;
};

TEST_F(HtableTest, ManyKeysSurviveRehashInInsertionOrder) {
    constexpr int count = 10000;
    std::vector<std::string> expected;
    for(int i = 0; i < count; ++i) {
        expected.push_back(numbered("key", i * 7919 % count));
        insert(expected.back(), i);
    }
    EXPECT_EQ(amxc_htable_size(&ht), static_cast<size_t>(count));
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

TEST_F(HtableTest, DuplicateKeyIsRefusedAndTheTableUnchanged) {
    Entry* first = insert("a", 1);
    Entry* second = new_entry(2);
    EXPECT_NE(amxc_htable_insert(&ht, "a", &second->hit), 0);
    EXPECT_EQ(second->hit.ht, nullptr);
    EXPECT_EQ(entry_of(amxc_htable_get(&ht, "a")), first);
    EXPECT_EQ(amxc_htable_size(&ht), 1U);
    EXPECT_NE(amxc_htable_insert(&ht, nullptr, &second->hit), 0);
    delete second;
}

TEST_F(HtableTest, TakeAndReinsertUnderAnotherKeyGoesToTheEnd) {
    for(int i = 0; i < 4; ++i) {
        insert(numbered("k", i), i);
    }
    amxc_htable_it_t* taken = amxc_htable_take(&ht, "k1");
    ASSERT_NE(taken, nullptr);
    EXPECT_STREQ(amxc_htable_it_get_key(taken), "k1");  // kept until cleaned
    EXPECT_FALSE(amxc_htable_contains(&ht, "k1"));
    EXPECT_EQ(amxc_htable_size(&ht), 3U);
    EXPECT_EQ(amxc_htable_take(&ht, "k1"), nullptr);

    ASSERT_EQ(amxc_htable_insert(&ht, "k9", taken), 0);
    EXPECT_EQ(keys_in_order(&ht), (std::vector<std::string>{"k0", "k2", "k3", "k9"}));
    EXPECT_EQ(entry_of(amxc_htable_get(&ht, "k9"))->value, 1);

    // Inserting an item that is in the table moves it to its new key.
    ASSERT_EQ(amxc_htable_insert(&ht, "k4", amxc_htable_get(&ht, "k0")), 0);
    EXPECT_EQ(keys_in_order(&ht), (std::vector<std::string>{"k2", "k3", "k9", "k4"}));
    EXPECT_EQ(amxc_htable_size(&ht), 4U);
}

}  // namespace
