#include "server_connection.h"

#include <unistd.h>

#include <algorithm>

#include <amxd/amxd_types.h>
#include <amxp/amxp_loop.h>

#include "dm_ops.h"
#include "listener.h"
#include "socket_io.h"
#include "variant_ptr.h"
#include "wire.h"

namespace amxb {

namespace {

constexpr std::size_t read_chunk = 64 * 1024;
// Reads per wake-up: a prefix and a body each take one, and other clients wait meanwhile.
constexpr int read_rounds = 8;
// Requests up to this size are read without asking the listener for room.
constexpr std::size_t small_request = 4096;
// A reply part's JSON; small enough that other clients are served between parts.
constexpr std::size_t part_budget = 256 * 1024;
// Parts are encoded while less than this waits to be sent, so a large reply never sits in
// memory twice.
constexpr std::size_t output_low_water = 512 * 1024;
// Results whose bound exceeds this are split without trying them in one frame first.
constexpr std::size_t single_frame_bound = 2 * AMXB_MAX_FRAME_SIZE;

Outcome malformed(const std::string& why) {
    return {amxd_status_invalid_arg, "malformed request: " + why};
}

// A read or a change is carried out whole: pausing in it would let this connection's next
// request in before its reply.
class SliceHold {
public:
    SliceHold() { amxp_loop_hold_slices(); }
    ~SliceHold() { amxp_loop_release_slices(); }
    SliceHold(const SliceHold&) = delete;
    SliceHold& operator=(const SliceHold&) = delete;
};

}  // namespace

ServerConnection::ServerConnection(Listener& owner, int fd, pid_t pid, uid_t uid)
    : owner_(owner), fd_(fd), pid_(pid), uid_(uid) {
    if(amxp_loop_add_fd(fd_, AMXP_FD_READ, on_io, this) == 0) {
        watched_events_ = AMXP_FD_READ;
        // Readers are answered while long work is paused; failing that, after it.
        amxp_loop_serve_while_paused(fd_, true);
    } else {
        close(fd_);
        fd_ = -1;
    }
}

ServerConnection::~ServerConnection() {
    shut_down();
}

bool ServerConnection::idle() const {
    return !closed() && reader_.held() == 0 && output_start_ == output_.size() && parts_.empty() && forwards_.empty() &&
           !parked_;
}

void ServerConnection::close_now() {
    if(!closed()) {
        shut_down();
        owner_.retire();
    }
}

void ServerConnection::close_with(const std::string& why) {
    if(closed()) {
        return;
    }
    owner_.log(pid_, uid_, why);
    if(output_start_ == output_.size()) {
        ScopedVar message;
        wire::encode_reply(message.get(), 0, {amxd_status_unknown_error, why}, nullptr);
        std::string bytes;
        std::string error;
        if(append_frame(bytes, message.get(), error)) {
            send_some(fd_, bytes.data(), bytes.size());
        }
    }
    close_now();
}

void ServerConnection::check_deadlines(Clock::time_point now, unsigned int request_ms, unsigned int idle_ms) {
    using std::chrono::milliseconds;
    if(closed()) {
        return;
    }
    const bool unsent = output_start_ < output_.size();
    if(reader_.held() > 0 && !closing_ && parts_.empty() && now - request_started_ >= milliseconds(request_ms)) {
        close_with("closed: a request was still incomplete after " + std::to_string(request_ms) + " ms");
    } else if(idle_ms > 0 && (reader_.held() == 0 || closing_) && (forwards_.empty() || unsent) &&
              now - last_activity_ >= milliseconds(idle_ms)) {
        close_with(unsent ? "closed: replies left unread for " + std::to_string(idle_ms) + " ms"
                          : "closed: idle for " + std::to_string(idle_ms) + " ms");
    }
}

void ServerConnection::resume() {
    if(paused_ && !closed()) {
        paused_ = false;
        update_watch();
    }
}

void ServerConnection::shut_down() {
    amxp_loop_cancel_deferred(serve_parked, this);
    parked_.reset();
    for(auto& [sid, forward] : forwards_) {
        cancel(*forward);
    }
    // The records stay until the connection is freed: a delivery in progress may hold one.
    release_room();
    parts_.clear();
    parts_bytes_ = 0;
    std::string().swap(output_);
    output_start_ = 0;
    report_queue();
    if(fd_ >= 0) {
        amxp_loop_remove_fd(fd_);
        close(fd_);
        fd_ = -1;
    }
}

void ServerConnection::cancel(Forward& forward) {
    amxb_bus_ctx_t* ctx = registry_who_has(forward.path, Scope::in_process);
    if(ctx != nullptr) {
        ctx->unsubscribe(forward.path, forward_event, &forward);
    }
}

void ServerConnection::on_io(int /*fd*/, uint32_t events, void* priv) {
    auto* self = static_cast<ServerConnection*>(priv);
    if((events & AMXP_FD_WRITE) != 0) {
        self->flush();
    }
    if(self->closed()) {
        return;
    }
    if(!self->reading()) {
        // Not reading now (an answer on its way out, or waiting for room): only a hang-up matters.
        if((events & (AMXP_FD_HUP | AMXP_FD_ERR)) != 0) {
            self->close_now();
        }
        return;
    }
    if((events & (AMXP_FD_READ | AMXP_FD_HUP | AMXP_FD_ERR)) != 0) {
        self->read_requests();
    }
}

// Reads no further than the end of the current request, so that a connection never holds
// more than one, and a large one only once the listener has room for it.
void ServerConnection::read_requests() {
    char buffer[read_chunk];
    for(int round = 0; round < read_rounds && !closed() && reading(); ++round) {
        if(!claim_room()) {
            paused_ = true;
            update_watch();
            return;
        }
        const std::size_t want = std::min(sizeof(buffer), reader_.pending());
        if(want == 0) {
            return;
        }
        const long got = receive_some(fd_, buffer, want);
        if(got == io::closed && reader_.held() > 0) {
            // The client may only have shut down its sending side and still wait for an answer.
            reply(0, malformed("truncated: the connection ended " + std::to_string(reader_.held()) + " bytes into a message"), nullptr);
            finish_after_reply();
            return;
        }
        if(got == io::closed || got == io::failed) {
            close_now();
            return;
        }
        if(got == io::would_block) {
            return;
        }
        const auto now = Clock::now();
        if(reader_.held() == 0) {
            request_started_ = now;
        }
        last_activity_ = now;
        reader_.feed(buffer, static_cast<std::size_t>(got));
        take_frames();
    }
}

bool ServerConnection::claim_room() {
    const std::size_t announced = reader_.announced();
    if(granted_ > 0 || announced <= small_request || announced > AMXB_MAX_FRAME_SIZE) {
        return true;
    }
    if(!owner_.claim_room(announced)) {
        return false;
    }
    granted_ = announced;
    reader_.reserve_announced();
    return true;
}

void ServerConnection::release_room() {
    if(granted_ > 0) {
        const std::size_t granted = granted_;
        granted_ = 0;
        owner_.release_room(granted);
    }
}

void ServerConnection::take_frames() {
    std::string text;
    while(!closed() && !closing_ && parts_.empty() && !parked_) {
        const FrameReader::Next next = reader_.next(text);
        if(next == FrameReader::Next::need_more) {
            return;
        }
        if(next == FrameReader::Next::oversized) {
            // The length cannot be trusted, so neither can anything after it: answer, then close.
            reply(0, malformed("the message exceeds the frame limit of " + std::to_string(AMXB_MAX_FRAME_SIZE) + " bytes"), nullptr);
            finish_after_reply();
            return;
        }
        release_room();
        handle(text);
    }
}

void ServerConnection::finish_after_reply() {
    closing_ = true;
    flush();
}

void ServerConnection::handle(std::string_view text) {
    ScopedVar message;
    std::string error;
    int64_t id = 0;
    if(!parse_frame(text, message.get(), error)) {
        reply(0, malformed(error), nullptr);
        return;
    }
    if(amxc_var_type_of(message.get()) != AMXC_VAR_ID_HTABLE || !wire::integer_of(message.get(), "id", 0, INT64_MAX, id)) {
        reply(0, malformed("a request is an object with an integer \"id\""), nullptr);
        return;
    }
    const char* op = wire::text_of(message.get(), "op");
    const auto request_id = static_cast<uint64_t>(id);
    const bool paused = amxp_loop_is_paused();
    if(op != nullptr && std::string_view(op) == "roots") {
        ScopedVar roots;
        amxc_var_set_type(roots.get(), AMXC_VAR_ID_LIST);
        for(const std::string& root : registry_local_roots()) {
            amxc_var_add(cstring_t, roots.get(), root.c_str());
        }
        reply(request_id, {}, roots.get());
        return;
    }
    // Subscribing changes what the paused work's events reach.
    if(paused && op != nullptr && (std::string_view(op) == "subscribe" || std::string_view(op) == "unsubscribe")) {
        park(text);
        return;
    }
    if(op != nullptr && std::string_view(op) == "subscribe") {
        handle_subscribe(request_id, message.get());
        return;
    }
    if(op != nullptr && std::string_view(op) == "unsubscribe") {
        handle_unsubscribe(request_id, message.get());
        return;
    }
    Request request;
    if(!wire::decode_request(message.get(), request, error)) {
        reply(request_id, malformed(error), nullptr);
        return;
    }
    if(paused && request.op != Op::get) {
        park(text);
        return;
    }
    amxb_bus_ctx_t* ctx = registry_who_has(request.path, Scope::in_process);
    if(ctx == nullptr) {
        reply(request_id, refusal(amxd_status_object_not_found, request.path + " (not served here)"), nullptr);
        return;
    }
    ScopedVar result;
    const Outcome outcome = request.op == Op::call ? call(*ctx, request, result.get()) : execute_whole(*ctx, request, result.get());
    reply(request_id, outcome, result.get());
}

Outcome ServerConnection::execute_whole(amxb_bus_ctx_t& ctx, const Request& request, amxc_var_t* result) {
    SliceHold hold;
    return ctx.execute(request, result, 0);
}

// A method may do long work as several changes, each whole, and let readers in between them.
// This connection is not served meanwhile, so that its next request cannot overtake the
// reply, and it is not closed to make room for another.
Outcome ServerConnection::call(amxb_bus_ctx_t& ctx, const Request& request, amxc_var_t* result) {
    executing_ = true;
    amxp_loop_serve_while_paused(fd_, false);
    const Outcome outcome = ctx.execute(request, result, 0);
    executing_ = false;
    if(!closed()) {
        amxp_loop_serve_while_paused(fd_, true);
    }
    return outcome;
}

void ServerConnection::park(std::string_view text) {
    if(amxp_loop_defer(serve_parked, this) != 0) {
        reply(0, {amxd_status_unknown_error, "the server is busy: its queue of work is full"}, nullptr);
        return;
    }
    parked_.emplace(text);
    update_watch();
}

void ServerConnection::serve_parked(void* priv) {
    auto* self = static_cast<ServerConnection*>(priv);
    const std::string text = std::move(*self->parked_);
    self->parked_.reset();
    self->handle(text);
    self->take_frames();
    self->update_watch();
}

void ServerConnection::handle_subscribe(uint64_t id, const amxc_var_t* message) {
    const char* path = wire::text_of(message, "path");
    const amxc_var_t* filter = amxc_var_get_key(message, "expression", AMXC_VAR_FLAG_DEFAULT);
    const char* expression = wire::text_of(message, "expression");
    int64_t sid = 0;
    if(path == nullptr || !wire::integer_of(message, "sid", 0, INT64_MAX, sid) ||
       (amxc_var_type_of(filter) != AMXC_VAR_ID_NULL && expression == nullptr)) {
        reply(id, malformed("subscribe needs a text \"path\", an integer \"sid\" and a text or null \"expression\""), nullptr);
        return;
    }
    const auto key = static_cast<uint64_t>(sid);
    if(forwards_.count(key) != 0) {
        reply(id, malformed("subscription id " + std::to_string(sid) + " is in use"), nullptr);
        return;
    }
    amxb_bus_ctx_t* ctx = registry_who_has(path, Scope::in_process);
    if(ctx == nullptr) {
        reply(id, refusal(amxd_status_object_not_found, std::string(path) + " (not served here)"), nullptr);
        return;
    }
    auto forward = std::make_unique<Forward>(Forward{this, key, path});
    const Outcome outcome = ctx->subscribe(path, expression, forward_event, forward.get());
    if(outcome.status == 0) {
        forwards_[key] = std::move(forward);
    }
    reply(id, outcome, nullptr);
}

void ServerConnection::handle_unsubscribe(uint64_t id, const amxc_var_t* message) {
    int64_t sid = 0;
    if(!wire::integer_of(message, "sid", 0, INT64_MAX, sid)) {
        reply(id, malformed("unsubscribe needs an integer \"sid\""), nullptr);
        return;
    }
    const auto found = forwards_.find(static_cast<uint64_t>(sid));
    if(found == forwards_.end()) {
        reply(id, {amxd_status_object_not_found, "no subscription " + std::to_string(sid)}, nullptr);
        return;
    }
    cancel(*found->second);
    forwards_.erase(found);
    reply(id, {}, nullptr);
}

void ServerConnection::forward_event(const char* sig_name, const amxc_var_t* data, void* priv) {
    auto* forward = static_cast<Forward*>(priv);
    ServerConnection* self = forward->connection;
    if(self->closed()) {
        return;
    }
    ScopedVar message;
    wire::encode_event(message.get(), forward->sid, sig_name, data);
    self->send(message.get());
}

void ServerConnection::reply(uint64_t id, const Outcome& outcome, amxc_var_t* result) {
    if(closed()) {
        return;
    }
    ScopedVar message;
    std::string error;
    const bool large = result != nullptr && json_size_bound(result, single_frame_bound) > single_frame_bound;
    if(!large) {
        wire::encode_reply(message.get(), id, outcome, result);
        if(append_frame(output_, message.get(), error)) {
            queued();
            return;
        }
        result = amxc_var_get_key(message.get(), "result", AMXC_VAR_FLAG_DEFAULT);
    }
    if(result == nullptr || json_size_bound(result, part_budget) <= part_budget) {
        // The result cannot travel (text that is not UTF-8, too deep): say so instead.
        ScopedVar refusal_message;
        wire::encode_reply(refusal_message.get(), id, {amxd_status_unknown_error, "reply not sent: " + error}, nullptr);
        append_frame(output_, refusal_message.get(), error);
        queued();
        return;
    }
    parts_ = split_result(result, part_budget);
    parts_bytes_ = 0;
    for(const ReplyPart& part : parts_) {
        parts_bytes_ += part.bound;
    }
    parts_id_ = id;
    parts_sent_ = 0;
    parts_outcome_ = outcome;
    report_queue();
    if(!owner_.make_output_room(this)) {
        close_with("closed: a reply of " + std::to_string(parts_bytes_) + " bytes does not fit beside the replies other "
                   "clients have yet to read (" + std::to_string(AMXB_LISTEN_OUTPUT_ROOM) + " bytes in all)");
        return;
    }
    queued();
}

void ServerConnection::send(const amxc_var_t* message) {
    if(closed()) {
        return;
    }
    std::string error;
    if(!append_frame(output_, message, error)) {
        // Only events get here: losing one silently would leave the client with a wrong
        // picture of the data model, so it is disconnected instead.
        close_now();
        return;
    }
    queued();
}

void ServerConnection::queued() {
    if(output_.size() - output_start_ > AMXB_MAX_CLIENT_BACKLOG) {
        close_now();  // the client stopped reading: it must not stall the loop or eat memory
        return;
    }
    flush();
}

void ServerConnection::fill_output() {
    std::string error;
    while(!parts_.empty() && output_.size() - output_start_ < output_low_water) {
        ReplyPart part = std::move(parts_.front());
        parts_.pop_front();
        parts_bytes_ -= std::min(parts_bytes_, part.bound);
        const VarPtr piece = part.take_piece();
        ScopedVar message;
        if(piece != nullptr) {
            wire::encode_part(message.get(), parts_id_, part.at.get(), piece.get());
        } else {
            error = "out of memory";
        }
        ScopedVar last;
        if(piece == nullptr || !append_frame(output_, message.get(), error)) {
            // The parts sent cannot be completed: the closing reply says why instead.
            parts_.clear();
            wire::encode_reply(last.get(), parts_id_, {amxd_status_unknown_error, "reply not sent: " + error}, nullptr);
        } else if(++parts_sent_, parts_.empty()) {
            wire::encode_reply(last.get(), parts_id_, parts_outcome_, nullptr);
            amxc_var_add_key(uint64_t, last.get(), "parts", parts_sent_);
        }
        if(parts_.empty()) {
            parts_bytes_ = 0;
            append_frame(output_, last.get(), error);
        }
    }
}

void ServerConnection::flush() {
    while(!closed()) {
        fill_output();
        if(output_start_ == output_.size()) {
            break;
        }
        const long sent = send_some(fd_, output_.data() + output_start_, output_.size() - output_start_);
        if(sent == io::failed) {
            close_now();
            return;
        }
        if(sent == io::would_block) {
            if(output_start_ > output_.size() / 2) {
                output_.erase(0, output_start_);
                output_start_ = 0;
            }
            if(!blocked_) {
                blocked_ = true;
                blocked_at_ = Clock::now();
            }
            report_queue();
            update_watch();
            return;
        }
        output_start_ += static_cast<std::size_t>(sent);
        last_activity_ = Clock::now();
        blocked_ = false;
    }
    if(closed()) {
        return;
    }
    output_.clear();
    if(output_.capacity() > small_request * 16) {
        std::string().swap(output_);  // an idle connection keeps no large buffer
    }
    output_start_ = 0;
    report_queue();
    if(closing_) {
        close_now();
    } else {
        update_watch();
    }
}

void ServerConnection::report_queue() {
    const std::size_t now = queued_bytes();
    owner_.output_changed(reported_, now);
    reported_ = now;
}

void ServerConnection::update_watch() {
    if(closed()) {
        return;
    }
    const uint32_t events = (reading() ? AMXP_FD_READ : 0u) | (output_start_ < output_.size() ? AMXP_FD_WRITE : 0u);
    if(events != watched_events_ && amxp_loop_modify_fd(fd_, events) == 0) {
        watched_events_ = events;
    }
}

}  // namespace amxb
