// One data model that gwrt hosts: the tree, the parser that loaded it (and so the modules it
// imported and their entry points), and the bus context that serves it. Each service gets one,
// so that a service's objects are reached through a context of their own.
//
// Teardown goes in phases across all hosted models (stop every entry point, free every bus
// context, delete every tree, close every module), so each phase is a method of its own; the
// destructor runs whatever phase was not run yet, in that order.
#pragma once

#include <amxb/amxb.h>
#include <amxd/amxd_dm.h>
#include <amxo/amxo.h>

#include <set>
#include <string>
#include <vector>

#include "runtime_config.h"

namespace gwrt {

class HostedModel {
public:
    HostedModel() = default;
    ~HostedModel();
    HostedModel(const HostedModel&) = delete;
    HostedModel& operator=(const HostedModel&) = delete;

    // Loads `files` in order into a new data model, adding the %config keys they declare to
    // `declared`. False, with "file:line: what" in `error`, when one does not load; what was
    // built is left for the destructor to release.
    bool load(const std::vector<std::string>& files, const RuntimeConfig& config, std::set<std::string>& declared,
              std::string& error);

    // Hosts a data model built in code (taken; deleted with the others).
    void adopt(amxd_dm_t* dm) { dm_ = dm; }

    // Serves the data model on an in-process bus context of its own.
    bool register_bus(std::string& error);

    // Entry points with reason 0, in load order. Returns how many failed.
    int start();

    // Entry points with reason 1, in reverse order, when start() ran. Returns how many failed.
    int stop();

    void free_bus();       // unregisters the bus context and cancels its subscriptions
    void delete_tree();    // deletes the data model; destroy actions run
    void close_modules();  // deletes the parser, which closes the imported modules

    amxd_dm_t* dm() const { return dm_; }

    // The files it was loaded from, for messages.
    const std::string& origin() const { return origin_; }

private:
    amxo_parser_t* parser_ = nullptr;
    amxd_dm_t* dm_ = nullptr;
    amxb_bus_ctx_t* bus_ = nullptr;
    bool started_ = false;
    std::string origin_;
};

}  // namespace gwrt
