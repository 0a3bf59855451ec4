// Costs of the value library on the paths the module uses: comma-separated
// text to list, member lookup by key, building tables and lists. Each has a
// baseline on standard containers measured in the same run.
#include <amxc/amxc.h>

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

std::string address_list(int64_t count) {
    std::string text;
    for(int64_t i = 0; i < count; ++i) {
        text += text.empty() ? "" : ",";
        text += "IPAddress:10." + std::to_string(i / 65536 % 256) + "." + std::to_string(i / 256 % 256) + "." +
                std::to_string(i % 256);
    }
    return text;
}

std::vector<std::string> keys(int64_t count) {
    std::vector<std::string> out;
    for(int64_t i = 0; i < count; ++i) {
        out.push_back("Device-" + std::to_string(i * 7919));
    }
    return out;
}

void BM_CsvToList(benchmark::State& state) {
    amxc_var_t text;
    amxc_var_init(&text);
    amxc_var_set(csv_string_t, &text, address_list(state.range(0)).c_str());
    amxc_var_t list;
    amxc_var_init(&list);
    for(auto _ : state) {
        amxc_var_convert(&list, &text, AMXC_VAR_ID_LIST);
        benchmark::DoNotOptimize(list.data.vl.head);
    }
    if(amxc_var_size(&list) != static_cast<size_t>(state.range(0))) {
        state.SkipWithError("wrong element count");
    }
    amxc_var_clean(&list);
    amxc_var_clean(&text);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CsvToList)->Arg(100)->Arg(1000)->Arg(10000);

void BM_CsvToList_BaselineStdVector(benchmark::State& state) {
    std::string text = address_list(state.range(0));
    for(auto _ : state) {
        std::vector<std::string> pieces;
        std::string_view rest{text};
        for(size_t comma = rest.find(','); ; comma = rest.find(',')) {
            pieces.emplace_back(rest.substr(0, comma));
            if(comma == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(comma + 1);
        }
        benchmark::DoNotOptimize(pieces.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CsvToList_BaselineStdVector)->Arg(100)->Arg(1000)->Arg(10000);

void BM_TableLookup(benchmark::State& state) {
    std::vector<std::string> names = keys(state.range(0));
    amxc_var_t table;
    amxc_var_init(&table);
    amxc_var_set_type(&table, AMXC_VAR_ID_HTABLE);
    for(const std::string& name : names) {
        amxc_var_add_key(uint32_t, &table, name.c_str(), 1);
    }
    size_t next = 0;
    for(auto _ : state) {
        benchmark::DoNotOptimize(amxc_var_get_key(&table, names[next].c_str(), AMXC_VAR_FLAG_DEFAULT));
        next = next + 1 == names.size() ? 0 : next + 1;
    }
    amxc_var_clean(&table);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableLookup)->Arg(100)->Arg(10000);

void BM_TableLookup_BaselineUnorderedMap(benchmark::State& state) {
    std::vector<std::string> names = keys(state.range(0));
    std::unordered_map<std::string_view, uint32_t> table;
    for(const std::string& name : names) {
        table.emplace(name, 1);
    }
    size_t next = 0;
    for(auto _ : state) {
        benchmark::DoNotOptimize(table.find(std::string_view{names[next].c_str()}));
        next = next + 1 == names.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableLookup_BaselineUnorderedMap)->Arg(100)->Arg(10000);

// Building a table of N members with set_key (COPY | UPDATE, as a device
// table is kept), then deleting it.
void BM_TableSetKey(benchmark::State& state) {
    std::vector<std::string> names = keys(state.range(0));
    amxc_var_t value;
    amxc_var_init(&value);
    amxc_var_set(cstring_t, &value, "IPAddress:192.168.1.10");
    for(auto _ : state) {
        amxc_var_t table;
        amxc_var_init(&table);
        amxc_var_set_type(&table, AMXC_VAR_ID_HTABLE);
        for(const std::string& name : names) {
            amxc_var_set_key(&table, name.c_str(), &value, AMXC_VAR_FLAG_COPY | AMXC_VAR_FLAG_UPDATE);
        }
        amxc_var_clean(&table);
    }
    amxc_var_clean(&value);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TableSetKey)->Arg(100)->Arg(10000);

void BM_TableSetKey_BaselineUnorderedMap(benchmark::State& state) {
    std::vector<std::string> names = keys(state.range(0));
    for(auto _ : state) {
        std::unordered_map<std::string, std::string> table;
        for(const std::string& name : names) {
            table.insert_or_assign(name, "IPAddress:192.168.1.10");
        }
        benchmark::DoNotOptimize(table.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TableSetKey_BaselineUnorderedMap)->Arg(100)->Arg(10000);

void BM_ListAppend(benchmark::State& state) {
    for(auto _ : state) {
        amxc_var_t list;
        amxc_var_init(&list);
        amxc_var_set_type(&list, AMXC_VAR_ID_LIST);
        for(int64_t i = 0; i < state.range(0); ++i) {
            amxc_var_add(cstring_t, &list, "IPAddress:192.168.1.10");
        }
        amxc_var_clean(&list);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListAppend)->Arg(100)->Arg(10000);

}  // namespace
