#include "query_registry.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace gmap {
namespace {

void free_query(gmap_query_t* query) {
    std::free(query->expression);
    std::free(query->name);
    std::free(query);
}

}  // namespace

std::uint32_t QueryRegistry::unused_id() {
    // Ids only repeat after 2^32 opens, and then skip those still open; with at most
    // GMAP_QUERY_MAX open this ends within GMAP_QUERY_MAX + 1 steps.
    for(;;) {
        std::uint32_t id = next_id_++;
        if(id != 0 && find(id) == nullptr) {
            return id;
        }
    }
}

gmap_query_t* QueryRegistry::open(const char* expression, const char* name, gmap_query_cb_t fn, void* data) {
    if(expression == nullptr || expression[0] == '\0' || fn == nullptr || by_id_.size() >= GMAP_QUERY_MAX) {
        return nullptr;
    }
    auto* query = static_cast<gmap_query_t*>(std::calloc(1, sizeof(gmap_query_t)));
    if(query == nullptr) {
        return nullptr;
    }
    query->expression = strdup(expression);
    query->name = name == nullptr ? nullptr : strdup(name);
    if(query->expression == nullptr || (name != nullptr && query->name == nullptr)) {
        free_query(query);
        return nullptr;
    }
    query->id = unused_id();
    query->fn = fn;
    query->data = data;
    query->refcount = 1;
    try {
        by_id_.emplace(query->id, query);
    } catch(const std::bad_alloc&) {
        free_query(query);
        return nullptr;
    }
    amxc_llist_it_init(&query->it);
    amxc_llist_append(&open_, &query->it);
    return query;
}

void QueryRegistry::close(gmap_query_t* query) {
    amxc_llist_it_take(&query->it);
    by_id_.erase(query->id);
    release(query);
}

gmap_query_t* QueryRegistry::find(std::uint32_t id) const {
    const auto found = by_id_.find(id);
    return found == by_id_.end() ? nullptr : found->second;
}

void QueryRegistry::release(gmap_query_t* query) {
    if(--query->refcount == 0) {
        free_query(query);
    }
}

// Destroyed when the library is unloaded: queries are closed before that (the runtime
// deletes its data models, whose destroy actions close them, before it unloads modules).
QueryRegistry& registry() {
    static QueryRegistry instance;
    return instance;
}

}  // namespace gmap
