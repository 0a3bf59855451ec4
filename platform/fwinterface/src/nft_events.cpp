#include "nft_events.h"

#include "netfilter_socket.h"

#include <endian.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netlink.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace fwinterface {
namespace {

// Room for the notifications of the largest batch this backend sends (a chain written anew
// with every source of a full chain), read only after that batch returned.
constexpr int receive_room = 64 * 1024 * 1024;

constexpr std::size_t datagram_capacity = 64 * 1024;

using Attributes = std::array<const nlattr*, 16>;

int keep_attribute(const nlattr* attribute, void* data) {
    auto& attributes = *static_cast<Attributes*>(data);
    const auto type = static_cast<std::size_t>(mnl_attr_get_type(attribute));
    if(type < attributes.size()) {
        attributes[type] = attribute;
    }
    return MNL_CB_OK;
}

std::string_view text_of(const nlattr* attribute) {
    if(attribute == nullptr || mnl_attr_validate(attribute, MNL_TYPE_NUL_STRING) < 0) {
        return {};
    }
    return mnl_attr_get_str(attribute);
}

std::uint32_t u32_of(const nlattr* attribute) {
    if(attribute == nullptr || mnl_attr_validate(attribute, MNL_TYPE_U32) < 0) {
        return 0;
    }
    return be32toh(mnl_attr_get_u32(attribute));
}

// What each notification type is about: its table, chain and set attributes, and its words.
struct Kind {
    int message;
    int table;
    int chain;
    int set;
    const char* what;
};

// A table added again changes nothing we own (nft and iptables-nft add theirs with every
// command), so only its deletion counts.
constexpr std::array<Kind, 9> kinds{{
    {NFT_MSG_DELTABLE, NFTA_TABLE_NAME, 0, 0, "deleted table"},
    {NFT_MSG_NEWCHAIN, NFTA_CHAIN_TABLE, NFTA_CHAIN_NAME, 0, "changed chain"},
    {NFT_MSG_DELCHAIN, NFTA_CHAIN_TABLE, NFTA_CHAIN_NAME, 0, "deleted chain"},
    {NFT_MSG_NEWRULE, NFTA_RULE_TABLE, NFTA_RULE_CHAIN, 0, "added a rule to"},
    {NFT_MSG_DELRULE, NFTA_RULE_TABLE, NFTA_RULE_CHAIN, 0, "deleted a rule of"},
    {NFT_MSG_NEWSET, NFTA_SET_TABLE, 0, NFTA_SET_NAME, "changed set"},
    {NFT_MSG_DELSET, NFTA_SET_TABLE, 0, NFTA_SET_NAME, "deleted set"},
    {NFT_MSG_NEWSETELEM, NFTA_SET_ELEM_LIST_TABLE, 0, NFTA_SET_ELEM_LIST_SET, "added elements to set"},
    {NFT_MSG_DELSETELEM, NFTA_SET_ELEM_LIST_TABLE, 0, NFTA_SET_ELEM_LIST_SET, "deleted elements of set"},
}};

}  // namespace

std::unique_ptr<NftEvents> NftEvents::open(std::string& error) {
    mnl_socket* socket = open_netfilter_socket(0, false, error);
    if(socket == nullptr) {
        return nullptr;
    }
    auto events = std::unique_ptr<NftEvents>(new NftEvents(socket));
    if(!events->listen(true)) {
        error = std::string("cannot subscribe to nf_tables notifications: ") + std::strerror(errno);
        return nullptr;
    }
    const int fd = mnl_socket_get_fd(socket);
    if(setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receive_room, sizeof(receive_room)) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_room, sizeof(receive_room));
    }
    return events;
}

bool NftEvents::listen(bool on) {
    int group = NFNLGRP_NFTABLES;
    if(mnl_socket_setsockopt(socket_, on ? NETLINK_ADD_MEMBERSHIP : NETLINK_DROP_MEMBERSHIP, &group, sizeof(group)) < 0) {
        lost_ = true;
        return false;
    }
    return true;
}

NftEvents::NftEvents(mnl_socket* socket) : socket_(socket), buffer_(datagram_capacity) {}

NftEvents::~NftEvents() { mnl_socket_close(socket_); }

int NftEvents::fd() const { return mnl_socket_get_fd(socket_); }

