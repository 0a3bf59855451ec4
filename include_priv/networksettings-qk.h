#ifndef NETWORKSETTINGS_QK_H
#define NETWORKSETTINGS_QK_H

/* The module's entry point and its one service context. The context borrows everything it
 * holds from the runtime: nothing reached through these accessors is freed by the module. */

#include <amxd/amxd.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _amxo_parser amxo_parser_t;
typedef struct _amxb_bus_ctx amxb_bus_ctx_t;

/* Called by the runtime: reason 0 starts the module, 1 stops it, anything else does nothing.
 * Always returns 0. */
int _networksettings_main(int reason, amxd_dm_t* dm, amxo_parser_t* parser);

/* The stored context; every accessor returns NULL while the module is stopped. */
amxd_dm_t* networksettings_get_dm(void);
amxo_parser_t* networksettings_get_parser(void);
amxb_bus_ctx_t* networksettings_get_ctx(void);
amxd_object_t* networksettings_get_root(void);

/* The "prefix_" configuration text, "" when absent, not a text, or stopped; never NULL.
 * Borrowed from the parser's configuration. */
const char* networksettings_get_vendor_prefix(void);

/* The only values written to AccessControl.Status. */
extern const char* status_active;
extern const char* status_inactive;
extern const char* status_error;
extern const char* status_scheduleinactive;

#ifdef __cplusplus
}
#endif

#endif
