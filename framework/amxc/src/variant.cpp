// Variant lifecycle, type names, copy and move.
#include <amxc/amxc_variant.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "htable_internal.h"
#include "variant_internal.h"

namespace amxc {
namespace {

constexpr std::array<const char*, AMXC_VAR_ID_CSV_STRING + 1> type_names{
    "null", "cstring_t", "int32_t", "uint32_t", "int64_t", "uint64_t",
    "bool", "amxc_llist_t", "amxc_htable_t", "csv_string_t",
};

void make_null(amxc_var_t* var) {
    var->type_id = AMXC_VAR_ID_NULL;
    std::memset(&var->data, 0, sizeof(var->data));
}

// The first element or member of `var`; nullptr for none or no container.
amxc_var_t* first_child(const amxc_var_t* var) {
    if(var->type_id == AMXC_VAR_ID_LIST) {
        return var->data.vl.head == nullptr ? nullptr : var_of_element(var->data.vl.head);
    }
    if(var->type_id == AMXC_VAR_ID_HTABLE) {
        const amxc_llist_it_t* first = var->data.vm.order.head;
        return first == nullptr ? nullptr : var_of_member(amxc_container_of(first, amxc_htable_it_t, ait));
    }
    return nullptr;
}

// The container holding `var` through the link in use, and the child after `var` in it.
std::pair<amxc_var_t*, amxc_var_t*> parent_and_next(const amxc_var_t* var) {
    if(var->lit.llist != nullptr) {
        return {amxc_container_of(var->lit.llist, amxc_var_t, data.vl),
                var->lit.next == nullptr ? nullptr : var_of_element(var->lit.next)};
    }
    const amxc_llist_it_t* next = var->hit.ait.next;
    return {amxc_container_of(var->hit.ht, amxc_var_t, data.vm),
            next == nullptr ? nullptr : var_of_member(amxc_container_of(next, amxc_htable_it_t, ait))};
}

// Frees what `var` holds once its children are gone: its text, or its table's buckets.
void release_own(amxc_var_t* var) {
    if(is_text(var->type_id)) {
        std::free(var->data.s);
    } else if(var->type_id == AMXC_VAR_ID_HTABLE) {
        std::free(static_cast<void*>(var->data.vm.table));
    }
}

// Frees everything below `root` and makes it NULL-typed, depth first and without recursion, so
// that nested trees of any depth are freed: a child's own links lead to its next sibling and
// its parent, and each variant is reached once. The tree goes whole, so no link is undone on
// the way: a group of thousands of sources, freed after each rebuild, was walked twice over,
// each element unlinked from its list and linked into another, a cache miss each time.
void free_tree(amxc_var_t* root) {
    amxc_var_t* var = root;
    for(;;) {
        for(amxc_var_t* child = first_child(var); child != nullptr; child = first_child(var)) {
            var = child;
        }
        release_own(var);
        if(var == root) {
            break;
        }
        auto [parent, next] = parent_and_next(var);
        if(parent->type_id == AMXC_VAR_ID_HTABLE) {
            std::free(var->hit.key);
        }
        std::free(var);
        if(next != nullptr) {
            var = next;
            continue;
        }
        // The parent's last child went: it is a leaf now.
        amxc_llist_init(parent->type_id == AMXC_VAR_ID_LIST ? &parent->data.vl : &parent->data.vm.order);
        var = parent;
    }
    make_null(root);
}

int copy_list(amxc_var_t* dest, const amxc_var_t* src, int depth) {
    amxc_var_set_type(dest, AMXC_VAR_ID_LIST);
    amxc_llist_iterate(link, &src->data.vl) {
        amxc_var_t* element = allocate_var();
        if(element == nullptr || copy_content(element, var_of_element(link), depth + 1) != 0) {
            std::free(element);
            return -1;
        }
        amxc_llist_append(&dest->data.vl, &element->lit);
    }
    return 0;
}

int copy_table(amxc_var_t* dest, const amxc_var_t* src, int depth) {
    amxc_var_set_type(dest, AMXC_VAR_ID_HTABLE);
    if(amxc_htable_init(&dest->data.vm, src->data.vm.order.size) != 0) {
        return -1;
    }
    amxc_htable_iterate(member, &src->data.vm) {
        amxc_var_t* copy = allocate_var();
        if(copy == nullptr || copy_content(copy, var_of_member(member), depth + 1) != 0) {
            std::free(copy);
            return -1;
        }
        if(insert_new(&dest->data.vm, member->key, &copy->hit) != 0) {   // the source's keys are unique
            amxc_var_delete(&copy);
            return -1;
        }
    }
    return 0;
}

}  // namespace

// Tens of thousands at once (two per source of a group): a variant and the heap's header fit
// a block of 128 bytes.
static_assert(sizeof(amxc_var_t) <= 120);

amxc_var_t* allocate_var() {
    // Not cleared first: amxc_var_init sets every field, and a group of thousands of sources
    // allocates two variants per address.
    auto* var = static_cast<amxc_var_t*>(std::malloc(sizeof(amxc_var_t)));
    if(var != nullptr) {
        amxc_var_init(var);
    }
    return var;
}

int copy_content(amxc_var_t* dest, const amxc_var_t* src, int depth) {
    if(depth > max_depth) {
        return -1;
    }
    int rv = 0;
    switch(src->type_id) {
    case AMXC_VAR_ID_CSTRING:
    case AMXC_VAR_ID_CSV_STRING:
        dest->type_id = src->type_id;
        if(src->data.s != nullptr) {
            dest->data.s = strdup(src->data.s);
            rv = dest->data.s == nullptr ? -1 : 0;
        }
        break;
    case AMXC_VAR_ID_LIST:
        rv = copy_list(dest, src, depth);
        break;
    case AMXC_VAR_ID_HTABLE:
        rv = copy_table(dest, src, depth);
        break;
    default:
        dest->type_id = src->type_id;
        dest->data = src->data;
        break;
    }
    if(rv != 0) {
        amxc_var_clean(dest);
    }
    return rv;
}

void move_content(amxc_var_t* dest, amxc_var_t* src) {
    dest->type_id = src->type_id;
    dest->data = src->data;
    if(dest->type_id == AMXC_VAR_ID_LIST) {
        amxc_llist_iterate(link, &dest->data.vl) {
            link->llist = &dest->data.vl;
        }
    } else if(dest->type_id == AMXC_VAR_ID_HTABLE) {
        amxc_htable_t* table = &dest->data.vm;
        amxc_llist_iterate(link, &table->order) {
            link->llist = &table->order;
            amxc_container_of(link, amxc_htable_it_t, ait)->ht = table;
        }
    }
    make_null(src);
}

bool is_within(const amxc_var_t* var, const amxc_var_t* ancestor) {
    for(const amxc_var_t* at = var; at != nullptr; at = amxc_var_get_parent(at)) {
        if(at == ancestor) {
            return true;
        }
    }
    return false;
}

amxc_var_t* borrow_or_copy(const amxc_var_t* var, int flags) {
    if(var == nullptr || (flags & AMXC_VAR_FLAG_COPY) == 0) {
        return const_cast<amxc_var_t*>(var);
    }
    amxc_var_t* copy = nullptr;
    if(amxc_var_new(&copy) != 0 || amxc_var_copy(copy, var) != 0) {
        amxc_var_delete(&copy);
    }
    return copy;
}

void replace_content(amxc_var_t* var, amxc_var_t* tmp) {
    amxc_var_clean(var);
    move_content(var, tmp);
}

}  // namespace amxc

