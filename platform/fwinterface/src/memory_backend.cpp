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

std::string refusal(std::uint32_t number, std::string_view why) {
    return "operation " + std::to_string(number) + (why.empty() ? " refused" : ": " + std::string(why));
}

// A transaction worked out on the chains' order before any of them changes: per chain, the
// sequence the operations lead to, as numbers of its present rules and of new ones. Operations
// whose positions rise (as a net difference's do: its insertions, then its removals) each
// move a cursor forward; one that goes back starts another pass over the sequence, so the
// plan costs O(passes x n). Planning stops where too many passes would cost more than the
// operations one by one.
class RewritePlan {
public:
    struct ChainPlan {
        const ChainKey* key = nullptr;
        std::vector<std::string_view> present;
        std::vector<std::string_view> fresh;   // the inserted rules, in order
        std::vector<std::uint32_t> sequence;   // what the passes before led to
        std::vector<std::uint32_t> next;       // what this pass leads to, so far
        std::size_t cursor = 0;                // of `sequence`, taken into `next` up to here
        std::size_t passes = 1;

        std::string_view rule(std::uint32_t entry) const {
            return entry < present.size() ? present[entry] : fresh[entry - present.size()];
        }
        void finish_pass() {
            next.insert(next.end(), sequence.begin() + static_cast<std::ptrdiff_t>(cursor), sequence.end());
            sequence.swap(next);
            next.clear();
            cursor = 0;
        }
    };
    static constexpr std::size_t max_passes = 4;

    // False with `error` set when an operation does not fit; false with `error` empty when
    // the plan is not worth it.
    bool make(const Ruleset& chains, std::span<const Operation> transaction, std::uint32_t refuse, std::string& error) {
        std::uint32_t number = 0;  // of the operation's last rule, counted one by one
        for(const Operation& op : transaction) {
            const std::uint32_t first = number + 1;
            number += op.count;
            if((refuse >= first && refuse <= number) || op.position == 0) {
                error = refusal(refuse >= first && refuse <= number ? refuse : first, "");
                return false;
            }
            ChainPlan& plan = plan_of(chains, op.chain);
            const std::size_t index = op.position - std::size_t{1};
            if(index < plan.next.size()) {
                if(++plan.passes > max_passes) {
                    return false;
                }
                plan.finish_pass();
            }
            while(plan.next.size() < index && plan.cursor < plan.sequence.size()) {
                plan.next.push_back(plan.sequence[plan.cursor++]);
            }
            if(op.kind == Operation::Kind::insert) {
                if(plan.next.size() != index) {
                    error = refusal(first, "no such position");
                    return false;
                }
                plan.fresh.push_back(op.rule);
                plan.next.push_back(static_cast<std::uint32_t>(plan.present.size() + plan.fresh.size() - 1));
            } else {
                const std::size_t standing = plan.next.size() == index ? plan.sequence.size() - plan.cursor : 0;
                // Numbered as one by one: the first rule of the run past those standing.
                if(standing < op.count || (!op.rule.empty() && plan.rule(plan.sequence[plan.cursor]) != op.rule)) {
                    error = refusal(first + static_cast<std::uint32_t>(standing < op.count ? standing : 0),
                                    "another rule at that position");
                    return false;
                }
                plan.cursor += op.count;
            }
        }
        for(ChainPlan& plan : plans_) {
            plan.finish_pass();
        }
        return true;
    }

    std::vector<ChainPlan>& plans() { return plans_; }

private:
    ChainPlan& plan_of(const Ruleset& chains, const ChainKey& key) {
        if(!plans_.empty() && *plans_.back().key == key) {
            return plans_.back();
        }
        for(ChainPlan& plan : plans_) {
            if(*plan.key == key) {
                return plan;
            }
        }
        ChainPlan& plan = plans_.emplace_back();
        plan.key = &key;
        if(auto it = chains.find(key); it != chains.end()) {
            it->second.for_each(0, it->second.size(), [&](const InlineText& rule) { plan.present.push_back(rule); });
        }
        plan.sequence.resize(plan.present.size());
        for(std::size_t i = 0; i < plan.sequence.size(); ++i) {
            plan.sequence[i] = static_cast<std::uint32_t>(i);
        }
        return plan;
    }

    std::vector<ChainPlan> plans_;
};

