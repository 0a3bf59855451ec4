// Elements of list variants and members of table variants: adding, storing,
// looking up, navigating and taking out.
#include <amxc/amxc_variant.h>

#include <cstdlib>

#include "htable_internal.h"
#include "variant_container.h"
#include "variant_internal.h"

namespace amxc {
namespace {

bool is_list(const amxc_var_t* var) {
    return var != nullptr && var->type_id == AMXC_VAR_ID_LIST;
}

bool is_table(const amxc_var_t* var) {
    return var != nullptr && var->type_id == AMXC_VAR_ID_HTABLE;
}

amxc_var_t* member_of(const amxc_var_t* table, const char* key) {
    return var_of_member(amxc_htable_get(&table->data.vm, key));
}

// Converts a possibly negative position into 0..size-1, or -1.
int64_t resolve_index(int64_t index, size_t size) {
    auto count = static_cast<int64_t>(size);
    if(index < 0) {
        index += count;
    }
    return index >= 0 && index < count ? index : -1;
}

// Takes an owned variant out of wherever it is, dropping its key.
void unlink(amxc_var_t* var) {
    amxc_llist_it_take(&var->lit);
    amxc_htable_it_clean(&var->hit, nullptr);
}

}  // namespace

amxc_var_t* store_element(amxc_var_t* list, amxc_var_t* value) {
    if(!is_list(list)) {
        return nullptr;
    }
    amxc_var_t* element = allocate_var();
    if(element == nullptr) {
        return nullptr;
    }
    move_content(element, value);
    amxc_llist_append(&list->data.vl, &element->lit);
    return element;
}

amxc_var_t* store_member(amxc_var_t* table, const char* key, amxc_var_t* value) {
    if(!is_table(table) || key == nullptr) {
        return nullptr;
    }
    amxc_var_t* member = member_of(table, key);
    if(member == nullptr) {
        member = allocate_var();
        if(member == nullptr) {
            return nullptr;
        }
        if(insert_new(&table->data.vm, key, &member->hit) != 0) {
            std::free(member);
            return nullptr;
        }
    }
    replace_content(member, value);
    return member;
}

}  // namespace amxc

using namespace amxc;

