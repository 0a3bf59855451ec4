// Split a text at a separator into heap strings, and join them back.
#include <amxc/amxc_string_split.h>

#include <string_view>

#include "text_pieces.h"

namespace {

int append_item(amxc_llist_t* list, std::string_view piece) {
    amxc_string_t* item = nullptr;
    if(amxc_string_new(&item, 0) != 0) {
        return -1;
    }
    if(!piece.empty() && amxc_string_append(item, piece.data(), piece.size()) != 0) {
        amxc_string_delete(&item);
        return -1;
    }
    amxc_llist_append(list, &item->it);
    return 0;
}

}  // namespace

extern "C" {

int amxc_string_split_to_llist(const amxc_string_t* string, amxc_llist_t* list, const char separator) {
    if(string == nullptr || list == nullptr || separator == '\0') {
        return -1;
    }
    std::string_view text{amxc_string_get(string, 0), amxc_string_text_length(string)};
    amxc_llist_it_t* last_before = amxc_llist_get_last(list);
    bool done = amxc::for_each_piece(text, separator, [list](std::string_view piece) {
        return append_item(list, piece) == 0;
    });
    if(!done) {
        // Roll back: the caller's list ends up as it was given.
        while(amxc_llist_get_last(list) != last_before) {
            amxc_string_list_it_free(amxc_llist_get_last(list));
        }
        return -1;
    }
    return 0;
}

int amxc_string_join_llist(amxc_string_t* string, const amxc_llist_t* list, const char separator) {
    if(string == nullptr || list == nullptr || separator == '\0') {
        return -1;
    }
    size_t old_length = amxc_string_text_length(string);
    bool first = true;
    amxc_llist_iterate(it, list) {
        const amxc_string_t* item = amxc_string_from_llist_it(it);
        int rv = first ? 0 : amxc_string_append(string, &separator, 1);
        first = false;
        if(rv == 0) {
            rv = amxc_string_append(string, amxc_string_get(item, 0), amxc_string_text_length(item));
        }
        if(rv != 0) {
            if(string->buffer != nullptr) {
                string->last_used = old_length;
                string->buffer[old_length] = '\0';
            }
            return -1;
        }
    }
    return 0;
}

void amxc_string_list_it_free(amxc_llist_it_t* it) {
    amxc_string_t* item = amxc_string_from_llist_it(it);
    amxc_string_delete(&item);
}

}  // extern "C"
