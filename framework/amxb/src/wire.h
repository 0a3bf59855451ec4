// The messages on the socket, each one JSON object:
//   request  {"id": n, "op": "get"|"set"|"add"|"del"|"call"|"subscribe"|"unsubscribe"|"roots",
//             "path": s, "depth": n, "values": {..}, "index": n, "name": s, "method": s,
//             "args": {..}, "expression": s, "sid": n}       (members as the op needs them)
//   reply    {"id": n, "status": n, "error": s, "result": any}
//   part     {"id": n, "at": [..], "part": any}                 (see reply_parts.h)
//   reply    {"id": n, "status": n, "error": s, "result": null, "parts": n}   after n parts
//   event    {"sid": n, "event": s, "data": {..}}
// A reply carries the id of its request (0 when the request was unreadable, or when the
// connection is refused or closed by the server, just before it closes); an event carries
// the subscription id the client chose when it subscribed. A result too large for one frame
// comes as parts, then the reply that counts them; a part has no status, so a client that
// does not know parts refuses it instead of taking a piece for the whole.
#ifndef AMXB_WIRE_H
#define AMXB_WIRE_H

#include <cstdint>
#include <string>

#include "bus_ctx.h"

namespace amxb::wire {

// Text member of a message; NULL when absent or not a text.
const char* text_of(const amxc_var_t* message, const char* key);

// Integer member within [min, max]; false when absent, not an integer or out of range.
bool integer_of(const amxc_var_t* message, const char* key, int64_t min, int64_t max, int64_t& value);

// The op name of a request kind.
const char* op_name(Op op);

// Builds the request message for `request` into `message`.
void encode_request(amxc_var_t* message, uint64_t id, const Request& request);

// Reads a get/set/add/del/call request; `request` borrows values and args from `message`
// (the method of a call may change its arguments, hence not const).
// False, with `error` set, when a member is missing or of the wrong type, or the op is not
// one of those five.
bool decode_request(amxc_var_t* message, Request& request, std::string& error);

// Builds a reply; `result` (may be NULL) is moved into it.
void encode_reply(amxc_var_t* message, uint64_t id, const Outcome& outcome, amxc_var_t* result);

// Builds a reply part; `piece` is moved into it.
void encode_part(amxc_var_t* message, uint64_t id, const amxc_var_t* at, amxc_var_t* piece);

// Builds an event; `data` is copied.
void encode_event(amxc_var_t* message, uint64_t sid, const char* name, const amxc_var_t* data);

}  // namespace amxb::wire

#endif