void NftEvents::read(const Owned& owned) {
    for(;;) {
        const ssize_t length = recv(fd(), buffer_.data(), buffer_.size(), MSG_DONTWAIT | MSG_TRUNC);
        if(length < 0) {
            if(errno == EINTR) {
                continue;
            }
            if(errno == ENOBUFS) {
                lost_ = true;
                continue;
            }
            return;  // nothing more queued
        }
        if(static_cast<std::size_t>(length) > buffer_.size()) {
            lost_ = true;
            continue;
        }
        int remaining = static_cast<int>(length);
        for(auto* message = reinterpret_cast<const nlmsghdr*>(buffer_.data()); mnl_nlmsg_ok(message, remaining);
            message = mnl_nlmsg_next(message, &remaining)) {
            if((message->nlmsg_type >> 8) != NFNL_SUBSYS_NFTABLES ||
               mnl_nlmsg_get_payload_len(message) < sizeof(nfgenmsg)) {
                continue;
            }
            if((message->nlmsg_type & 0xff) == NFT_MSG_NEWGEN) {
                close_generation(message);
            } else {
                note(message, owned);
            }
        }
    }
}

void NftEvents::note(const nlmsghdr* message, const Owned& owned) {
    const int type = message->nlmsg_type & 0xff;
    const Kind* kind = nullptr;
    for(const Kind& k : kinds) {
        kind = k.message == type ? &k : kind;
    }
    const auto* header = static_cast<const nfgenmsg*>(mnl_nlmsg_get_payload(message));
    if(kind == nullptr || (header->nfgen_family != NFPROTO_IPV4 && header->nfgen_family != NFPROTO_IPV6)) {
        return;
    }
    Attributes attributes{};
    mnl_attr_parse(message, sizeof(nfgenmsg), keep_attribute, &attributes);
    Subject subject{header->nfgen_family == NFPROTO_IPV6, text_of(attributes[kind->table]),
                    kind->chain != 0 ? text_of(attributes[kind->chain]) : std::string_view{},
                    kind->set != 0 ? text_of(attributes[kind->set]) : std::string_view{}};
    const Concern concern = subject.table.empty() ? Concern::none : owned(subject);
    if(concern != Concern::owned) {
        return;
    }
    std::string what = std::string(kind->what) + (subject.ipv6 ? " ip6 " : " ip ") + std::string(subject.table);
    if(!subject.chain.empty() || !subject.set.empty()) {
        what += ' ' + std::string(subject.chain.empty() ? subject.set : subject.chain);
    }
    ++current_[what];
    if(type == NFT_MSG_NEWRULE && attributes[NFTA_RULE_HANDLE] != nullptr &&
       mnl_attr_validate(attributes[NFTA_RULE_HANDLE], MNL_TYPE_U64) >= 0) {
        current_rules_.push_back(ForeignRule{subject.ipv6, std::string(subject.table), std::string(subject.chain),
                                             be64toh(mnl_attr_get_u64(attributes[NFTA_RULE_HANDLE]))});
    }
}

void NftEvents::close_generation(const nlmsghdr* message) {
    Attributes attributes{};
    mnl_attr_parse(message, sizeof(nfgenmsg), keep_attribute, &attributes);
    generation_ = u32_of(attributes[NFTA_GEN_ID]);
    const std::string_view name = text_of(attributes[NFTA_GEN_PROC_NAME]);
    const std::string maker = std::string(name) + " (pid " + std::to_string(u32_of(attributes[NFTA_GEN_PROC_PID])) + ")";
    for(const auto& [what, count] : current_) {
        found_[maker][what] += count;
    }
    foreign_rules_.insert(foreign_rules_.end(), current_rules_.begin(), current_rules_.end());
    current_.clear();
    current_rules_.clear();
}

std::string NftEvents::take_findings() {
    std::string text;
    for(const auto& [maker, changes] : found_) {
        text += (text.empty() ? "" : "; ") + maker;
        const char* separator = " ";
        for(const auto& [what, count] : changes) {
            text += separator + what + (count > 1 ? " (" + std::to_string(count) + " times)" : "");
            separator = ", ";
        }
    }
    found_.clear();
    return text;
}

std::vector<NftEvents::ForeignRule> NftEvents::take_foreign_rules() {
    std::vector<ForeignRule> rules = std::move(foreign_rules_);
    foreign_rules_.clear();
    return rules;
}

}  // namespace fwinterface
