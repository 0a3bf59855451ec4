/* Device-map queries.
 *
 * A query names an expression over the devices of the device map. While it is open, the
 * client reports through its callback every device that starts or stops matching the
 * expression, or whose data changes while it matches. Reports are always delivered on the
 * event loop (libamxp), never from inside the call that produced them, and never after
 * gmap_query_close(): a report still queued when the query is closed is dropped.
 *
 * Thread: the event loop's thread only. */
#ifndef GMAP_GMAP_QUERY_H
#define GMAP_GMAP_QUERY_H

#include <stdint.h>

#include <amxc/amxc_llist.h>
#include <amxc/amxc_variant.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Options of a query. None are defined yet: gmap_query_open_ext() sets 0. */
typedef uint32_t gmap_query_flags_t;

/* What a report says about the device. */
typedef enum _gmap_query_action {
    gmap_query_expression_start_matching = 0, /* the device matches now; data included */
    gmap_query_device_updated = 1,            /* a matching device's data changed */
    gmap_query_expression_stop_matching = 2,  /* the device no longer matches */
    gmap_query_error = 3                      /* the query failed in the device map */
} gmap_query_action_t;

typedef struct _gmap_query gmap_query_t;

/* Opaque types stay above: their C++ insides are the library's own. */
#pragma GCC visibility push(default) /* the library hides all but its API */

/* Report callback. `query` is the open query (its `data` is the user data given at open);
 * `key` is the device's key (never NULL, "" when the report names no device); `device` is
 * the device's data, or NULL when the report carries none. `key` and `device` are borrowed
 * for the duration of the call. The callback may close this or any other query and open
 * new ones. */
typedef void (*gmap_query_cb_t)(gmap_query_t* query, const char* key, amxc_var_t* device,
                                gmap_query_action_t action);

/* A query handle. Allocated and owned by the client: callers read it (mainly `data`) and
 * never change or free it; gmap_query_close() releases it. */
struct _gmap_query {
    amxc_llist_it_t it;       /* link in the client's list of open queries */
    char* expression;         /* copy of the expression */
    char* name;               /* copy of the name, NULL when none was given */
    gmap_query_flags_t flags; /* options (none yet) */
    uint32_t id;              /* unique among open queries; reports are addressed by it */
    uint32_t index;           /* the device map's own number for the query; 0 until it has one */
    gmap_query_cb_t fn;       /* the report callback */
    uint32_t refcount;        /* 1 while open, plus 1 during each callback running */
    void* data;               /* the caller's user data, given back untouched */
};

/* Most queries open at once; gmap_query_open_ext() returns NULL beyond. */
#define GMAP_QUERY_MAX 65536u

/* Opens a query for `expression` (copied; the device map's expression language), with an
 * optional `name` (copied; may be NULL) that identifies the query in traces, the callback
 * `fn` and user data `data` (borrowed, handed back in the handle). Returns the handle, or
 * NULL when expression is NULL or empty, fn is NULL, GMAP_QUERY_MAX queries are open or
 * memory runs out. */
gmap_query_t* gmap_query_open_ext(const char* expression, const char* name, gmap_query_cb_t fn, void* data);

/* Closes the query: no report is delivered for it afterwards, also none already queued.
 * The handle must not be used after this call (inside its own callback it stays readable
 * until the callback returns). NULL-safe. Closing a handle twice is a caller error. */
void gmap_query_close(gmap_query_t* query);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* GMAP_GMAP_QUERY_H */
