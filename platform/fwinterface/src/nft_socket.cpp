#include "nft_socket.h"

#include "netfilter_socket.h"

#include <endian.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace fwinterface {
namespace {

// Larger than any datagram nf_tables sends (dumps use at most 32 KiB).
constexpr std::size_t reply_capacity = 64 * 1024;

// Longest wait for a dump to go on; batches are answered before send() returns.
constexpr time_t answer_timeout_seconds = 5;

// Sequence numbers start again from 1 above this, so that no batch runs past the largest.
constexpr std::uint32_t seq_restart = 0xF0000000U;

// Most rules a listed chain may hold before the listing is given up.
constexpr std::size_t listed_rules_max = std::size_t{1} << 21;

constexpr std::uint16_t new_rule_type = (NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_NEWRULE;
constexpr std::uint16_t get_rule_type = (NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_GETRULE;
constexpr std::uint16_t new_set_type = (NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_NEWSET;
constexpr std::uint16_t new_gen_type = (NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_NEWGEN;
constexpr std::uint16_t get_gen_type = (NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_GETGEN;
constexpr std::uint16_t new_element_type = (NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_NEWSETELEM;
constexpr std::uint16_t get_element_type = (NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_GETSETELEM;
constexpr std::uint16_t get_set_type = (NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_GETSET;

// What the kernel needs to queue its answers to a batch without dropping any: every
// acknowledgement is a buffer of its own, and echoed rules are about as long as the
// messages that added them; both counted with the kernel's bookkeeping on top.
std::size_t answer_room(const NftBatch& batch) {
    return 2 * batch.bytes().size() + 1024 * std::size_t{batch.messages()} + 256 * 1024;
}

std::string describe_errno(int error) { return std::strerror(error); }

int keep_handle(const nlattr* attribute, void* data) {
    if(mnl_attr_get_type(attribute) == NFTA_RULE_HANDLE && mnl_attr_validate(attribute, MNL_TYPE_U64) >= 0) {
        *static_cast<std::uint64_t*>(data) = be64toh(mnl_attr_get_u64(attribute));
    }
    return MNL_CB_OK;
}

// The handle of a rule message, 0 when it has none.
std::uint64_t rule_handle(const nlmsghdr* message) {
    std::uint64_t handle = 0;
    if(mnl_nlmsg_get_payload_len(message) >= sizeof(nfgenmsg)) {
        mnl_attr_parse(message, sizeof(nfgenmsg), keep_handle, &handle);
    }
    return handle;
}

struct SetNames {
    std::string table;
    std::string name;
};

int keep_set_names(const nlattr* attribute, void* data) {
    auto& names = *static_cast<SetNames*>(data);
    if(mnl_attr_validate(attribute, MNL_TYPE_NUL_STRING) < 0) {
        return MNL_CB_OK;
    }
    if(mnl_attr_get_type(attribute) == NFTA_SET_TABLE) {
        names.table = mnl_attr_get_str(attribute);
    } else if(mnl_attr_get_type(attribute) == NFTA_SET_NAME) {
        names.name = mnl_attr_get_str(attribute);
    }
    return MNL_CB_OK;
}

int count_one(const nlattr* /*element*/, void* data) {
    ++*static_cast<std::size_t*>(data);
    return MNL_CB_OK;
}

int count_elements(const nlattr* attribute, void* data) {
    if(mnl_attr_get_type(attribute) == NFTA_SET_ELEM_LIST_ELEMENTS) {
        mnl_attr_parse_nested(attribute, count_one, data);
    }
    return MNL_CB_OK;
}

int keep_generation(const nlattr* attribute, void* data) {
    if(mnl_attr_get_type(attribute) == NFTA_GEN_ID && mnl_attr_validate(attribute, MNL_TYPE_U32) >= 0) {
        *static_cast<std::uint32_t*>(data) = be32toh(mnl_attr_get_u32(attribute));
    }
    return MNL_CB_OK;
}

int keep_text(const nlattr* attribute, void* data) {
    if(mnl_attr_get_type(attribute) == NLMSGERR_ATTR_MSG && mnl_attr_validate(attribute, MNL_TYPE_NUL_STRING) >= 0) {
        *static_cast<std::string*>(data) = mnl_attr_get_str(attribute);
    }
    return MNL_CB_OK;
}

// The text an extended acknowledgement carries, "" when there is none.
std::string ack_text(const nlmsghdr* message) {
    std::string text;
    if((message->nlmsg_flags & NLM_F_ACK_TLVS) == 0) {
        return text;
    }
    const auto* error = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(message));
    std::size_t offset = sizeof(nlmsgerr);
    if((message->nlmsg_flags & NLM_F_CAPPED) == 0) {
        offset += error->msg.nlmsg_len - sizeof(nlmsghdr);
    }
    if(mnl_nlmsg_get_payload_len(message) > offset) {
        mnl_attr_parse(message, static_cast<unsigned>(offset), keep_text, &text);
    }
    return text;
}

// The errno an error message carries, or -1 when it is too short to hold one.
int error_of(const nlmsghdr* message) {
    if(mnl_nlmsg_get_payload_len(message) < sizeof(nlmsgerr)) {
        return -1;
    }
    return -static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(message))->error;
}

int socket_size(std::size_t bytes) { return bytes > INT_MAX / 2 ? INT_MAX / 2 : static_cast<int>(bytes); }

}  // namespace

std::unique_ptr<NftSocket> NftSocket::open(std::string& error) {
    // Short acknowledgements (without the request copied back) with the kernel's own words.
    mnl_socket* socket = open_netfilter_socket(answer_timeout_seconds, true, error);
    return socket == nullptr ? nullptr : std::unique_ptr<NftSocket>(new NftSocket(socket));
}

NftSocket::NftSocket(mnl_socket* socket) : socket_(socket), reply_(reply_capacity) {}

NftSocket::~NftSocket() { mnl_socket_close(socket_); }

void NftSocket::advance_seq(std::uint32_t used) {
    next_seq_ = next_seq_ >= seq_restart - used ? 1 : next_seq_ + used;
}

// The kernel refuses a datagram larger than the send buffer and drops answers that do not
// fit the receive buffer, so both grow with the batch. Forcing needs CAP_NET_ADMIN, which
// nf_tables needs anyway; without it the plain limits apply.
bool NftSocket::fit_buffers(std::size_t send_bytes, std::size_t reply_bytes) {
    const int fd = mnl_socket_get_fd(socket_);
    bool fits = true;
    if(send_bytes > send_buffer_) {
        const int size = socket_size(send_bytes);
        if(setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof(size)) == 0) {
            send_buffer_ = send_bytes;
        } else {
            fits = setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size)) == 0;
        }
    }
    if(reply_bytes > receive_buffer_) {
        const int size = socket_size(reply_bytes);
        if(setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size)) == 0) {
            receive_buffer_ = reply_bytes;
        } else {
            fits = setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size)) == 0 && fits;
        }
    }
    return fits;
}

