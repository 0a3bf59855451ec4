#ifndef FWINTERFACE_NETFILTER_SOCKET_H
#define FWINTERFACE_NETFILTER_SOCKET_H

#include <ctime>
#include <string>

struct mnl_socket;

namespace fwinterface {

// A netfilter netlink socket in the calling thread's network namespace, bound, asking for
// short acknowledgements (and the kernel's own words with `extended_ack`), whose reads give
// up after `timeout_seconds`. nullptr, with the reason in `error` and errno kept, when it
// cannot be opened.
mnl_socket* open_netfilter_socket(time_t timeout_seconds, bool extended_ack, std::string& error);

}  // namespace fwinterface

#endif  // FWINTERFACE_NETFILTER_SOCKET_H
