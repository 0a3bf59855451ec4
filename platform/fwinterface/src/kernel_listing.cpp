// Reading the kernel's tables back for people: nft's own library decodes them, independently
// of how this backend encoded them.
#include <nftables/libnftables.h>

#include <memory>

#include "nftables_backend.h"

namespace fwinterface {

bool NftablesBackend::kernel_listing(std::string& text) {
    std::unique_ptr<nft_ctx, decltype(&nft_ctx_free)> nft(nft_ctx_new(NFT_CTX_DEFAULT), nft_ctx_free);
    if(nft == nullptr || nft_ctx_buffer_output(nft.get()) != 0 || nft_ctx_buffer_error(nft.get()) != 0) {
        text = "cannot start the nftables library";
        return false;
    }
    text.clear();
    for(const char* command : {"list table ip filter", "list table ip6 filter"}) {
        if(nft_run_cmd_from_buffer(nft.get(), command) != 0) {
            text = std::string("cannot read the kernel's tables (") + command + "): " + nft_ctx_get_error_buffer(nft.get());
            return false;
        }
        text += nft_ctx_get_output_buffer(nft.get());
    }
    return true;
}

}  // namespace fwinterface
