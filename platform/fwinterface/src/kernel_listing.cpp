// Reading the kernel's tables back for people: nft's own library decodes them, independently
// of how this backend encoded them.
#include <nftables/libnftables.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "nftables_backend.h"
#include "nftables_names.h"

namespace fwinterface {

namespace {

using Context = std::unique_ptr<nft_ctx, decltype(&nft_ctx_free)>;

Context open_context() {
    Context nft(nft_ctx_new(NFT_CTX_DEFAULT), nft_ctx_free);
    if(nft != nullptr && (nft_ctx_buffer_output(nft.get()) != 0 || nft_ctx_buffer_error(nft.get()) != 0)) {
        nft.reset();
    }
    return nft;
}

}  // namespace

bool NftablesBackend::rule_texts(const ChainKey& key, RuleTexts& rules, bool& missing, std::string& error) {
    Context nft = open_context();
    if(nft == nullptr) {
        error = "cannot start the nftables library";
        return false;
    }
    nft_ctx_output_set_flags(nft.get(), NFT_CTX_OUTPUT_HANDLE);
    rules.clear();
    const std::string command = "list chain " + chain_name(key);
    missing = nft_run_cmd_from_buffer(nft.get(), command.c_str()) != 0;
    if(missing) {
        const std::string why = nft_ctx_get_error_buffer(nft.get());
        if(why.find(std::strerror(ENOENT)) == std::string::npos) {
            error = "cannot read " + chain_name(key) + ": " + why;
            return false;
        }
        return true;
    }
    // Rules are the lines two tabs deep, each ending in "# handle <n>".
    std::string_view text = nft_ctx_get_output_buffer(nft.get());
    constexpr std::string_view mark = " # handle ";
    while(!text.empty()) {
        std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(text.size(), line.size() + 1));
        const std::size_t at = line.rfind(mark);
        if(!line.starts_with("\t\t") || at == std::string_view::npos) {
            continue;
        }
        rules.emplace_back(std::strtoull(std::string(line.substr(at + mark.size())).c_str(), nullptr, 10),
                           std::string(line.substr(2, at - 2)));
    }
    return true;
}

bool NftablesBackend::kernel_listing(std::string& text) {
    Context nft = open_context();
    if(nft == nullptr) {
        text = "cannot start the nftables library";
        return false;
    }
    text.clear();
    const std::string compiled(compiled_table);
    for(const std::string& table : {std::string("ip filter"), std::string("ip6 filter"), "ip " + compiled, "ip6 " + compiled}) {
        const std::string command = "list table " + table;
        if(nft_run_cmd_from_buffer(nft.get(), command.c_str()) == 0) {
            text += nft_ctx_get_output_buffer(nft.get());
            continue;
        }
        const std::string why = nft_ctx_get_error_buffer(nft.get());
        // The compiled tables exist only with compiled chains.
        if(!table.ends_with(compiled) || why.find(std::strerror(ENOENT)) == std::string::npos) {
            text = "cannot read the kernel's tables (" + command + "): " + why;
            return false;
        }
    }
    return true;
}

}  // namespace fwinterface
