// Data model: path lookups as the tree grows, transaction cost per set, event delivery.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include <amxd/amxd.h>
#include <amxp/amxp_loop.h>
#include <amxp/amxp_slot.h>

namespace {

// Device.X.AccessControl[] with `count` named instances, each with an Enable parameter.
class Tree {
public:
    explicit Tree(int count) {
        amxd_dm_new(&dm_);
        amxd_object_t* device = nullptr;
        amxd_object_t* x = nullptr;
        amxd_object_new(&device, amxd_object_singleton, "Device");
        amxd_object_add_object(amxd_dm_get_root(dm_), device);
        amxd_object_new(&x, amxd_object_singleton, "X");
        amxd_object_add_object(device, x);
        amxd_object_new(&templ_, amxd_object_template, "AccessControl");
        amxd_object_add_object(x, templ_);
        for(const char* name : {"Enable", "Alias"}) {
            amxd_param_t* param = nullptr;
            amxd_param_new(&param, name, name[0] == 'E' ? AMXC_VAR_ID_BOOL : AMXC_VAR_ID_CSTRING);
            amxd_object_add_param(templ_, param);
        }
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        for(int i = 1; i <= count; ++i) {
            amxd_trans_select_object(&trans, templ_);
            char name[32];
            snprintf(name, sizeof(name), "cpe-%d", i);
            amxd_trans_add_inst(&trans, 0, name);
        }
        amxd_trans_apply(&trans, dm_);
        amxd_trans_clean(&trans);
        amxp_loop_run_pending();
    }
    ~Tree() {
        amxd_dm_delete(&dm_);
        amxp_loop_reset();
    }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    amxd_dm_t* dm() const { return dm_; }
    amxd_object_t* templ() const { return templ_; }

    // A transaction that sets Enable of the first `count` instances to `value`.
    amxd_status_t set_all(int count, bool value) {
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        int done = 0;
        amxd_object_for_each_instance(inst, templ_) {
            if(done++ == count) {
                break;
            }
            amxd_trans_select_object(&trans, inst);
            amxd_trans_set_bool(&trans, "Enable", value);
        }
        amxd_status_t status = amxd_trans_apply(&trans, dm_);
        amxd_trans_clean(&trans);
        return status;
    }

private:
    amxd_dm_t* dm_ = nullptr;
    amxd_object_t* templ_ = nullptr;
};

void BM_FindByIndex(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Tree tree(count);
    std::vector<std::string> paths;
    for(int i = 1; i <= count; i += count / 100) {
        paths.push_back("Device.X.AccessControl." + std::to_string(i) + ".");
    }
    std::size_t next = 0;
    for(auto _ : state) {
        benchmark::DoNotOptimize(amxd_dm_findf(tree.dm(), "%s", paths[next].c_str()));
        next = (next + 1) % paths.size();
    }
}
BENCHMARK(BM_FindByIndex)->Arg(100)->Arg(10000);

void BM_FindByName(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Tree tree(count);
    std::vector<std::string> paths;
    for(int i = 1; i <= count; i += count / 100) {
        paths.push_back("Device.X.AccessControl.cpe-" + std::to_string(i) + ".");
    }
    std::size_t next = 0;
    for(auto _ : state) {
        benchmark::DoNotOptimize(amxd_dm_findf(tree.dm(), "%s", paths[next].c_str()));
        next = (next + 1) % paths.size();
    }
}
BENCHMARK(BM_FindByName)->Arg(100)->Arg(10000);

// Record, apply and commit a transaction of N sets, each a real change (the events it queues
// are delivered outside the timing).
void BM_TransactionSets(benchmark::State& state) {
    const int sets = static_cast<int>(state.range(0));
    Tree tree(sets);
    bool value = false;
    for(auto _ : state) {
        value = !value;
        if(tree.set_all(sets, value) != amxd_status_ok) {
            state.SkipWithError("apply failed");
            break;
        }
        state.PauseTiming();
        amxp_loop_run_pending();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * sets);
}
BENCHMARK(BM_TransactionSets)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void count_event(const char* const, const amxc_var_t* const, void* const priv) {
    ++*static_cast<int64_t*>(priv);
}

// Delivery on the loop of the events of one transaction that changed N objects.
void BM_DeliverEvents(benchmark::State& state) {
    const int events = static_cast<int>(state.range(0));
    Tree tree(events);
    int64_t delivered = 0;
    amxp_slot_connect(amxd_dm_get_sigmngr(tree.dm()), "dm:object-changed", nullptr, count_event, &delivered);
    bool value = false;
    for(auto _ : state) {
        state.PauseTiming();
        value = !value;
        tree.set_all(events, value);
        state.ResumeTiming();
        amxp_loop_run_pending();
    }
    if(delivered != state.iterations() * events) {
        state.SkipWithError("events lost");
    }
    state.SetItemsProcessed(delivered);
}
BENCHMARK(BM_DeliverEvents)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

} // namespace
