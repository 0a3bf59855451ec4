#include "kernel_view.h"

#include <map>
#include <optional>
#include <utility>

#include <amxc/amxc_variant.h>
#include <amxj/amxj.h>

namespace nfttest {
namespace {

// A JSON document as variants, freed with the object.
class Json {
public:
    Json() { amxc_var_init(&var_); }
    ~Json() { amxc_var_clean(&var_); }
    Json(const Json&) = delete;
    Json& operator=(const Json&) = delete;
    bool read(const std::string& text, std::string& error) {
        char why[128] = {};
        if(amxj_read(&var_, text.data(), text.size(), why, sizeof(why)) != 0) {
            error = std::string("nft printed no JSON: ") + why;
            return false;
        }
        return true;
    }
    const amxc_var_t* get() const { return &var_; }

private:
    amxc_var_t var_;
};

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

// The fields of one rule, gathered from its expressions in any order.
struct Fields {
    std::string source, destination, mac, sport, dport, icmp_type, icmp_code, target;
    std::int64_t protocol = 0;
};

// "A/P": nft writes a full-length address without a prefix.
std::string address_of(const amxc_var_t* right, bool ipv6) {
    if(const char* plain = amxc_var_get_const_cstring_t(right)) {
        return std::string(plain) + (ipv6 ? "/128" : "/32");
    }
    auto len = number_at(right, "prefix.len");
    return text_at(right, "prefix.addr") + "/" + (len ? std::to_string(*len) : "?");
}

// "P" or "P:E".
std::string ports_of(const amxc_var_t* right) {
    if(amxc_var_type_of(right) == AMXC_VAR_ID_INT64) {
        return std::to_string(amxc_var_get_const_int64_t(right));
    }
    auto first = number_at(right, "range.0");
    auto last = number_at(right, "range.1");
    return first && last ? std::to_string(*first) + ":" + std::to_string(*last) : "?";
}

std::int64_t protocol_number(const std::string& name) {
    static const std::map<std::string, std::int64_t> numbers{
        {"icmp", 1}, {"tcp", 6}, {"udp", 17}, {"dccp", 33}, {"sctp", 132}};
    auto it = numbers.find(name);
    return it == numbers.end() ? -1 : it->second;
}

bool read_match(const amxc_var_t* match, bool ipv6, Fields& fields, std::string& error) {
    const amxc_var_t* right = amxc_var_get_key(match, "right", 0);
    if(text_at(match, "op") != "==" || right == nullptr) {
        error = "unexpected comparison";
        return false;
    }
    if(text_at(match, "left.meta.key") == "l4proto") {
        fields.protocol = amxc_var_get_const_int64_t(right);
        return true;
    }
    const std::string protocol = text_at(match, "left.payload.protocol");
    const std::string field = text_at(match, "left.payload.field");
    if(protocol == (ipv6 ? "ip6" : "ip") && (field == "saddr" || field == "daddr")) {
        (field == "saddr" ? fields.source : fields.destination) = address_of(right, ipv6);
    } else if(protocol == "ether" && field == "saddr") {
        fields.mac = amxc_var_get_const_cstring_t(right) ? amxc_var_get_const_cstring_t(right) : "?";
    } else if(protocol == "icmp" && (field == "type" || field == "code")) {
        fields.protocol = 1;
        (field == "type" ? fields.icmp_type : fields.icmp_code) = std::to_string(amxc_var_get_const_int64_t(right));
    } else if(protocol_number(protocol) > 0 && (field == "sport" || field == "dport")) {
        fields.protocol = protocol_number(protocol);
        (field == "sport" ? fields.sport : fields.dport) = ports_of(right);
    } else {
        error = "unexpected match on " + protocol + " " + field;
        return false;
    }
    return true;
}

std::string protocol_name(std::int64_t protocol) {
    switch(protocol) {
    case 1: return "icmp";
    case 6: return "tcp";
    case 17: return "udp";
    case 58: return "ipv6-icmp";
    default: return std::to_string(protocol);
    }
}

std::string port_module(std::int64_t protocol) {
    switch(protocol) {
    case 6: return "tcp";
    case 17: return "udp";
    case 33: return "dccp";
    default: return "sctp";
    }
}

// The options in the order fw_rule_to_text() writes them.
std::string rule_text(const Fields& f) {
    std::string out;
    auto option = [&out](const std::string& text) { out += (out.empty() ? "" : " ") + text; };
    if(!f.source.empty()) {
        option("-s " + f.source);
    }
    if(!f.destination.empty()) {
        option("-d " + f.destination);
    }
    if(f.protocol != 0) {
        option("-p " + protocol_name(f.protocol));
    }
    if(!f.mac.empty()) {
        option("-m mac --mac-source " + f.mac);
    }
    if(!f.sport.empty() || !f.dport.empty()) {
        option("-m " + port_module(f.protocol));
        if(!f.sport.empty()) {
            option("--sport " + f.sport);
        }
        if(!f.dport.empty()) {
            option("--dport " + f.dport);
        }
    }
    if(!f.icmp_type.empty()) {
        option("-m icmp --icmp-type " + f.icmp_type + (f.icmp_code.empty() ? "" : "/" + f.icmp_code));
    }
    option("-j " + f.target);
    return out;
}

bool read_rule(const amxc_var_t* rule, bool ipv6, std::string& text, std::string& error) {
    Fields fields;
    amxc_var_for_each(expression, amxc_var_get_key(rule, "expr", 0)) {
        const amxc_var_t* first = amxc_var_get_first(expression);
        const std::string kind = first == nullptr ? "" : amxc_var_key(first);
        if(kind == "match") {
            if(!read_match(first, ipv6, fields, error)) {
                return false;
            }
        } else if(kind == "drop" || kind == "accept" || kind == "reject" || kind == "masquerade") {
            static const std::map<std::string, std::string> targets{
                {"drop", "DROP"}, {"accept", "ACCEPT"}, {"reject", "REJECT"}, {"masquerade", "MASQUERADE"}};
            fields.target = targets.at(kind);
        } else {
            error = "unexpected expression " + kind;
            return false;
        }
    }
    text = rule_text(fields);
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
    Json json;
    if(!json.read(listed.output, result.error)) {
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

}  // namespace nfttest
