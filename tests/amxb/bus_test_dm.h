// The data model the bus tests and benchmarks run against, in-process or in a server child:
//   Hosts.Host.{i}            HostName
//     IPv4Address.{i}         IPAddress
//   Device.Test               Name, Status (read-only), Port (uint32, 1..65535), Enable (bool)
//                             methods Echo(any args) -> args, Fail() -> invalid value,
//                             Flood(count) -> sets Port count times (at most 10000), one
//                             transaction each
// Filled with Host.1 "alpha" (IPv4 192.168.1.10 and .11) and Host.2 "beta" (no addresses).
#ifndef BUS_TEST_DM_H
#define BUS_TEST_DM_H

#include <amxd/amxd.h>

// A new data model as above, owned by the caller (amxd_dm_delete). Events of the filling are
// already queued on the loop: run amxp_loop_run_pending() before subscribing.
amxd_dm_t* bus_test_dm_new(void);

#endif
