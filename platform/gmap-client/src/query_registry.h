#ifndef GMAP_QUERY_REGISTRY_H
#define GMAP_QUERY_REGISTRY_H

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include <gmap/gmap_query.h>

namespace gmap {

// The open queries, linked through their `it` field in opening order and indexed by id (a report
// and every open look an id up, among up to GMAP_QUERY_MAX queries). A handle lives while its
// reference count is above 0: the registry holds one reference while the query is open, and
// each running callback one more, so a callback may close its own query.
class QueryRegistry {
public:
    // A new open query, or nullptr (see gmap_query_open_ext).
    gmap_query_t* open(const char* expression, const char* name, gmap_query_cb_t fn, void* data);

    // Unlinks the query and drops the registry's reference.
    void close(gmap_query_t* query);

    // The open query with that id, or nullptr.
    gmap_query_t* find(std::uint32_t id) const;

    static void retain(gmap_query_t* query) { ++query->refcount; }
    static void release(gmap_query_t* query);

private:
    std::uint32_t unused_id();

    amxc_llist_t open_{};
    std::unordered_map<std::uint32_t, gmap_query_t*> by_id_;
    std::uint32_t next_id_ = 1;
};

QueryRegistry& registry();

}  // namespace gmap

#endif  // GMAP_QUERY_REGISTRY_H
