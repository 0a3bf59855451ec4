#ifndef FWINTERFACE_NFT_SOCKET_H
#define FWINTERFACE_NFT_SOCKET_H

#include <cstdint>
#include <functional>
#include <span>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "nft_messages.h"

struct mnl_socket;
struct nlmsghdr;

namespace fwinterface {

// The kernel's answer to one batch.
struct BatchResult {
    enum class Outcome : std::uint8_t {
        committed,  // every message acknowledged: the whole batch landed
        refused,    // the kernel refused a message, so none of the batch landed
        unknown     // some answers were lost: whether the batch landed must be read back
    };
    Outcome outcome = Outcome::unknown;
    int error = 0;               // errno of the first refusal or of the failure to read
    std::uint32_t error_seq = 0; // message the refusal is about (the batch-begin one: the whole batch)
    std::string kernel_message;  // the kernel's own words about the refusal, when it gave some
    // Per message (sequence number - first - 1): the handle the kernel gave an added rule
    // (from its echo), 0 for other messages.
    std::vector<std::uint64_t> handles;
};

// A netlink socket to nf_tables in the network namespace of the thread that opened it.
// Every call waits for the kernel's answer, at most a few seconds.
class NftSocket {
public:
    // nullptr, with the reason in `error`, when the socket cannot be opened.
    static std::unique_ptr<NftSocket> open(std::string& error);
    ~NftSocket();
    NftSocket(const NftSocket&) = delete;
    NftSocket& operator=(const NftSocket&) = delete;

    // The sequence number the next batch starts with.
    std::uint32_t next_seq() const { return next_seq_; }

    // Sends a finished batch made with next_seq() and reads every answer the kernel queued.
    BatchResult send(const NftBatch& batch);

    // The handles of the rules of one chain, in chain order (a missing table or chain has
    // none). false, with the reason in `error`, when the kernel does not answer in full.
    bool list_handles(TableRef table, std::string_view chain, std::vector<std::uint64_t>& handles,
                      std::string& error);

    // The rules of one chain in chain order, each with its handle and written in nft's syntax
    // (nft_rule_text.h). `missing` tells a missing table or chain from an empty one. false,
    // with the reason in `error`, when the kernel does not answer in full.
    struct ListedRule {
        std::uint64_t handle = 0;
        std::string text;
    };
    bool list_rules(TableRef table, std::string_view chain, std::vector<ListedRule>& rules, bool& missing,
                    std::string& error);

    // A table as `nft list table` writes it: its sets with their elements, then its chains
    // with their rules, each rule ending in "# handle <n>"; "" for a missing table. false, with
    // the reason in `error`, when the kernel does not answer in full.
    bool list_table(TableRef table, std::string& text, std::string& error);

    // The names of the sets of one table (a missing table has none). false, with the reason
    // in `error`, when the kernel does not answer in full.
    bool list_sets(TableRef table, std::vector<std::string>& names, std::string& error);

    // How many elements a set of the table holds (a missing set holds none). false, with the
    // reason in `error`, when the kernel does not answer in full.
    bool count_set_elements(TableRef table, std::string_view set, std::size_t& count, std::string& error);

    // The ruleset's generation id now. false, with the reason in `error`, when the kernel
    // does not answer.
    bool generation(std::uint32_t& id, std::string& error);

    // For tests: the next send() gets the smallest receive buffer the kernel allows, so that
    // the kernel's answers overflow it, as when the system runs short of memory.
    void starve_next_send(bool starve) { starve_next_ = starve; }

private:
    explicit NftSocket(mnl_socket* socket);
    void advance_seq(std::uint32_t used);
    bool fit_buffers(std::size_t send_bytes, std::size_t reply_bytes);
    void read_answers(const NftBatch& batch, BatchResult& result);
    // Sends the request `ask` writes for a sequence number and hands every message of the
    // kernel's answer to `keep` (false stops with `error` set); asks again when the listing was
    // interrupted by a change. A missing table, chain or set lists nothing and sets `*missing`.
    bool dump(std::string_view what, const std::function<std::span<const std::byte>(std::uint32_t)>& ask,
              const std::function<bool(const nlmsghdr*)>& keep, std::string& error, bool* missing = nullptr);
    // The chains of a table in the kernel's order: name, and the hook line of a base chain.
    bool list_chains(TableRef table, std::vector<std::pair<std::string, std::string>>& chains, std::string& error);
    bool write_chains(TableRef table, std::string& text, std::string& error);
    bool write_sets(TableRef table, std::string& text, std::string& error);
    bool write_elements(TableRef table, std::string_view set, bool intervals, std::string& text, std::string& error);

    mnl_socket* socket_;
    std::uint32_t next_seq_ = 1;
    std::size_t send_buffer_ = 0;     // the sizes last forced on the socket
    std::size_t receive_buffer_ = 0;
    bool starve_next_ = false;
    std::vector<std::uint8_t> reply_;  // one datagram of the kernel's answer
};

}  // namespace fwinterface

#endif  // FWINTERFACE_NFT_SOCKET_H
