// A module for the runtime's tests. It appends one line per event of interest to the file named
// by the configuration key "test_log": its entry points (with the prefix it was given and
// whether the services sit on bus contexts of their own), and the destruction of its objects.
// Its method Echo returns its arguments; Fail always fails.
#include <amxb/amxb.h>
#include <amxd/amxd.h>
#include <amxo/amxo.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string log_path;

void log_line(const std::string& line) {
    if (!log_path.empty()) {
        std::ofstream(log_path, std::ios::app) << line << "\n";
    }
}

std::string config_text(amxo_parser_t* parser, const char* key) {
    const char* text = amxc_var_get_const_cstring_t(amxo_parser_get_config(parser, key));
    return text != nullptr ? text : "";
}

// "distinct" when the module's tree and both services are served by three different contexts.
std::string service_contexts() {
    amxb_bus_ctx_t* device = amxb_be_who_has("Device.");
    amxb_bus_ctx_t* hosts = amxb_be_who_has("Hosts.");
    amxb_bus_ctx_t* schedules = amxb_be_who_has("Schedules.");
    if (device == nullptr || hosts == nullptr || schedules == nullptr) {
        return "missing";
    }
    return device != hosts && device != schedules && hosts != schedules ? "distinct" : "shared";
}

int entry(const char* name, int reason, amxo_parser_t* parser) {
    if (reason == 0) {
        log_path = config_text(parser, "test_log");
        log_line(std::string("start ") + name + " prefix=" + config_text(parser, "prefix_") +
                 " services=" + service_contexts());
        const amxc_var_t* fail = amxo_parser_get_config(parser, "test_fail_start");
        return fail != nullptr && amxc_var_get_bool(fail) && name[0] == 'b' ? 1 : 0;
    }
    log_line(std::string("stop ") + name);
    return 0;
}

}  // namespace

extern "C" {

int _test_main_a(int reason, amxd_dm_t* /*dm*/, amxo_parser_t* parser) { return entry("a", reason, parser); }
int _test_main_b(int reason, amxd_dm_t* /*dm*/, amxo_parser_t* parser) { return entry("b", reason, parser); }

amxd_status_t _test_destroy(amxd_object_t* object, amxd_param_t* /*param*/, amxd_action_t reason,
                            const amxc_var_t* const /*args*/, amxc_var_t* const /*retval*/, void* /*priv*/) {
    if (reason == action_object_destroy) {
        char* path = amxd_object_get_path(object, AMXD_OBJECT_INDEXED | AMXD_OBJECT_TERMINATE);
        log_line(std::string("destroy ") + (path != nullptr ? path : "?"));
        std::free(path);
    }
    return amxd_status_ok;
}

amxd_status_t _Echo(amxd_object_t* /*object*/, amxd_function_t* /*func*/, amxc_var_t* args, amxc_var_t* ret) {
    return amxc_var_copy(ret, args) == 0 ? amxd_status_ok : amxd_status_unknown_error;
}

amxd_status_t _Fail(amxd_object_t* /*object*/, amxd_function_t* /*func*/, amxc_var_t* /*args*/, amxc_var_t* /*ret*/) {
    return amxd_status_invalid_value;
}

}  // extern "C"
