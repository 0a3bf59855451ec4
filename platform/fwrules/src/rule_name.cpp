#include "rule_name.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include <fwrules/fw_rule.h>

namespace fwrules {

struct RuleName::Entry {
    std::size_t holders = 0;
    std::size_t size = 0;
    char text[FW_RULE_NAME_MAX + 1] = {};

    std::string_view view() const { return {text, size}; }
};

namespace {

// Rules may live in several threads (one rule in one thread at a time), so the shared names
// are counted under a lock. It is taken when a rule gets or drops a name, not when it is read.
struct Names {
    std::mutex lock;
    std::unordered_map<std::string_view, RuleName::Entry*> entries;  // keys view the entries' texts
};

// Never destroyed: rules may still be deleted while the process exits.
Names& names() {
    static Names* const instance = new Names();
    return *instance;
}

void release(Names& table, RuleName::Entry* entry) {
    if(entry != nullptr && --entry->holders == 0) {
        table.entries.erase(entry->view());
        delete entry;
    }
}

}  // namespace

RuleName::~RuleName() {
    Names& table = names();
    std::lock_guard guard(table.lock);
    release(table, entry_);
}

void RuleName::assign(std::string_view text) {
    Names& table = names();
    std::lock_guard guard(table.lock);
    if(entry_ != nullptr && entry_->view() == text) {
        return;
    }
    Entry* entry = nullptr;
    if(auto found = table.entries.find(text); found != table.entries.end()) {
        entry = found->second;
    } else {
        auto made = std::make_unique<Entry>();
        made->size = text.size();
        std::memcpy(made->text, text.data(), text.size());
        table.entries.emplace(made->view(), made.get());
        entry = made.release();
    }
    ++entry->holders;
    release(table, entry_);
    entry_ = entry;
}

const char* RuleName::c_str() const { return entry_ == nullptr ? "" : entry_->text; }

}  // namespace fwrules
