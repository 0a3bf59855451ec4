// Most-significant-byte radix sort of string views: each byte of each item is looked at about
// once, and small groups, where bucketing costs more than it saves, are finished by insertion.
#include "networkobject/networkobject_sort.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

namespace netobj {

namespace {

constexpr std::size_t small_group = 16;
// Bucket 0 holds the items that end at the current depth; bucket b + 1 those whose byte there is b.
constexpr std::size_t bucket_count = 257;

struct Group {
    std::size_t begin;
    std::size_t end;
    std::size_t depth;  // bytes before it are equal throughout the group
};

std::size_t bucket_of(std::string_view item, std::size_t depth) {
    return item.size() == depth ? 0 : static_cast<unsigned char>(item[depth]) + 1U;
}

void insertion_sort(std::span<std::string_view> items, std::size_t depth) {
    for(std::size_t i = 1; i < items.size(); ++i) {
        std::string_view item = items[i];
        std::size_t j = i;
        // string_view compares bytes as unsigned char, as strcmp does.
        while(j > 0 && item.substr(depth) < items[j - 1].substr(depth)) {
            items[j] = items[j - 1];
            --j;
        }
        items[j] = item;
    }
}

}  // namespace

void sort_bytewise(std::span<std::string_view> items) {
    std::vector<std::string_view> scratch(items.size());
    std::vector<Group> pending{{0, items.size(), 0}};
    std::array<std::size_t, bucket_count + 1> start{};
    while(!pending.empty()) {
        const Group group = pending.back();
        pending.pop_back();
        std::span<std::string_view> part = items.subspan(group.begin, group.end - group.begin);
        if(part.size() < small_group) {
            insertion_sort(part, group.depth);
            continue;
        }
        start.fill(0);
        for(std::string_view item : part) {
            ++start[bucket_of(item, group.depth) + 1];
        }
        for(std::size_t b = 1; b <= bucket_count; ++b) {
            start[b] += start[b - 1];
        }
        std::array<std::size_t, bucket_count> next{};
        std::copy_n(start.begin(), bucket_count, next.begin());
        for(std::string_view item : part) {
            scratch[next[bucket_of(item, group.depth)]++] = item;
        }
        std::copy_n(scratch.begin(), part.size(), part.begin());
        // Bucket 0 is done: its items are equal. The others continue one byte deeper.
        for(std::size_t b = 1; b < bucket_count; ++b) {
            if(start[b + 1] - start[b] > 1) {
                pending.push_back({group.begin + start[b], group.begin + start[b + 1], group.depth + 1});
            }
        }
    }
}

}  // namespace netobj
