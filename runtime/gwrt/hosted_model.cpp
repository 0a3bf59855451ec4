#include "hosted_model.h"

#include <amxd/amxd.h>

namespace gwrt {

HostedModel::~HostedModel() {
    stop();
    free_bus();
    delete_tree();
    close_modules();
}

bool HostedModel::load(const std::vector<std::string>& files, const RuntimeConfig& config, std::set<std::string>& declared,
                       std::string& error) {
    if (amxo_parser_new(&parser_) != 0 || amxd_dm_new(&dm_) != amxd_status_ok) {
        error = "out of memory";
        return false;
    }
    if (!prepare_parser(parser_, config, error)) {
        return false;
    }
    record_declared_keys(parser_, &declared);
    for (const std::string& file : files) {
        origin_ += (origin_.empty() ? "" : ", ") + file;
        if (amxo_parser_parse_file(parser_, file.c_str(), amxd_dm_get_root(dm_)) != 0) {
            error = amxo_parser_get_message(parser_);
            if (error.empty()) {
                error = file + ": cannot be loaded";
            }
            return false;
        }
    }
    return true;
}

bool HostedModel::register_bus(std::string& error) {
    int rc = amxb_register_dm(&bus_, dm_);
    if (rc != 0) {
        error = std::string("cannot serve a data model on the bus: ") + amxd_status_string(static_cast<amxd_status_t>(rc));
        return false;
    }
    return true;
}

int HostedModel::start() {
    if (parser_ == nullptr) {
        return 0;
    }
    started_ = true;
    return amxo_parser_invoke_entry_points(parser_, dm_, 0);
}

int HostedModel::stop() {
    if (!started_) {
        return 0;
    }
    started_ = false;
    return amxo_parser_invoke_entry_points(parser_, dm_, 1);
}

void HostedModel::free_bus() { amxb_free(&bus_); }

void HostedModel::delete_tree() {
    if (dm_ != nullptr) {
        amxd_dm_delete(&dm_);
    }
}

void HostedModel::close_modules() { amxo_parser_delete(&parser_); }

}  // namespace gwrt
