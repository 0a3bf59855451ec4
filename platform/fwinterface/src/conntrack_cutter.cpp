#include "conntrack_cutter.h"

#include "netfilter_socket.h"

#include <endian.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netfilter/nfnetlink_conntrack.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "flow_cover.h"
#include "netlink_writer.h"

namespace fwinterface {
namespace {

// Larger than any datagram a ctnetlink dump sends.
constexpr std::size_t reply_capacity = 64 * 1024;

// Longest wait for the next answer of the kernel.
constexpr time_t answer_timeout_seconds = 5;

// A dump of a very large table is given up after this, rather than holding the caller.
constexpr auto dump_time_max = std::chrono::seconds(30);

// Removals sent in one datagram: their acknowledgements fit the default receive buffer.
constexpr std::size_t removals_per_datagram = 64;

constexpr std::uint16_t ct_new_type = (NFNL_SUBSYS_CTNETLINK << 8) | IPCTNL_MSG_CT_NEW;
constexpr std::uint16_t ct_get_type = (NFNL_SUBSYS_CTNETLINK << 8) | IPCTNL_MSG_CT_GET;
constexpr std::uint16_t ct_delete_type = (NFNL_SUBSYS_CTNETLINK << 8) | IPCTNL_MSG_CT_DELETE;
constexpr std::uint16_t ct_stats_type = (NFNL_SUBSYS_CTNETLINK << 8) | IPCTNL_MSG_CT_GET_STATS;

std::uint8_t family_of(bool ipv6) { return ipv6 ? AF_INET6 : AF_INET; }

// Errors that mean the kernel has no conntrack to talk to: nfnetlink answers EINVAL for a
// subsystem it does not have (nf_conntrack_netlink not loaded); EOPNOTSUPP and ENOENT say
// that the table asked about does not exist. A bare dump request has nothing else invalid.
bool means_no_conntrack(int error) {
    return error == EOPNOTSUPP || error == ENOENT || error == EINVAL || error == EPROTONOSUPPORT;
}

// The attributes of one nest, by type; absent ones are nullptr.
template <std::size_t Max>
using Attributes = std::array<const nlattr*, Max + 1>;

template <std::size_t Max>
int keep_attribute(const nlattr* attribute, void* data) {
    const auto type = mnl_attr_get_type(attribute);
    if(type <= Max) {
        (*static_cast<Attributes<Max>*>(data))[type] = attribute;
    }
    return MNL_CB_OK;
}

template <std::size_t Max>
Attributes<Max> nested(const nlattr* nest) {
    Attributes<Max> attributes{};
    if(nest != nullptr) {
        mnl_attr_parse_nested(nest, keep_attribute<Max>, &attributes);
    }
    return attributes;
}

// The payload of an attribute of exactly `size` bytes; nullptr when it is absent or of
// another size.
const std::uint8_t* fixed_payload(const nlattr* attribute, std::size_t size) {
    if(attribute == nullptr || mnl_attr_get_payload_len(attribute) != size) {
        return nullptr;
    }
    return static_cast<const std::uint8_t*>(mnl_attr_get_payload(attribute));
}

std::optional<std::uint16_t> port_of(const nlattr* attribute) {
    const std::uint8_t* payload = fixed_payload(attribute, 2);
    if(payload == nullptr) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(payload[0] << 8 | payload[1]);
}

int byte_of(const nlattr* attribute) {
    const std::uint8_t* payload = fixed_payload(attribute, 1);
    return payload == nullptr ? -1 : payload[0];
}

// Reads an original tuple; false when its addresses (of the family asked for) or its
// protocol are missing.
bool read_tuple(const nlattr* tuple, bool ipv6, FlowTuple& flow) {
    const auto parts = nested<CTA_TUPLE_MAX>(tuple);
    const auto ip = nested<CTA_IP_MAX>(parts[CTA_TUPLE_IP]);
    const std::size_t address_size = ipv6 ? 16 : 4;
    const std::uint8_t* source = fixed_payload(ip[ipv6 ? CTA_IP_V6_SRC : CTA_IP_V4_SRC], address_size);
    const std::uint8_t* destination = fixed_payload(ip[ipv6 ? CTA_IP_V6_DST : CTA_IP_V4_DST], address_size);
    const auto proto = nested<CTA_PROTO_MAX>(parts[CTA_TUPLE_PROTO]);
    const std::uint8_t* protocol = fixed_payload(proto[CTA_PROTO_NUM], 1);
    if(source == nullptr || destination == nullptr || protocol == nullptr) {
        return false;
    }
    std::copy_n(source, address_size, flow.source.begin());
    std::copy_n(destination, address_size, flow.destination.begin());
    flow.protocol = *protocol;
    flow.source_port = port_of(proto[CTA_PROTO_SRC_PORT]);
    flow.destination_port = port_of(proto[CTA_PROTO_DST_PORT]);
    flow.icmp_type = byte_of(proto[ipv6 ? CTA_PROTO_ICMPV6_TYPE : CTA_PROTO_ICMP_TYPE]);
    flow.icmp_code = byte_of(proto[ipv6 ? CTA_PROTO_ICMPV6_CODE : CTA_PROTO_ICMP_CODE]);
    return true;
}

struct DumpState {
    bool ipv6;
    const std::function<bool(const FlowTuple&)>& select;
    std::vector<ConntrackEntryName>& selected;
    bool out_of_memory = false;  // no exception crosses libmnl's C frames
};

int read_entry(const nlmsghdr* message, void* data) {
    auto& state = *static_cast<DumpState*>(data);
    if(message->nlmsg_type != ct_new_type || mnl_nlmsg_get_payload_len(message) < sizeof(nfgenmsg)) {
        return MNL_CB_OK;
    }
    Attributes<CTA_MAX> top{};
    mnl_attr_parse(message, sizeof(nfgenmsg), keep_attribute<CTA_MAX>, &top);
    const nlattr* tuple = top[CTA_TUPLE_ORIG];
    FlowTuple flow;
    if(tuple == nullptr || !read_tuple(tuple, state.ipv6, flow) || !state.select(flow)) {
        return MNL_CB_OK;
    }
    try {
        ConntrackEntryName& name = state.selected.emplace_back();
        const auto* payload = static_cast<const std::uint8_t*>(mnl_attr_get_payload(tuple));
        name.original_tuple.assign(payload, payload + mnl_attr_get_payload_len(tuple));
        if(const std::uint8_t* zone = fixed_payload(top[CTA_ZONE], 2)) {
            std::memcpy(&name.zone.emplace(), zone, 2);
        }
        if(const std::uint8_t* id = fixed_payload(top[CTA_ID], 4)) {
            std::memcpy(&name.id.emplace(), id, 4);
        }
    } catch(const std::bad_alloc&) {
        state.out_of_memory = true;
        return MNL_CB_ERROR;
    }
    return MNL_CB_OK;
}

template <typename Value>
std::span<const std::uint8_t> bytes_of(const Value& value) {
    return {reinterpret_cast<const std::uint8_t*>(&value), sizeof(value)};
}

bool within_prefix(const AddressMatch& match, const std::array<std::uint8_t, 16>& address) {
    // Every byte the prefix reaches, the last one as far as it reaches it.
    const std::size_t reached = (std::min(match.prefix, 128U) + 7) / 8;
    const std::array<std::uint8_t, 16> network = network_of(address, match.prefix);
    return std::equal(network.begin(), network.begin() + static_cast<std::ptrdiff_t>(reached), match.bytes.begin());
}

bool within_ports(const PortMatch& match, std::optional<std::uint16_t> port) {
    return match.first == 0 || (port && *port >= match.first && *port <= match.last);
}

bool stops_flows(const RuleSpec& rule) {
    return (rule.verdict == Verdict::drop || rule.verdict == Verdict::reject) && !rule.mac;
}

// Refuses what no rule of the chain's family can hold, so that a caller's mistake is named
// instead of cutting the wrong flows.
bool check_rule(const RuleSpec& rule, bool ipv6, std::string& error) {
    const unsigned address_bits = ipv6 ? 128 : 32;
    for(const auto& address : {rule.source, rule.destination}) {
        if(address && (address->prefix == 0 || address->prefix > address_bits)) {
            error = "a rule with an address prefix of " + std::to_string(address->prefix) + " bits";
            return false;
        }
    }
    for(const PortMatch& ports : {rule.source_port, rule.destination_port}) {
        if(ports.first > ports.last) {
            error = "a rule with a port range from " + std::to_string(ports.first) + " down to " +
                    std::to_string(ports.last);
            return false;
        }
    }
    if(rule.icmp_type > 255 || rule.icmp_code > 255) {
        error = "a rule with an ICMP type or code above 255";
        return false;
    }
    return true;
}

std::string describe_errno(int error) { return std::strerror(error); }

}  // namespace

std::array<std::uint8_t, 16> network_of(const std::array<std::uint8_t, 16>& address, unsigned prefix) {
    std::array<std::uint8_t, 16> network{};
    const unsigned bits = std::min(prefix, 128U);
    const unsigned whole = bits / 8;
    std::copy_n(address.begin(), whole, network.begin());
    if(bits % 8 != 0) {
        network[whole] = static_cast<std::uint8_t>(address[whole] & (0xFFU << (8 - bits % 8)));
    }
    return network;
}

bool rule_covers(const RuleSpec& rule, const FlowTuple& flow) {
    if(!stops_flows(rule)) {
        return false;
    }
    if((rule.source && !within_prefix(*rule.source, flow.source)) ||
       (rule.destination && !within_prefix(*rule.destination, flow.destination))) {
        return false;
    }
    if(rule.protocol != 0 && rule.protocol != flow.protocol) {
        return false;
    }
    if(!within_ports(rule.source_port, flow.source_port) ||
       !within_ports(rule.destination_port, flow.destination_port)) {
        return false;
    }
    return (rule.icmp_type < 0 || rule.icmp_type == flow.icmp_type) &&
           (rule.icmp_code < 0 || rule.icmp_code == flow.icmp_code);
}

std::unique_ptr<ConntrackSocket> ConntrackSocket::open(Outcome& outcome, std::string& error) {
    outcome = Outcome::failed;
    // Short acknowledgements: the removals need only their error codes back.
    mnl_socket* socket = open_netfilter_socket(answer_timeout_seconds, false, error);
    if(socket == nullptr) {
        if(errno == EPROTONOSUPPORT) {
            outcome = Outcome::no_conntrack;
        }
        return nullptr;
    }
    outcome = Outcome::done;
    return std::unique_ptr<ConntrackSocket>(new ConntrackSocket(socket));
}

ConntrackSocket::ConntrackSocket(mnl_socket* socket) : socket_(socket), reply_(reply_capacity) {}

ConntrackSocket::~ConntrackSocket() { mnl_socket_close(socket_); }

std::uint32_t ConntrackSocket::take_seq(std::uint32_t count) {
    const std::uint32_t first = next_seq_;
    next_seq_ += count;
    return first;
}

ConntrackSocket::Outcome ConntrackSocket::dump(bool ipv6, const std::function<bool(const FlowTuple&)>& select,
                                               std::vector<ConntrackEntryName>& selected, std::string& error) {
    const std::uint32_t seq = take_seq(1);
    NetlinkWriter request;
    request.begin_message(ct_get_type, NLM_F_DUMP, seq, family_of(ipv6));
    request.end_message();
    if(mnl_socket_sendto(socket_, request.bytes().data(), request.bytes().size()) < 0) {
        error = "cannot ask the kernel for its conntrack entries: " + describe_errno(errno);
        return Outcome::failed;
    }
    DumpState state{ipv6, select, selected};
    const int fd = mnl_socket_get_fd(socket_);
    const auto deadline = std::chrono::steady_clock::now() + dump_time_max;
    for(;;) {
        if(std::chrono::steady_clock::now() > deadline) {
            error = "the conntrack dump took too long";
            return Outcome::failed;
        }
        ssize_t length = recv(fd, reply_.data(), reply_.size(), MSG_TRUNC);
        if(length < 0) {
            if(errno == EINTR) {
                continue;
            }
            error = "no full answer from the kernel to the conntrack dump: " + describe_errno(errno);
            return Outcome::failed;
        }
        if(static_cast<std::size_t>(length) > reply_.size()) {
            error = "an answer of the kernel too long to read";
            return Outcome::failed;
        }
        const int run = mnl_cb_run(reply_.data(), static_cast<std::size_t>(length), seq,
                                   mnl_socket_get_portid(socket_), read_entry, &state);
        if(run == MNL_CB_STOP) {
            return Outcome::done;
        }
        if(run < 0) {
            if(state.out_of_memory) {
                error = "out of memory";
                return Outcome::failed;
            }
            if(means_no_conntrack(errno)) {
                return Outcome::no_conntrack;
            }
            error = "the kernel refused the conntrack dump: " + describe_errno(errno);
            return Outcome::failed;
        }
    }
}

std::optional<std::uint32_t> ConntrackSocket::tracked() {
    const std::uint32_t seq = take_seq(1);
    NetlinkWriter request;
    request.begin_message(ct_stats_type, 0, seq, AF_UNSPEC);
    request.end_message();
    if(mnl_socket_sendto(socket_, request.bytes().data(), request.bytes().size()) < 0) {
        return std::nullopt;
    }
    const ssize_t length = recv(mnl_socket_get_fd(socket_), reply_.data(), reply_.size(), 0);
    std::optional<std::uint32_t> count;
    auto read_count = [](const nlmsghdr* message, void* data) {
        if(message->nlmsg_type == ct_stats_type && mnl_nlmsg_get_payload_len(message) >= sizeof(nfgenmsg)) {
            Attributes<CTA_STATS_GLOBAL_MAX> top{};
            mnl_attr_parse(message, sizeof(nfgenmsg), keep_attribute<CTA_STATS_GLOBAL_MAX>, &top);
            if(const std::uint8_t* entries = fixed_payload(top[CTA_STATS_GLOBAL_ENTRIES], 4)) {
                std::uint32_t value = 0;
                std::memcpy(&value, entries, sizeof(value));
                *static_cast<std::optional<std::uint32_t>*>(data) = be32toh(value);
            }
        }
        return MNL_CB_OK;
    };
    if(length <= 0 || mnl_cb_run(reply_.data(), static_cast<std::size_t>(length), seq, mnl_socket_get_portid(socket_),
                                 read_count, &count) < 0) {
        return std::nullopt;
    }
    return count;
}

bool ConntrackSocket::remove(bool ipv6, std::span<const ConntrackEntryName> entries, std::size_t& removed,
                             std::string& error) {
    removed = 0;
    int refusal = 0;
    const int fd = mnl_socket_get_fd(socket_);
    for(std::size_t start = 0; start < entries.size(); start += removals_per_datagram) {
        const auto chunk = entries.subspan(start, std::min(removals_per_datagram, entries.size() - start));
        const auto count = static_cast<std::uint32_t>(chunk.size());
        const std::uint32_t first = take_seq(count);
        NetlinkWriter request;
        for(std::uint32_t i = 0; i < count; ++i) {
            const ConntrackEntryName& entry = chunk[i];
            request.begin_message(ct_delete_type, NLM_F_ACK, first + i, family_of(ipv6));
            request.put(CTA_TUPLE_ORIG | NLA_F_NESTED, entry.original_tuple);
            if(entry.zone) {
                request.put(CTA_ZONE, bytes_of(*entry.zone));
            }
            if(entry.id) {
                request.put(CTA_ID, bytes_of(*entry.id));
            }
            request.end_message();
        }
        if(mnl_socket_sendto(socket_, request.bytes().data(), request.bytes().size()) < 0) {
            error = "cannot ask the kernel to remove conntrack entries: " + describe_errno(errno);
            return false;
        }
        // Every removal is answered by one acknowledgement, in order.
        std::uint32_t answered = 0;
        while(answered < count) {
            ssize_t length = recv(fd, reply_.data(), reply_.size(), MSG_TRUNC);
            if(length < 0) {
                if(errno == EINTR) {
                    continue;
                }
                error = "no answer from the kernel to a conntrack removal: " + describe_errno(errno);
                return false;
            }
            int remaining = static_cast<int>(std::min(static_cast<std::size_t>(length), reply_.size()));
            for(auto* message = reinterpret_cast<const nlmsghdr*>(reply_.data()); mnl_nlmsg_ok(message, remaining);
                message = mnl_nlmsg_next(message, &remaining)) {
                const std::uint32_t seq = message->nlmsg_seq;
                if(message->nlmsg_type != NLMSG_ERROR || seq < first || seq - first >= count ||
                   mnl_nlmsg_get_payload_len(message) < sizeof(nlmsgerr)) {
                    continue;  // not an answer to this datagram
                }
                ++answered;
                const int code = -static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(message))->error;
                if(code == 0) {
                    ++removed;
                } else if(code != ENOENT && refusal == 0) {  // ENOENT: gone already
                    refusal = code < 0 ? EPROTO : code;
                }
            }
        }
    }
    if(refusal != 0) {
        error = "the kernel refused to remove a conntrack entry: " + describe_errno(refusal);
        return false;
    }
    return true;
}

