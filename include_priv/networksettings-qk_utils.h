#ifndef NETWORKSETTINGS_QK_UTILS_H
#define NETWORKSETTINGS_QK_UTILS_H

/* Address checks shared by the module and exported for other modules. Both are pure: NULL
 * or "" is simply not an address. */

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

/* POSIX extended patterns, anchored at both ends. */
extern const char* IPv4_regexp;
extern const char* IPv6_regexp;
extern const char* macaddr_regexp;

/* 4 for an IPv4 address text, 6 for an IPv6 one (IPv4 is tried first), 0 otherwise. */
int check_is_valid_ip(const char* value_str);

/* Whether the text is six colon-separated pairs of hexadecimal digits. */
bool check_is_valid_macaddr(const char* value_str);

#ifdef __cplusplus
}

#include <string>

#include <amxd/amxd.h>

/* Whether a text is NULL or "". */
bool util_is_empty_text(const char* text);

/* A parameter of `object` as text; "" when it is absent or cannot be read. */
std::string util_param_text(const amxd_object_t* object, const char* name);

/* Refuses a value in a validate action: `why` goes to the client through `retval` (when
 * given); returns amxd_status_invalid_value. */
amxd_status_t util_refuse(amxc_var_t* retval, const std::string& why);
#endif

#endif
