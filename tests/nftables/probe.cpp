#include "probe.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "netns.h"

namespace nfttest {
namespace {

using Clock = std::chrono::steady_clock;

// Forwarding one probe takes microseconds; these only bound how long a step may wait.
constexpr auto wait_after_last_send = std::chrono::milliseconds(300);
constexpr auto grace_after_expected = std::chrono::milliseconds(30);
constexpr int capture_buffer = 4 * 1024 * 1024;

struct Prefix {
    const char* network;
    unsigned length;
};

bool in_any(const IpAddress& address, std::span<const Prefix> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(), [&address](const Prefix& prefix) {
        std::optional<IpAddress> network = parse_ip(prefix.network, address.ipv6);
        return network && in_prefix(address, *network, prefix.length);
    });
}

std::string errno_text(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

bool forwardable_source(const IpAddress& source) {
    static constexpr Prefix refused_v4[] = {
        {"0.0.0.0", 8},     {"127.0.0.0", 8},    {"169.254.0.0", 16}, {"224.0.0.0", 3},
        {"10.99.1.0", 32},  {"10.99.1.1", 32},   {"10.99.1.255", 32},  // the router's side
        {"10.99.2.0", 24},  {"10.99.4.0", 24},                         // the server's side
    };
    static constexpr Prefix refused_v6[] = {
        {"::", 96},          {"::ffff:0.0.0.0", 96}, {"fe80::", 10},     {"ff00::", 8},
        {"fd99:1::", 128},   {"fd99:1::1", 128},     {"fd99:2::", 64},   {"fd99:4::", 64},
    };
    return source.ipv6 ? !in_any(source, refused_v6) : !in_any(source, refused_v4);
}

bool reachable_destination(const IpAddress& destination) {
    static constexpr Prefix reachable_v4[] = {{"10.99.2.2", 32}, {"10.99.4.0", 24}};
    static constexpr Prefix reachable_v6[] = {{"fd99:2::2", 128}, {"fd99:4::", 64}};
    return destination.ipv6 ? in_any(destination, reachable_v6) : in_any(destination, reachable_v4);
}

Prober::Prober(const Topology& net) {
    if(prepare_router(net) && open_sender(net)) {
        open_capture(net);
    }
}

bool Prober::fail(const std::string& what) {
    if(error_.empty()) {
        error_ = what;
    }
    return false;
}

bool Prober::prepare_router(const Topology& net) {
    // Probes come from addresses the router has no route back to over r0.
    CommandResult sysctl = exec_in(net.router(), {"sysctl", "-qw", "net.ipv4.conf.all.rp_filter=0",
                                                  "net.ipv4.conf.default.rp_filter=0", "net.ipv4.conf.r0.rp_filter=0"});
    if(sysctl.status != 0) {
        return fail("cannot turn the reverse-path filter off: " + sysctl.output);
    }
    for(auto [prefix, via] : {std::pair{routed_prefix_v4, "10.99.2.2"}, std::pair{routed_prefix_v6, "fd99:2::2"}}) {
        CommandResult route = exec_in(net.router(), {"ip", "route", "add", prefix, "via", via});
        if(route.status != 0) {
            return fail(std::string("cannot route ") + prefix + ": " + route.output);
        }
    }
    Inside inside(net.router());
    if(!inside.ok()) {
        return fail("cannot enter " + net.router());
    }
    Fd socket_fd{socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    ifreq request{};
    std::strncpy(request.ifr_name, "r0", IFNAMSIZ - 1);
    if(socket_fd.fd < 0 || ioctl(socket_fd.fd, SIOCGIFHWADDR, &request) != 0) {
        return fail(errno_text("cannot read the MAC of r0"));
    }
    std::memcpy(router_mac_.data(), request.ifr_hwaddr.sa_data, router_mac_.size());
    return true;
}

bool Prober::open_sender(const Topology& net) {
    Inside inside(net.client());
    if(!inside.ok()) {
        return fail("cannot enter " + net.client());
    }
    sender_.fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    client_ifindex_ = static_cast<int>(if_nametoindex("c0"));
    if(sender_.fd < 0 || client_ifindex_ == 0) {
        return fail(errno_text("cannot open a packet socket on c0"));
    }
    return true;
}

bool Prober::open_capture(const Topology& net) {
    Inside inside(net.server());
    if(!inside.ok()) {
        return fail("cannot enter " + net.server());
    }
    capture_.fd = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(if_nametoindex("s0"));
    if(capture_.fd < 0 || address.sll_ifindex == 0 ||
       bind(capture_.fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return fail(errno_text("cannot capture on s0"));
    }
    // A burst must fit in the socket's queue, beyond the default limit.
    if(setsockopt(capture_.fd, SOL_SOCKET, SO_RCVBUFFORCE, &capture_buffer, sizeof(capture_buffer)) != 0) {
        return fail(errno_text("cannot enlarge the capture buffer"));
    }
    return true;
}

void Prober::drain_capture() {
    std::uint8_t frame[2048];
    while(recv(capture_.fd, frame, sizeof(frame), 0) >= 0) {
    }
}

std::vector<bool> Prober::send(std::span<const Probe> probes, std::size_t expected_arrivals) {
    if(!ok()) {
        return {};
    }
    drain_capture();
    const std::uint32_t first_tag = next_tag_;
    next_tag_ += static_cast<std::uint32_t>(probes.size());
    if(!transmit(probes, first_tag)) {
        return {};
    }
    return collect(first_tag, probes.size(), expected_arrivals);
}

bool Prober::transmit(std::span<const Probe> probes, std::uint32_t first_tag) {
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = client_ifindex_;
    to.sll_halen = static_cast<unsigned char>(router_mac_.size());
    std::memcpy(to.sll_addr, router_mac_.data(), router_mac_.size());
    for(std::size_t i = 0; i < probes.size(); ++i) {
        const std::uint32_t tag = first_tag + static_cast<std::uint32_t>(i);
        const std::vector<std::uint8_t> frame = probe_frame(probes[i], router_mac_, tag);
        ssize_t sent = -1;
        for(int attempt = 0; attempt < 100 && sent < 0; ++attempt) {
            sent = sendto(sender_.fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                          sizeof(to));
            if(sent < 0 && errno != ENOBUFS && errno != EAGAIN) {
                break;
            }
            if(sent < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the device queue is full
            }
        }
        if(sent != static_cast<ssize_t>(frame.size())) {
            return fail(errno_text("cannot send probe " + std::to_string(i)));
        }
    }
    return true;
}

std::vector<bool> Prober::collect(std::uint32_t first_tag, std::size_t count, std::size_t expected_arrivals) {
    std::vector<bool> arrived(count, false);
    std::size_t arrivals = 0;
    Clock::time_point deadline = Clock::now() + wait_after_last_send;
    bool graced = false;
    for(;;) {
        if(!graced && arrivals >= expected_arrivals) {
            deadline = std::min(deadline, Clock::now() + grace_after_expected);
            graced = true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if(left.count() <= 0) {
            return arrived;
        }
        pollfd poller{capture_.fd, POLLIN, 0};
        if(poll(&poller, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        std::uint8_t frame[2048];
        sockaddr_ll from{};
        socklen_t from_size = sizeof(from);
        ssize_t size;
        while((size = recvfrom(capture_.fd, frame, sizeof(frame), 0, reinterpret_cast<sockaddr*>(&from),
                               &from_size)) >= 0) {
            from_size = sizeof(from);
            if(from.sll_pkttype == PACKET_OUTGOING) {
                continue;  // the server's own answers
            }
            std::optional<std::uint32_t> tag = probe_tag(std::span(frame, static_cast<std::size_t>(size)));
            if(tag && *tag >= first_tag && *tag - first_tag < count && !arrived[*tag - first_tag]) {
                arrived[*tag - first_tag] = true;
                ++arrivals;
            }
        }
    }
}

}  // namespace nfttest
