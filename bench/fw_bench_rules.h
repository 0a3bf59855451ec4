// Rule objects as the access-control module expands them, shared by the firewall benchmarks.
#ifndef BENCH_FW_BENCH_RULES_H
#define BENCH_FW_BENCH_RULES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <fwrules/fw_rule.h>

namespace fwbench {

struct RuleDelete {
    void operator()(fw_rule_t* rule) const { fw_rule_delete(&rule); }
};
using Rule = std::unique_ptr<fw_rule_t, RuleDelete>;

// The n-th source address, 10.a.b.c.
inline std::string source_of(std::size_t n) {
    return "10." + std::to_string((n >> 16) & 0xff) + "." + std::to_string((n >> 8) & 0xff) + "." +
           std::to_string(n & 0xff);
}

// A drop rule for source n and a tcp port, like one expanded by the module.
inline Rule make_rule(std::size_t n, std::uint32_t port = 80) {
    fw_rule_t* rule = nullptr;
    fw_rule_new(&rule);
    fw_rule_set_source(rule, source_of(n).c_str());
    fw_rule_set_protocol(rule, 6);
    fw_rule_set_destination_port(rule, port);
    fw_rule_set_ipv4(rule, true);
    fw_rule_set_table(rule, "filter");
    fw_rule_set_chain(rule, "FORWARD_AccessControl_QK");
    fw_rule_set_target_policy(rule, FW_RULE_POLICY_DROP);
    fw_rule_set_enabled(rule, true);
    return Rule(rule);
}

inline std::vector<Rule> make_rules(std::size_t count) {
    std::vector<Rule> rules;
    rules.reserve(count);
    for(std::size_t n = 0; n < count; ++n) {
        rules.push_back(make_rule(n));
    }
    return rules;
}

}  // namespace fwbench

#endif
