#include "wire.h"

#include <array>
#include <cstring>
#include <utility>

namespace amxb::wire {

namespace {

constexpr std::array<std::pair<Op, const char*>, 5> op_names = {{
    {Op::get, "get"}, {Op::set, "set"}, {Op::add, "add"}, {Op::del, "del"}, {Op::call, "call"},
}};

// A member that must be a table when present; NULL when absent or null.
bool optional_table(const amxc_var_t* message, const char* key, const amxc_var_t*& table) {
    const amxc_var_t* member = amxc_var_get_key(message, key, AMXC_VAR_FLAG_DEFAULT);
    if(member == nullptr || amxc_var_type_of(member) == AMXC_VAR_ID_NULL) {
        table = nullptr;
        return true;
    }
    table = member;
    return amxc_var_type_of(member) == AMXC_VAR_ID_HTABLE;
}

}  // namespace

const char* text_of(const amxc_var_t* message, const char* key) {
    const amxc_var_t* member = amxc_var_get_key(message, key, AMXC_VAR_FLAG_DEFAULT);
    return amxc_var_type_of(member) == AMXC_VAR_ID_CSTRING ? amxc_var_get_const_cstring_t(member) : nullptr;
}

bool integer_of(const amxc_var_t* message, const char* key, int64_t min, int64_t max, int64_t& value) {
    const amxc_var_t* member = amxc_var_get_key(message, key, AMXC_VAR_FLAG_DEFAULT);
    switch(amxc_var_type_of(member)) {
    case AMXC_VAR_ID_INT32:
    case AMXC_VAR_ID_INT64:
        value = amxc_var_get_int64_t(member);
        break;
    case AMXC_VAR_ID_UINT32:
    case AMXC_VAR_ID_UINT64:
        if(amxc_var_get_uint64_t(member) > static_cast<uint64_t>(INT64_MAX)) {
            return false;
        }
        value = static_cast<int64_t>(amxc_var_get_uint64_t(member));
        break;
    default:
        return false;
    }
    return value >= min && value <= max;
}

const char* op_name(Op op) {
    for(const auto& [known, name] : op_names) {
        if(known == op) {
            return name;
        }
    }
    return "";
}

void encode_request(amxc_var_t* message, uint64_t id, const Request& request) {
    amxc_var_set_type(message, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(uint64_t, message, "id", id);
    amxc_var_add_key(cstring_t, message, "op", op_name(request.op));
    amxc_var_add_key(cstring_t, message, "path", request.path.c_str());
    switch(request.op) {
    case Op::get:
        amxc_var_add_key(int32_t, message, "depth", request.depth);
        break;
    case Op::set:
        amxc_var_copy(amxc_var_add_new_key(message, "values"), request.values);
        break;
    case Op::add:
        amxc_var_add_key(uint32_t, message, "index", request.index);
        amxc_var_add_key(cstring_t, message, "name", request.name.c_str());
        amxc_var_copy(amxc_var_add_new_key(message, "values"), request.values);
        break;
    case Op::del:
        break;
    case Op::call:
        amxc_var_add_key(cstring_t, message, "method", request.method.c_str());
        amxc_var_copy(amxc_var_add_new_key(message, "args"), request.args);
        break;
    }
}

bool decode_request(amxc_var_t* message, Request& request, std::string& error) {
    const char* op = text_of(message, "op");
    const char* path = text_of(message, "path");
    bool known = false;
    for(const auto& [kind, name] : op_names) {
        if(op != nullptr && std::strcmp(op, name) == 0) {
            request.op = kind;
            known = true;
        }
    }
    if(!known) {
        error = op == nullptr ? "missing \"op\"" : std::string("unknown op \"") + op + "\"";
        return false;
    }
    if(path == nullptr) {
        error = "missing \"path\"";
        return false;
    }
    request.path = path;
    int64_t number = 0;
    switch(request.op) {
    case Op::get:
        if(!integer_of(message, "depth", INT32_MIN, INT32_MAX, number)) {
            error = "\"depth\" must be an integer";
            return false;
        }
        request.depth = static_cast<int32_t>(number);
        break;
    case Op::set:
        if(!optional_table(message, "values", request.values) || request.values == nullptr) {
            error = "\"values\" must be an object";
            return false;
        }
        break;
    case Op::add: {
        const char* name = text_of(message, "name");
        if(!integer_of(message, "index", 0, UINT32_MAX, number)) {
            error = "\"index\" must be an integer from 0 to 4294967295";
            return false;
        }
        request.index = static_cast<uint32_t>(number);
        request.name = name == nullptr ? "" : name;
        if(!optional_table(message, "values", request.values)) {
            error = "\"values\" must be an object or null";
            return false;
        }
        break;
    }
    case Op::del:
        break;
    case Op::call: {
        const char* method = text_of(message, "method");
        amxc_var_t* args = amxc_var_get_key(message, "args", AMXC_VAR_FLAG_DEFAULT);
        if(method == nullptr || method[0] == '\0') {
            error = "missing \"method\"";
            return false;
        }
        if(amxc_var_type_of(args) != AMXC_VAR_ID_NULL && amxc_var_type_of(args) != AMXC_VAR_ID_HTABLE) {
            error = "\"args\" must be an object or null";
            return false;
        }
        request.method = method;
        request.args = amxc_var_type_of(args) == AMXC_VAR_ID_HTABLE ? args : nullptr;
        break;
    }
    }
    return true;
}

void encode_reply(amxc_var_t* message, uint64_t id, const Outcome& outcome, amxc_var_t* result) {
    amxc_var_set_type(message, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(uint64_t, message, "id", id);
    amxc_var_add_key(int32_t, message, "status", outcome.status);
    amxc_var_add_key(cstring_t, message, "error", outcome.error.c_str());
    amxc_var_t* slot = amxc_var_add_new_key(message, "result");
    if(result != nullptr) {
        amxc_var_move(slot, result);
    }
}

void encode_part(amxc_var_t* message, uint64_t id, const amxc_var_t* at, amxc_var_t* piece) {
    amxc_var_set_type(message, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(uint64_t, message, "id", id);
    amxc_var_copy(amxc_var_add_new_key(message, "at"), at);
    amxc_var_move(amxc_var_add_new_key(message, "part"), piece);
}

void encode_event(amxc_var_t* message, uint64_t sid, const char* name, const amxc_var_t* data) {
    amxc_var_set_type(message, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(uint64_t, message, "sid", sid);
    amxc_var_add_key(cstring_t, message, "event", name);
    amxc_var_copy(amxc_var_add_new_key(message, "data"), data);
}

}  // namespace amxb::wire
