#ifndef FWINTERFACE_UNDO_LOG_H
#define FWINTERFACE_UNDO_LOG_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "ruleset_backend.h"

namespace fwinterface {

// What a transaction changed so far in a map of chains (ChainKey to a PositionalList of
// rules), and how to take it back. Every step is recorded right after its change succeeded;
// rolling back never allocates: a removed rule goes back into the spare node its erasure
// left, and a created chain is erased. Rolled back on
// destruction unless committed or rolled back already.
template <typename Chains>
class UndoLog {
public:
    using Rules = typename Chains::mapped_type;
    using Value = typename Rules::value_type;

    UndoLog(Chains& chains, std::size_t operations) : chains_(chains) {
        steps_.reserve(operations * 2);  // at most one chain creation per operation, plus the operation
        removed_.reserve(operations);    // untouched room costs no page: a record never fails
    }
    UndoLog(const UndoLog&) = delete;
    UndoLog& operator=(const UndoLog&) = delete;
    ~UndoLog() {
        if(!committed_) {
            roll_back();
        }
    }

    // The chain, created (and so recorded) when it does not exist yet; `created` tells which.
    typename Chains::iterator chain_of(const ChainKey& key, bool* created = nullptr) {
        auto [it, fresh] = chains_.try_emplace(key);
        if(fresh) {
            steps_.push_back(Step{Step::Kind::drop_chain, it, 0});
        }
        if(created != nullptr) {
            *created = fresh;
        }
        return it;
    }
    void inserted(typename Chains::iterator chain, std::size_t index) {
        steps_.push_back(Step{Step::Kind::erase, chain, index});
    }
    void removed(typename Chains::iterator chain, std::size_t index, Value rule) {
        removed_.push_back(std::move(rule));
        steps_.push_back(Step{Step::Kind::reinsert, chain, index, removed_.size() - 1});
    }
    void commit() { committed_ = true; }

    void roll_back() noexcept {
        for(auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
            Rules& rules = it->chain->second;
            switch(it->kind) {
            case Step::Kind::drop_chain: chains_.erase(it->chain); break;
            case Step::Kind::erase: rules.erase(at(rules, it->index)); break;
            case Step::Kind::reinsert: rules.insert(at(rules, it->index), std::move(removed_[it->kept])); break;
            }
        }
        steps_.clear();
        committed_ = true;
    }

private:
    struct Step {
        enum class Kind : std::uint8_t { drop_chain, erase, reinsert };
        Kind kind;
        typename Chains::iterator chain;
        std::size_t index;
        std::size_t kept = 0;  // reinsert: which of removed_
    };

    static auto at(Rules& rules, std::size_t index) { return rules.begin() + static_cast<std::ptrdiff_t>(index); }

    Chains& chains_;
    std::vector<Step> steps_;  // small: the removed rules wait apart, not in every step
    std::vector<Value> removed_;
    bool committed_ = false;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_UNDO_LOG_H