BatchResult NftSocket::send(const NftBatch& batch) {
    BatchResult result;
    result.handles.assign(batch.messages(), 0);
    advance_seq(batch.messages() + 2);

    fit_buffers(batch.bytes().size() + 64 * 1024, answer_room(batch));
    if(starve_next_) {
        starve_next_ = false;
        const int smallest = 0;
        setsockopt(mnl_socket_get_fd(socket_), SOL_SOCKET, SO_RCVBUF, &smallest, sizeof(smallest));
        receive_buffer_ = 0;
    }
    // A datagram to the kernel is taken whole or not at all: when sending fails, the kernel
    // saw nothing of the batch.
    if(mnl_socket_sendto(socket_, batch.bytes().data(), batch.bytes().size()) < 0) {
        result.outcome = BatchResult::Outcome::refused;
        result.error = errno;
        result.error_seq = batch.first_seq();
        return result;
    }
    read_answers(batch, result);
    return result;
}

// nfnetlink handles a batch within the sender's system call, so every answer is queued by
// the time sendto() returns: reading until the queue is empty reads them all, without
// waiting. Any refusal aborts the whole batch in the kernel; answers can only be missing
// when the receive buffer overflowed.
void NftSocket::read_answers(const NftBatch& batch, BatchResult& result) {
    const std::uint32_t first = batch.first_seq();
    const std::uint32_t last = first + batch.messages() + 1;
    std::uint32_t answered = 0;
    bool refused = false;
    bool lost = false;
    const int fd = mnl_socket_get_fd(socket_);
    for(;;) {
        ssize_t length = recv(fd, reply_.data(), reply_.size(), MSG_DONTWAIT | MSG_TRUNC);
        if(length < 0) {
            if(errno == EINTR) {
                continue;
            }
            if(errno == ENOBUFS) {
                lost = true;
                result.error = ENOBUFS;
                continue;
            }
            if(errno != EAGAIN && errno != EWOULDBLOCK) {
                lost = true;
                result.error = errno;
            }
            break;
        }
        if(static_cast<std::size_t>(length) > reply_.size()) {
            lost = true;
            result.error = EMSGSIZE;
            continue;
        }
        int remaining = static_cast<int>(length);
        for(auto* message = reinterpret_cast<const nlmsghdr*>(reply_.data()); mnl_nlmsg_ok(message, remaining);
            message = mnl_nlmsg_next(message, &remaining)) {
            const std::uint32_t seq = message->nlmsg_seq;
            if(seq < first || seq > last) {
                continue;  // left over from an earlier exchange
            }
            if(message->nlmsg_type == NLMSG_ERROR) {
                ++answered;
                const int error = error_of(message);
                if(error != 0 && !refused) {
                    refused = true;
                    result.error = error < 0 ? EPROTO : error;
                    result.error_seq = seq;
                    result.kernel_message = ack_text(message);
                }
            } else if(message->nlmsg_type == new_rule_type && seq > first && seq < last) {
                result.handles[seq - first - 1] = rule_handle(message);
            }
        }
    }
    if(refused) {
        result.outcome = BatchResult::Outcome::refused;
    } else if(lost || answered < batch.messages()) {
        result.outcome = BatchResult::Outcome::unknown;
        if(result.error == 0) {
            result.error = ENOBUFS;
        }
    } else {
        result.outcome = BatchResult::Outcome::committed;
    }
}

