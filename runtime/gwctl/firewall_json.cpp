#include "firewall_json.h"

#include <map>
#include <string>
#include <vector>

namespace gwctl {
namespace {

// Options of a rule text that take one value, and the field each value goes to. "-m NAME"
// only loads a match and carries nothing of its own.
const std::map<std::string_view, const char*>& field_of_option() {
    static const std::map<std::string_view, const char*> fields = {
        {"-s", "source"},          {"-d", "destination"},     {"-p", "protocol"},
        {"--mac-source", "source_mac"}, {"--sport", "source_port"}, {"--dport", "destination_port"},
        {"--icmp-type", "icmp_type"}, {"-j", "target"},       {"-m", nullptr},
    };
    return fields;
}

std::vector<std::string_view> words_of(std::string_view text) {
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const std::size_t start = text.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            break;
        }
        text.remove_prefix(start);
        const std::size_t end = text.find(' ');
        words.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    }
    return words;
}

void add_text(amxc_var_t* table, const char* key, std::string_view value) {
    amxc_var_add_key(cstring_t, table, key, std::string(value).c_str());
}

// A rule's fields; a word the dump's grammar does not know stays in the rule's text only.
void add_rule(amxc_var_t* rules, std::string_view text) {
    amxc_var_t* rule = amxc_var_add_new_htable(rules);
    amxc_var_add_key(uint32_t, rule, "position", static_cast<uint32_t>(amxc_var_size(rules)));
    add_text(rule, "rule", text);
    const std::vector<std::string_view> words = words_of(text);
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        auto field = field_of_option().find(words[i]);
        if (field != field_of_option().end()) {
            if (field->second != nullptr) {
                add_text(rule, field->second, words[i + 1]);
            }
            ++i;
        }
    }
}

}  // namespace

bool firewall_chains(std::string_view dump, amxc_var_t* out) {
    amxc_var_set_type(out, AMXC_VAR_ID_LIST);
    std::string family;
    std::string table;
    std::map<std::string, amxc_var_t*> rules_of;  // chain of the current table -> its rules
    while (!dump.empty()) {
        const std::size_t end = dump.find('\n');
        const std::string_view line = dump.substr(0, end);
        dump.remove_prefix(end == std::string_view::npos ? dump.size() : end + 1);
        if (line == "# ipv4" || line == "# ipv6") {
            family = line.substr(2);
        } else if (line.starts_with('*') && !family.empty()) {
            table = line.substr(1);
            rules_of.clear();
        } else if (line.starts_with(':') && !table.empty()) {
            const std::string chain(line.substr(1, line.find(' ') - 1));
            amxc_var_t* entry = amxc_var_add_new_htable(out);
            amxc_var_add_key(cstring_t, entry, "family", family.c_str());
            amxc_var_add_key(cstring_t, entry, "table", table.c_str());
            amxc_var_add_key(cstring_t, entry, "chain", chain.c_str());
            rules_of[chain] = amxc_var_add_new_key_list(entry, "rules");
        } else if (line.starts_with("-A ")) {
            const std::string_view rest = line.substr(3);
            const std::size_t blank = rest.find(' ');
            auto chain = rules_of.find(std::string(rest.substr(0, blank)));
            if (chain == rules_of.end() || blank == std::string_view::npos) {
                return false;
            }
            add_rule(chain->second, rest.substr(blank + 1));
        } else if (line != "COMMIT" && !line.empty()) {
            return false;
        }
    }
    return true;
}

}  // namespace gwctl
