// Hash table with separate chaining; an insertion-order list runs through
// the items so that iteration order does not depend on the hash.
#include <amxc/amxc_htable.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "htable_internal.h"
#include "key_hash.h"

namespace {

// Tables of up to this many items have no bucket array: a lookup walks the
// insertion order. Most tables are that small (a variant's members, one per
// address of a large group), and the array cost each an allocation.
constexpr size_t linear_items = 8;
constexpr size_t min_capacity = 16;

size_t bucket_of(std::string_view key, size_t capacity) {
    return static_cast<size_t>(amxc::key_hash(key)) & (capacity - 1);
}

// Without measuring the stored key first, and most mismatches on the first byte: lookups
// walk a chain of them.
bool same_key(std::string_view key, const char* stored) {
    if(key.empty()) {
        return stored[0] == '\0';
    }
    return (stored[0] == key[0]) && (std::strncmp(stored + 1, key.data() + 1, key.size() - 1) == 0) &&
           (stored[key.size()] == '\0');
}

amxc_htable_it_t* it_of(amxc_llist_it_t* link) {
    return amxc_container_of(link, amxc_htable_it_t, ait);
}

// Moves every item into a bigger bucket array. A failed allocation only
// leaves the chains longer (or the table without buckets), so insertion never
// fails because of it.
void grow(amxc_htable_t* ht, size_t wanted_items) {
    size_t capacity = amxc::capacity_for(wanted_items);
    if(capacity <= ht->capacity) {
        return;
    }
    auto* table = static_cast<amxc_htable_it_t**>(std::calloc(capacity, sizeof(amxc_htable_it_t*)));
    if(table == nullptr) {
        return;
    }
    amxc_llist_iterate(link, &ht->order) {
        amxc_htable_it_t* it = it_of(link);
        size_t bucket = bucket_of(it->key, capacity);
        it->next = table[bucket];
        table[bucket] = it;
    }
    std::free(static_cast<void*>(ht->table));
    ht->table = table;
    ht->capacity = capacity;
}

// Slot that points at `it` in its bucket chain; the table has buckets.
amxc_htable_it_t** slot_of(amxc_htable_it_t* it) {
    amxc_htable_t* ht = it->ht;
    amxc_htable_it_t** slot = &ht->table[bucket_of(it->key, ht->capacity)];
    while(*slot != it) {
        slot = &(*slot)->next;
    }
    return slot;
}

// Links `it` under `key` (which it keeps as its own) at the end of the table; no other item has
// that key, and there is room in the buckets.
void link(amxc_htable_t* ht, char* key, amxc_htable_it_t* it) {
    it->key = key;
    it->ht = ht;
    if(ht->capacity > 0) {
        const size_t bucket = bucket_of(key, ht->capacity);
        it->next = ht->table[bucket];
        ht->table[bucket] = it;
    }
    amxc_llist_append(&ht->order, &it->ait);
}

char* copy_key(const char* key) {
    size_t size = std::strlen(key) + 1;
    auto* copy = static_cast<char*>(std::malloc(size));
    if(copy != nullptr) {
        std::memcpy(copy, key, size);
    }
    return copy;
}

}  // namespace

namespace amxc {

// 0 for a table of linear_items or fewer, else the smallest power of two (at
// least min_capacity) that holds `items` at a load of 3/4; 0 when that would
// overflow.
size_t capacity_for(size_t items) {
    if(items <= linear_items) {
        return 0;
    }
    size_t capacity = min_capacity;
    while(capacity / 4 * 3 < items) {
        if(capacity > SIZE_MAX / 2) {
            return 0;
        }
        capacity *= 2;
    }
    return capacity;
}

amxc_htable_it_t* find_key(const amxc_htable_t* ht, std::string_view key) {
    if(ht == nullptr) {
        return nullptr;
    }
    if(ht->capacity == 0) {
        for(amxc_llist_it_t* link = ht->order.head; link != nullptr; link = link->next) {
            if(same_key(key, it_of(link)->key)) {
                return it_of(link);
            }
        }
        return nullptr;
    }
    for(amxc_htable_it_t* it = ht->table[bucket_of(key, ht->capacity)]; it != nullptr; it = it->next) {
        if(same_key(key, it->key)) {
            return it;
        }
    }
    return nullptr;
}

int insert_new(amxc_htable_t* ht, const char* key, amxc_htable_it_t* it) {
    char* copy = copy_key(key);
    if(copy == nullptr) {
        return -1;
    }
    grow(ht, ht->order.size + 1);
    amxc_htable_it_take(it);
    std::free(it->key);
    link(ht, copy, it);
    return 0;
}

void link_borrowed(amxc_htable_t* ht, const char* key, amxc_htable_it_t* it) {
    link(ht, const_cast<char*>(key), it);  // never freed: the table is not cleaned
}

void drain(amxc_htable_t* ht, void (*each)(const char* key, amxc_htable_it_t* it, void* context), void* context) {
    if(ht == nullptr) {
        return;
    }
    // Detach everything first: callbacks then see an empty, consistent table.
    amxc_llist_t order = ht->order;
    amxc_htable_it_t** table = ht->table;
    for(amxc_llist_it_t* link = order.head; link != nullptr; link = link->next) {
        link->llist = &order;
    }
    amxc_htable_init(ht, 0);
    amxc_llist_it_t* link = amxc_llist_take_first(&order);
    while(link != nullptr) {
        amxc_htable_it_t* it = it_of(link);
        char* key = it->key;
        it->key = nullptr;
        it->next = nullptr;
        it->ht = nullptr;
        each(key, it, context);
        std::free(key);
        link = amxc_llist_take_first(&order);
    }
    std::free(static_cast<void*>(table));
}

}  // namespace amxc