// Where a transaction rewrites much of its chains, applying it as one rewrite of each costs
// O(n) where its operations one by one would split and merge the tree each.
bool worth_a_rewrite(const Ruleset& chains, std::span<const Operation> transaction) {
    std::size_t rules = 0;
    for(const auto& [key, chain] : chains) {
        rules += chain.size();
    }
    const std::size_t changed = rules_in(transaction);
    return changed * 16 >= rules && changed >= 64;
}

}  // namespace

// Every chain's new sequence is worked out and everything allocated before the first one
// changes, so a refusal or a failed allocation leaves them all as they were.
std::optional<bool> MemoryBackend::rewrite(std::span<const Operation> transaction, std::uint32_t refuse) {
    RewritePlan plan;
    if(!plan.make(chains_, transaction, refuse, error_)) {
        return error_.empty() ? std::nullopt : std::optional<bool>(false);
    }
    std::vector<Ruleset::iterator> chains;
    std::vector<Ruleset::iterator> created;
    std::vector<Chain::Prepared> prepared;
    try {
        chains.reserve(plan.plans().size());
        prepared.reserve(plan.plans().size());
        created.reserve(plan.plans().size());
        for(auto& chain_plan : plan.plans()) {
            auto [it, fresh] = chains_.try_emplace(*chain_plan.key);
            chains.push_back(it);
            if(fresh) {
                created.push_back(it);
            }
            std::vector<InlineText> rules;
            rules.reserve(chain_plan.fresh.size());
            for(std::string_view rule : chain_plan.fresh) {
                rules.emplace_back(rule);
            }
            prepared.push_back(it->second.prepare(std::move(rules), chain_plan.sequence.size()));
        }
    } catch(const std::bad_alloc&) {
        for(auto it : created) {
            chains_.erase(it);
        }
        throw;
    }
    for(std::size_t i = 0; i < prepared.size(); ++i) {
        chains[i]->second.rewrite(prepared[i], plan.plans()[i].sequence);
    }
    return true;
}

MemoryBackend::MemoryBackend() : chains_(start_state()) {}

std::size_t MemoryBackend::chain_size(const ChainKey& key) const {
    auto it = chains_.find(key);
    return it == chains_.end() ? 0 : it->second.size();
}

void MemoryBackend::rules_at(const ChainKey& key, std::size_t first, std::size_t count,
                             std::vector<RuleImage>& out) const {
    chains_.at(key).for_each(first - 1, count, [&](const InlineText& rule) { out.push_back(RuleImage::of_text(rule)); });
}

bool MemoryBackend::apply(std::span<const Operation> transaction) {
    const std::uint32_t refuse = refuse_op_;
    refuse_op_ = 0;
    error_.clear();
    if(worth_a_rewrite(chains_, transaction)) {
        if(const std::optional<bool> rewritten = rewrite(transaction, refuse)) {
            return *rewritten;
        }
    }

    // In place, with an undo log: a copy of the chain per commit would make each removal
    // cost the whole chain.
    UndoLog<Ruleset> undo(chains_, rules_in(transaction));
    std::uint32_t number = 0;  // of the rule, counted one by one
    for(const Operation& op : transaction) {
        for(std::uint32_t n = 0; n < op.count; ++n) {
            if(++number == refuse || op.position == 0) {
                error_ = refusal(number, "");
                return false;
            }
            auto chain_it = undo.chain_of(op.chain);
            Chain& chain = chain_it->second;
            const std::size_t index = op.position - std::size_t{1};
            if(op.kind == Operation::Kind::insert) {
                if(index > chain.size()) {
                    error_ = refusal(number, "no such position");
                    return false;
                }
                chain.insert(at(chain, index), InlineText(op.rule));
                undo.inserted(chain_it, index);
            } else {
                if(index >= chain.size() || (!op.rule.empty() && chain[index] != op.rule)) {
                    error_ = refusal(number, "another rule at that position");
                    return false;
                }
                InlineText rule = std::move(chain[index]);
                chain.erase(at(chain, index));
                undo.removed(chain_it, index, std::move(rule));
            }
        }
    }
    undo.commit();
    for(auto& [key, chain] : chains_) {
        chain.release_spares();  // kept only for the roll-back
    }
    return true;
}

void MemoryBackend::write_dump(const DumpSink& put) const {
    auto texts_of = [](const Ruleset::value_type& chain, const auto& emit) {
        for(const InlineText& rule : chain.second) {
            emit(rule.view());
        }
    };
    write_save(chains_, texts_of, put);
}

void MemoryBackend::reset() {
    chains_ = start_state();
    refuse_op_ = 0;
    error_.clear();
}

}  // namespace fwinterface
