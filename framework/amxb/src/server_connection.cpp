#include "server_connection.h"

#include <unistd.h>

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

Outcome malformed(const std::string& why) {
    return {amxd_status_invalid_arg, "malformed request: " + why};
}

}  // namespace

ServerConnection::ServerConnection(Listener& owner, int fd) : owner_(owner), fd_(fd) {
    if(amxp_loop_add_fd(fd_, AMXP_FD_READ, on_io, this) == 0) {
        watched_events_ = AMXP_FD_READ;
    } else {
        close(fd_);
        fd_ = -1;
    }
}

ServerConnection::~ServerConnection() {
    shut_down();
}

void ServerConnection::close_now() {
    if(!closed()) {
        shut_down();
        owner_.retire();
    }
}

void ServerConnection::shut_down() {
    for(auto& [sid, forward] : forwards_) {
        cancel(*forward);
    }
    // The records stay until the connection is freed: a delivery in progress may hold one.
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
    if(self->closing_) {
        if((events & (AMXP_FD_HUP | AMXP_FD_ERR)) != 0) {
            self->close_now();
        }
        return;
    }
    if((events & (AMXP_FD_READ | AMXP_FD_HUP | AMXP_FD_ERR)) != 0) {
        self->read_requests();
    }
}

void ServerConnection::read_requests() {
    char buffer[read_chunk];
    const long got = receive_some(fd_, buffer, std::min(sizeof(buffer), reader_.room()));
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
    if(got > 0) {
        reader_.feed(buffer, static_cast<std::size_t>(got));
    }
    std::string text;
    while(!closed() && !closing_) {
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
        handle(text);
    }
}

void ServerConnection::finish_after_reply() {
    closing_ = true;
    if(!closed()) {
        watch(AMXP_FD_WRITE);
        flush();
    }
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
    if(op != nullptr && std::string_view(op) == "roots") {
        ScopedVar roots;
        amxc_var_set_type(roots.get(), AMXC_VAR_ID_LIST);
        for(const std::string& root : registry_local_roots()) {
            amxc_var_add(cstring_t, roots.get(), root.c_str());
        }
        reply(request_id, {}, roots.get());
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
    amxb_bus_ctx_t* ctx = registry_who_has(request.path, Scope::in_process);
    if(ctx == nullptr) {
        reply(request_id, refusal(amxd_status_object_not_found, request.path + " (not served here)"), nullptr);
        return;
    }
    ScopedVar result;
    const Outcome outcome = ctx->execute(request, result.get(), 0);
    reply(request_id, outcome, result.get());
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
    wire::encode_reply(message.get(), id, outcome, result);
    std::string error;
    if(!append_frame(output_, message.get(), error)) {
        // The result cannot travel (too large, or text that is not UTF-8): say so instead.
        ScopedVar refusal_message;
        wire::encode_reply(refusal_message.get(), id, {amxd_status_unknown_error, "reply not sent: " + error}, nullptr);
        append_frame(output_, refusal_message.get(), error);
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

void ServerConnection::flush() {
    while(!closed() && output_start_ < output_.size()) {
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
            watch(closing_ ? AMXP_FD_WRITE : AMXP_FD_READ | AMXP_FD_WRITE);
            return;
        }
        output_start_ += static_cast<std::size_t>(sent);
    }
    if(closed()) {
        return;
    }
    output_.clear();
    output_start_ = 0;
    if(closing_) {
        close_now();
    } else {
        watch(AMXP_FD_READ);
    }
}

void ServerConnection::watch(uint32_t events) {
    if(!closed() && events != watched_events_ && amxp_loop_modify_fd(fd_, events) == 0) {
        watched_events_ = events;
    }
}

}  // namespace amxb
