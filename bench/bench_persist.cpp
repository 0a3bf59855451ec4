// What keeping the configuration costs, for 100 network objects (one rule each) and 1,000
// access controls:
//   - BM_Save: one save in-process (export, index walk, encoding with checksum, tmp file,
//     fsync, rename, folder fsync), the module loaded as the runtime loads it;
//   - BM_ChangeToDurable: a client's change to a running gwrt (coalescing delay 0) until the
//     renamed state file holding it is in place, end to end.
// Baseline, in the same run: BM_WriteOnly, the same bytes written crash-safely without export.
#include <benchmark/benchmark.h>

#include <amxd/amxd_transaction.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "loaded_module.h"
#include "persistence.h"
#include "socket_path.h"
#include "state_file.h"

namespace {

constexpr const char* ROOT = "Device.NetworkSettings.";

std::string temp_dir() {
    char pattern[] = "/tmp/bench-persist.XXXXXX";
    return mkdtemp(pattern) == nullptr ? "" : pattern;
}

void remove_dir(const std::string& dir) {
    if (!dir.empty()) {
        std::system(("rm -rf '" + dir + "'").c_str());
    }
}

gwrt::StateConfig state_config(const std::string& dir) {
    gwrt::StateConfig config;
    config.enabled = true;
    config.dir = dir;
    config.export_path = std::string(ROOT) + "_Export";
    config.import_path = std::string(ROOT) + "_Import";
    return config;
}

// Sets one parameter through a transaction, as a client's change arrives.
void set_alias(amxd_dm_t* dm, const char* path, const std::string& value) {
    amxd_trans_t trans;
    amxd_trans_init(&trans);
    amxd_trans_select_pathf(&trans, "%s", path);
    amxd_trans_set_cstring_t(&trans, "Alias", value.c_str());
    amxd_trans_apply(&trans, dm);
    amxd_trans_clean(&trans);
}

void populate(modbench::LoadedModule& module) {
    for (int n = 1; n <= 100; ++n) {
        std::string object = module.add(std::string(ROOT) + "NetworkObject.", {{"Name", "group-" + std::to_string(n)}});
        module.add(object + ".Rule.", {{"Type", "IPAddress"}, {"SourceIP", "10.1." + std::to_string(n) + ".1"}});
    }
    for (int n = 1; n <= 1000; ++n) {
        module.add(std::string(ROOT) + "AccessControl.",
                   {{"NetworkGroupRef", std::string(ROOT) + "NetworkObject." + std::to_string(n % 100 + 1)},
                    {"Alias", "control-" + std::to_string(n)}});
    }
}

void BM_Save(benchmark::State& state) {
    modbench::LoadedModule module;
    populate(module);
    std::string dir = temp_dir();
    gwrt::Persistence persistence(state_config(dir), module.dm());
    std::string error;
    if (!module.ok() || !persistence.prepare(error)) {
        state.SkipWithError(("setup: " + error).c_str());
        remove_dir(dir);
        return;
    }
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        set_alias(module.dm(), "Device.NetworkSettings.AccessControl.500", "changed-" + std::to_string(++round));
        state.ResumeTiming();
        if (!persistence.save()) {
            state.SkipWithError("save failed");
            break;
        }
    }
    struct stat st {};
    stat(persistence.store().current_path().c_str(), &st);
    state.counters["file_bytes"] = static_cast<double>(st.st_size);
    remove_dir(dir);
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

void BM_WriteOnly(benchmark::State& state) {
    std::string dir = temp_dir();
    gw::StateStore store(dir, "state.json");
    std::string bytes(250 * 1024, 'x');  // about the size BM_Save writes
    std::string error;
    for (auto _ : state) {
        if (!store.save(bytes, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    remove_dir(dir);
}
BENCHMARK(BM_WriteOnly)->Unit(benchmark::kMillisecond);

// A gwrt of its own on the shipped definitions, with the state in a temporary folder.
class RunningGwrt {
public:
    RunningGwrt() : dir_(temp_dir()) {
        std::ofstream(dir_ + "/gwrt.conf") << "%config {\n definitions = [ \"" SOURCE_DIR "/datamodel/networksettings-qk.def\" ];\n"
                                              " services = [ \"" SOURCE_DIR "/services/devices/devices.def\" ];\n"
                                              " socket = \"gwrt.sock\"; trace = \"default=100\"; prefix_ = \"\";\n"
                                              " state = { dir = \"state\"; delay = 0; export = \"Device.NetworkSettings._Export\";"
                                              " import = \"Device.NetworkSettings._Import\"; };\n}\n";
        pid_ = fork();
        if (pid_ == 0) {
            execl(GWRT_PATH, GWRT_PATH, "--config", (dir_ + "/gwrt.conf").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::string reason;
        for (int n = 0; n < 500 && gw::probe_socket(socket(), reason) != gw::SocketProbe::live; ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~RunningGwrt() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        remove_dir(dir_);
    }
    std::string socket() const { return dir_ + "/gwrt.sock"; }
    std::string state_file() const { return dir_ + "/state/gwrt-state.json"; }

private:
    std::string dir_;
    pid_t pid_ = -1;
};

ino_t inode_of(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

void BM_ChangeToDurable(benchmark::State& state) {
    RunningGwrt gwrt;
    amxb_bus_ctx_t* ctx = nullptr;
    if (amxb_connect(&ctx, ("unix:" + gwrt.socket()).c_str()) != 0) {
        state.SkipWithError("gwrt did not start");
        return;
    }
    amxc_var_t values;
    amxc_var_init(&values);
    amxc_var_set_type(&values, AMXC_VAR_ID_HTABLE);
    for (int n = 1; n <= 100; ++n) {
        amxc_var_add_key(cstring_t, &values, "Name", ("group-" + std::to_string(n)).c_str());
        amxb_add(ctx, "Device.NetworkSettings.NetworkObject.", 0, nullptr, &values, nullptr, 5);
    }
    amxc_var_set_type(&values, AMXC_VAR_ID_HTABLE);
    for (int n = 1; n <= 1000; ++n) {
        amxc_var_add_key(cstring_t, &values, "Alias", ("control-" + std::to_string(n)).c_str());
        amxb_add(ctx, "Device.NetworkSettings.AccessControl.", 0, nullptr, &values, nullptr, 5);
    }
    // Let the population's saves finish.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int round = 0;
    for (auto _ : state) {
        const std::string alias = "durable-" + std::to_string(++round);
        ino_t before = inode_of(gwrt.state_file());
        amxc_var_add_key(cstring_t, &values, "Alias", alias.c_str());
        if (amxb_set(ctx, "Device.NetworkSettings.AccessControl.500.", &values, nullptr, 5) != 0) {
            state.SkipWithError("set refused");
            break;
        }
        // Each save renames a new file into place: wait for one that holds the change.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool durable = false;
        while (!durable && std::chrono::steady_clock::now() < deadline) {
            ino_t now = inode_of(gwrt.state_file());
            if (now != before) {
                std::ifstream file(gwrt.state_file());
                std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
                durable = text.find("\"" + alias + "\"") != std::string::npos;
                before = now;
            }
            if (!durable) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        }
        if (!durable) {
            state.SkipWithError("the change never became durable");
            break;
        }
    }
    amxc_var_clean(&values);
    amxb_free(&ctx);
}
BENCHMARK(BM_ChangeToDurable)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
