#include "module_fixture.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <amxc/amxc_scoped_var.h>
#include <amxp/amxp_clock.h>
#include <amxp/amxp_loop.h>
#include <fwinterface/backend.h>
#include <gmap/gmap_main.h>
#include <zebtrace/zebtrace.h>

namespace {

// "zone    - [m]message - function(file@line)"; entry and exit lines carry no mark.
void capture(int /*level*/, const char* zone, const char* line, void* priv) {
    const std::string text = line;
    const size_t open = text.find(" - [");
    const size_t tail = text.rfind(" - ");
    if(open != std::string::npos && tail != std::string::npos && tail >= open + 5) {
        static_cast<std::vector<TraceLine>*>(priv)->push_back({zone, text[open + 4], text.substr(open + 6, tail - (open + 6))});
    }
}

amxc_var_t* table_of(amxc_var_t* var, const Params& values) {
    amxc_var_set_type(var, AMXC_VAR_ID_HTABLE);
    for(const auto& [name, value] : values) {
        amxc_var_add_new_key_cstring_t(var, name.c_str(), value.c_str());
    }
    return var;
}

template<typename Fn>
void bind(void* handle, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(handle, name));
    ASSERT_NE(fn, nullptr) << name;
}

}  // namespace

void ModuleTest::SetUp() {
    amxp_loop_reset();
    amxp_clock_set_manual(true);
    zebtrace_reset();
    zebtrace_set_quiet(true);
    zebtrace_set_capture(capture, &captured_);
    ASSERT_EQ(fw_backend_select("memory"), 0);
    fw_reset();

    load(hosts_, NS_HOSTS_DEF);
    load(schedules_, NS_SCHEDULES_DEF);
    load(devices_, NS_DEVICES_DEF);
    if(autostart_) {
        start();
    }
}

void ModuleTest::TearDown() {
    unload();
    // The client forgets the device map before its context goes, so that a context of the
    // next test at the same address is not taken for this one.
    gmap_client_init(nullptr);
    unload(devices_);
    unload(schedules_);
    unload(hosts_);
    amxp_loop_reset();
    amxp_clock_set_manual(false);
    fw_reset();
    zebtrace_reset();
}

// Same order as the runtime: the tree is loaded and served on the bus before the entry
// points run, so that a module finds its root and the context serving it.
void ModuleTest::load(Loaded& loaded, const char* definition, const std::string& prefix) {
    ASSERT_EQ(amxd_dm_new(&loaded.dm), amxd_status_ok);
    ASSERT_EQ(amxo_parser_new(&loaded.parser), 0);
    ASSERT_EQ(amxo_parser_add_import_dir(loaded.parser, NS_MODULE_DIR), 0);
    if(!prefix.empty()) {
        amxc::ScopedVar value;
        amxc_var_set_cstring_t(value.get(), prefix.c_str());
        ASSERT_EQ(amxo_parser_set_config(loaded.parser, "prefix_", value.get()), 0);
    }
    ASSERT_EQ(amxo_parser_parse_file(loaded.parser, definition, amxd_dm_get_root(loaded.dm)), 0)
        << amxo_parser_get_message(loaded.parser);
    ASSERT_EQ(amxb_register_dm(&loaded.ctx, loaded.dm), 0);
    ASSERT_EQ(amxo_parser_invoke_entry_points(loaded.parser, loaded.dm, 0), 0);
}

void ModuleTest::unload(Loaded& loaded) {
    if(loaded.parser != nullptr) {
        amxo_parser_invoke_entry_points(loaded.parser, loaded.dm, 1);
    }
    amxb_free(&loaded.ctx);
    amxd_dm_delete(&loaded.dm);
    amxo_parser_delete(&loaded.parser);
}

void ModuleTest::start(const std::string& prefix, const std::string& definition) {
    prefix_ = prefix;
    load(module_, definition.c_str(), prefix);
    bind_api();
    settle();
}

