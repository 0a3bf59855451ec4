#include "memory_backend.h"

#include "save_format.h"
#include "undo_log.h"

namespace fwinterface {
namespace {

Ruleset start_state() {
    Ruleset chains;
    chains.try_emplace(access_control_chain(false));
    chains.try_emplace(access_control_chain(true));
    return chains;
}

Chain::iterator at(Chain& chain, std::size_t index) { return chain.begin() + static_cast<std::ptrdiff_t>(index); }

}  // namespace

MemoryBackend::MemoryBackend() : chains_(start_state()) {}

std::size_t MemoryBackend::chain_size(const ChainKey& key) const {
    auto it = chains_.find(key);
    return it == chains_.end() ? 0 : it->second.size();
}

const std::string* MemoryBackend::rule_at(const ChainKey& key, std::size_t position) const {
    auto it = chains_.find(key);
    if(it == chains_.end() || position == 0 || position > it->second.size()) {
        return nullptr;
    }
    return &it->second[position - 1];
}

void MemoryBackend::rules_at(const ChainKey& key, std::size_t first, std::size_t count,
                             std::vector<const std::string*>& out) const {
    chains_.at(key).for_each(first - 1, count, [&](const std::string& rule) { out.push_back(&rule); });
}

bool MemoryBackend::apply(std::span<const Operation> transaction) {
    const std::uint32_t refuse = refuse_op_;
    refuse_op_ = 0;
    error_.clear();

    // In place, with an undo log: a copy of the chain per commit would make each removal
    // cost the whole chain.
    UndoLog<Ruleset> undo(chains_, transaction.size());
    std::uint32_t number = 0;
    for(const Operation& op : transaction) {
        if(++number == refuse || op.position == 0) {
            error_ = "operation " + std::to_string(number) + " refused";
            return false;
        }
        auto chain_it = undo.chain_of(op.chain);
        Chain& chain = chain_it->second;
        const std::size_t index = op.position - std::size_t{1};
        if(op.kind == Operation::Kind::insert) {
            if(index > chain.size()) {
                error_ = "operation " + std::to_string(number) + ": no such position";
                return false;
            }
            chain.insert(at(chain, index), op.rule);
            undo.inserted(chain_it, index);
        } else {
            if(index >= chain.size() || chain[index] != op.rule) {
                error_ = "operation " + std::to_string(number) + ": another rule at that position";
                return false;
            }
            std::string rule = std::move(chain[index]);
            chain.erase(at(chain, index));
            undo.removed(chain_it, index, std::move(rule));
        }
    }
    undo.commit();
    for(auto& [key, chain] : chains_) {
        chain.release_spares();  // kept only for the roll-back
    }
    return true;
}

std::string MemoryBackend::dump() const {
    return format_save(chains_, [](const std::string& rule) -> const std::string& { return rule; });
}

void MemoryBackend::reset() {
    chains_ = start_state();
    refuse_op_ = 0;
    error_.clear();
}

}  // namespace fwinterface
