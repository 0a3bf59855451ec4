#ifndef TESTS_NFTABLES_PROBE_H
#define TESTS_NFTABLES_PROBE_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "netns.h"
#include "probe_frame.h"
#include "topology.h"

namespace nfttest {

// The client's MAC on c0 (netns-topology.sh).
inline constexpr MacAddress client_mac{0x02, 0x99, 0x01, 0x00, 0x00, 0x02};

// Besides the server itself, the router sends these prefixes to the server, so that probes
// can have destinations other than the server's address.
inline constexpr const char* routed_prefix_v4 = "10.99.4.0/24";
inline constexpr const char* routed_prefix_v6 = "fd99:4::/64";

// Whether the router forwards a packet from `source` at all once the Prober prepared it:
// not from the router's or the server's side addresses, nor from addresses no host has
// (unspecified, loopback, broadcast, multicast, link-local, subnet anycast).
bool forwardable_source(const IpAddress& source);

// Whether the router forwards a packet to `destination` to the server: the server's
// address or one of the routed prefixes.
bool reachable_destination(const IpAddress& destination);

// Sends crafted frames from the client's c0 to the router and sees which of them the router
// forwards to the server's s0, through packet sockets opened in those namespaces.
class Prober {
public:
    // Lets the router forward any source (no reverse-path filter) and route the routed
    // prefixes to the server, then opens the sockets.
    explicit Prober(const Topology& net);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // Sends every probe in one burst and tells for each whether it reached the server.
    // Waits until `expected_arrivals` probes arrived and a short grace after, for probes
    // that should not arrive, or at most until a fixed time after the last one was sent.
    // Empty, with error() set, when the sockets fail.
    std::vector<bool> send(std::span<const Probe> probes, std::size_t expected_arrivals);

private:
    bool prepare_router(const Topology& net);
    bool open_sender(const Topology& net);
    bool open_capture(const Topology& net);
    void drain_capture();
    bool transmit(std::span<const Probe> probes, std::uint32_t first_tag);
    std::vector<bool> collect(std::uint32_t first_tag, std::size_t count, std::size_t expected_arrivals);
    bool fail(const std::string& what);

    MacAddress router_mac_{};
    int client_ifindex_ = 0;
    Fd sender_;
    Fd capture_;
    std::uint32_t next_tag_ = 1;
    std::string error_;
};

}  // namespace nfttest

#endif  // TESTS_NFTABLES_PROBE_H
