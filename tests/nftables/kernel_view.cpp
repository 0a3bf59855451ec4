#include "kernel_view.h"

#include <array>
#include <map>
#include <optional>
#include <utility>

#include <amxc/amxc_scoped_var.h>
#include <amxc/amxc_variant.h>
#include <amxj/amxj.h>

#include "rule_maker.h"

namespace nfttest {
namespace {

std::string text_at(const amxc_var_t* var, const char* path) {
    const char* text = amxc_var_get_const_cstring_t(amxc_var_get_path(var, path, 0));
    return text == nullptr ? "" : text;
}

std::optional<std::int64_t> number_at(const amxc_var_t* var, const char* path) {
    const amxc_var_t* value = amxc_var_get_path(var, path, 0);
    if(value == nullptr || amxc_var_type_of(value) != AMXC_VAR_ID_INT64) {
        return std::nullopt;
    }
    return amxc_var_get_const_int64_t(value);
}

std::int64_t number(const amxc_var_t* value) { return amxc_var_get_const_int64_t(value); }

// "P" or a range "P:E" of nft, as first and last port (0: no range).
std::pair<std::uint32_t, std::uint32_t> ports_of(const amxc_var_t* right) {
    if(amxc_var_type_of(right) == AMXC_VAR_ID_INT64) {
        return {static_cast<std::uint32_t>(number(right)), 0};
    }
    return {static_cast<std::uint32_t>(number_at(right, "range.0").value_or(0)),
            static_cast<std::uint32_t>(number_at(right, "range.1").value_or(0))};
}

std::int64_t protocol_number(const std::string& name) {
    static const std::map<std::string, std::int64_t> numbers{
        {"icmp", 1}, {"tcp", 6}, {"udp", 17}, {"dccp", 33}, {"sctp", 132}};
    auto it = numbers.find(name);
    return it == numbers.end() ? -1 : it->second;
}

// Adds one match of nft's decoding to `rule`. nft writes a full-length address without a
// prefix; matches on ports or ICMP fields imply their protocol.
bool read_match(const amxc_var_t* match, bool ipv6, fwtest::RuleMaker& rule, std::array<std::int32_t, 2>& icmp,
                std::string& error) {
    const amxc_var_t* right = amxc_var_get_key(match, "right", 0);
    if(text_at(match, "op") != "==" || right == nullptr) {
        error = "unexpected comparison";
        return false;
    }
    const std::string protocol = text_at(match, "left.payload.protocol");
    const std::string field = text_at(match, "left.payload.field");
    const char* plain = amxc_var_get_const_cstring_t(right);
    if(text_at(match, "left.meta.key") == "l4proto") {
        rule.protocol(static_cast<std::uint32_t>(number(right)));
    } else if(protocol == (ipv6 ? "ip6" : "ip") && field == "saddr") {
        const auto length = number_at(right, "prefix.len");
        rule.source(plain != nullptr ? plain : text_at(right, "prefix.addr").c_str(),
                    plain != nullptr ? "" : std::to_string(length.value_or(-1)).c_str());
    } else if(protocol == (ipv6 ? "ip6" : "ip") && field == "daddr" && plain != nullptr) {
        rule.destination(plain);
    } else if(protocol == "ether" && field == "saddr" && plain != nullptr) {
        rule.mac(plain);
    } else if(protocol == "icmp" && (field == "type" || field == "code")) {
        rule.protocol(1);
        icmp[field == "type" ? 0 : 1] = static_cast<std::int32_t>(number(right));
    } else if(protocol_number(protocol) > 0 && (field == "sport" || field == "dport")) {
        const auto [first, last] = ports_of(right);
        rule.protocol(static_cast<std::uint32_t>(protocol_number(protocol)));
        if(field == "sport") {
            rule.source_ports(first, last);
        } else {
            rule.destination_ports(first, last);
        }
    } else {
        error = "unexpected match on " + protocol + " " + field;
        return false;
    }
    return true;
}

bool read_rule(const amxc_var_t* rule, bool ipv6, std::string& text, std::string& error) {
    static const std::map<std::string, fw_rule_policy_t> targets{{"drop", FW_RULE_POLICY_DROP},
                                                                 {"accept", FW_RULE_POLICY_ACCEPT},
                                                                 {"reject", FW_RULE_POLICY_REJECT},
                                                                 {"masquerade", FW_RULE_POLICY_MASQUERADE}};
    fwtest::RuleMaker maker(ipv6);
    std::array<std::int32_t, 2> icmp{-1, -1};  // type and code
    bool verdict = false;
    amxc_var_for_each(expression, amxc_var_get_key(rule, "expr", 0)) {
        const amxc_var_t* first = amxc_var_get_first(expression);
        const std::string kind = first == nullptr ? "" : amxc_var_key(first);
        if(kind == "match") {
            if(!read_match(first, ipv6, maker, icmp, error)) {
                return false;
            }
        } else if(targets.contains(kind)) {
            maker.target(targets.at(kind));
            verdict = true;
        } else {
            error = "unexpected expression " + kind;
            return false;
        }
    }
    if(icmp[0] >= 0 || icmp[1] >= 0) {
        maker.icmp(icmp[0], icmp[1]);
    }
    fwtest::Rule read = maker.make();
    text = !verdict ? "<no verdict>" : read == nullptr ? "<a rule fwrules refuses>" : fwtest::text_of(read.get());
    return true;
}

}  // namespace

KernelChain read_chain(const std::string& namespace_name, const ChainName& chain) {
    KernelChain result;
    CommandResult listed =
        exec_in(namespace_name, {"nft", "-j", "-n", "list", "chain", chain.ipv6 ? "ip6" : "ip", "filter", chain.chain});
    if(listed.status != 0) {
        return result;  // no such chain
    }
    result.exists = true;
    amxc::ScopedVar json;
    char why[128] = {};
    if(amxj_read(json.get(), listed.output.data(), listed.output.size(), why, sizeof(why)) != 0) {
        result.error = std::string("nft printed no JSON: ") + why;
        return result;
    }
    amxc_var_for_each(item, amxc_var_get_key(json.get(), "nftables", 0)) {
        const amxc_var_t* rule = amxc_var_get_key(item, "rule", 0);
        if(rule == nullptr) {
            continue;
        }
        std::string text;
        if(!read_rule(rule, chain.ipv6, text, result.error)) {
            return result;
        }
        auto handle = number_at(rule, "handle");
        result.handles.push_back(handle ? static_cast<std::uint64_t>(*handle) : 0);
        result.rules.push_back(text);
    }
    return result;
}

std::string kernel_dump(const std::string& namespace_name, const std::vector<ChainName>& chains) {
    std::map<std::pair<bool, std::string>, std::vector<std::string>> found;
    for(const ChainName& chain : chains) {
        KernelChain kernel = read_chain(namespace_name, chain);
        if(!kernel.error.empty()) {
            return "error: " + chain.chain + ": " + kernel.error;
        }
        if(kernel.exists) {
            found[{chain.ipv6, chain.chain}] = kernel.rules;
        }
    }
    std::string out;
    for(bool ipv6 : {false, true}) {
        out += ipv6 ? "# ipv6\n" : "# ipv4\n";
        std::string headers;
        std::string rules;
        for(const auto& [key, texts] : found) {
            if(key.first != ipv6) {
                continue;
            }
            headers += ":" + key.second + " - [0:0]\n";
            for(const std::string& text : texts) {
                rules += "-A " + key.second + " " + text + "\n";
            }
        }
        if(!headers.empty()) {
            out += "*filter\n" + headers + rules + "COMMIT\n";
        }
    }
    return out;
}

std::size_t hook_jumps(const std::string& namespace_name, bool ipv6) {
    const CommandResult listed = exec_in(namespace_name, {"nft", "list", "chain", ipv6 ? "ip6" : "ip", "filter",
                                                          ipv6 ? "FORWARD6_AccessControl_QK_hook" : "FORWARD_AccessControl_QK_hook"});
    std::size_t count = 0;
    for(std::size_t at = listed.output.find("jump "); listed.status == 0 && at != std::string::npos;
        at = listed.output.find("jump ", at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace nfttest
