// Keeping the kernel in step with the mirror while other programs change it: the generation
// each batch is written for, the notifications, repairs, and the comparison behind a check.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <set>

#include "nftables_backend.h"
#include "nftables_names.h"

namespace fwinterface {
namespace {

// Batches refused in a row because others kept committing first, before giving up.
constexpr int fresh_attempts = 5;

// A repair the kernel refused is tried again after this long.
constexpr int repair_retry_ms = 1000;

// Repairs the notifications ask for come at most this often, so that a program that rewrites
// the same tables whenever they change does not fight this backend at full speed.
constexpr auto repair_spacing = std::chrono::milliseconds(250);

std::string joined(std::string first, const std::string& second) {
    return first.empty() ? second : second.empty() ? first : first + "; " + second;
}

}  // namespace

// The notifications are left while the batch commits: the kernel would build one per element
// of it, costing as much as the batch. The generation read afterwards shows whether another
// program committed meanwhile, unseen; its changes are then looked for in the kernel itself.
BatchResult NftablesBackend::commit(const NftBatch& batch) {
    const std::uint32_t before = events_->generation();
    events_->listen(false);
    BatchResult result = socket_->send(batch);
    events_->listen(true);
    std::uint32_t now = 0;
    std::string why;
    if(!socket_->generation(now, why)) {
        events_->mark_lost();
        return result;
    }
    const bool alone = result.outcome == BatchResult::Outcome::committed ? now == before + 1
                       : result.outcome == BatchResult::Outcome::refused ? now == before
                                                                          : now == before || now == before + 1;
    if(!alone) {
        events_->mark_lost();
    }
    events_->set_generation(now);
    return result;
}

// The kernel refuses a batch written for an older generation as a whole, on its first message.
bool NftablesBackend::stale(const BatchResult& result, const NftBatch& batch) {
    return result.outcome == BatchResult::Outcome::refused && result.error == ERESTART &&
           result.error_seq == batch.first_seq();
}

NftEvents::Concern NftablesBackend::owns(const NftEvents::Subject& subject) const {
    using Concern = NftEvents::Concern;
    Concern concern = Concern::none;
    if(subject.table == compiled_table && is_compiled(access_control_chain(subject.ipv6))) {
        return Concern::owned;  // everything in it
    }
    for(const auto& [key, rules] : chains_) {
        if(key.ipv6 != subject.ipv6 || key.table != subject.table) {
            continue;
        }
        if(!subject.set.empty()) {
            return is_compiled_set(subject.set, compiled_set_prefix) ? Concern::owned : Concern::table;
        }
        if(subject.chain.empty() || subject.chain == key.chain ||
           (options_.jump && is_access_control(key) && subject.chain == hook_chain_of(key))) {
            return Concern::owned;
        }
        concern = Concern::table;
    }
    return concern;
}

void NftablesBackend::read_events() {
    events_->read([this](const NftEvents::Subject& subject) { return owns(subject); });
}

bool NftablesBackend::learn_generation() {
    events_->read([](const NftEvents::Subject&) { return NftEvents::Concern::none; });
    events_->clear_lost();
    std::uint32_t generation = 0;
    std::string why;
    if(!socket_->generation(generation, why)) {
        error_ = why;
        return false;
    }
    events_->set_generation(generation);
    return true;
}

bool NftablesBackend::catch_up(bool repair_now) {
    read_events();
    if(events_->lost()) {
        // Whose changes they were is unknown: the kernel is compared with the mirror instead.
        std::string differences;
        if(!learn_generation() || !check(differences) || !differences.empty()) {
            std::replace(differences.begin(), differences.end(), '\n', ' ');
            repair_reason_ = joined(repair_reason_, "notifications lost, the kernel differs: " + differences);
            repair_due_ = true;
        }
    }
    if(events_->drifted()) {
        repair_reason_ = joined(repair_reason_, events_->take_findings());
        repair_due_ = true;
    }
    return !repair_due_ || !repair_now || repair();
}

std::string NftablesBackend::name_rules(const std::vector<NftEvents::ForeignRule>& rules) const {
    std::string text;
    std::map<ChainKey, RuleTexts> listed;
    for(const NftEvents::ForeignRule& rule : rules) {
        const ChainKey key{rule.ipv6, rule.table, rule.chain};
        auto [it, fresh] = listed.try_emplace(key);
        bool missing = false;
        std::string why;
        if(fresh && !rule_texts(key, it->second, missing, why)) {
            continue;
        }
        for(const auto& [handle, rule_text] : it->second) {
            if(handle == rule.handle) {
                text += "; removed from " + chain_name(key) + ": \"" + rule_text + '"';
            }
        }
    }
    return text;
}

bool NftablesBackend::repair() {
    last_repair_ = std::chrono::steady_clock::now();
    const std::string foreign = name_rules(events_->take_foreign_rules());
    if(!rewrite()) {
        repair_due_ = true;
        std::fprintf(stderr, "fwinterface: kernel firewall changed by another program: %s; cannot restore it: %s\n", repair_reason_.c_str(),
                     error_.c_str());
        return false;
    }
    std::size_t rules = 0;
    for(const auto& [key, chain] : chains_) {
        rules += chain_size(key);
    }
    std::fprintf(stderr, "fwinterface: kernel firewall changed by another program: %s%s; restored %zu chain(s) and %zu rule(s)%s\n",
                 repair_reason_.c_str(), foreign.c_str(), chains_.size(), rules,
                 options_.jump ? " with their forward hooks" : "");
    repair_due_ = false;
    repair_reason_.clear();
    return true;
}

bool NftablesBackend::until_fresh(bool repair, const std::function<Sent()>& attempt) {
    for(int n = 0; n < fresh_attempts; ++n) {
        const Sent sent = attempt();
        if(sent != Sent::stale) {
            if(sent == Sent::done && !repair) {
                // Everything was written anew: what others did before is undone already.
                events_->take_findings();
                events_->take_foreign_rules();
            }
            return sent == Sent::done;
        }
        if(repair ? !catch_up() : !learn_generation()) {
            return false;
        }
    }
    error_ = "the kernel's ruleset kept changing while this backend wrote it";
    return false;
}

int NftablesBackend::watch() {
    if(out_of_step_) {
        events_->read([](const NftEvents::Subject&) { return NftEvents::Concern::none; });
        return -1;
    }
    const auto since = std::chrono::steady_clock::now() - last_repair_;
    catch_up(since >= repair_spacing);
    if(!repair_due_) {
        return -1;
    }
    if(since >= repair_spacing) {
        return repair_retry_ms;  // the repair failed
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(repair_spacing - since).count());
}

void NftablesBackend::warn_of_leftovers() {
    for(bool ipv6 : {false, true}) {
        const ChainKey key = access_control_chain(ipv6);
        RuleTexts rules;
        bool missing = false;
        std::string why;
        if(!rule_texts(key, rules, missing, why) || rules.empty()) {
            continue;
        }
        std::string text;
        for(const auto& [handle, rule] : rules) {
            text += (text.empty() ? "\"" : ", \"") + rule + '"';
        }
        std::fprintf(stderr, "fwinterface: %s holds %zu rule(s) this run did not write; removing them: %s\n",
                     chain_name(key).c_str(), rules.size(), text.c_str());
    }
}

// A compiled chain is checked in the compiled table, with its sets and the hook chain that
// jumps to it; the positional chain then holds its dispatch rules.
bool NftablesBackend::check_chain(const ChainKey& key, std::string& differences) {
    CompiledChain::KernelView expected;
    auto compiled = compiled_.find(key);
    if(!is_compiled(key) || compiled == compiled_.end()) {
        for(const auto& rule : chains_.at(key)) {
            expected.handles.push_back(rule.handle);
        }
        return compare_chain(key, expected, differences);
    }
    if(auto dispatch = dispatch_.find(key); dispatch != dispatch_.end()) {
        expected.handles = dispatch->second.handles();
    }
    const ChainKey hook{key.ipv6, std::string(compiled_table), std::string(compiled_hook_chain)};
    RuleTexts rules;
    bool missing = false;
    if(!compare_chain(key, expected, differences) ||
       !compare_chain(compiled_chain_of(key), compiled->second.kernel_view(), differences) ||
       !rule_texts(hook, rules, missing, differences)) {
        return false;
    }
    if(missing || rules.size() != 2) {
        differences += chain_name(hook) + ": " + (missing ? "the chain is missing" : "holds " +
                       std::to_string(rules.size()) + " rule(s) where the mark's clearing and one jump are expected") + '\n';
    }
    return true;
}

bool NftablesBackend::compare_chain(const ChainKey& key, const CompiledChain::KernelView& expected,
                                    std::string& differences) {
    RuleTexts kernel;
    bool missing = false;
    if(!rule_texts(key, kernel, missing, differences)) {
        return false;
    }
    const std::string name = chain_name(key);
    if(missing) {
        differences += name + ": the chain is missing\n";
        return true;
    }
    std::set<std::uint64_t> wanted(expected.handles.begin(), expected.handles.end());
    std::size_t kept = 0;
    bool in_order = kernel.size() == expected.handles.size();
    for(std::size_t i = 0; i < kernel.size(); ++i) {
        if(wanted.contains(kernel[i].first)) {
            ++kept;
            in_order = in_order && kernel[i].first == expected.handles[i];
        } else {
            differences += name + ": a rule that was not written here: \"" + kernel[i].second + "\"\n";
        }
    }
    if(kept < expected.handles.size()) {
        differences += name + ": " + std::to_string(expected.handles.size() - kept) + " of " +
                       std::to_string(expected.handles.size()) + " kernel rule(s) missing\n";
    } else if(!in_order) {
        differences += name + ": the rules are out of order\n";
    }
    for(const auto& [set, elements] : expected.sets) {
        std::size_t count = 0;
        std::string why;
        if(!socket_->count_set_elements(table_of(key), set, count, why)) {
            differences = why;
            return false;
        }
        if(count != elements) {
            differences += name + ": set " + set + " holds " + std::to_string(count) + " element(s) where " +
                           std::to_string(elements) + " are expected\n";
        }
    }
    return true;
}

bool NftablesBackend::check(std::string& differences) {
    differences.clear();
    std::string found;
    for(const auto& [key, rules] : chains_) {
        if(!check_chain(key, found)) {
            differences = found;
            return false;
        }
    }
    for(bool ipv6 : {false, true}) {
        if(!options_.jump) {
            break;
        }
        const ChainKey hook{ipv6, access_control_chain(ipv6).table, hook_chain_of(access_control_chain(ipv6))};
        RuleTexts rules;
        bool missing = false;
        if(!rule_texts(hook, rules, missing, differences)) {
            return false;
        }
        if(rules.size() != 1) {
            found += chain_name(hook) + ": " + (missing ? "the chain is missing" : "holds " +
                     std::to_string(rules.size()) + " rule(s) where one jump is expected") + '\n';
        }
    }
    differences = std::move(found);
    return true;
}

}  // namespace fwinterface
