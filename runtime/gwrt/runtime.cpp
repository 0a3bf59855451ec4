#include "runtime.h"

#include <amxd/amxd.h>
#include <zebtrace/zebtrace.h>

#include <unistd.h>

#include <map>

#include "control_socket.h"
#include "firewall_model.h"
#include "schema_model.h"
#include "state_model.h"

namespace gwrt {
namespace {

// Served by the runtime itself.
constexpr const char* kFirewallRoot = "Firewall";
constexpr const char* kStateRoot = "State";
constexpr const char* kRuntimeRoot = "Runtime";

// A top-level object served by two data models would make the bus route its requests to only
// one of them, silently; the runtime's own Firewall. must stay its own.
bool check_unique_roots(const std::vector<HostedModel*>& models, std::string& error) {
    std::map<std::string, const HostedModel*> owners;
    for (const HostedModel* model : models) {
        amxd_object_for_each_child(object, amxd_dm_get_root(model->dm())) {
            std::string name = amxd_object_get_name(object, AMXD_OBJECT_NAMED);
            if (name == kFirewallRoot || name == kStateRoot || name == kRuntimeRoot) {
                error = model->origin() + ": " + name + ". is served by the runtime itself";
                return false;
            }
            auto [owner, fresh] = owners.emplace(name, model);
            if (!fresh) {
                error = name + ". is declared by both " + owner->second->origin() + " and " + model->origin();
                return false;
            }
        }
    }
    return true;
}

}  // namespace

Runtime::~Runtime() { stop(); }

bool Runtime::start(std::string& error) {
    bool ok = check_control_socket(config_.socket, error) && load_models(error) && start_models(error) &&
              host_firewall(error) && restore_state(error) && host_schema(error) && serve(error);
    if (!ok) {
        stop();
        return false;
    }
    zebTraceZ(TRACE_LEVEL_NOTICE, "gwrt", "serving %zu service(s) and %zu definition(s) on %s", services_.size(),
              config_.definitions.size(), config_.socket.c_str());
    return true;
}

bool Runtime::load_models(std::string& error) {
    std::vector<HostedModel*> loaded;
    for (const std::string& file : config_.services) {
        services_.push_back(std::make_unique<HostedModel>());
        if (!services_.back()->load({file}, config_, declared_keys_, error)) {
            return false;
        }
        loaded.push_back(services_.back().get());
    }
    main_ = std::make_unique<HostedModel>();
    if (!main_->load(config_.definitions, config_, declared_keys_, error)) {
        return false;
    }
    loaded.push_back(main_.get());
    return check_config_keys(config_, declared_keys_, error) && check_unique_roots(loaded, error);
}

bool Runtime::start_models(std::string& error) {
    for (auto& service : services_) {
        if (!service->register_bus(error)) {
            return false;
        }
    }
    if (!main_->register_bus(error)) {
        return false;
    }
    int failed = 0;
    for (auto& service : services_) {
        failed += service->start();
    }
    failed += main_->start();
    if (failed != 0) {
        error = std::to_string(failed) + " module entry point(s) failed to start";
        return false;
    }
    return true;
}

bool Runtime::host_firewall(std::string& error) {
    amxd_dm_t* dm = new_firewall_model(kFirewallRoot, error);
    if (dm == nullptr) {
        return false;
    }
    firewall_ = std::make_unique<HostedModel>();
    firewall_->adopt(dm);
    return firewall_->register_bus(error);
}

bool Runtime::restore_state(std::string& error) {
    if (!config_.state.enabled) {
        return host_state(error);
    }
    persistence_ = std::make_unique<Persistence>(config_.state, main_->dm());
    kept_.push_back(persistence_.get());
    if (!persistence_->prepare(error) || !restore_services(error)) {
        return false;
    }
    persistence_->restore();
    return persistence_->watch(error) && host_state(error);
}

// Each service tree is kept by the service data model that serves its export's object.
bool Runtime::restore_services(std::string& error) {
    for (const StateConfig& state : config_.service_states) {
        const std::string object = state.export_path.substr(0, state.export_path.rfind('.'));
        HostedModel* owner = nullptr;
        for (auto& service : services_) {
            if (amxd_dm_findf(service->dm(), "%s", object.c_str()) != nullptr) {
                owner = service.get();
            }
        }
        if (owner == nullptr) {
            error = "state: no service serves " + object + ".";
            return false;
        }
        auto persistence = std::make_unique<Persistence>(state, owner->dm());
        if (!persistence->prepare(error)) {
            return false;
        }
        persistence->restore();
        if (!persistence->watch(error)) {
            return false;
        }
        kept_.push_back(persistence.get());
        service_persistence_.push_back(std::move(persistence));
    }
    return true;
}

bool Runtime::host_schema(std::string& error) {
    for (const auto& service : services_) {
        described_.push_back(service->dm());
    }
    for (const HostedModel* own : {main_.get(), firewall_.get(), state_.get()}) {
        described_.push_back(own->dm());
    }
    amxd_dm_t* dm = new_schema_model(kRuntimeRoot, &described_, error);
    if (dm == nullptr) {
        return false;
    }
    schema_ = std::make_unique<HostedModel>();
    schema_->adopt(dm);
    described_.push_back(dm);
    return schema_->register_bus(error);
}

bool Runtime::host_state(std::string& error) {
    amxd_dm_t* dm = new_state_model(kStateRoot, &kept_, error);
    if (dm == nullptr) {
        return false;
    }
    state_ = std::make_unique<HostedModel>();
    state_->adopt(dm);
    return state_->register_bus(error);
}

void Runtime::allow_socket_users(const std::vector<uid_t>& configured) {
    socket_users_ = configured;
    socket_users_.push_back(geteuid());
    socket_users_.push_back(0);
}

bool Runtime::reload() {
    RuntimeConfig fresh;
    std::string error;
    if (!read_runtime_config(config_.overrides, fresh, error) || !check_config_keys(fresh, declared_keys_, error) ||
        !apply_trace_config(fresh, error)) {
        zebTraceZ(TRACE_LEVEL_ERROR, "gwrt", "reload refused, nothing changed: %s", error.c_str());
        return false;
    }
    config_.trace = fresh.trace;
    config_.trace_syslog = fresh.trace_syslog;
    config_.socket_users = fresh.socket_users;
    allow_socket_users(config_.socket_users);
    if (!give_control_socket_access(config_.socket, fresh.socket_mode, fresh.socket_group, error)) {
        zebTraceZ(TRACE_LEVEL_ERROR, "gwrt", "reload: trace levels and socket users in force, but %s", error.c_str());
        return false;
    }
    config_.socket_mode = fresh.socket_mode;
    config_.socket_group = fresh.socket_group;
    zebTraceZ(TRACE_LEVEL_NOTICE, "gwrt", "reloaded %s: trace levels \"%s\" on %s, %zu socket user(s), socket mode %04o",
              config_.file.c_str(), config_.trace.c_str(), config_.trace_syslog ? "syslog" : "stderr",
              config_.socket_users.size(), static_cast<unsigned>(config_.socket_mode));
    return true;
}

bool Runtime::serve(std::string& error) {
    allow_socket_users(config_.socket_users);
    return listen_control_socket(config_.socket, config_.socket_mode, config_.socket_group, &listener_, error) &&
           restrict_control_socket(listener_, socket_users_, config_.socket_limits, error);
}

bool Runtime::stop() {
    if (stopped_) {
        return true;
    }
    stopped_ = true;
    bool saved = true;
    for (Persistence* kept : kept_) {
        saved = kept->flush() && saved;
    }
    int failed = main_ ? main_->stop() : 0;
    for (auto it = services_.rbegin(); it != services_.rend(); ++it) {
        failed += (*it)->stop();
    }
    if (failed != 0) {
        zebTraceZ(TRACE_LEVEL_WARNING, "gwrt", "%d module entry point(s) failed to stop", failed);
    }
    amxb_free(&listener_);

    // Each phase over every model before the next, so no tree goes while a bus still serves it
    // and no module closes while a tree still holds its actions.
    std::vector<HostedModel*> models;
    for (HostedModel* own : {schema_.get(), state_.get(), firewall_.get()}) {
        if (own != nullptr) {
            models.push_back(own);
        }
    }
    if (main_) {
        models.push_back(main_.get());
    }
    for (auto it = services_.rbegin(); it != services_.rend(); ++it) {
        models.push_back(it->get());
    }
    for (HostedModel* model : models) {
        model->free_bus();
    }
    // No client reaches State. any more, and each follows its tree.
    kept_.clear();
    service_persistence_.clear();
    persistence_.reset();
    for (HostedModel* model : models) {
        model->delete_tree();
    }
    for (HostedModel* model : models) {
        model->close_modules();
    }
    return saved;
}

}  // namespace gwrt