extern "C" {

amxc_var_t* amxc_var_add_new(amxc_var_t* list) {
    amxc_var_t empty;
    amxc_var_init(&empty);
    return store_element(list, &empty);
}

amxc_var_t* amxc_var_add_new_list(amxc_var_t* list) {
    amxc_var_t* element = amxc_var_add_new(list);
    amxc_var_set_type(element, AMXC_VAR_ID_LIST);
    return element;
}

amxc_var_t* amxc_var_add_new_htable(amxc_var_t* list) {
    amxc_var_t* element = amxc_var_add_new(list);
    amxc_var_set_type(element, AMXC_VAR_ID_HTABLE);
    return element;
}

amxc_var_t* amxc_var_add_new_key(amxc_var_t* table, const char* key) {
    amxc_var_t empty;
    amxc_var_init(&empty);
    return store_member(table, key, &empty);
}

amxc_var_t* amxc_var_add_new_key_list(amxc_var_t* table, const char* key) {
    amxc_var_t* member = amxc_var_add_new_key(table, key);
    amxc_var_set_type(member, AMXC_VAR_ID_LIST);
    return member;
}

amxc_var_t* amxc_var_add_new_key_htable(amxc_var_t* table, const char* key) {
    amxc_var_t* member = amxc_var_add_new_key(table, key);
    amxc_var_set_type(member, AMXC_VAR_ID_HTABLE);
    return member;
}

amxc_var_t* amxc_var_get_key(const amxc_var_t* table, const char* key, int flags) {
    if(!is_table(table) || key == nullptr) {
        return nullptr;
    }
    return borrow_or_copy(member_of(table, key), flags);
}

int amxc_var_set_key(amxc_var_t* table, const char* key, amxc_var_t* data, int flags) {
    if(!is_table(table) || key == nullptr || data == nullptr) {
        return -1;
    }
    amxc_var_t* existing = member_of(table, key);
    if(existing != nullptr && (flags & AMXC_VAR_FLAG_UPDATE) == 0) {
        return -1;
    }
    if((flags & AMXC_VAR_FLAG_COPY) != 0 && existing != nullptr) {
        return amxc_var_copy(existing, data);
    }
    if((flags & AMXC_VAR_FLAG_COPY) == 0) {
        if(is_within(table, data)) {
            return -1;  // the table would end up inside itself
        }
        if(existing == data) {
            return 0;
        }
    }
    amxc_var_t* stored = borrow_or_copy(data, flags);
    if(stored == nullptr) {
        return -1;
    }
    if(existing == nullptr) {
        if(insert_new(&table->data.vm, key, &stored->hit) != 0) {
            if(stored != data) {
                amxc_var_delete(&stored);
            }
            return -1;
        }
        // The insert took it out of any table; now out of any list.
        amxc_llist_it_take(&stored->lit);
        return 0;
    }
    // Cannot fail: the new member takes the old one's key and position. It
    // leaves any list before the old member goes, as it may lie inside it.
    amxc_htable_it_replace(&existing->hit, &stored->hit);
    amxc_llist_it_take(&stored->lit);
    amxc_var_delete(&existing);
    return 0;
}

amxc_var_t* amxc_var_get_index(const amxc_var_t* list_or_table, int64_t index, int flags) {
    size_t size = amxc_var_size(list_or_table);
    int64_t at = resolve_index(index, size);
    if(at < 0) {
        return nullptr;
    }
    amxc_var_t* var = nullptr;
    if(index >= 0) {
        var = amxc_var_get_first(list_or_table);
        for(int64_t i = 0; i < at; ++i) {
            var = amxc_var_get_next(var);
        }
    } else {
        var = amxc_var_get_last(list_or_table);
        for(int64_t i = static_cast<int64_t>(size) - 1; i > at; --i) {
            var = amxc_var_get_previous(var);
        }
    }
    return borrow_or_copy(var, flags);
}

int amxc_var_set_index(amxc_var_t* list, int64_t index, amxc_var_t* data, int flags) {
    if(!is_list(list) || data == nullptr) {
        return -1;
    }
    bool update = (flags & AMXC_VAR_FLAG_UPDATE) != 0;
    size_t size = amxc_var_size(list);
    int64_t at = (!update && index == static_cast<int64_t>(size)) ? index : resolve_index(index, size);
    if(at < 0) {
        return -1;
    }
    amxc_var_t* reference = amxc_var_get_index(list, at, AMXC_VAR_FLAG_DEFAULT);
    if((flags & AMXC_VAR_FLAG_COPY) == 0) {
        if(is_within(list, data)) {
            return -1;  // the list would end up inside itself
        }
        if(reference == data) {
            return 0;
        }
    }
    amxc_var_t* stored = borrow_or_copy(data, flags);
    if(stored == nullptr) {
        return -1;
    }
    unlink(stored);
    if(reference == nullptr) {
        amxc_llist_append(&list->data.vl, &stored->lit);
    } else {
        amxc_llist_it_insert_before(&reference->lit, &stored->lit);
    }
    if(update) {
        amxc_var_delete(&reference);
    }
    return 0;
}

amxc_var_t* amxc_var_get_first(const amxc_var_t* container) {
    if(is_list(container)) {
        return var_of_element(amxc_llist_get_first(&container->data.vl));
    }
    if(is_table(container)) {
        return var_of_member(amxc_htable_get_first(&container->data.vm));
    }
    return nullptr;
}

amxc_var_t* amxc_var_get_last(const amxc_var_t* container) {
    if(is_list(container)) {
        return var_of_element(amxc_llist_get_last(&container->data.vl));
    }
    if(is_table(container)) {
        return var_of_member(amxc_htable_get_last(&container->data.vm));
    }
    return nullptr;
}

amxc_var_t* amxc_var_get_next(const amxc_var_t* member) {
    if(member == nullptr) {
        return nullptr;
    }
    if(member->lit.llist != nullptr) {
        return var_of_element(member->lit.next);
    }
    return var_of_member(amxc_htable_it_get_next(member->hit.ht != nullptr ? &member->hit : nullptr));
}

amxc_var_t* amxc_var_get_previous(const amxc_var_t* member) {
    if(member == nullptr) {
        return nullptr;
    }
    if(member->lit.llist != nullptr) {
        return var_of_element(member->lit.prev);
    }
    return var_of_member(amxc_htable_it_get_previous(member->hit.ht != nullptr ? &member->hit : nullptr));
}

amxc_var_t* amxc_var_get_parent(const amxc_var_t* member) {
    if(member == nullptr) {
        return nullptr;
    }
    if(member->lit.llist != nullptr) {
        return amxc_container_of(member->lit.llist, amxc_var_t, data.vl);
    }
    return amxc_container_of(member->hit.ht, amxc_var_t, data.vm);
}

const char* amxc_var_key(const amxc_var_t* member) {
    if(member == nullptr || member->hit.ht == nullptr) {
        return nullptr;
    }
    return member->hit.key;
}

amxc_var_t* amxc_var_take_it(amxc_var_t* member) {
    if(member != nullptr) {
        unlink(member);
    }
    return member;
}

size_t amxc_var_size(const amxc_var_t* var) {
    if(is_list(var)) {
        return amxc_llist_size(&var->data.vl);
    }
    if(is_table(var)) {
        return amxc_htable_size(&var->data.vm);
    }
    return 0;
}

}  // extern "C"
