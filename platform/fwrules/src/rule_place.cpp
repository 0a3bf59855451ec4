#include "rule_place.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <unordered_map>

#include <fwrules/fw_rule.h>

namespace fwrules {

// Both names in one text, the table's first, each ended by a NUL: the text up to the end of
// the chain's is the pair's key, which no two pairs share.
struct RulePlace::Entry {
    std::size_t holders = 0;
    std::size_t table_size = 0;
    std::size_t chain_size = 0;
    char text[2 * (FW_RULE_NAME_MAX + 1)] = {};

    const char* table() const { return text; }
    const char* chain() const { return text + table_size + 1; }
    std::string_view key() const { return {text, table_size + 1 + chain_size}; }
};

namespace {

// Rules may live in several threads (one rule in one thread at a time), so the shared pairs
// are counted under a lock. It is taken when a rule gets or drops a pair, not when it is read.
struct Places {
    std::mutex lock;
    std::unordered_map<std::string_view, RulePlace::Entry*> entries;  // keys view the entries' texts
    // The last pair no rule holds, kept in `entries` until another takes its place: a rule is
    // placed by two setters, so each new rule passes through a pair with one name only, which
    // would otherwise be made and freed again for each of tens of thousands of rules.
    RulePlace::Entry* idle = nullptr;
};

// Never destroyed: rules may still be deleted while the process exits.
Places& places() {
    static Places* const instance = new Places();
    return *instance;
}

void forget(Places& table, RulePlace::Entry* entry) {
    table.entries.erase(entry->key());
    delete entry;
}

void release(Places& table, RulePlace::Entry* entry) {
    if(entry != nullptr && --entry->holders == 0) {
        if(table.idle != nullptr) {
            forget(table, table.idle);
        }
        table.idle = entry;
    }
}

void hold(Places& table, RulePlace::Entry* entry) {
    if(entry == table.idle) {
        table.idle = nullptr;
    }
    ++entry->holders;
}

}  // namespace

RulePlace::~RulePlace() {
    Places& table = places();
    std::lock_guard guard(table.lock);
    release(table, entry_);
}

void RulePlace::assign_table(std::string_view name) { assign(name, chain()); }

void RulePlace::assign_chain(std::string_view name) { assign(table(), name); }

void RulePlace::assign(std::string_view table_name, std::string_view chain_name) {
    if(table_name.size() > FW_RULE_NAME_MAX || chain_name.size() > FW_RULE_NAME_MAX) {
        throw std::length_error("rule name too long");  // the callers check names first
    }
    Entry wanted;
    wanted.table_size = table_name.size();
    wanted.chain_size = chain_name.size();
    std::memcpy(wanted.text, table_name.data(), table_name.size());
    std::memcpy(wanted.text + table_name.size() + 1, chain_name.data(), chain_name.size());

    Places& places_table = places();
    std::lock_guard guard(places_table.lock);
    if(entry_ != nullptr && entry_->key() == wanted.key()) {
        return;
    }
    Entry* entry = nullptr;  // none for no names
    if(!table_name.empty() || !chain_name.empty()) {
        if(auto found = places_table.entries.find(wanted.key()); found != places_table.entries.end()) {
            entry = found->second;
        } else {
            auto made = std::make_unique<Entry>(wanted);
            places_table.entries.emplace(made->key(), made.get());
            entry = made.release();
        }
        hold(places_table, entry);
    }
    release(places_table, entry_);
    entry_ = entry;
}

const char* RulePlace::table() const { return entry_ == nullptr ? "" : entry_->table(); }

const char* RulePlace::chain() const { return entry_ == nullptr ? "" : entry_->chain(); }

}  // namespace fwrules