using namespace amxc;

extern "C" {

int amxc_var_new(amxc_var_t** var) {
    if(var == nullptr) {
        return -1;
    }
    amxc_var_t* fresh = allocate_var();
    if(fresh == nullptr) {
        return -1;
    }
    *var = fresh;
    return 0;
}

void amxc_var_delete(amxc_var_t** var) {
    if(var == nullptr || *var == nullptr) {
        return;
    }
    amxc_var_take_it(*var);
    free_tree(*var);
    std::free(*var);
    *var = nullptr;
}

int amxc_var_init(amxc_var_t* var) {
    if(var == nullptr) {
        return -1;
    }
    amxc_llist_it_init(&var->lit);
    amxc_htable_it_init(&var->hit);
    make_null(var);
    return 0;
}

void amxc_var_clean(amxc_var_t* var) {
    if(var == nullptr) {
        return;
    }
    free_tree(var);
}

int amxc_var_set_type(amxc_var_t* var, uint32_t type_id) {
    if(var == nullptr || !is_known_type(type_id)) {
        return -1;
    }
    amxc_var_clean(var);
    var->type_id = type_id;
    if(type_id == AMXC_VAR_ID_LIST) {
        amxc_llist_init(&var->data.vl);
    } else if(type_id == AMXC_VAR_ID_HTABLE) {
        amxc_htable_init(&var->data.vm, 0);
    }
    return 0;
}

uint32_t amxc_var_type_of(const amxc_var_t* var) {
    return var == nullptr ? AMXC_VAR_ID_NULL : var->type_id;
}

const char* amxc_var_get_type_name_from_id(uint32_t type_id) {
    return is_known_type(type_id) ? type_names[type_id] : nullptr;
}

const char* amxc_var_type_name_of(const amxc_var_t* var) {
    return var == nullptr ? nullptr : amxc_var_get_type_name_from_id(var->type_id);
}

bool amxc_var_is_null(const amxc_var_t* var) {
    return var == nullptr || var->type_id == AMXC_VAR_ID_NULL;
}

int amxc_var_copy(amxc_var_t* dest, const amxc_var_t* src) {
    if(dest == nullptr || src == nullptr) {
        return -1;
    }
    if(dest == src) {
        return 0;
    }
    // Copy aside first: dest and src may contain one another.
    amxc_var_t tmp;
    amxc_var_init(&tmp);
    if(copy_content(&tmp, src, 0) != 0) {
        return -1;
    }
    replace_content(dest, &tmp);
    return 0;
}

int amxc_var_move(amxc_var_t* dest, amxc_var_t* src) {
    if(dest == nullptr || src == nullptr) {
        return -1;
    }
    if(dest == src) {
        return 0;
    }
    if(is_within(dest, src)) {
        return -1;  // dest would end up inside itself
    }
    // src may lie inside dest: lift its content out before dest is cleaned.
    amxc_var_t tmp;
    amxc_var_init(&tmp);
    move_content(&tmp, src);
    replace_content(dest, &tmp);
    return 0;
}

}  // extern "C"
