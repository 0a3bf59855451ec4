#include <amxc/amxc_borrowed_tree.h>

#include "htable_internal.h"

namespace amxc {

amxc_var_t* BorrowedTree::new_var() {
    auto* var = static_cast<amxc_var_t*>(memory_.allocate(sizeof(amxc_var_t), alignof(amxc_var_t)));
    amxc_var_init(var);
    return var;
}

void BorrowedTree::make_table(amxc_var_t* var, std::size_t members) {
    const std::size_t capacity = capacity_for(members);
    amxc_htable_it_t** buckets = nullptr;
    if(capacity > 0) {
        buckets = static_cast<amxc_htable_it_t**>(
            memory_.allocate(capacity * sizeof(amxc_htable_it_t*), alignof(amxc_htable_it_t*)));
        for(std::size_t i = 0; i < capacity; ++i) {
            buckets[i] = nullptr;
        }
    }
    amxc_var_set_type(var, AMXC_VAR_ID_HTABLE);  // a table of no capacity allocates nothing
    var->data.vm.table = buckets;
    var->data.vm.capacity = capacity;
}

amxc_var_t* BorrowedTree::add_member(amxc_var_t* table, const char* key) {
    amxc_var_t* member = new_var();
    link_borrowed(&table->data.vm, key, &member->hit);
    return member;
}

amxc_var_t* BorrowedTree::add_element(amxc_var_t* list) {
    amxc_var_t* element = new_var();
    amxc_llist_append(&list->data.vl, &element->lit);
    return element;
}

void BorrowedTree::set_text(amxc_var_t* var, uint32_t type, const char* text) noexcept {
    var->type_id = type;
    var->data.s = const_cast<char*>(text);  // never freed: the tree is not cleaned
}

}  // namespace amxc
