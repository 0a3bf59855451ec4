#include "kernel_view.h"

#include <cstdlib>
#include <map>
#include <sstream>
#include <utility>

#include "rule_maker.h"

namespace nfttest {
namespace {

std::uint32_t number(const std::string& text) { return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10)); }

// Translates one rule as `nft -n list chain` prints it ("ip saddr 10.0.0.0/8 tcp dport 80-100
// drop") into the text fw_rule_to_text() gives it; false, with `error` set, for a match it does
// not know. Matches on ports or ICMP fields imply their protocol.
bool read_rule(const std::string& line, bool ipv6, std::string& text, std::string& error) {
    static const std::map<std::string, std::uint32_t> protocols{{"tcp", 6}, {"udp", 17}, {"dccp", 33}, {"sctp", 132}};
    static const std::map<std::string, fw_rule_policy_t> targets{{"drop", FW_RULE_POLICY_DROP},
                                                                 {"accept", FW_RULE_POLICY_ACCEPT},
                                                                 {"reject", FW_RULE_POLICY_REJECT},
                                                                 {"masquerade", FW_RULE_POLICY_MASQUERADE}};
    fwtest::RuleMaker maker(ipv6);
    std::int32_t icmp[2] = {-1, -1};  // type and code
    bool verdict = false;
    std::istringstream words(line);
    // What follows a verdict ("reject with ...") is a detail of it.
    for(std::string kind; !verdict && words >> kind;) {
        verdict = targets.contains(kind);
        if(verdict) {
            maker.target(targets.at(kind));
            continue;
        }
        std::string field;
        std::string value;
        words >> field >> value;
        const std::size_t slash = value.find('/');
        const std::size_t dash = value.find('-');
        if(kind == "meta" && field == "l4proto") {
            maker.protocol(number(value));
        } else if(kind == (ipv6 ? "ip6" : "ip") && field == "saddr") {
            maker.source(value.substr(0, slash).c_str(), slash == std::string::npos ? "" : value.c_str() + slash + 1);
        } else if(kind == (ipv6 ? "ip6" : "ip") && field == "daddr" && slash == std::string::npos) {
            maker.destination(value.c_str());
        } else if(kind == "ether" && field == "saddr") {
            maker.mac(value.c_str());
        } else if(kind == "icmp" && (field == "type" || field == "code")) {
            maker.protocol(1);
            icmp[field == "type" ? 0 : 1] = static_cast<std::int32_t>(number(value));
        } else if(protocols.contains(kind) && (field == "sport" || field == "dport")) {
            const std::uint32_t last = dash == std::string::npos ? 0 : number(value.substr(dash + 1));
            maker.protocol(protocols.at(kind));
            if(field == "sport") {
                maker.source_ports(number(value), last);
            } else {
                maker.destination_ports(number(value), last);
            }
        } else {
            error = "unexpected match \"" + kind + " " + field + "\" in \"" + line + "\"";
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
    const CommandResult listed = exec_in(
        namespace_name, {"nft", "-n", "-a", "list", "chain", chain.ipv6 ? "ip6" : "ip", "filter", chain.chain});
    result.exists = listed.status == 0;  // else no such chain
    std::istringstream lines(listed.output);
    for(std::string line; result.exists && std::getline(lines, line);) {
        const std::size_t handle = line.rfind(" # handle ");
        if(handle == std::string::npos || line.find('{') != std::string::npos) {
            continue;  // the table's and the chain's own lines
        }
        std::string text;
        if(!read_rule(line.substr(0, handle), chain.ipv6, text, result.error)) {
            return result;
        }
        result.handles.push_back(std::strtoull(line.c_str() + handle + 10, nullptr, 10));
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
