// Reading the kernel's tables back in nft's syntax, over the backend's own socket: what
// `gwctl firewall --kernel` prints and how warnings and the check name foreign rules.
#include "nft_attributes.h"
#include "nft_rule_text.h"
#include "nft_socket.h"
#include "netlink_writer.h"

#include <linux/netfilter.h>

#include <algorithm>
#include <utility>

namespace fwinterface {
namespace {

namespace attr = attributes;

// Most chains, sets or elements of one table that are listed.
constexpr std::size_t listed_max = std::size_t{1} << 21;

void ask_table(NetlinkWriter& request, int nft_message, std::uint32_t seq, TableRef table,
                                      std::uint16_t table_attribute) {
    request = NetlinkWriter();
    request.begin_message(attr::message_type(nft_message), NLM_F_DUMP, seq, table.ipv6 ? NFPROTO_IPV6 : NFPROTO_IPV4);
    request.put_string(table_attribute, table.table);
}

std::string hook_name(std::uint32_t hook) {
    constexpr const char* names[] = {"prerouting", "input", "forward", "output", "postrouting"};
    return hook < std::size(names) ? names[hook] : std::to_string(hook);
}

// "type filter hook forward priority 0; policy accept;" for a base chain, "" for another.
std::string base_chain_line(const attr::Table& chain) {
    if(chain[NFTA_CHAIN_HOOK] == nullptr) {
        return "";
    }
    const attr::Table hook = attr::of_nest(chain[NFTA_CHAIN_HOOK]);
    const auto priority = static_cast<std::int32_t>(attr::u32(hook[NFTA_HOOK_PRIORITY]));
    const bool accept = chain[NFTA_CHAIN_POLICY] == nullptr || attr::u32(chain[NFTA_CHAIN_POLICY]) == NF_ACCEPT;
    return "type " + attr::text(chain[NFTA_CHAIN_TYPE]) + " hook " + hook_name(attr::u32(hook[NFTA_HOOK_HOOKNUM])) +
           " priority " + std::to_string(priority) + "; policy " + (accept ? "accept" : "drop") + ";";
}

// The key just below `key` (big-endian): an interval's end element holds the first key past it.
std::vector<std::uint8_t> before(std::vector<std::uint8_t> key) {
    for(auto it = key.rbegin(); it != key.rend() && (*it)-- == 0; ++it) {
    }
    return key;
}

}  // namespace

bool NftSocket::list_rules(TableRef table, std::string_view chain, std::vector<ListedRule>& rules, bool& missing,
                           std::string& error) {
    NetlinkWriter request;
    const auto ask = [&](std::uint32_t seq) {
        rules.clear();
        ask_table(request, NFT_MSG_GETRULE, seq, table, NFTA_RULE_TABLE);
        request.put_string(NFTA_RULE_CHAIN, chain);
        request.end_message();
        return request.bytes();
    };
    const auto keep = [&](const nlmsghdr* message) {
        if(message->nlmsg_type != attr::message_type(NFT_MSG_NEWRULE)) {
            return true;
        }
        if(rules.size() >= listed_max) {
            error = "too many rules in chain " + std::string(chain);
            return false;
        }
        const attr::Table rule = attr::of_message(message);
        rules.push_back({attr::u64(rule[NFTA_RULE_HANDLE]), rule_text(rule[NFTA_RULE_EXPRESSIONS], table.ipv6)});
        return true;
    };
    if(!dump("rules", ask, keep, error, &missing)) {
        return false;
    }
    // A rule listing names no missing chain (it is only empty): the chains tell.
    std::vector<std::pair<std::string, std::string>> chains;
    if(!missing && rules.empty()) {
        if(!list_chains(table, chains, error)) {
            return false;
        }
        missing = std::none_of(chains.begin(), chains.end(), [&](const auto& c) { return c.first == chain; });
    }
    return true;
}

bool NftSocket::list_table(TableRef table, std::string& text, std::string& error) {
    std::string sets;
    std::string chains;
    if(!write_sets(table, sets, error) || !write_chains(table, chains, error)) {
        return false;
    }
    text.clear();
    if(!sets.empty() || !chains.empty()) {
        text = std::string("table ") + (table.ipv6 ? "ip6 " : "ip ") + std::string(table.table) + " {\n" + sets + chains + "}\n";
    }
    return true;
}

bool NftSocket::list_chains(TableRef table, std::vector<std::pair<std::string, std::string>>& chains,
                            std::string& error) {
    NetlinkWriter request;
    const auto ask = [&](std::uint32_t seq) {
        chains.clear();
        ask_table(request, NFT_MSG_GETCHAIN, seq, table, NFTA_CHAIN_TABLE);
        request.end_message();
        return request.bytes();
    };
    const auto keep = [&](const nlmsghdr* message) {
        const attr::Table chain = attr::of_message(message);
        if(message->nlmsg_type != attr::message_type(NFT_MSG_NEWCHAIN) || attr::text(chain[NFTA_CHAIN_TABLE]) != table.table) {
            return true;
        }
        if(chains.size() >= listed_max) {
            error = "too many chains in table " + std::string(table.table);
            return false;
        }
        chains.emplace_back(attr::text(chain[NFTA_CHAIN_NAME]), base_chain_line(chain));
        return true;
    };
    return dump("chains", ask, keep, error);
}

bool NftSocket::write_chains(TableRef table, std::string& text, std::string& error) {
    std::vector<std::pair<std::string, std::string>> chains;
    if(!list_chains(table, chains, error)) {
        return false;
    }
    text.clear();
    for(const auto& [name, base] : chains) {
        std::vector<ListedRule> rules;
        bool missing = false;
        if(!list_rules(table, name, rules, missing, error)) {
            return false;
        }
        text += "\tchain " + name + " {\n" + (base.empty() ? "" : "\t\t" + base + "\n");
        for(const ListedRule& rule : rules) {
            text += "\t\t" + rule.text + " # handle " + std::to_string(rule.handle) + "\n";
        }
        text += "\t}\n";
    }
    return true;
}

bool NftSocket::write_sets(TableRef table, std::string& text, std::string& error) {
    struct Listed {
        std::string name;
        std::uint32_t key_length = 0;
        bool intervals = false;
    };
    std::vector<Listed> sets;
    NetlinkWriter request;
    const auto ask = [&](std::uint32_t seq) {
        sets.clear();
        ask_table(request, NFT_MSG_GETSET, seq, table, NFTA_SET_TABLE);
        request.end_message();
        return request.bytes();
    };
    const auto keep = [&](const nlmsghdr* message) {
        const attr::Table set = attr::of_message(message);
        if(message->nlmsg_type != attr::message_type(NFT_MSG_NEWSET) || attr::text(set[NFTA_SET_TABLE]) != table.table) {
            return true;
        }
        if(sets.size() >= listed_max) {
            error = "too many sets in table " + std::string(table.table);
            return false;
        }
        sets.push_back({attr::text(set[NFTA_SET_NAME]), attr::u32(set[NFTA_SET_KEY_LEN]),
                        (attr::u32(set[NFTA_SET_FLAGS]) & NFT_SET_INTERVAL) != 0});
        return true;
    };
    if(!dump("sets", ask, keep, error)) {
        return false;
    }
    text.clear();
    for(const Listed& set : sets) {
        std::string elements;
        if(!write_elements(table, set.name, set.intervals, elements, error)) {
            return false;
        }
        const std::string type = set.key_length == 4 ? "ipv4_addr" : set.key_length == 16 ? "ipv6_addr" :
                                 std::to_string(set.key_length) + " bytes";
        text += "\tset " + set.name + " {\n\t\ttype " + type + "\n" + (set.intervals ? "\t\tflags interval\n" : "") +
                (elements.empty() ? "" : "\t\telements = { " + elements + " }\n") + "\t}\n";
    }
    return true;
}

bool NftSocket::write_elements(TableRef table, std::string_view set, bool intervals, std::string& text,
                               std::string& error) {
    // Key and whether it ends an interval (holding the first key past it).
    std::vector<std::pair<std::vector<std::uint8_t>, bool>> keys;
    NetlinkWriter request;
    const auto ask = [&](std::uint32_t seq) {
        keys.clear();
        ask_table(request, NFT_MSG_GETSETELEM, seq, table, NFTA_SET_ELEM_LIST_TABLE);
        request.put_string(NFTA_SET_ELEM_LIST_SET, set);
        request.end_message();
        return request.bytes();
    };
    const auto keep = [&](const nlmsghdr* message) {
        if(message->nlmsg_type != attr::message_type(NFT_MSG_NEWSETELEM)) {
            return true;
        }
        const nlattr* list = attr::of_message(message)[NFTA_SET_ELEM_LIST_ELEMENTS];
        return list == nullptr || attr::for_each_nested(list, [&](const nlattr* element) {
            if(keys.size() >= listed_max) {
                error = "too many elements in set " + std::string(set);
                return false;
            }
            const attr::Table e = attr::of_nest(element);
            const auto key = attr::value(e[NFTA_SET_ELEM_KEY]);
            keys.emplace_back(std::vector<std::uint8_t>(key.begin(), key.end()),
                              (attr::u32(e[NFTA_SET_ELEM_FLAGS]) & NFT_SET_ELEM_INTERVAL_END) != 0);
            return true;
        });
    };
    if(!dump("set elements", ask, keep, error)) {
        return false;
    }
    // Sorted by key, an interval's end before a start at the same key: each start runs to the
    // next end (or to the last key when none follows).
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second > b.second;
    });
    text.clear();
    for(std::size_t i = 0; i < keys.size(); ++i) {
        if(keys[i].second) {
            continue;
        }
        std::string element = key_text(keys[i].first);
        if(intervals) {
            const bool closed = i + 1 < keys.size() && keys[i + 1].second;
            const std::vector<std::uint8_t> last = closed ? before(keys[i + 1].first) : std::vector<std::uint8_t>(keys[i].first.size(), 0xff);
            if(last != keys[i].first) {
                element += '-' + key_text(last);
            }
        }
        text += (text.empty() ? "" : ", ") + element;
    }
    return true;
}

}  // namespace fwinterface
