#ifndef PORTFORWARDINGRULE_DM_H
#define PORTFORWARDINGRULE_DM_H

/* Validation of list-valued port and protocol parameters. */

#include <amxd/amxd.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Parameter validate action: the value must be a comma-separated list of whole numbers, each
 * within the inclusive bounds "min" and "max" of the table given as action data (`priv`).
 * An empty value is valid. */
amxd_status_t _networksettings_list_check_range(amxd_object_t* object, amxd_param_t* param, amxd_action_t reason,
                                                const amxc_var_t* const args, amxc_var_t* const retval, void* priv);

#ifdef __cplusplus
}
#endif

#endif
