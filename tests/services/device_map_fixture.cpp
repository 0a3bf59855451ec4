#include "device_map_fixture.h"

#include <algorithm>
#include <ostream>

#include <amxc/amxc_scoped_var.h>
#include <amxp/amxp_loop.h>
#include <zebtrace/zebtrace.h>

namespace {

std::vector<Seen> received;

void record(gmap_query_t* query, const char* key, amxc_var_t* device, gmap_query_action_t action) {
    std::string ip = "-";
    if(device != nullptr) {
        const char* text = amxc_var_get_const_cstring_t(amxc_var_get_key(device, "IPAddress", AMXC_VAR_FLAG_DEFAULT));
        ip = text == nullptr ? "<none>" : text;
    }
    received.push_back(Seen{key, action, ip, query->data});
}

void capture(int /*level*/, const char* /*zone*/, const char* line, void* priv) {
    static_cast<std::vector<std::string>*>(priv)->push_back(line);
}

amxc_var_t* table_of(amxc_var_t* var, const std::map<std::string, std::string>& values) {
    amxc_var_set_type(var, AMXC_VAR_ID_HTABLE);
    for(const auto& [name, value] : values) {
        amxc_var_add_new_key_cstring_t(var, name.c_str(), value.c_str());
    }
    return var;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
    static const char* const names[] = {"start", "updated", "stop", "error"};
    return out << "{" << seen.key << " " << names[seen.action] << " " << seen.ip << " " << seen.data << "}";
}

void DeviceMap::SetUp() {
    amxp_loop_reset();
    received.clear();
    zebtrace_reset();
    zebtrace_set_quiet(true);
    zebtrace_set_capture(capture, &traces_);
    ASSERT_EQ(amxd_dm_new(&dm_), amxd_status_ok);
    ASSERT_EQ(amxo_parser_new(&parser_), 0);
    ASSERT_EQ(amxo_parser_add_import_dir(parser_, DEVICES_MODULE_DIR), 0);
    ASSERT_EQ(amxo_parser_parse_file(parser_, DEVICES_DEF, amxd_dm_get_root(dm_)), 0) << amxo_parser_get_message(parser_);
    ASSERT_EQ(amxo_parser_invoke_entry_points(parser_, dm_, 0), 0);
    ASSERT_EQ(amxb_register_dm(&ctx_, dm_), 0);
    gmap_client_init(amxb_be_who_has("Devices.Device."));
    ASSERT_EQ(gmap_client_get_ctx(), ctx_);
}

void DeviceMap::TearDown() {
    for(gmap_query_t* query : open_) {
        gmap_query_close(query);
    }
    // Told before the context goes, so that a context of the next test at the same address
    // is not taken for this one.
    gmap_client_init(nullptr);
    amxo_parser_invoke_entry_points(parser_, dm_, 1);
    amxb_free(&ctx_);
    amxd_dm_delete(&dm_);
    amxo_parser_delete(&parser_);
    amxp_loop_reset();
    zebtrace_reset();
}

uint32_t DeviceMap::add(const std::map<std::string, std::string>& values) {
    amxc::ScopedVar args;
    amxc::ScopedVar ret;
    const int rc = amxb_add(ctx_, "Devices.Device.", 0, nullptr, table_of(args.get(), values), ret.get(), 0);
    return rc == 0 ? amxc_var_get_uint32_t(amxc_var_get_key(ret.get(), "index", AMXC_VAR_FLAG_DEFAULT)) : 0;
}

int DeviceMap::set(uint32_t index, const std::map<std::string, std::string>& values) {
    amxc::ScopedVar args;
    const std::string path = "Devices.Device." + std::to_string(index) + ".";
    return amxb_set(ctx_, path.c_str(), table_of(args.get(), values), nullptr, 0);
}

int DeviceMap::del(uint32_t index) {
    const std::string path = "Devices.Device." + std::to_string(index) + ".";
    return amxb_del(ctx_, path.c_str(), nullptr, 0);
}

gmap_query_t* DeviceMap::open(const std::string& expression, void* tag) {
    gmap_query_t* query = gmap_query_open_ext(expression.c_str(), "NetworkObject.1.Rule.1", record, tag);
    if(query != nullptr) {
        open_.push_back(query);
    }
    return query;
}

void DeviceMap::close(gmap_query_t* query) {
    open_.erase(std::remove(open_.begin(), open_.end(), query), open_.end());
    gmap_query_close(query);
}

void DeviceMap::settle() {
    while(amxp_loop_run_pending() > 0) {
    }
}

std::vector<Seen> DeviceMap::take() {
    std::vector<Seen> taken;
    taken.swap(received);
    return taken;
}

bool DeviceMap::traced(const std::string& part) const {
    return std::any_of(traces_.begin(), traces_.end(), [&](const std::string& line) { return line.find(part) != std::string::npos; });
}
