// The C API: argument checks, then the context's own implementation.
#include <memory>
#include <string_view>

#include "bus_ctx.h"
#include "client_ctx.h"
#include "listener.h"
#include "local_ctx.h"
#include "variant_ptr.h"

namespace {

constexpr std::string_view unix_scheme = "unix:";

std::string& connect_error() {
    static std::string last;
    return last;
}

int finish(amxb_bus_ctx_t* ctx, const amxb::Outcome& outcome) {
    ctx->last_error = outcome.error;
    return outcome.status;
}

int bad_argument(amxb_bus_ctx_t* ctx, const char* why) {
    if(ctx != nullptr) {
        ctx->last_error = why;
    }
    return amxd_status_invalid_arg;
}

bool is_table_or_null(const amxc_var_t* var) {
    return var == nullptr || amxc_var_type_of(var) == AMXC_VAR_ID_HTABLE;
}

int run(amxb_bus_ctx_t* ctx, const amxb::Request& request, amxc_var_t* ret, int timeout_sec) {
    if(ret != nullptr) {
        return finish(ctx, ctx->execute(request, ret, timeout_sec));
    }
    amxb::ScopedVar ignored;
    return finish(ctx, ctx->execute(request, ignored.get(), timeout_sec));
}

}  // namespace

extern "C" {

int amxb_register_dm(amxb_bus_ctx_t** ctx, amxd_dm_t* dm) {
    if(ctx == nullptr || dm == nullptr) {
        return amxd_status_invalid_arg;
    }
    *ctx = new amxb::LocalCtx(dm);
    amxb::registry_add(*ctx, true);
    return 0;
}

int amxb_connect(amxb_bus_ctx_t** ctx, const char* uri) {
    if(ctx == nullptr) {
        return amxd_status_invalid_arg;
    }
    *ctx = nullptr;
    if(uri == nullptr || std::string_view(uri).substr(0, unix_scheme.size()) != unix_scheme) {
        connect_error() = "the address must start with unix:";
        return amxd_status_invalid_arg;
    }
    auto client = std::make_unique<amxb::ClientCtx>();
    const amxb::Outcome outcome = client->open(std::string(uri).substr(unix_scheme.size()));
    connect_error() = outcome.error;
    if(outcome.status != 0) {
        return outcome.status;
    }
    *ctx = client.release();
    amxb::registry_add(*ctx, false);
    return 0;
}

int amxb_listen(amxb_bus_ctx_t** listener, const char* socket_path) {
    if(listener == nullptr) {
        return amxd_status_invalid_arg;
    }
    *listener = nullptr;
    if(socket_path == nullptr) {
        return amxd_status_invalid_arg;
    }
    auto server = std::make_unique<amxb::Listener>();
    const amxb::Outcome outcome = server->open(socket_path);
    if(outcome.status != 0) {
        return outcome.status;
    }
    *listener = server.release();
    return 0;
}

int amxb_listen_set_peer_check(amxb_bus_ctx_t* listener, amxb_peer_check_fn_t fn, void* priv) {
    auto* server = dynamic_cast<amxb::Listener*>(listener);
    if(server == nullptr) {
        return amxd_status_invalid_arg;
    }
    server->set_peer_check(fn, priv);
    return 0;
}

int amxb_listen_set_limits(amxb_bus_ctx_t* listener, const amxb_listen_limits_t* limits) {
    auto* server = dynamic_cast<amxb::Listener*>(listener);
    if(server == nullptr || limits == nullptr) {
        return amxd_status_invalid_arg;
    }
    server->set_limits(*limits);
    return 0;
}

int amxb_listen_set_log(amxb_bus_ctx_t* listener, amxb_listen_log_fn_t fn, void* priv) {
    auto* server = dynamic_cast<amxb::Listener*>(listener);
    if(server == nullptr) {
        return amxd_status_invalid_arg;
    }
    server->set_log(fn, priv);
    return 0;
}

int amxb_set_reply_part_handler(amxb_bus_ctx_t* ctx, amxb_reply_part_fn_t fn, void* priv) {
    auto* client = dynamic_cast<amxb::ClientCtx*>(ctx);
    if(client == nullptr) {
        return amxd_status_invalid_arg;
    }
    client->set_part_handler(fn, priv);
    return 0;
}

void amxb_free(amxb_bus_ctx_t** ctx) {
    if(ctx == nullptr || *ctx == nullptr) {
        return;
    }
    amxb::registry_remove(*ctx);
    delete *ctx;
    *ctx = nullptr;
}

amxb_bus_ctx_t* amxb_be_who_has(const char* path) {
    return path == nullptr ? nullptr : amxb::registry_who_has(path, amxb::Scope::all);
}

int amxb_get_fd(const amxb_bus_ctx_t* ctx) {
    return ctx == nullptr ? -1 : ctx->fd();
}

const char* amxb_last_error(const amxb_bus_ctx_t* ctx) {
    return ctx == nullptr ? connect_error().c_str() : ctx->last_error.c_str();
}

int amxb_get(amxb_bus_ctx_t* ctx, const char* path, int32_t depth, amxc_var_t* ret, int timeout_sec) {
    if(ctx == nullptr || path == nullptr || ret == nullptr) {
        return bad_argument(ctx, "get needs a context, a path and a result variant");
    }
    amxb::Request request;
    request.op = amxb::Op::get;
    request.path = path;
    request.depth = depth;
    return run(ctx, request, ret, timeout_sec);
}

int amxb_set(amxb_bus_ctx_t* ctx, const char* object_path, const amxc_var_t* values, amxc_var_t* ret, int timeout_sec) {
    if(ctx == nullptr || object_path == nullptr || amxc_var_type_of(values) != AMXC_VAR_ID_HTABLE) {
        return bad_argument(ctx, "set needs a context, a path and a table of values");
    }
    amxb::Request request;
    request.op = amxb::Op::set;
    request.path = object_path;
    request.values = values;
    return run(ctx, request, ret, timeout_sec);
}

int amxb_add(amxb_bus_ctx_t* ctx, const char* template_path, uint32_t index, const char* name,
             const amxc_var_t* values, amxc_var_t* ret, int timeout_sec) {
    if(ctx == nullptr || template_path == nullptr || !is_table_or_null(values)) {
        return bad_argument(ctx, "add needs a context, a path and a table of values or NULL");
    }
    amxb::Request request;
    request.op = amxb::Op::add;
    request.path = template_path;
    request.index = index;
    request.name = name == nullptr ? "" : name;
    request.values = values;
    return run(ctx, request, ret, timeout_sec);
}

int amxb_del(amxb_bus_ctx_t* ctx, const char* instance_path, amxc_var_t* ret, int timeout_sec) {
    if(ctx == nullptr || instance_path == nullptr) {
        return bad_argument(ctx, "del needs a context and a path");
    }
    amxb::Request request;
    request.op = amxb::Op::del;
    request.path = instance_path;
    return run(ctx, request, ret, timeout_sec);
}

int amxb_call(amxb_bus_ctx_t* ctx, const char* object_path, const char* method,
              amxc_var_t* args, amxc_var_t* ret, int timeout_sec) {
    if(ctx == nullptr || object_path == nullptr || method == nullptr || method[0] == '\0' || !is_table_or_null(args)) {
        return bad_argument(ctx, "call needs a context, a path, a method name and a table of arguments or NULL");
    }
    amxb::Request request;
    request.op = amxb::Op::call;
    request.path = object_path;
    request.method = method;
    request.args = args;
    return run(ctx, request, ret, timeout_sec);
}

int amxb_subscribe(amxb_bus_ctx_t* ctx, const char* object_path, const char* expression,
                   amxp_slot_fn_t fn, void* priv) {
    if(ctx == nullptr || object_path == nullptr || fn == nullptr) {
        return bad_argument(ctx, "subscribe needs a context, a path and a callback");
    }
    if(expression != nullptr && expression[0] == '\0') {
        // An empty filter is more likely a mistake than a wish for every event.
        ctx->last_error = "empty expression (pass NULL for every event)";
        return amxd_status_invalid_expr;
    }
    return finish(ctx, ctx->subscribe(object_path, expression, fn, priv));
}

int amxb_unsubscribe(amxb_bus_ctx_t* ctx, const char* object_path, amxp_slot_fn_t fn, void* priv) {
    if(ctx == nullptr || object_path == nullptr || fn == nullptr) {
        return bad_argument(ctx, "unsubscribe needs a context, a path and a callback");
    }
    return finish(ctx, ctx->unsubscribe(object_path, fn, priv));
}

}  // extern "C"
