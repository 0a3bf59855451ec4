// Client context: requests go to a listener over a Unix socket and are answered synchronously;
// subscription events arrive on the same socket and are delivered on the amxp loop.
#ifndef AMXB_CLIENT_CTX_H
#define AMXB_CLIENT_CTX_H

#include <chrono>
#include <deque>
#include <map>
#include <memory>

#include "bus_ctx.h"
#include "frame.h"
#include "variant_ptr.h"

namespace amxb {

// Events a client holds for delivery before it stops reading its socket (and, while it
// waits for an answer and must read on, before it gives the connection up).
constexpr std::size_t client_event_queue_max = 65536;

class ClientCtx final : public _amxb_bus_ctx {
public:
    ClientCtx() = default;
    ~ClientCtx() override;

    // Connects to the listener at `socket_path` and asks for the roots it serves.
    Outcome open(const std::string& socket_path);

    Outcome execute(const Request& request, amxc_var_t* ret, int timeout_sec) override;
    Outcome subscribe(const std::string& path, const char* expression,
                      amxp_slot_fn_t fn, void* priv) override;
    Outcome unsubscribe(const std::string& path, amxp_slot_fn_t fn, void* priv) override;
    std::vector<std::string> roots() const override;
    int fd() const override { return fd_; }

    void set_part_handler(amxb_reply_part_fn_t fn, void* priv) {
        part_handler_ = fn;
        part_handler_priv_ = priv;
    }

private:
    using Clock = std::chrono::steady_clock;

    struct Subscription {
        std::string path;
        amxp_slot_fn_t fn;
        void* priv;
    };

    // What a delivery in progress needs after a subscriber freed the context.
    struct Deliveries {
        std::deque<VarPtr> events;                    // event messages, oldest first
        std::map<uint64_t, Subscription> subscriptions;
        bool closed = false;
    };

    // The answer a call waits for: its closing reply and the parts before it.
    struct Awaited {
        uint64_t id = 0;  // 0: none (frames read between calls)
        ScopedVar reply;
        ScopedVar whole;
        uint64_t parts = 0;
        std::size_t bytes = 0;
        bool answered = false;
        bool progressed = false;  // a part came: the time-out starts again
    };

    // Sends `message` and waits for the reply with `id`; the reply's result goes to `ret`.
    Outcome round_trip(amxc_var_t* message, uint64_t id, amxc_var_t* ret, int timeout_sec);
    // Sends `message` without waiting for its reply.
    Outcome post(amxc_var_t* message, Clock::time_point deadline);
    Outcome send_bytes(const std::string& bytes, Clock::time_point deadline);

    // Reads what is there; the parts and reply of `awaited` land in it.
    // False when the connection broke (it is then closed).
    bool read_available(Awaited& awaited);
    bool take_frames(Awaited& awaited);
    bool take_part(Awaited& awaited, amxc_var_t* message, std::size_t size);
    Outcome finish(Awaited& awaited, const std::string& what, amxc_var_t* ret);

    void schedule_delivery();
    static void deliver(void* priv);
    static void on_fd(int fd, uint32_t events, void* priv);
    void watch_reads(bool on);
    void disconnect(const std::string& why);

    int fd_ = -1;
    bool watched_ = false;  // on the amxp loop (from the end of open() until disconnect)
    bool reading_ = false;  // READ asked for; off while the event queue is full
    bool delivery_scheduled_ = false;
    uint64_t next_id_ = 1;
    uint64_t next_sid_ = 1;
    std::vector<std::string> roots_;
    std::string broken_reason_ = "never connected";  // why fd_ is -1
    std::string server_notice_;  // why the server said it closes the connection
    amxb_reply_part_fn_t part_handler_ = nullptr;
    void* part_handler_priv_ = nullptr;
    FrameReader reader_;
    std::shared_ptr<Deliveries> deliveries_ = std::make_shared<Deliveries>();
};

}  // namespace amxb

#endif
