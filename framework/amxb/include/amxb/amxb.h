/* The bus: reading, changing and watching data models through contexts.
 *
 * A context (amxb_bus_ctx_t) is one of three kinds:
 *   - in-process (amxb_register_dm): serves the top-level objects of one data model of this
 *     process directly;
 *   - client (amxb_connect): reaches the data models of another process over a Unix socket;
 *   - listener (amxb_listen): serves every in-process context of this process to clients.
 * In-process and client contexts are registered for amxb_be_who_has and accept every call
 * below; a listener accepts none of them.
 *
 * Paths are dotted object paths ("Hosts.Host.3.IPv4Address."); the trailing dot is optional,
 * instances are named by index or by name. Replies always name objects by their indexed path
 * with a trailing dot.
 *
 * Results. Functions returning int give 0 on success and otherwise an amxd_status_t number
 * (amxd_types.h): amxd_status_invalid_arg for bad arguments (a NULL context included),
 * amxd_status_object_not_found for a path that names nothing, amxd_status_timeout when a
 * remote answer did not come in time, amxd_status_unknown_error for a broken connection, or
 * whatever the data model refused with. amxb_last_error() then says why in words.
 *
 * Time-outs. `timeout_sec` bounds how long a call on a client context waits for its answer;
 * 0 or less means the default (amxb_set_default_timeout). In-process calls never wait.
 *
 * Events. Subscriptions deliver the data model's "dm:object-changed", "dm:instance-added" and
 * "dm:instance-removed" events (data as described in amxd_dm.h) to the subscriber on the amxp
 * loop, in the order the data model emitted them, never from inside another bus call.
 *
 * Thread: every function must be called from the amxp loop's thread. */
#ifndef AMXB_H
#define AMXB_H

#include <stdint.h>
#include <sys/types.h>

#include <amxc/amxc_variant.h>
#include <amxd/amxd_dm.h>
#include <amxp/amxp_slot.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque; created by amxb_register_dm, amxb_connect or amxb_listen, freed by amxb_free. */
typedef struct _amxb_bus_ctx amxb_bus_ctx_t;

/* Opaque types stay above: their C++ insides are the library's own. */
#pragma GCC visibility push(default) /* the library hides all but its API */

/* Largest message on the socket, length prefix excluded. A request or reply that would be
 * larger is refused with an error instead of being sent. */
#define AMXB_MAX_FRAME_SIZE (1024u * 1024u)

/* Time-out used when a call passes 0 or less, unless changed. */
#define AMXB_DEFAULT_TIMEOUT_SEC 5

/* ---- Contexts ----------------------------------------------------------------------------- */

/* Creates an in-process context in *ctx serving the top-level objects of `dm` (borrowed: the
 * context must be freed before the data model is deleted) and registers it for
 * amxb_be_who_has. Several data models get one context each. */
int amxb_register_dm(amxb_bus_ctx_t** ctx, amxd_dm_t* dm);

/* Connects to a listener at `uri` ("unix:/path/to/socket") and creates a client context in
 * *ctx. Asks the server which top-level objects it serves (waiting at most the default
 * time-out), registers the context for those in amxb_be_who_has, and watches the socket on the
 * amxp loop so that subscription events are delivered by the loop. On failure *ctx is NULL. */
int amxb_connect(amxb_bus_ctx_t** ctx, const char* uri);

/* Creates a listener in *listener on the Unix socket `socket_path` (created with mode 0600;
 * a stale socket file that nobody listens on is replaced, a live one is not) and serves every
 * in-process context, present and future, to the clients that connect, on the amxp loop.
 * Each request is routed to the in-process context serving the longest matching top-level
 * object. Malformed requests get an error reply; a frame larger than AMXB_MAX_FRAME_SIZE gets
 * an error reply and the connection is closed, and so does a request cut short by the client
 * closing its end (shutdown or close); a client that lets more than
 * AMXB_MAX_CLIENT_BACKLOG bytes of replies and events pile up unread is disconnected.
 * A result too large for one frame is sent in parts (a client of this library puts them
 * together; see amxb_set_reply_part_handler), encoded as the client takes them.
 * Connections are limited as amxb_listen_set_limits says (defaults until then). A client that
 * is refused or closed by a limit gets a reply with id 0 saying why, then the connection
 * closes. */
int amxb_listen(amxb_bus_ctx_t** listener, const char* socket_path);

/* Connections a listener serves at once, and how many of them only root and the listening
 * process's own user may take. */
#define AMXB_LISTEN_MAX_CLIENTS 256u
#define AMXB_LISTEN_RESERVED_CLIENTS 16u

/* Memory all clients' incomplete requests may hold together, past the first 4 KiB of each:
 * a client whose large request does not fit waits (unread) until another one completes. */
