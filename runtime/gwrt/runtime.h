// The runtime's life: start hosts every data model and serves them on the control socket;
// stop winds everything down in the reverse order.
//
// Start: service definitions (one data model and bus context each), then the main definitions
// (one data model), bus contexts registered services first, entry points with reason 0 (services
// first), the built-in Firewall data model, the saved configuration restored (when a state
// section asks for it), the built-in State data model, the built-in Runtime data model
// (Describe(): what the definitions declare), then the control socket.
// Stop: a pending save written, entry points with reason 1 (main first, each model's in reverse load order), the control
// socket closed, every bus context freed, every data model deleted (destroy actions run), every
// module closed.
#pragma once

#include <amxb/amxb.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hosted_model.h"
#include "persistence.h"
#include "runtime_config.h"

namespace gwrt {

class Runtime {
public:
    explicit Runtime(RuntimeConfig config) : config_(std::move(config)) {}
    // Runs stop() if start() began.
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    // False, with one line in `error`, when anything fails; what had started is then stopped
    // by stop() (the caller need not call it).
    bool start(std::string& error);

    // Reads the configuration file again and applies its trace levels, trace output and
    // socket users; anything else it changes waits for a restart. A file that no longer reads
    // changes nothing (said on the trace, false).
    bool reload();

    // The stop sequence. Runs once; later calls do nothing. False when changes could not be
    // saved.
    bool stop();

private:
    bool load_models(std::string& error);    // services, then the main definitions
    bool start_models(std::string& error);   // bus contexts, then entry points (reason 0)
    bool host_firewall(std::string& error);  // the built-in Firewall. data model
    bool restore_state(std::string& error);  // the saved configuration, before clients come
    bool restore_services(std::string& error);
    bool host_state(std::string& error);     // the built-in State. data model
    bool host_schema(std::string& error);    // the built-in Runtime. data model
    bool serve(std::string& error);          // the control socket, for the allowed users only
    void allow_socket_users(const std::vector<uid_t>& configured);  // besides ours and root

    RuntimeConfig config_;
    std::vector<std::unique_ptr<HostedModel>> services_;
    std::unique_ptr<HostedModel> main_;
    std::unique_ptr<HostedModel> firewall_;
    std::unique_ptr<Persistence> persistence_;  // before state_: its methods use it
    std::vector<std::unique_ptr<Persistence>> service_persistence_;
    std::vector<Persistence*> kept_;            // all of the above, the main one first
    std::unique_ptr<HostedModel> state_;
    std::vector<amxd_dm_t*> described_;  // every data model, for Runtime.Describe()
    std::unique_ptr<HostedModel> schema_;
    std::set<std::string> declared_keys_;  // %config keys the hosted definitions declare
    std::vector<uid_t> socket_users_;      // read by the socket's peer check
    amxb_bus_ctx_t* listener_ = nullptr;
    bool stopped_ = false;
};

}  // namespace gwrt
