// Reading the kernel's chains back for people, over the backend's own socket (nft_listing).
#include "nftables_backend.h"
#include "nftables_names.h"

namespace fwinterface {

bool NftablesBackend::rule_texts(const ChainKey& key, RuleTexts& rules, bool& missing, std::string& error) const {
    std::vector<NftSocket::ListedRule> listed;
    if(!socket_->list_rules(table_of(key), key.chain, listed, missing, error)) {
        error = "cannot read " + chain_name(key) + ": " + error;
        return false;
    }
    rules.clear();
    for(NftSocket::ListedRule& rule : listed) {
        rules.emplace_back(rule.handle, std::move(rule.text));
    }
    return true;
}

bool NftablesBackend::kernel_listing(std::string& text) const {
    text.clear();
    for(bool ipv6 : {false, true}) {
        const ChainKey positional = access_control_chain(ipv6);
        for(const TableRef table : {table_of(positional), TableRef{ipv6, compiled_table}}) {
            std::string listed;
            std::string error;
            if(socket_->list_table(table, listed, error)) {
                text += listed;
            } else if(table.table != compiled_table) {  // the compiled tables exist only with compiled chains
                text = "cannot read the kernel's tables: " + error;
                return false;
            }
        }
    }
    return true;
}

}  // namespace fwinterface
