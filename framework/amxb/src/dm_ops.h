// Requests carried out on a data model of this process: what an in-process context does, and
// what a listener does on behalf of its clients.
#ifndef AMXB_DM_OPS_H
#define AMXB_DM_OPS_H

#include <amxd/amxd.h>

#include "bus_ctx.h"

namespace amxb {

// Carries out a get, set, add, del or call on `dm`. `ret` receives the result; on failure it
// is NULL-typed and the outcome says why.
Outcome dm_execute(amxd_dm_t* dm, const Request& request, amxc_var_t* ret);

// The get reply for `path` (see amxb_get).
Outcome dm_get(amxd_dm_t* dm, const std::string& path, int32_t depth, amxc_var_t* ret);

// "<what>: <status text>" with the status, for refusals that the data model did not word.
Outcome refusal(int status, const std::string& what);

}  // namespace amxb

#endif
