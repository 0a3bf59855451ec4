// C entry points of the process-wide loop.
#include "amxp/amxp_loop.h"

#include "loop.h"

#include <cerrno>

extern "C" {

int amxp_loop_run(void) {
    return amxp::default_loop().run();
}

int amxp_loop_run_once(int timeout_ms) {
    return amxp::default_loop().run_once(timeout_ms);
}

int amxp_loop_run_pending(void) {
    return amxp::default_loop().run_pending();
}

void amxp_loop_stop(void) {
    amxp::default_loop().stop();
}

bool amxp_loop_is_running(void) {
    return amxp::default_loop().is_running();
}

int amxp_loop_add_fd(int fd, uint32_t events, amxp_fd_cb_t cb, void* priv) {
    return amxp::default_loop().fds().add(fd, events, cb, priv);
}

int amxp_loop_modify_fd(int fd, uint32_t events) {
    return amxp::default_loop().fds().modify(fd, events);
}

int amxp_loop_remove_fd(int fd) {
    return amxp::default_loop().fds().remove(fd);
}

int amxp_loop_defer(amxp_deferred_fn_t fn, void* priv) {
    if(fn == nullptr) {
        return -EINVAL;
    }
    return amxp::default_loop().work().push(fn, priv);
}

int amxp_loop_cancel_deferred(amxp_deferred_fn_t fn, void* priv) {
    return amxp::default_loop().work().cancel(fn, priv);
}

void amxp_loop_slice_point(void) {
    amxp::default_loop().slice_point();
}

void amxp_loop_slice_point_now(void) {
    amxp::default_loop().slice_point(true);
}

void amxp_loop_hold_slices(void) {
    amxp::default_loop().hold_slices();
}

void amxp_loop_release_slices(void) {
    amxp::default_loop().release_slices();
}

bool amxp_loop_is_paused(void) {
    return amxp::default_loop().paused();
}

int amxp_loop_serve_while_paused(int fd, bool serve) {
    return amxp::default_loop().fds().serve_while_paused(fd, serve);
}

void amxp_loop_reset(void) {
    amxp::default_loop().reset();
}

} // extern "C"
