#include "query_book.h"

namespace devices {

std::uint32_t QueryBook::open(std::unique_ptr<Expression> expression, std::string name) {
    if(queries_.size() >= kMaxQueries || expression == nullptr) {
        return 0;
    }
    // Indexes are not reused, so a late report of a closed query never reaches a new one.
    // After 2^32 opens they wrap, skipping 0 and those still open.
    while(next_index_ == 0 || queries_.contains(next_index_)) {
        ++next_index_;
    }
    const std::uint32_t index = next_index_++;
    queries_.emplace(index, Query{std::move(expression), std::move(name), {}});
    return index;
}

void QueryBook::match_existing(std::uint32_t query, const DeviceView& device) {
    auto it = queries_.find(query);
    if(it == queries_.end()) {
        return;
    }
    sync_key(device);
    if(it->second.expression->matches(device.fields) && it->second.matching.insert(device.index).second) {
        sink_(query, device.key, ReportAction::start_matching, device.data);
    }
}

bool QueryBook::close(std::uint32_t query) { return queries_.erase(query) == 1; }

void QueryBook::sync_key(const DeviceView& device) {
    auto [it, added] = keys_.try_emplace(device.index, device.key);
    if(added || it->second == device.key) {
        return;
    }
    for(auto& [index, query] : queries_) {
        if(query.matching.erase(device.index) == 1) {
            sink_(index, it->second, ReportAction::stop_matching, nullptr);
        }
    }
    it->second = device.key;
}

void QueryBook::device_changed(const DeviceView& device) { evaluate(device, true); }

void QueryBook::device_added(const DeviceView& device) { evaluate(device, false); }

void QueryBook::evaluate(const DeviceView& device, bool report_unchanged) {
    sync_key(device);
    for(auto& [index, query] : queries_) {
        if(query.expression->matches(device.fields)) {
            if(query.matching.insert(device.index).second) {
                sink_(index, device.key, ReportAction::start_matching, device.data);
            } else if(report_unchanged) {
                sink_(index, device.key, ReportAction::device_updated, device.data);
            }
        } else if(query.matching.erase(device.index) == 1) {
            sink_(index, device.key, ReportAction::stop_matching, nullptr);
        }
    }
}

void QueryBook::device_removed(std::uint32_t index) {
    auto key = keys_.find(index);
    if(key == keys_.end()) {
        return;  // never reported, so matched by no query
    }
    for(auto& [query_index, query] : queries_) {
        if(query.matching.erase(index) == 1) {
            sink_(query_index, key->second, ReportAction::stop_matching, nullptr);
        }
    }
    keys_.erase(key);
}

void QueryBook::close_all() {
    for(const auto& entry : queries_) {
        sink_(entry.first, "", ReportAction::error, nullptr);
    }
    queries_.clear();
}

const std::string* QueryBook::name_of(std::uint32_t query) const {
    auto it = queries_.find(query);
    return it == queries_.end() ? nullptr : &it->second.name;
}

}  // namespace devices