bool NftSocket::list_handles(TableRef table, std::string_view chain, std::vector<std::uint64_t>& handles,
                             std::string& error) {
    NetlinkWriter request;
    const auto ask = [&](std::uint32_t seq) {
        request = NetlinkWriter();
        request.begin_message(get_rule_type, NLM_F_DUMP, seq, table.ipv6 ? NFPROTO_IPV6 : NFPROTO_IPV4);
        request.put_string(NFTA_RULE_TABLE, table.table);
        request.put_string(NFTA_RULE_CHAIN, chain);
        request.end_message();
        handles.clear();
        return request.bytes();
    };
    const auto keep = [&](const nlmsghdr* message) {
        if(message->nlmsg_type != new_rule_type) {
            return true;
        }
        if(handles.size() >= listed_rules_max) {
            error = "too many rules in chain " + std::string(chain);
            return false;
        }
        handles.push_back(rule_handle(message));
        return true;
    };
    return dump("rules", ask, keep, error);
}

bool NftSocket::list_sets(TableRef table, std::vector<std::string>& names, std::string& error) {
    NetlinkWriter request;
    const auto ask = [&](std::uint32_t seq) {
        request = NetlinkWriter();
        request.begin_message(get_set_type, NLM_F_DUMP, seq, table.ipv6 ? NFPROTO_IPV6 : NFPROTO_IPV4);
        request.put_string(NFTA_SET_TABLE, table.table);
        request.end_message();
        names.clear();
        return request.bytes();
    };
    const auto keep = [&](const nlmsghdr* message) {
        if(message->nlmsg_type != new_set_type) {
            return true;
        }
        if(names.size() >= listed_rules_max) {
            error = "too many sets in table " + std::string(table.table);
            return false;
        }
        SetNames found;
        if(mnl_nlmsg_get_payload_len(message) >= sizeof(nfgenmsg)) {
            mnl_attr_parse(message, sizeof(nfgenmsg), keep_set_names, &found);
        }
        if(found.table == table.table && !found.name.empty()) {
            names.push_back(std::move(found.name));
        }
        return true;
    };
    return dump("sets", ask, keep, error);
}

bool NftSocket::count_set_elements(TableRef table, std::string_view set, std::size_t& count, std::string& error) {
    NetlinkWriter request;
    const auto ask = [&](std::uint32_t seq) {
        request = NetlinkWriter();
        request.begin_message(get_element_type, NLM_F_DUMP, seq, table.ipv6 ? NFPROTO_IPV6 : NFPROTO_IPV4);
        request.put_string(NFTA_SET_ELEM_LIST_TABLE, table.table);
        request.put_string(NFTA_SET_ELEM_LIST_SET, set);
        request.end_message();
        count = 0;
        return request.bytes();
    };
    const auto keep = [&](const nlmsghdr* message) {
        if(message->nlmsg_type == new_element_type && mnl_nlmsg_get_payload_len(message) >= sizeof(nfgenmsg)) {
            mnl_attr_parse(message, sizeof(nfgenmsg), count_elements, &count);
        }
        return true;
    };
    return dump("set elements", ask, keep, error);
}

