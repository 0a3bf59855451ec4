// Intrusive doubly linked list: linking, unlinking and positional access.
#include <amxc/amxc_llist.h>

#include <cstdlib>

namespace {

void link_between(amxc_llist_t* list, amxc_llist_it_t* prev, amxc_llist_it_t* next, amxc_llist_it_t* it) {
    it->prev = prev;
    it->next = next;
    it->llist = list;
    ++list->size;
    if(prev != nullptr) {
        prev->next = it;
    } else {
        list->head = it;
    }
    if(next != nullptr) {
        next->prev = it;
    } else {
        list->tail = it;
    }
}

}  // namespace

extern "C" {

int amxc_llist_new(amxc_llist_t** llist) {
    if(llist == nullptr) {
        return -1;
    }
    auto* list = static_cast<amxc_llist_t*>(std::calloc(1, sizeof(amxc_llist_t)));
    if(list == nullptr) {
        return -1;
    }
    *llist = list;
    return 0;
}

void amxc_llist_delete(amxc_llist_t** llist, amxc_llist_it_delete_t func) {
    if(llist == nullptr || *llist == nullptr) {
        return;
    }
    amxc_llist_clean(*llist, func);
    std::free(*llist);
    *llist = nullptr;
}

int amxc_llist_init(amxc_llist_t* llist) {
    if(llist == nullptr) {
        return -1;
    }
    llist->head = nullptr;
    llist->tail = nullptr;
    llist->size = 0;
    return 0;
}

void amxc_llist_clean(amxc_llist_t* llist, amxc_llist_it_delete_t func) {
    // Take items one by one so a callback that touches the list sees it consistent.
    amxc_llist_it_t* it = amxc_llist_take_first(llist);
    while(it != nullptr) {
        if(func != nullptr) {
            func(it);
        }
        it = amxc_llist_take_first(llist);
    }
}

int amxc_llist_append(amxc_llist_t* llist, amxc_llist_it_t* it) {
    if(llist == nullptr || it == nullptr) {
        return -1;
    }
    amxc_llist_it_take(it);
    link_between(llist, llist->tail, nullptr, it);
    return 0;
}

int amxc_llist_prepend(amxc_llist_t* llist, amxc_llist_it_t* it) {
    if(llist == nullptr || it == nullptr) {
        return -1;
    }
    amxc_llist_it_take(it);
    link_between(llist, nullptr, llist->head, it);
    return 0;
}

amxc_llist_it_t* amxc_llist_get_first(const amxc_llist_t* llist) {
    return llist == nullptr ? nullptr : llist->head;
}

amxc_llist_it_t* amxc_llist_get_last(const amxc_llist_t* llist) {
    return llist == nullptr ? nullptr : llist->tail;
}

amxc_llist_it_t* amxc_llist_get_at(const amxc_llist_t* llist, unsigned int index) {
    amxc_llist_it_t* it = amxc_llist_get_first(llist);
    for(unsigned int i = 0; i < index && it != nullptr; ++i) {
        it = it->next;
    }
    return it;
}

size_t amxc_llist_size(const amxc_llist_t* llist) {
    return llist == nullptr ? 0 : llist->size;
}

bool amxc_llist_is_empty(const amxc_llist_t* llist) {
    return llist == nullptr || llist->head == nullptr;
}

amxc_llist_it_t* amxc_llist_take_first(amxc_llist_t* llist) {
    amxc_llist_it_t* it = amxc_llist_get_first(llist);
    amxc_llist_it_take(it);
    return it;
}

amxc_llist_it_t* amxc_llist_take_last(amxc_llist_t* llist) {
    amxc_llist_it_t* it = amxc_llist_get_last(llist);
    amxc_llist_it_take(it);
    return it;
}

int amxc_llist_it_init(amxc_llist_it_t* it) {
    if(it == nullptr) {
        return -1;
    }
    it->next = nullptr;
    it->prev = nullptr;
    it->llist = nullptr;
    return 0;
}

void amxc_llist_it_clean(amxc_llist_it_t* it, amxc_llist_it_delete_t func) {
    if(it == nullptr) {
        return;
    }
    amxc_llist_it_take(it);
    if(func != nullptr) {
        func(it);
    }
}

void amxc_llist_it_take(amxc_llist_it_t* it) {
    if(it == nullptr || it->llist == nullptr) {
        return;
    }
    amxc_llist_t* list = it->llist;
    if(it->prev != nullptr) {
        it->prev->next = it->next;
    } else {
        list->head = it->next;
    }
    if(it->next != nullptr) {
        it->next->prev = it->prev;
    } else {
        list->tail = it->prev;
    }
    --list->size;
    amxc_llist_it_init(it);
}

amxc_llist_it_t* amxc_llist_it_get_next(const amxc_llist_it_t* it) {
    return it == nullptr ? nullptr : it->next;
}

amxc_llist_it_t* amxc_llist_it_get_previous(const amxc_llist_it_t* it) {
    return it == nullptr ? nullptr : it->prev;
}

int amxc_llist_it_insert_before(amxc_llist_it_t* reference, amxc_llist_it_t* it) {
    if(reference == nullptr || it == nullptr || reference == it || reference->llist == nullptr) {
        return -1;
    }
    amxc_llist_it_take(it);
    link_between(reference->llist, reference->prev, reference, it);
    return 0;
}

int amxc_llist_it_insert_after(amxc_llist_it_t* reference, amxc_llist_it_t* it) {
    if(reference == nullptr || it == nullptr || reference == it || reference->llist == nullptr) {
        return -1;
    }
    amxc_llist_it_take(it);
    link_between(reference->llist, reference, reference->next, it);
    return 0;
}

bool amxc_llist_it_is_in_list(const amxc_llist_it_t* it) {
    return it != nullptr && it->llist != nullptr;
}

}  // extern "C"