// The parser keeps the module loaded until it is deleted: the handle is only for the look-up.
void ModuleTest::bind_api() {
    void* handle = dlopen(NS_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr) << dlerror();
    bind(handle, "firewall_rule_create", api_.rule_create);
    bind(handle, "firewall_rule_delete", api_.rule_delete);
    bind(handle, "firewall_rule_set", api_.rule_set);
    bind(handle, "firewall_rule_apply", api_.rule_apply);
    bind(handle, "networksettings_get_ctx", api_.get_ctx);
    bind(handle, "networksettings_get_root", api_.get_root);
    bind(handle, "convert_ip_range_to_csv", api_.convert_ip_range);
    dlclose(handle);
}

void ModuleTest::unload() {
    if(module_.parser != nullptr) {
        unload(module_);
        api_ = ModuleApi{};
    }
}

int ModuleTest::add(const std::string& table, const Params& values, const std::string& name, uint32_t* index) {
    amxc::ScopedVar args;
    amxc::ScopedVar ret;
    const int rc = amxb_add(amxb_be_who_has(table.c_str()), table.c_str(), 0, name.c_str(), table_of(args.get(), values),
                            ret.get(), 0);
    if(index != nullptr) {
        *index = rc == 0 ? amxc_var_get_uint32_t(amxc_var_get_key(ret.get(), "index", AMXC_VAR_FLAG_DEFAULT)) : 0;
    }
    return rc;
}

int ModuleTest::set(const std::string& object, const Params& values) {
    amxc::ScopedVar args;
    return amxb_set(amxb_be_who_has(object.c_str()), object.c_str(), table_of(args.get(), values), nullptr, 0);
}

std::string ModuleTest::added(const std::string& table, const Params& values, const std::string& name) {
    uint32_t index = 0;
    EXPECT_EQ(add(table, values, name, &index), 0) << table;
    settle();
    return table + std::to_string(index);
}

std::string ModuleTest::network_object(const std::vector<Params>& rules, const std::string& name) {
    const std::string object = added(path("NetworkObject."), {{"Name", name}}, name);
    for(const Params& rule : rules) {
        added(object + ".Rule.", rule);
    }
    return object;
}

std::string ModuleTest::host(const std::string& ipv4) {
    const std::string host = added("Hosts.Host.", {});
    added(host + ".IPv4Address.", {{"IPAddress", ipv4}});
    return host;
}

std::string ModuleTest::get(const std::string& object, const std::string& param) const {
    amxc::ScopedVar ret;
    std::string value = "<absent>";
    const std::string full = object + param;
    if(amxb_get(amxb_be_who_has(object.c_str()), full.c_str(), 0, ret.get(), 0) == 0) {
        const amxc_var_t* params = amxc_var_get_first(amxc_var_get_index(ret.get(), 0, AMXC_VAR_FLAG_DEFAULT));
        char* text = amxc_var_get_cstring_t(amxc_var_get_key(params, param.c_str(), AMXC_VAR_FLAG_DEFAULT));
        if(text != nullptr) {
            value = text;
            free(text);
        }
    }
    return value;
}

void ModuleTest::settle() {
    // Bounded: a module that keeps re-queueing work must fail the test, not hang it.
    for(int round = 0; round < 10000 && amxp_loop_run_pending() > 0; round++) {
    }
}

void ModuleTest::tick(uint64_t ms) {
    settle();  // what was already due happens now, not after the clock moved
    amxp_clock_advance(ms);
    settle();
}

std::string ModuleTest::dump() {
    std::unique_ptr<char, decltype(&free)> text(fw_dump(), free);
    return text ? text.get() : "";
}

std::string ModuleTest::expected_dump(const std::vector<std::string>& ipv4) {
    std::string text = "# ipv4\n*filter\n:FORWARD_AccessControl_QK - [0:0]\n";
    for(const std::string& rule : ipv4) {
        text += "-A FORWARD_AccessControl_QK " + rule + "\n";
    }
    return text + "COMMIT\n# ipv6\n*filter\n:FORWARD6_AccessControl_QK - [0:0]\nCOMMIT\n";
}

int ModuleTest::count(const std::string& message) const {
    return static_cast<int>(std::count_if(captured_.begin(), captured_.end(), [&](const TraceLine& line) { return line.message == message; }));
}

bool ModuleTest::traced(char mark, const std::string& message) const {
    return std::any_of(captured_.begin(), captured_.end(),
                       [&](const TraceLine& line) { return line.mark == mark && line.message == message; });
}