extern "C" {

int amxc_htable_new(amxc_htable_t** ht, size_t reserve) {
    if(ht == nullptr) {
        return -1;
    }
    auto* table = static_cast<amxc_htable_t*>(std::calloc(1, sizeof(amxc_htable_t)));
    if(table == nullptr) {
        return -1;
    }
    if(amxc_htable_init(table, reserve) != 0) {
        std::free(table);
        return -1;
    }
    *ht = table;
    return 0;
}

void amxc_htable_delete(amxc_htable_t** ht, amxc_htable_it_delete_t func) {
    if(ht == nullptr || *ht == nullptr) {
        return;
    }
    amxc_htable_clean(*ht, func);
    std::free(*ht);
    *ht = nullptr;
}

int amxc_htable_init(amxc_htable_t* ht, size_t reserve) {
    if(ht == nullptr) {
        return -1;
    }
    amxc_llist_init(&ht->order);
    ht->table = nullptr;
    ht->capacity = 0;
    if(reserve == 0) {
        return 0;
    }
    grow(ht, reserve);
    return ht->capacity == 0 && amxc::capacity_for(reserve) != 0 ? -1 : 0;
}

void amxc_htable_clean(amxc_htable_t* ht, amxc_htable_it_delete_t func) {
    amxc::drain(
        ht,
        [](const char* key, amxc_htable_it_t* it, void* context) {
            if(const amxc_htable_it_delete_t delete_fn = *static_cast<amxc_htable_it_delete_t*>(context); delete_fn != nullptr) {
                delete_fn(key, it);
            }
        },
        &func);
}

int amxc_htable_insert(amxc_htable_t* ht, const char* key, amxc_htable_it_t* it) {
    if(ht == nullptr || key == nullptr || it == nullptr || amxc_htable_contains(ht, key)) {
        return -1;
    }
    return amxc::insert_new(ht, key, it);
}

amxc_htable_it_t* amxc_htable_get(const amxc_htable_t* ht, const char* key) {
    return key == nullptr ? nullptr : amxc::find_key(ht, key);
}

amxc_htable_it_t* amxc_htable_take(amxc_htable_t* ht, const char* key) {
    amxc_htable_it_t* it = amxc_htable_get(ht, key);
    amxc_htable_it_take(it);
    return it;
}

bool amxc_htable_contains(const amxc_htable_t* ht, const char* key) {
    return amxc_htable_get(ht, key) != nullptr;
}

size_t amxc_htable_size(const amxc_htable_t* ht) {
    return ht == nullptr ? 0 : ht->order.size;
}

bool amxc_htable_is_empty(const amxc_htable_t* ht) {
    return amxc_htable_size(ht) == 0;
}

amxc_htable_it_t* amxc_htable_get_first(const amxc_htable_t* ht) {
    return ht == nullptr ? nullptr : it_of(ht->order.head);
}

amxc_htable_it_t* amxc_htable_get_last(const amxc_htable_t* ht) {
    return ht == nullptr ? nullptr : it_of(ht->order.tail);
}

int amxc_htable_it_init(amxc_htable_it_t* it) {
    if(it == nullptr) {
        return -1;
    }
    amxc_llist_it_init(&it->ait);
    it->next = nullptr;
    it->key = nullptr;
    it->ht = nullptr;
    return 0;
}

void amxc_htable_it_clean(amxc_htable_it_t* it, amxc_htable_it_delete_t func) {
    if(it == nullptr) {
        return;
    }
    amxc_htable_it_take(it);
    char* key = it->key;
    it->key = nullptr;
    if(func != nullptr) {
        func(key, it);
    }
    std::free(key);
}

void amxc_htable_it_take(amxc_htable_it_t* it) {
    if(it == nullptr || it->ht == nullptr) {
        return;
    }
    if(it->ht->capacity > 0) {
        *slot_of(it) = it->next;
    }
    amxc_llist_it_take(&it->ait);
    it->next = nullptr;
    it->ht = nullptr;
}

int amxc_htable_it_replace(amxc_htable_it_t* old_it, amxc_htable_it_t* new_it) {
    if(old_it == nullptr || new_it == nullptr || old_it == new_it || old_it->ht == nullptr) {
        return -1;
    }
    amxc_htable_it_take(new_it);
    std::free(new_it->key);
    if(old_it->ht->capacity > 0) {
        *slot_of(old_it) = new_it;
    }
    new_it->next = old_it->next;
    new_it->key = old_it->key;
    new_it->ht = old_it->ht;
    amxc_llist_it_insert_after(&old_it->ait, &new_it->ait);
    amxc_llist_it_take(&old_it->ait);
    old_it->key = nullptr;
    old_it->next = nullptr;
    old_it->ht = nullptr;
    return 0;
}

const char* amxc_htable_it_get_key(const amxc_htable_it_t* it) {
    return it == nullptr ? nullptr : it->key;
}

amxc_htable_it_t* amxc_htable_it_get_next(const amxc_htable_it_t* it) {
    return it == nullptr ? nullptr : it_of(it->ait.next);
}

amxc_htable_it_t* amxc_htable_it_get_previous(const amxc_htable_it_t* it) {
    return it == nullptr ? nullptr : it_of(it->ait.prev);
}

}  // extern "C"