bool cut_connections(std::span<const RuleSpec> rules, bool ipv6, std::size_t& removed, std::string& error) {
    removed = 0;
    ConntrackSocket::Outcome outcome{};
    auto socket = ConntrackSocket::open(outcome, error);
    if(socket == nullptr) {
        for(const RuleSpec& rule : rules) {
            if(!check_rule(rule, ipv6, error)) {
                return false;
            }
        }
        return outcome == ConntrackSocket::Outcome::no_conntrack;
    }
    return cut_connections(*socket, rules, ipv6, removed, error);
}

bool cut_connections(ConntrackSocket& socket, std::span<const RuleSpec> rules, bool ipv6, std::size_t& removed,
                     std::string& error) {
    removed = 0;
    for(const RuleSpec& rule : rules) {
        if(!check_rule(rule, ipv6, error)) {
            return false;
        }
    }
    if(std::none_of(rules.begin(), rules.end(), stops_flows)) {
        return true;
    }
    // The dump walks the kernel's whole conntrack hash table, whoever's entries are in it: not
    // worth it when this namespace tracks nothing.
    if(socket.tracked() == std::optional<std::uint32_t>(0)) {
        return true;
    }
    // Called once the rules are in: running out of memory here is a cut that failed, not a
    // commit that did.
    try {
        // One dump, every entry against the rules whose source holds its own.
        const FlowCover cover(rules);
        auto covered = [&cover](const FlowTuple& flow) { return cover.covers(flow); };
        std::vector<ConntrackEntryName> doomed;
        const ConntrackSocket::Outcome outcome = socket.dump(ipv6, covered, doomed, error);
        if(outcome != ConntrackSocket::Outcome::done) {
            return outcome == ConntrackSocket::Outcome::no_conntrack;
        }
        return socket.remove(ipv6, doomed, removed, error);
    } catch(const std::bad_alloc&) {
        error = "out of memory";
        return false;
    }
}

}  // namespace fwinterface