#define AMXB_LISTEN_REQUEST_ROOM (2u * 1024u * 1024u)

#define AMXB_LISTEN_REQUEST_TIMEOUT_MS 5000u
#define AMXB_LISTEN_PER_USER 32u

/* Limits a listener puts on its clients; 0 in a field means its default.
 *   request_timeout_ms: a request whose first bytes arrived must be complete within this, or
 *     the connection is closed (default AMXB_LISTEN_REQUEST_TIMEOUT_MS);
 *   idle_timeout_ms: a connection with no subscription, nothing half received and nothing to
 *     send is closed after this long without traffic, and so is one whose replies or events
 *     stay unread that long (default: never);
 *   per_user: connections one user may hold (default AMXB_LISTEN_PER_USER). A further one is
 *     refused, except that root and the listening process's own user have their longest idle
 *     connection (or one waiting for room for a large request) closed to let the new one in. */
typedef struct _amxb_listen_limits {
    unsigned int request_timeout_ms;
    unsigned int idle_timeout_ms;
    unsigned int per_user;
} amxb_listen_limits_t;

/* amxd_status_invalid_arg for a context that is not a listener or NULL limits. */
int amxb_listen_set_limits(amxb_bus_ctx_t* listener, const amxb_listen_limits_t* limits);

/* Called once for each client refused by a limit or closed by one (not for one the peer check
 * refuses: that check says so itself), with its credentials and why, on the loop. */
typedef void (*amxb_listen_log_fn_t)(pid_t pid, uid_t uid, const char* what, void* priv);

/* Installs `fn` (NULL: no log). amxd_status_invalid_arg for a context that is not a listener. */
int amxb_listen_set_log(amxb_bus_ctx_t* listener, amxb_listen_log_fn_t fn, void* priv);

/* Decides whether a listener serves a client, from the credentials the kernel recorded when it
 * connected (SO_PEERCRED): true to serve it, false to close the connection at once. Called on
 * the loop for each accepted connection; `priv` is the one given below. */
typedef bool (*amxb_peer_check_fn_t)(pid_t pid, uid_t uid, gid_t gid, void* priv);

/* Installs `fn` (NULL: serve everyone the socket's mode lets in) on a listener. A connection
 * whose credentials cannot be read is closed. amxd_status_invalid_arg for a context that is
 * not a listener. */
int amxb_listen_set_peer_check(amxb_bus_ctx_t* listener, amxb_peer_check_fn_t fn, void* priv);

/* Unsent output a listener keeps per client before it disconnects that client. */
#define AMXB_MAX_CLIENT_BACKLOG (4u * 1024u * 1024u)

/* Replies and events all clients of a listener together have yet to take (a reply sent in parts
 * counts whole until its parts are sent). Past it, clients that have taken nothing of theirs
 * for AMXB_LISTEN_STALL_MS are disconnected, longest first; when that is not enough, so is the
 * client whose reply in parts does not fit. A reply in parts of any size fits when no other
 * client has anything waiting. */
#define AMXB_LISTEN_OUTPUT_ROOM (4u * 1024u * 1024u)
#define AMXB_LISTEN_STALL_MS 100u

/* Unregisters and frees *ctx and sets it to NULL; NULL or *ctx NULL is a no-op. Cancels the
 * context's subscriptions and drops its queued event deliveries. A client context closes its
 * connection; a listener closes every client connection and removes its socket file. May be
 * called from a subscriber's callback, also for the context delivering the event. */
void amxb_free(amxb_bus_ctx_t** ctx);

/* The in-process or client context serving the longest registered top-level object that
 * `path` starts with ("Devices.Device." -> the context serving "Devices."); on a tie, the one
 * registered first. Borrowed; NULL when none serves it. A client context whose connection
 * broke serves nothing. */
amxb_bus_ctx_t* amxb_be_who_has(const char* path);

/* File descriptor of a client context's socket or of a listener; -1 for an in-process
 * context, a broken connection or NULL. The context watches it on the amxp loop itself;
 * do not read from it. */
int amxb_get_fd(const amxb_bus_ctx_t* ctx);

/* Why the last call on `ctx` failed ("" after a success), borrowed until the next call on
 * ctx; for NULL, why the last amxb_connect failed (until the next amxb_connect). */
const char* amxb_last_error(const amxb_bus_ctx_t* ctx);

/* Sets the time-out used when a call passes 0 or less; values of 0 or less restore
 * AMXB_DEFAULT_TIMEOUT_SEC. */
void amxb_set_default_timeout(int sec);
int amxb_get_default_timeout(void);

/* Largest reply a client context puts together from parts; a larger one breaks the
 * connection. */
