/* Umbrella header of the value library. */
#ifndef AMXC_H
#define AMXC_H

#include <amxc/amxc_common.h>
#include <amxc/amxc_htable.h>
#include <amxc/amxc_llist.h>
#include <amxc/amxc_macros.h>
#include <amxc/amxc_string.h>
#include <amxc/amxc_string_split.h>
#include <amxc/amxc_variant.h>

#endif /* AMXC_H */
