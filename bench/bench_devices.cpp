// Device map: what one device change costs from the write to the module's callback, with
// 1,000 open MAC-address queries and 100 / 1,000 / 10,000 devices, against the same change
// with no query open (the data model and bus alone); what opening one query costs; and the
// evaluation of the queries alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include <amxb/amxb.h>
#include <amxd/amxd.h>
#include <amxo/amxo.h>
#include <amxp/amxp_loop.h>
#include <gmap/gmap_main.h>
#include <gmap/gmap_query.h>
#include <zebtrace/zebtrace.h>

#include "query_book.h"

namespace {

std::string mac_of(int device) {
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:00:00:%02x:%02x:%02x", (device >> 16) & 0xff, (device >> 8) & 0xff, device & 0xff);
    return mac;
}

std::string mac_rule(int device) { return "not self and physical and .PhysAddress matches \"" + mac_of(device) + "\""; }

int reports = 0;

void count_report(gmap_query_t* /*query*/, const char* /*key*/, amxc_var_t* /*device*/, gmap_query_action_t /*action*/) {
    ++reports;
}

void settle() {
    while(amxp_loop_run_pending() > 0) {
    }
}

// The service as gwrt hosts it, with `queries` MAC rules open (for devices 0, 1, ...) and
// `devices` devices, the rules opened first so that building the scene stays affordable.
class Scene {
public:
    Scene(int devices, int queries) {
        zebtrace_set_level(nullptr, TRACE_LEVEL_WARNING);
        amxd_dm_new(&dm_);
        amxo_parser_new(&parser_);
        amxo_parser_add_import_dir(parser_, DEVICES_MODULE_DIR);
        ok_ = amxo_parser_parse_file(parser_, DEVICES_DEF, amxd_dm_get_root(dm_)) == 0 &&
              amxo_parser_invoke_entry_points(parser_, dm_, 0) == 0 && amxb_register_dm(&ctx_, dm_) == 0;
        gmap_client_init(ctx_);
        for(int i = 0; ok_ && i < queries; ++i) {
            gmap_query_t* query = gmap_query_open_ext(mac_rule(i).c_str(), nullptr, count_report, nullptr);
            ok_ = query != nullptr;
            open_.push_back(query);
        }
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        for(int i = 0; i < devices; ++i) {
            amxd_trans_select_pathf(&trans, "Devices.Device.");
            amxd_trans_add_inst(&trans, 0, nullptr);
            amxd_trans_set_cstring_t(&trans, "PhysAddress", mac_of(i).c_str());
            amxd_trans_set_cstring_t(&trans, "IPAddress", ("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250)).c_str());
            amxd_trans_set_cstring_t(&trans, "Tags", "physical lan");
        }
        ok_ = ok_ && amxd_trans_apply(&trans, dm_) == amxd_status_ok;
        amxd_trans_clean(&trans);
        settle();
    }

    ~Scene() {
        for(gmap_query_t* query : open_) {
            gmap_query_close(query);
        }
        gmap_client_init(nullptr);
        amxo_parser_invoke_entry_points(parser_, dm_, 1);
        amxb_free(&ctx_);
        amxd_dm_delete(&dm_);
        amxo_parser_delete(&parser_);
        amxp_loop_reset();
    }

    bool ok() const { return ok_; }
    amxb_bus_ctx_t* ctx() const { return ctx_; }

private:
    amxd_dm_t* dm_ = nullptr;
    amxo_parser_t* parser_ = nullptr;
    amxb_bus_ctx_t* ctx_ = nullptr;
    std::vector<gmap_query_t*> open_;
    bool ok_ = false;
};

// One change of device 1's address, written over the bus as a client does, until every
// report it causes has reached the callback.
void BM_DeviceChange(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    const int queries = static_cast<int>(state.range(1));
    Scene scene(devices, queries);
    if(!scene.ok()) {
        state.SkipWithError("scene not built");
        return;
    }
    amxc_var_t values;
    amxc_var_init(&values);
    amxc_var_set_type(&values, AMXC_VAR_ID_HTABLE);
    amxc_var_t* ip = amxc_var_add_new_key_cstring_t(&values, "IPAddress", "");
    reports = 0;
    int round = 0;
    for(auto _ : state) {
        amxc_var_set_cstring_t(ip, (round++ % 2) == 0 ? "10.1.0.1" : "10.1.0.2");
        if(amxb_set(scene.ctx(), "Devices.Device.2.", &values, nullptr, 0) != 0) {
            state.SkipWithError("set refused");
            break;
        }
        settle();
    }
    amxc_var_clean(&values);
    state.counters["reports_per_change"] = benchmark::Counter(static_cast<double>(reports) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_DeviceChange)
    ->ArgNames({"devices", "queries"})
    ->ArgsProduct({{100, 1000, 10000}, {0, 1000}})
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

// Opening one MAC query reads every device once, then its one start-matching report arrives.
void BM_OpenQuery(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    Scene scene(devices, 0);
    if(!scene.ok()) {
        state.SkipWithError("scene not built");
        return;
    }
    const std::string rule = mac_rule(devices / 2);
    for(auto _ : state) {
        gmap_query_t* query = gmap_query_open_ext(rule.c_str(), nullptr, count_report, nullptr);
        settle();
        gmap_query_close(query);
    }
}
BENCHMARK(BM_OpenQuery)->ArgName("devices")->Arg(100)->Arg(1000)->Arg(10000)->Iterations(200)->Unit(benchmark::kMicrosecond);

// The evaluation alone: one device change against `queries` MAC rules, no data model, no bus.
void BM_QueryEvaluation(benchmark::State& state) {
    const int queries = static_cast<int>(state.range(0));
    int made = 0;
    devices::QueryBook book([&](std::uint32_t, const std::string&, devices::ReportAction, const amxc_var_t*) { ++made; });
    for(int i = 0; i < queries; ++i) {
        devices::ParseError error;
        book.open(devices::Expression::parse(mac_rule(i), error), "");
    }
    devices::DeviceView device;
    device.index = 1;
    device.key = "ID-1";
    device.fields.set("PhysAddress", mac_of(1));
    device.fields.set_tags("physical lan");
    for(auto _ : state) {
        book.device_changed(device);
    }
    benchmark::DoNotOptimize(made);
}
BENCHMARK(BM_QueryEvaluation)->ArgName("queries")->Arg(0)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
