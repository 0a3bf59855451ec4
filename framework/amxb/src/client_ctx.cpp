#include "client_ctx.h"

#include <algorithm>

#include <unistd.h>

#include <amxd/amxd_types.h>
#include <amxp/amxp_expr.h>
#include <amxp/amxp_loop.h>

#include "path.h"
#include "reply_parts.h"
#include "socket_io.h"
#include "wire.h"

namespace amxb {

namespace {

// Deliveries per turn of the loop, so that a flood of events does not starve timers.
constexpr std::size_t delivery_batch = 256;
constexpr std::size_t read_chunk = 64 * 1024;

Outcome broken(const std::string& why) {
    return {amxd_status_unknown_error, why};
}

}  // namespace

ClientCtx::~ClientCtx() {
    deliveries_->closed = true;
    amxp_loop_cancel_deferred(deliver, this);
    if(fd_ >= 0) {
        if(watched_) {
            amxp_loop_remove_fd(fd_);
        }
        close(fd_);
    }
}

Outcome ClientCtx::open(const std::string& socket_path) {
    std::string error;
    fd_ = connect_unix(socket_path, error);
    if(fd_ < 0) {
        return broken(error);
    }
    ScopedVar message;
    ScopedVar result;
    const uint64_t id = next_id_++;
    amxc_var_set_type(message.get(), AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(uint64_t, message.get(), "id", id);
    amxc_var_add_key(cstring_t, message.get(), "op", "roots");
    Outcome outcome = round_trip(message.get(), id, result.get(), default_timeout());
    if(outcome.status != 0) {
        return outcome;
    }
    if(amxc_var_type_of(result.get()) != AMXC_VAR_ID_LIST) {
        return broken("the server's list of roots is malformed");
    }
    amxc_var_for_each(root, result.get()) {
        const char* text = amxc_var_get_const_cstring_t(root);
        if(text == nullptr || !path_is_valid(text) || path_top(text) != text) {
            return broken("the server named an invalid root");
        }
        roots_.emplace_back(text);
    }
    if(amxp_loop_add_fd(fd_, AMXP_FD_READ, on_fd, this) != 0) {
        return broken("cannot watch the socket on the event loop");
    }
    watched_ = true;
    reading_ = true;
    schedule_delivery();
    return {};
}

std::vector<std::string> ClientCtx::roots() const {
    return fd_ < 0 ? std::vector<std::string>() : roots_;
}

Outcome ClientCtx::execute(const Request& request, amxc_var_t* ret, int timeout_sec) {
    ScopedVar message;
    const uint64_t id = next_id_++;
    wire::encode_request(message.get(), id, request);
    return round_trip(message.get(), id, ret, timeout_sec);
}

Outcome ClientCtx::subscribe(const std::string& path, const char* expression, amxp_slot_fn_t fn, void* priv) {
    if(!path_is_valid(path)) {
        return {amxd_status_invalid_path, path + ": invalid path"};
    }
    if(expression != nullptr) {
        char why[128] = "";
        if(amxp_expr_check(expression, why, sizeof(why), nullptr) != amxp_expr_status_ok) {
            return {amxd_status_invalid_expr, std::string("invalid expression: ") + why};
        }
    }
    if(std::find(roots_.begin(), roots_.end(), path_top(path)) == roots_.end()) {
        return {amxd_status_object_not_found, path + ": no such top-level object on this connection"};
    }
    const uint64_t sid = next_sid_++;
    ScopedVar message;
    ScopedVar result;
    const uint64_t id = next_id_++;
    amxc_var_set_type(message.get(), AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(uint64_t, message.get(), "id", id);
    amxc_var_add_key(cstring_t, message.get(), "op", "subscribe");
    amxc_var_add_key(cstring_t, message.get(), "path", path.c_str());
    amxc_var_add_key(uint64_t, message.get(), "sid", sid);
    amxc_var_t* filter = amxc_var_add_new_key(message.get(), "expression");
    if(expression != nullptr) {
        amxc_var_set(cstring_t, filter, expression);
    }
    // Known before the request goes out, so that no event of it can be missed.
    deliveries_->subscriptions[sid] = Subscription{path_terminated(path), fn, priv};
    Outcome outcome = round_trip(message.get(), id, result.get(), 0);
    if(outcome.status != 0) {
        deliveries_->subscriptions.erase(sid);
    }
    return outcome;
}

Outcome ClientCtx::unsubscribe(const std::string& path, amxp_slot_fn_t fn, void* priv) {
    const std::string terminated = path_terminated(path);
    std::vector<uint64_t> cancelled;
    auto& subscriptions = deliveries_->subscriptions;
    for(auto it = subscriptions.begin(); it != subscriptions.end();) {
        if(it->second.path == terminated && it->second.fn == fn && it->second.priv == priv) {
            cancelled.push_back(it->first);
            it = subscriptions.erase(it);
        } else {
            ++it;
        }
    }
    if(cancelled.empty()) {
        return {amxd_status_object_not_found, terminated + ": no such subscription"};
    }
    // Cancelled here already (queued events of it are dropped); the server is only told, so
    // that a stalled server cannot block the caller. Its late answer is ignored.
    const auto deadline = Clock::now() + std::chrono::seconds(default_timeout());
    for(const uint64_t sid : cancelled) {
        if(fd_ < 0) {
            break;
        }
        ScopedVar message;
        amxc_var_set_type(message.get(), AMXC_VAR_ID_HTABLE);
        amxc_var_add_key(uint64_t, message.get(), "id", next_id_++);
        amxc_var_add_key(cstring_t, message.get(), "op", "unsubscribe");
        amxc_var_add_key(uint64_t, message.get(), "sid", sid);
        post(message.get(), deadline);
    }
    return {};
}

Outcome ClientCtx::round_trip(amxc_var_t* message, uint64_t id, amxc_var_t* ret, int timeout_sec) {
    amxc_var_clean(ret);
    const int seconds = timeout_sec > 0 ? timeout_sec : default_timeout();
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    const char* op = wire::text_of(message, "op");
    const char* path = wire::text_of(message, "path");
    const std::string what = std::string(op == nullptr ? "" : op) + (path == nullptr ? "" : std::string(" ") + path);
    Outcome outcome = post(message, deadline);
    if(outcome.status != 0) {
        return outcome;
    }
    Awaited awaited;
    awaited.id = id;
    bool alive = take_frames(awaited);
    while(alive && !awaited.answered) {
        if(awaited.progressed) {
            deadline = Clock::now() + std::chrono::seconds(seconds);
            awaited.progressed = false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if(left <= 0) {
            break;
        }
        const int ready = wait_fd(fd_, false, static_cast<int>(std::min<long long>(left, 60000)));
        if(ready < 0) {
            disconnect("waiting for the server failed");
            alive = false;
        } else if(ready > 0) {
            alive = read_available(awaited);
        }
    }
    schedule_delivery();
    if(!alive) {
        return broken(what + ": " + broken_reason_);
    }
    if(!awaited.answered) {
        // The connection stays usable: a late answer is recognised by its id and dropped.
        return {amxd_status_timeout, what + ": no answer within " + std::to_string(seconds) + " s"};
    }
    return finish(awaited, what, ret);
}

Outcome ClientCtx::finish(Awaited& awaited, const std::string& what, amxc_var_t* ret) {
    int64_t status = 0;
    int64_t parts = 0;
    amxc_var_t* reply = awaited.reply.get();
    if(!wire::integer_of(reply, "status", 0, INT32_MAX, status)) {
        disconnect("the server sent a reply without a valid status");
        return broken(what + ": " + broken_reason_);
    }
    const bool in_parts = wire::integer_of(reply, "parts", 1, INT64_MAX, parts);
    if((in_parts || awaited.parts > 0) && static_cast<uint64_t>(parts) != awaited.parts) {
        disconnect("the server sent " + std::to_string(awaited.parts) + " parts of a reply that has " + std::to_string(parts));
        return broken(what + ": " + broken_reason_);
    }
    const char* error = wire::text_of(reply, "error");
    if(status == 0) {
        amxc_var_t* result = in_parts ? awaited.whole.get() : amxc_var_get_key(reply, "result", AMXC_VAR_FLAG_DEFAULT);
        if(result != nullptr) {
            amxc_var_move(ret, result);
        }
    }
    return {static_cast<int>(status), error == nullptr ? std::string() : std::string(error)};
}

Outcome ClientCtx::post(amxc_var_t* message, Clock::time_point deadline) {
    if(fd_ < 0) {
        return broken("not connected (" + broken_reason_ + ")");
    }
    std::string bytes;
    std::string error;
    if(!append_frame(bytes, message, error)) {
        return {amxd_status_invalid_arg, "request not sent: " + error};
    }
    return send_bytes(bytes, deadline);
}

Outcome ClientCtx::send_bytes(const std::string& bytes, Clock::time_point deadline) {
    std::size_t done = 0;
    while(done < bytes.size()) {
        const long sent = send_some(fd_, bytes.data() + done, bytes.size() - done);
        if(sent > 0) {
            done += static_cast<std::size_t>(sent);
            continue;
        }
        if(sent == io::failed) {
            Awaited nothing;
            read_available(nothing);  // a server that closed on us may have said why
            disconnect("the connection to the server broke");
            return broken(broken_reason_);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if(left <= 0 || wait_fd(fd_, true, static_cast<int>(std::min<long long>(left, 60000))) < 0) {
            if(done > 0) {
                // Half a frame is on the wire: nothing after it could be understood.
                disconnect("a request was cut short");
            }
            return {amxd_status_timeout, "the server does not take requests"};
        }
    }
    return {};
}

bool ClientCtx::read_available(Awaited& awaited) {
    char buffer[read_chunk];
    const long got = receive_some(fd_, buffer, std::min(sizeof(buffer), reader_.room()));
    if(got == io::closed) {
        take_frames(awaited);  // the server's last words may say why
        disconnect("the server closed the connection");
        return false;
    }
    if(got == io::failed) {
        disconnect("the connection to the server broke");
        return false;
    }
    if(got > 0) {
        reader_.feed(buffer, static_cast<std::size_t>(got));
    }
    return take_frames(awaited);
}

bool ClientCtx::take_frames(Awaited& awaited) {
    std::string text;
    while(fd_ >= 0) {
        const FrameReader::Next next = reader_.next(text);
        if(next == FrameReader::Next::need_more) {
            return true;
        }
        if(next == FrameReader::Next::oversized) {
            disconnect("the server sent an oversized message");
            return false;
        }
        VarPtr message = make_var();
        std::string error;
        int64_t number = 0;
        if(message == nullptr || !parse_frame(text, message.get(), error)) {
            disconnect("the server sent a " + error);
            return false;
        }
        if(wire::integer_of(message.get(), "sid", 0, INT64_MAX, number) && wire::text_of(message.get(), "event") != nullptr) {
            // Past twice the queue's bound only a server that ignores flow control remains.
            if(deliveries_->events.size() >= 2 * client_event_queue_max) {
                disconnect("too many undelivered events");
                return false;
            }
            deliveries_->events.push_back(std::move(message));
        } else if(amxc_var_get_key(message.get(), "part", AMXC_VAR_FLAG_DEFAULT) != nullptr) {
            if(!take_part(awaited, message.get(), text.size())) {
                return false;
            }
        } else if(wire::integer_of(message.get(), "id", 0, INT64_MAX, number)) {
            if(!awaited.answered && static_cast<uint64_t>(number) == awaited.id && awaited.id != 0) {
                amxc_var_move(awaited.reply.get(), message.get());
                awaited.answered = true;
            } else if(number == 0 && wire::text_of(message.get(), "error") != nullptr) {
                server_notice_ = wire::text_of(message.get(), "error");
            }
        } else {
            disconnect("the server sent a message that is neither a reply nor an event");
            return false;
        }
    }
    return false;
}

bool ClientCtx::take_part(Awaited& awaited, amxc_var_t* message, std::size_t size) {
    int64_t id = 0;
    if(!wire::integer_of(message, "id", 0, INT64_MAX, id) || static_cast<uint64_t>(id) != awaited.id || awaited.id == 0 ||
       awaited.answered) {
        return true;  // a late part of a call that timed out
    }
    awaited.bytes += size;
    if(awaited.bytes > AMXB_MAX_REPLY_SIZE) {
        disconnect("the server sent a reply larger than " + std::to_string(AMXB_MAX_REPLY_SIZE) + " bytes");
        return false;
    }
    ++awaited.parts;
    awaited.progressed = true;
    const amxc_var_t* at = amxc_var_get_key(message, "at", AMXC_VAR_FLAG_DEFAULT);
    amxc_var_t* piece = amxc_var_get_key(message, "part", AMXC_VAR_FLAG_DEFAULT);
    if(part_handler_ != nullptr && amxc_var_type_of(at) == AMXC_VAR_ID_LIST) {
        part_handler_(at, piece, part_handler_priv_);
        return true;
    }
    std::string error;
    if(!merge_part(awaited.whole.get(), at, piece, error)) {
        disconnect("the server sent " + error);
        return false;
    }
    return true;
}

void ClientCtx::schedule_delivery() {
    if(!delivery_scheduled_ && !deliveries_->events.empty() && amxp_loop_defer(deliver, this) == 0) {
        delivery_scheduled_ = true;
    }
    watch_reads(deliveries_->events.size() < client_event_queue_max);
}

void ClientCtx::deliver(void* priv) {
    auto* self = static_cast<ClientCtx*>(priv);
    self->delivery_scheduled_ = false;
    const std::shared_ptr<Deliveries> deliveries = self->deliveries_;
    for(std::size_t n = 0; n < delivery_batch && !deliveries->events.empty(); ++n) {
        const VarPtr event = std::move(deliveries->events.front());
        deliveries->events.pop_front();
        int64_t sid = 0;
        wire::integer_of(event.get(), "sid", 0, INT64_MAX, sid);
        const auto found = deliveries->subscriptions.find(static_cast<uint64_t>(sid));
        if(found == deliveries->subscriptions.end()) {
            continue;  // cancelled after the event arrived
        }
        const amxp_slot_fn_t fn = found->second.fn;
        void* const subscriber = found->second.priv;
        fn(wire::text_of(event.get(), "event"), amxc_var_get_key(event.get(), "data", AMXC_VAR_FLAG_DEFAULT), subscriber);
        if(deliveries->closed) {
            return;  // the subscriber freed the context
        }
    }
    self->schedule_delivery();
}

void ClientCtx::on_fd(int /*fd*/, uint32_t /*events*/, void* priv) {
    auto* self = static_cast<ClientCtx*>(priv);
    Awaited nothing;
    self->read_available(nothing);
    self->schedule_delivery();
}

void ClientCtx::watch_reads(bool on) {
    if(watched_ && reading_ != on && amxp_loop_modify_fd(fd_, on ? AMXP_FD_READ : 0) == 0) {
        reading_ = on;
    }
}

void ClientCtx::disconnect(const std::string& why) {
    if(fd_ < 0) {
        return;
    }
    if(watched_) {
        amxp_loop_remove_fd(fd_);
    }
    close(fd_);
    fd_ = -1;
    broken_reason_ = server_notice_.empty() ? why : why + ": " + server_notice_;
    watched_ = false;
    reading_ = false;
}

}  // namespace amxb
