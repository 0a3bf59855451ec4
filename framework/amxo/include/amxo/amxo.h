/* The definition loader: reads definition files, builds the data model they declare and binds
 * the functions they name to the modules they import.
 *
 * A definition file holds, in any order:
 *   %config { key = value; ... }          configuration values (text, integer, true/false,
 *                                         [list], { table }), readable with
 *                                         amxo_parser_get_config
 *   import "module.so" as "alias";        a module (dlopen); relative names are looked up in
 *                                         the file's folder, then in the import folders
 *   entry-point alias.function;           a function called by amxo_parser_invoke_entry_points
 *   include "other.def";                  another file, relative to this one
 *   %define { object ... }                objects, parameters, methods, actions and events
 *   %populate { object ... }              instances and values written by one transaction
 * Double-quoted texts expand ${name} with the text of a configuration value; single-quoted
 * texts are taken as written. The folder's README.md describes the whole language.
 *
 * Loads are all-or-nothing: a file (with everything it includes) that fails leaves the data
 * model, the configuration, the modules and the entry points exactly as they were, and the
 * message ("file.def:LINE: what") tells why.
 *
 * Lifetime: the data model holds pointers into the imported modules (actions, methods, event
 * handlers). Stop the modules (amxo_parser_invoke_entry_points with reason 1) and delete the
 * data model BEFORE deleting the parser, which unloads them.
 *
 * Thread: a parser, and the data model it loads into, belong to the event loop's thread. */
#ifndef AMXO_H
#define AMXO_H

#include <amxc/amxc_variant.h>
#include <amxd/amxd_types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque. Owns its configuration, the modules it imported and their entry points. */
typedef struct _amxo_parser amxo_parser_t;

/* Opaque types stay above: their C++ insides are the library's own. */
#pragma GCC visibility push(default) /* the library hides all but its API */

/* A module's entry point: reason 0 start, 1 stop; 0 means success. */
typedef int (*amxo_entry_point_t)(int reason, amxd_dm_t* dm, amxo_parser_t* parser);

/* Creates an empty parser in *parser (owned by the caller: amxo_parser_delete).
 * 0, or -1 (nothing allocated) when parser is NULL or memory runs out. */
int amxo_parser_new(amxo_parser_t** parser);

/* Unloads the imported modules (dlclose, last imported first), frees everything and sets
 * *parser to NULL. NULL-safe. The modules' entry points must have had reason 1 already, and
 * data models loaded through this parser must be deleted already (see Lifetime above). */
void amxo_parser_delete(amxo_parser_t** parser);

/* Loads the definition file `path` into the tree below `root` (normally amxd_dm_get_root(dm)):
 * %define objects are created below root, %populate paths are relative to root, event
 * bindings go to root's data model. 0 on success; -1 on any error, with nothing of the file
 * kept, and the message set. Files over 4 MiB, blocks nested over 32 levels and tokens over
 * 64 KiB are refused. */
int amxo_parser_parse_file(amxo_parser_t* parser, const char* path, amxd_object_t* root);

/* Same as amxo_parser_parse_file for a text (named "<string>" in messages). It has no folder:
 * relative imports are looked up in the import folders only, relative includes against the
 * current directory. */
int amxo_parser_parse_string(amxo_parser_t* parser, const char* text, amxd_object_t* root);

/* The message of the last failed call ("file.def:12: unknown function '_foo'"), or "" after a
 * call that succeeded. Borrowed; valid until the next call on the parser. "" for NULL. */
const char* amxo_parser_get_message(const amxo_parser_t* parser);

/* The configuration value at a dotted path ("prefix_", "firewall.backend"; "" is the whole
 * table), or NULL when absent. Borrowed: valid until the next successful parse or
 * amxo_parser_set_config that changes the configuration. */
amxc_var_t* amxo_parser_get_config(amxo_parser_t* parser, const char* path);

/* Sets a configuration value (copied) at a dotted path, creating tables on the way. Values set
 * here win over the values of %config sections, whether those are parsed before or after:
 * this is how a runtime's command line overrides files. 0, or -1 when an argument is NULL, the
 * path is empty, has more than 32 components or runs through a value that is not a table
 * (nothing changed). */
int amxo_parser_set_config(amxo_parser_t* parser, const char* path, amxc_var_t* value);

/* Calls the entry points of every loaded file: reason 0 in load order, reason 1 in reverse
 * order (any other reason in load order). Returns how many returned non-zero (all are called
 * anyway), or -1 for a NULL parser. An entry point may load more files; those entry points
 * are not called in this round. */
int amxo_parser_invoke_entry_points(amxo_parser_t* parser, amxd_dm_t* dm, int reason);

/* Adds a folder searched for relative imports, after the importing file's own folder and the
 * folders added before. 0, or -1 when an argument is NULL or empty. */
int amxo_parser_add_import_dir(amxo_parser_t* parser, const char* dir);

/* Confines later loads through `parser` to the text they are given, for definitions from an
 * untrusted source: include statements are refused, and an import names a plain file (no '/')
 * that is looked up in the import folders only. Cannot be undone. 0, or -1 for a NULL parser. */
int amxo_parser_confine(amxo_parser_t* parser);

/* Whether `path`, the dotted path of a key written in a %config section ("firewall.backend"),
 * is one the caller knows. */
typedef bool (*amxo_config_key_check_t)(const char* path, void* priv);

/* Makes later loads through `parser` refuse %config keys `known` does not accept, members of
 * table values included, so a misspelt key fails the load ("file.conf:7: unknown
 * configuration key 'fire_wall'") instead of being ignored. `priv` stays the caller's; NULL
 * `known` accepts every key again. 0, or -1 for a NULL parser. */
int amxo_parser_check_config_keys(amxo_parser_t* parser, amxo_config_key_check_t known, void* priv);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif /* AMXO_H */