#define AMXB_MAX_REPLY_SIZE (256u * 1024u * 1024u)

/* Receives the pieces of a reply that a server sends in parts, as they arrive, instead of
 * having them put together: `at` is a list of keys and indices leading from the result to the
 * place where `piece` is appended (see framework/amxb/README.md); pieces at the result itself
 * (an empty `at`) are consecutive members or elements of a table or list, or consecutive
 * slices of a text. The call's `ret` then stays empty; a reply that came in one frame still
 * goes to `ret`. Installed on a client context until replaced (fn NULL: put together again);
 * amxd_status_invalid_arg for another kind of context. */
typedef void (*amxb_reply_part_fn_t)(const amxc_var_t* at, const amxc_var_t* piece, void* priv);
int amxb_set_reply_part_handler(amxb_bus_ctx_t* ctx, amxb_reply_part_fn_t fn, void* priv);

/* ---- Reading ------------------------------------------------------------------------------ */

/* Reads parameters. `ret` (caller's) becomes a LIST whose element 0 is a TABLE mapping each
 * matching object's indexed path (trailing dot) to a TABLE of its parameters.
 * The matching objects: for a template, its instances; for any other object, itself. For a
 * path without trailing dot that names a parameter, the result holds only that parameter of
 * its object. `depth` adds descendants: 0 none, N down to N levels below, -1 all. A template
 * and its instances count as one level, and a template is never listed itself (it has no
 * values; its instances are).
 * Errors: amxd_status_object_not_found when the path names nothing (ret is then NULL-typed). */
int amxb_get(amxb_bus_ctx_t* ctx, const char* path, int32_t depth, amxc_var_t* ret, int timeout_sec);

/* ---- Changing (each call is one transaction: all or nothing) ------------------------------ */

/* Sets the parameters in `values` (a TABLE name -> value, borrowed) of the object at
 * `object_path`. Read-only parameters are refused (amxd_status_read_only or the data model's
 * refusal), as are values the parameter's validation refuses. `ret` (may be NULL) becomes
 * like an amxb_get reply for that object, holding the parameters written. */
int amxb_set(amxb_bus_ctx_t* ctx, const char* object_path, const amxc_var_t* values,
             amxc_var_t* ret, int timeout_sec);

/* Adds an instance to the template at `template_path`: `index` 0 picks the next free index,
 * `name` NULL or "" adds it unnamed; `values` (TABLE, may be NULL) sets its parameters in the
 * same transaction. `ret` (may be NULL) becomes {"path": "<indexed path>.", "index": n,
 * "name": "<name, or the index as text>"}. */
int amxb_add(amxb_bus_ctx_t* ctx, const char* template_path, uint32_t index, const char* name,
             const amxc_var_t* values, amxc_var_t* ret, int timeout_sec);

/* Deletes the instance at `instance_path`. `ret` (may be NULL) becomes a LIST holding its
 * indexed path. amxd_status_not_instantiated when the path names no instance. */
int amxb_del(amxb_bus_ctx_t* ctx, const char* instance_path, amxc_var_t* ret, int timeout_sec);

/* Calls the data-model method `method` of the object at `object_path` with `args` (a TABLE of
 * named arguments or NULL; borrowed, the method may change it in-process). `ret` (may be NULL)
 * receives the method's return value. The method's own status is returned. */
int amxb_call(amxb_bus_ctx_t* ctx, const char* object_path, const char* method,
              amxc_var_t* args, amxc_var_t* ret, int timeout_sec);

/* ---- Watching ----------------------------------------------------------------------------- */

/* Delivers to fn(event name, event data, priv) the events of the object at `object_path` and
 * of all its descendants whose data satisfies the filter `expression` (amxp_expr.h; NULL
 * delivers every event; "" or a malformed expression is refused and nothing is subscribed).
 * An instance's own "dm:instance-added" and "dm:instance-removed" events count as its events.
 * The object need not exist yet (its events start when it appears), but the top-level object
 * of the path must be served by `ctx`: amxd_status_object_not_found otherwise.
 * `priv` is borrowed: cancel the subscription before freeing it. The same path, fn and priv
 * may be subscribed more than once; each subscription delivers. */
int amxb_subscribe(amxb_bus_ctx_t* ctx, const char* object_path, const char* expression,
                   amxp_slot_fn_t fn, void* priv);

/* Cancels every subscription of `ctx` made with this path (trailing dot or not), fn and priv;
 * their events not yet delivered are dropped. On a client context the server is told without
 * waiting for its answer. amxd_status_object_not_found when there was none. */
int amxb_unsubscribe(amxb_bus_ctx_t* ctx, const char* object_path, amxp_slot_fn_t fn, void* priv);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXB_H */
