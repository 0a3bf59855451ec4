// What users feel of the loader: start-up time spent loading definitions (against building the
// same tree by hand through the data-model API), and the per-event cost of the path filter that
// scopes every event binding (against the binding's own filter alone).
#include <string>

#include <benchmark/benchmark.h>

#include <amxd/amxd.h>
#include <amxo/amxo.h>
#include <amxp/amxp_expr.h>
#include <amxp/amxp_loop.h>

namespace {

constexpr int kParams = 10;

std::string definition(int tables) {
    std::string text = "%config { prefix_ = \"X_\"; }\n%define { object Device { object \"${prefix_}Root\" {\n";
    for (int t = 0; t < tables; ++t) {
        text += "object T" + std::to_string(t) + "[] {\n";
        for (int p = 0; p < kParams; ++p) {
            text += (p % 2 == 0 ? "  string P" : "  uint32 P") + std::to_string(p) + (p % 2 == 0 ? " = \"x\";\n" : " = 7;\n");
        }
        text += "  object Sub { bool Enable = true; }\n}\n";
    }
    return text + "} } }\n";
}

void BM_LoadDefinition(benchmark::State& state) {
    const std::string text = definition(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        amxd_dm_t* dm = nullptr;
        amxo_parser_t* parser = nullptr;
        amxd_dm_new(&dm);
        amxo_parser_new(&parser);
        if (amxo_parser_parse_string(parser, text.c_str(), amxd_dm_get_root(dm)) != 0) {
            state.SkipWithError(amxo_parser_get_message(parser));
        }
        amxd_dm_delete(&dm);
        amxo_parser_delete(&parser);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_LoadDefinition)->Arg(10)->Arg(100)->Arg(1000);

// Baseline: the same tree through the data-model API, with the same values.
void BM_BuildByHand(benchmark::State& state) {
    for (auto _ : state) {
        amxd_dm_t* dm = nullptr;
        amxd_dm_new(&dm);
        amxd_object_t* device = nullptr;
        amxd_object_t* root = nullptr;
        amxd_object_new(&device, amxd_object_singleton, "Device");
        amxd_object_add_object(amxd_dm_get_root(dm), device);
        amxd_object_new(&root, amxd_object_singleton, "X_Root");
        amxd_object_add_object(device, root);
        amxc_var_t text;
        amxc_var_t number;
        amxc_var_init(&text);
        amxc_var_init(&number);
        amxc_var_set_cstring_t(&text, "x");
        amxc_var_set_uint32_t(&number, 7);
        for (int t = 0; t < state.range(0); ++t) {
            amxd_object_t* templ = nullptr;
            amxd_object_new(&templ, amxd_object_template, ("T" + std::to_string(t)).c_str());
            for (int p = 0; p < kParams; ++p) {
                amxd_param_t* param = nullptr;
                amxd_param_new(&param, ("P" + std::to_string(p)).c_str(), p % 2 == 0 ? AMXC_VAR_ID_CSTRING : AMXC_VAR_ID_UINT32);
                amxd_param_set_value(param, p % 2 == 0 ? &text : &number);
                amxd_object_add_param(templ, param);
            }
            amxd_object_t* sub = nullptr;
            amxd_object_new(&sub, amxd_object_singleton, "Sub");
            amxd_param_t* enable = nullptr;
            amxd_param_new(&enable, "Enable", AMXC_VAR_ID_BOOL);
            amxd_object_add_param(sub, enable);
            amxd_object_add_object(templ, sub);
            amxd_object_add_object(root, templ);
        }
        amxc_var_clean(&text);
        amxc_var_clean(&number);
        amxd_dm_delete(&dm);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildByHand)->Arg(10)->Arg(100)->Arg(1000);

// %populate of N instances (one transaction) against the same transaction written by hand.
void BM_PopulateInstances(benchmark::State& state) {
    std::string text = "%populate { object Device.X_Root.T0 {\n";
    for (int i = 0; i < state.range(0); ++i) {
        text += "instance add(0, \"i" + std::to_string(i) + "\") { parameter P0 = \"v\"; parameter P1 = 3; }\n";
    }
    text += "} }\n";
    const std::string base = definition(1);
    for (auto _ : state) {
        state.PauseTiming();
        amxd_dm_t* dm = nullptr;
        amxo_parser_t* parser = nullptr;
        amxd_dm_new(&dm);
        amxo_parser_new(&parser);
        amxo_parser_parse_string(parser, base.c_str(), amxd_dm_get_root(dm));
        state.ResumeTiming();
        if (amxo_parser_parse_string(parser, text.c_str(), amxd_dm_get_root(dm)) != 0) {
            state.SkipWithError(amxo_parser_get_message(parser));
        }
        state.PauseTiming();
        amxd_dm_delete(&dm);
        amxo_parser_delete(&parser);
        amxp_loop_reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PopulateInstances)->Arg(100)->Arg(1000);

void BM_TransactionByHand(benchmark::State& state) {
    const std::string base = definition(1);
    for (auto _ : state) {
        state.PauseTiming();
        amxd_dm_t* dm = nullptr;
        amxo_parser_t* parser = nullptr;
        amxd_dm_new(&dm);
        amxo_parser_new(&parser);
        amxo_parser_parse_string(parser, base.c_str(), amxd_dm_get_root(dm));
        state.ResumeTiming();
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        for (int i = 0; i < state.range(0); ++i) {
            amxd_trans_select_pathf(&trans, "Device.X_Root.T0");
            amxd_trans_add_inst(&trans, 0, ("i" + std::to_string(i)).c_str());
            amxd_trans_set_cstring_t(&trans, "P0", "v");
            amxd_trans_set_uint32_t(&trans, "P1", 3);
        }
        if (amxd_trans_apply(&trans, dm) != amxd_status_ok) {
            state.SkipWithError("transaction refused");
        }
        amxd_trans_clean(&trans);
        state.PauseTiming();
        amxd_dm_delete(&dm);
        amxo_parser_delete(&parser);
        amxp_loop_reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TransactionByHand)->Arg(100)->Arg(1000);

// The filter of `on event "dm:object-changed" call f filter 'contains("parameters.Enable")'`
// in Device.X_Root.AccessControl[], as the loader generates it, evaluated on one event.
void eval_filter(benchmark::State& state, const char* text) {
    amxc_var_t data;
    amxc_var_init(&data);
    amxc_var_set_type(&data, AMXC_VAR_ID_HTABLE);
    amxc_var_add_new_key_cstring_t(&data, "notification", "dm:object-changed");
    amxc_var_add_new_key_cstring_t(&data, "path", "Device.X_Root.AccessControl.12.");
    amxc_var_t* params = amxc_var_add_new_key_htable(&data, "parameters");
    amxc_var_t* enable = amxc_var_add_new_key_htable(params, "Enable");
    amxc_var_add_new_key_bool(enable, "from", false);
    amxc_var_add_new_key_bool(enable, "to", true);
    amxp_expr_t* expr = nullptr;
    if (amxp_expr_new(&expr, text) != amxp_expr_status_ok) {
        state.SkipWithError("expression does not compile");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(amxp_expr_eval_var(expr, &data, nullptr));
    }
    amxp_expr_delete(&expr);
    amxc_var_clean(&data);
}

void BM_ScopedEventFilter(benchmark::State& state) {
    eval_filter(state, "path matches '^Device\\\\.X_Root\\\\.AccessControl\\\\.([0-9]+\\\\.)?$' && (contains(\"parameters.Enable\"))");
}
BENCHMARK(BM_ScopedEventFilter);

void BM_BindingFilterOnly(benchmark::State& state) {
    eval_filter(state, "contains(\"parameters.Enable\")");
}
BENCHMARK(BM_BindingFilterOnly);

}  // namespace
