#include "netfilter_socket.h"

#include <libmnl/libmnl.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>

namespace fwinterface {

mnl_socket* open_netfilter_socket(time_t timeout_seconds, bool extended_ack, std::string& error) {
    mnl_socket* socket = mnl_socket_open(NETLINK_NETFILTER);
    if(socket == nullptr) {
        error = std::string("cannot open a netfilter netlink socket: ") + std::strerror(errno);
        return nullptr;
    }
    if(mnl_socket_bind(socket, 0, MNL_SOCKET_AUTOPID) < 0) {
        const int failure = errno;
        error = std::string("cannot bind the netfilter netlink socket: ") + std::strerror(failure);
        mnl_socket_close(socket);
        errno = failure;
        return nullptr;
    }
    int on = 1;
    mnl_socket_setsockopt(socket, NETLINK_CAP_ACK, &on, sizeof(on));
    if(extended_ack) {
        mnl_socket_setsockopt(socket, NETLINK_EXT_ACK, &on, sizeof(on));
    }
    const timeval timeout{timeout_seconds, 0};
    setsockopt(mnl_socket_get_fd(socket), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    return socket;
}

}  // namespace fwinterface