bool NftSocket::generation(std::uint32_t& id, std::string& error) {
    const std::uint32_t seq = next_seq_;
    advance_seq(1);
    NetlinkWriter request;
    request.begin_message(get_gen_type, NLM_F_ACK, seq, AF_UNSPEC);
    request.end_message();
    if(mnl_socket_sendto(socket_, request.bytes().data(), request.bytes().size()) < 0) {
        error = "cannot ask the kernel for the ruleset generation: " + describe_errno(errno);
        return false;
    }
    bool found = false;
    for(;;) {
        const ssize_t length = recv(mnl_socket_get_fd(socket_), reply_.data(), reply_.size(), MSG_TRUNC);
        if(length < 0 && errno == EINTR) {
            continue;
        }
        if(length < 0 || static_cast<std::size_t>(length) > reply_.size()) {
            error = "no answer from the kernel about the ruleset generation";
            return false;
        }
        int remaining = static_cast<int>(length);
        for(auto* message = reinterpret_cast<const nlmsghdr*>(reply_.data()); mnl_nlmsg_ok(message, remaining);
            message = mnl_nlmsg_next(message, &remaining)) {
            if(message->nlmsg_seq != seq) {
                continue;
            }
            if(message->nlmsg_type == new_gen_type && mnl_nlmsg_get_payload_len(message) >= sizeof(nfgenmsg)) {
                found = mnl_attr_parse(message, sizeof(nfgenmsg), keep_generation, &id) >= 0;
            } else if(message->nlmsg_type == NLMSG_ERROR) {
                const int code = error_of(message);
                if(code != 0 || !found) {
                    error = "the kernel did not tell the ruleset generation: " + describe_errno(code <= 0 ? EPROTO : code);
                    return false;
                }
                return true;
            }
        }
    }
}

bool NftSocket::dump(std::string_view what, const std::function<std::span<const std::byte>(std::uint32_t)>& ask,
                     const std::function<bool(const nlmsghdr*)>& keep, std::string& error, bool* missing) {
    const int fd = mnl_socket_get_fd(socket_);
    // A dump interrupted by a change of the ruleset is not consistent; read it again.
    for(int attempt = 0; attempt < 3; ++attempt) {
        const std::uint32_t seq = next_seq_;
        advance_seq(1);
        const std::span<const std::byte> request = ask(seq);
        if(mnl_socket_sendto(socket_, request.data(), request.size()) < 0) {
            error = "cannot ask the kernel for the " + std::string(what) + ": " + describe_errno(errno);
            return false;
        }
        bool interrupted = false;
        bool done = false;
        if(missing != nullptr) {
            *missing = false;
        }
        while(!done) {
            ssize_t length = recv(fd, reply_.data(), reply_.size(), MSG_TRUNC);
            if(length < 0) {
                if(errno == EINTR) {
                    continue;
                }
                error = "no full answer from the kernel to a listing: " + describe_errno(errno);
                return false;
            }
            if(static_cast<std::size_t>(length) > reply_.size()) {
                error = "an answer of the kernel too long to read";
                return false;
            }
            int remaining = static_cast<int>(length);
            for(auto* message = reinterpret_cast<const nlmsghdr*>(reply_.data());
                !done && mnl_nlmsg_ok(message, remaining); message = mnl_nlmsg_next(message, &remaining)) {
                if(message->nlmsg_seq != seq) {
                    continue;
                }
                interrupted = interrupted || (message->nlmsg_flags & NLM_F_DUMP_INTR) != 0;
                if(message->nlmsg_type == NLMSG_DONE) {
                    done = true;
                } else if(message->nlmsg_type == NLMSG_ERROR) {
                    const int code = error_of(message);
                    if(code != ENOENT) {  // no such table or chain: nothing in it
                        error = "the kernel refused a listing: " + describe_errno(code < 0 ? EPROTO : code);
                        return false;
                    }
                    if(missing != nullptr) {
                        *missing = true;
                    }
                    done = true;
                } else if(!keep(message)) {
                    return false;
                }
            }
        }
        if(!interrupted) {
            return true;
        }
    }
    error = "the " + std::string(what) + " kept changing while they were read";
    return false;
}

}  // namespace fwinterface
