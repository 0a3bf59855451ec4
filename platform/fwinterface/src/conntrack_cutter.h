#ifndef FWINTERFACE_CONNTRACK_CUTTER_H
#define FWINTERFACE_CONNTRACK_CUTTER_H

// A forward chain usually accepts established flows before our rules see them, so a new DROP
// rule would not stop a connection that is already open. Removing the conntrack entries the
// rule covers makes the flow's next packet a new one, which then meets the rule.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rule_reader.h"

struct mnl_socket;

namespace fwinterface {

// The original direction of a conntrack entry, as far as rules can match it.
struct FlowTuple {
    std::array<std::uint8_t, 16> source{};  // 4 bytes used for IPv4, the rest zero
    std::array<std::uint8_t, 16> destination{};
    std::uint8_t protocol = 0;
    std::optional<std::uint16_t> source_port;  // for protocols with ports
    std::optional<std::uint16_t> destination_port;
    int icmp_type = -1;  // for ICMP and ICMPv6
    int icmp_code = -1;
};

// `address` with the bits past its first `prefix` cleared.
std::array<std::uint8_t, 16> network_of(const std::array<std::uint8_t, 16>& address, unsigned prefix);

// Whether `rule` stops this flow, so that its entry is to be removed. Only DROP and REJECT
// rules stop flows; a rule with a MAC match covers none, since conntrack records no MAC.
bool rule_covers(const RuleSpec& rule, const FlowTuple& flow);

// What names a conntrack entry to the kernel for its removal, as its dump gave it.
struct ConntrackEntryName {
    std::vector<std::uint8_t> original_tuple;  // payload of the nested original tuple
    std::optional<std::uint16_t> zone;          // network order, when not the default zone
    std::optional<std::uint32_t> id;            // network order; another entry with the same
                                                // tuple is then left alone
};

// A ctnetlink socket in the network namespace of the thread that opened it. Every wait for
// the kernel is bounded.
class ConntrackSocket {
public:
    enum class Outcome : std::uint8_t {
        done,
        no_conntrack,  // the kernel has no conntrack here (module missing): nothing to read
        failed         // reason in `error`
    };

    // nullptr when the socket cannot be opened; `outcome` says whether that is an error.
    static std::unique_ptr<ConntrackSocket> open(Outcome& outcome, std::string& error);
    ~ConntrackSocket();
    ConntrackSocket(const ConntrackSocket&) = delete;
    ConntrackSocket& operator=(const ConntrackSocket&) = delete;

    // Reads the entries of one family once; the names of those `select` returns true for are
    // appended to `selected`. Entries whose tuple cannot be read are passed over.
    Outcome dump(bool ipv6, const std::function<bool(const FlowTuple&)>& select,
                 std::vector<ConntrackEntryName>& selected, std::string& error);

    // How many entries the kernel tracks in this namespace, when it says.
    std::optional<std::uint32_t> tracked();

    // Removes the named entries; those already gone are not counted in `removed`. On failure
    // the other entries are still tried and `error` names the first refusal.
    bool remove(bool ipv6, std::span<const ConntrackEntryName> entries, std::size_t& removed,
                std::string& error);

private:
    explicit ConntrackSocket(mnl_socket* socket);
    std::uint32_t take_seq(std::uint32_t count);

    mnl_socket* socket_;
    std::uint32_t next_seq_ = 1;
    std::vector<std::uint8_t> reply_;  // one datagram of the kernel's answer
};

// Removes, in the calling thread's network namespace, the conntrack entries of one family
// (IPv4 or IPv6) whose original direction one of `rules` covers (see rule_covers), with one
// dump of the table; `removed` says how many. No conntrack in the kernel is nothing to cut.
// A rule no chain of the family can hold (prefix, port range, ICMP value out of range) is
// refused before anything is removed.
bool cut_connections(std::span<const RuleSpec> rules, bool ipv6, std::size_t& removed, std::string& error);

// The same through a socket kept open: closing a ctnetlink socket makes the kernel wait for a
// grace period (milliseconds), too long to pay per commit.
bool cut_connections(ConntrackSocket& socket, std::span<const RuleSpec> rules, bool ipv6, std::size_t& removed,
                     std::string& error);

}  // namespace fwinterface

#endif  // FWINTERFACE_CONNTRACK_CUTTER_H
