#ifndef FWINTERFACE_NFT_EVENTS_H
#define FWINTERFACE_NFT_EVENTS_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct mnl_socket;
struct nlmsghdr;

namespace fwinterface {

// The nf_tables notifications of the namespace, read to learn of changes other programs make
// to what this backend owns. The backend leaves the subscription while it commits, so that the
// kernel neither builds nor queues a notification per element of its own batches; every
// generation reported is someone else's.
class NftEvents {
public:
    // What a notification is about; `chain` or `set` is empty when it names none.
    struct Subject {
        bool ipv6 = false;
        std::string_view table;
        std::string_view chain;
        std::string_view set;
    };
    // Whether a subject is something the backend owns, only in a table it uses, or neither.
    enum class Concern : std::uint8_t { none, table, owned };
    using Owned = std::function<Concern(const Subject&)>;

    // A foreign rule added to a chain we own, to be named when it is removed.
    struct ForeignRule {
        bool ipv6 = false;
        std::string table;
        std::string chain;
        std::uint64_t handle = 0;
    };

    static std::unique_ptr<NftEvents> open(std::string& error);
    ~NftEvents();
    NftEvents(const NftEvents&) = delete;
    NftEvents& operator=(const NftEvents&) = delete;

    int fd() const;

    // Leaves (false) or joins again (true) the notifications. false when the kernel refuses:
    // what happens meanwhile is unseen, so it counts as lost.
    bool listen(bool on);
    void mark_lost() { lost_ = true; }

    // Reads the queued notifications. A generation that touched what `owned` accepts leaves
    // the backend drifted; notifications lost to an overrun count as lost.
    void read(const Owned& owned);

    std::uint32_t generation() const { return generation_; }
    void set_generation(std::uint32_t generation) { generation_ = generation; }
    // Notifications were lost: the generation and what happened are unknown.
    bool lost() const { return lost_; }
    bool drifted() const { return !found_.empty(); }
    // What was found, for the log ("" when nothing), and the foreign rules seen added; both
    // forgotten afterwards.
    std::string take_findings();
    std::vector<ForeignRule> take_foreign_rules();
    void clear_lost() { lost_ = false; }

private:
    explicit NftEvents(mnl_socket* socket);
    void note(const nlmsghdr* message, const Owned& owned);
    void close_generation(const nlmsghdr* message);

    mnl_socket* socket_;
    std::vector<std::uint8_t> buffer_;
    std::uint32_t generation_ = 0;
    bool lost_ = false;
    // Of the generation being read: what it did to things we own, counted.
    std::map<std::string, std::size_t> current_;
    std::vector<ForeignRule> current_rules_;
    std::map<std::string, std::map<std::string, std::size_t>> found_;  // per maker, of foreign generations
    std::vector<ForeignRule> foreign_rules_;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_NFT_EVENTS_H
