// Stable merge sort of an intrusive list, relinking items in place so that
// sorting never allocates and so never fails for lack of memory.
#include <amxc/amxc_llist.h>

namespace {

// Merges two null-terminated singly linked runs (through `next`). Ties take
// the left run first, which keeps the sort stable.
amxc_llist_it_t* merge(amxc_llist_it_t* left, amxc_llist_it_t* right, amxc_llist_it_cmp_t cmp) {
    amxc_llist_it_t head{};
    amxc_llist_it_t* tail = &head;
    while(left != nullptr && right != nullptr) {
        if(cmp(left, right) <= 0) {
            tail->next = left;
            left = left->next;
        } else {
            tail->next = right;
            right = right->next;
        }
        tail = tail->next;
    }
    tail->next = left != nullptr ? left : right;
    return head.next;
}

// Cuts the run starting at `first` after `count` items; returns the rest.
amxc_llist_it_t* split_after(amxc_llist_it_t* first, size_t count) {
    for(size_t i = 1; first != nullptr && i < count; ++i) {
        first = first->next;
    }
    if(first == nullptr) {
        return nullptr;
    }
    amxc_llist_it_t* rest = first->next;
    first->next = nullptr;
    return rest;
}

}  // namespace

extern "C" int amxc_llist_sort(amxc_llist_t* llist, amxc_llist_it_cmp_t cmp) {
    if(llist == nullptr || cmp == nullptr) {
        return -1;
    }
    if(llist->head == nullptr) {
        return 0;
    }
    llist->tail->next = nullptr;
    amxc_llist_it_t* items = llist->head;
    // Bottom-up: merge runs of width 1, 2, 4, ... until one run remains.
    for(size_t width = 1;; width *= 2) {
        amxc_llist_it_t result{};
        amxc_llist_it_t* result_tail = &result;
        size_t merges = 0;
        while(items != nullptr) {
            amxc_llist_it_t* left = items;
            amxc_llist_it_t* right = split_after(left, width);
            items = split_after(right, width);
            result_tail->next = merge(left, right, cmp);
            while(result_tail->next != nullptr) {
                result_tail = result_tail->next;
            }
            ++merges;
        }
        items = result.next;
        if(merges <= 1) {
            break;
        }
    }
    // Restore the backward links and the ends.
    amxc_llist_it_t* prev = nullptr;
    llist->head = items;
    for(amxc_llist_it_t* it = items; it != nullptr; it = it->next) {
        it->prev = prev;
        prev = it;
    }
    llist->tail = prev;
    return 0;
}
