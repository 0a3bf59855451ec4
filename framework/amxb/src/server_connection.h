// One client of a listener: its framed input, its bounded output, the parts of a large reply
// still to send, and the subscriptions it made.
#ifndef AMXB_SERVER_CONNECTION_H
#define AMXB_SERVER_CONNECTION_H

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bus_ctx.h"
#include "frame.h"
#include "reply_parts.h"

namespace amxb {

class Listener;

class ServerConnection {
public:
    using Clock = std::chrono::steady_clock;

    // Takes `fd` (a connected non-blocking socket of the client `pid`/`uid`) and watches it.
    ServerConnection(Listener& owner, int fd, pid_t pid, uid_t uid);
    ~ServerConnection();
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    // Closed connections wait for the listener to free them.
    bool closed() const { return fd_ < 0; }
    pid_t pid() const { return pid_; }
    uid_t uid() const { return uid_; }

    // Nothing half received, nothing to send, no subscription: closing it loses nothing.
    bool idle() const;
    // Idle, or stuck waiting for room for a large request: what a newcomer of the same
    // privileged user may displace.
    bool displaceable() const { return !executing_ && (idle() || paused_); }
    Clock::time_point last_activity() const { return last_activity_; }

    // Output queued and not yet taken by the client: encoded bytes and parts still to encode.
    std::size_t queued_bytes() const { return output_.size() - output_start_ + parts_bytes_; }
    // How long the client has taken nothing of its queued output (zero when it has none).
    Clock::duration stalled_since(Clock::time_point now) const {
        return closed() || !blocked_ || queued_bytes() == 0 ? Clock::duration::zero() : now - blocked_at_;
    }

    // Stops serving: cancels the subscriptions, closes the socket, asks to be freed.
    void close_now();

    // Tells the client why (best effort) and closes; the listener logs `why` once.
    void close_with(const std::string& why);

    // Closes the connection when its request takes too long to arrive or when it has been
    // idle (or its output stalled) too long; `idle_ms` 0 never.
    void check_deadlines(Clock::time_point now, unsigned int request_ms, unsigned int idle_ms);

    // Reading was paused for lack of room for a large request: try again.
    void resume();

private:
    // What a subscription made for this client hands to the event forwarder.
    struct Forward {
        ServerConnection* connection;
        uint64_t sid;
        std::string path;
    };

    static void on_io(int fd, uint32_t events, void* priv);
    static void forward_event(const char* sig_name, const amxc_var_t* data, void* priv);
    static void serve_parked(void* priv);

    bool reading() const { return !closing_ && !paused_ && parts_.empty() && !parked_; }
    void read_requests();
    bool claim_room();
    void release_room();
    void take_frames();
    void finish_after_reply();  // reads no more; closes once the queued output is out
    void handle(std::string_view text);
    Outcome execute_whole(amxb_bus_ctx_t& ctx, const Request& request, amxc_var_t* result);
    Outcome call(amxb_bus_ctx_t& ctx, const Request& request, amxc_var_t* result);
    // While the loop is paused in long work, a request that does more than read waits here
    // until the work is done; requests after it wait behind it, unread.
    void park(std::string_view text);
    void handle_subscribe(uint64_t id, const amxc_var_t* message);
    void handle_unsubscribe(uint64_t id, const amxc_var_t* message);
    void reply(uint64_t id, const Outcome& outcome, amxc_var_t* result);
    void send(const amxc_var_t* message);
    void queued();
    void fill_output();
    void flush();
    void update_watch();
    void report_queue();
    void cancel(Forward& forward);
    void shut_down();

    Listener& owner_;
    int fd_;
    pid_t pid_;
    uid_t uid_;
    uint32_t watched_events_ = 0;
    bool closing_ = false;  // an error reply is on its way out; nothing more is read
    bool executing_ = false;  // a method call of this connection is running (and may pause)
    bool paused_ = false;   // a large request waits for room
    std::size_t granted_ = 0;  // room taken from the listener for the request being read
    Clock::time_point last_activity_ = Clock::now();
    Clock::time_point request_started_ = Clock::now();
    FrameReader reader_;
    std::string output_;
    std::size_t output_start_ = 0;
    std::deque<ReplyPart> parts_;  // of the reply being sent; requests wait until it is out
    std::size_t parts_bytes_ = 0;  // their JSON size, bounded
    std::size_t reported_ = 0;     // queued_bytes() as the listener last heard it
    bool blocked_ = false;         // the socket took no more since blocked_at_
    Clock::time_point blocked_at_;
    uint64_t parts_id_ = 0;
    uint64_t parts_sent_ = 0;
    Outcome parts_outcome_;
    std::map<uint64_t, std::unique_ptr<Forward>> forwards_;  // by subscription id
    std::optional<std::string> parked_;  // the request waiting for the loop's pause to end
};

}  // namespace amxb

#endif
