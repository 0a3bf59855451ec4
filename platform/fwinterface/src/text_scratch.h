#ifndef FWINTERFACE_TEXT_SCRATCH_H
#define FWINTERFACE_TEXT_SCRATCH_H

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace fwinterface {

// Texts written on demand and lent out until clear(), in blocks that never move: a compiled
// chain writes a rule's text only when it is read, and its readers hold the views of tens of
// thousands of them at once (the rules a group withdrawn rule by rule read ahead).
class TextScratch {
public:
    std::string_view keep(std::string_view text) {
        if(blocks_.empty() || blocks_.back().size - used_ < text.size()) {
            const std::size_t size = std::max(block_size, text.size());
            blocks_.push_back(Block{std::make_unique_for_overwrite<char[]>(size), size});
            used_ = 0;
        }
        char* at = blocks_.back().chars.get() + used_;
        if(!text.empty()) {  // an empty view's data may be null
            std::memcpy(at, text.data(), text.size());
        }
        used_ += text.size();
        return {at, text.size()};
    }

    // Every view lent goes; the first block stays for the next reads.
    void clear() {
        blocks_.resize(std::min<std::size_t>(blocks_.size(), 1));
        used_ = 0;
    }

private:
    static constexpr std::size_t block_size = 64 * 1024;
    struct Block {
        std::unique_ptr<char[]> chars;
        std::size_t size;
    };
    std::vector<Block> blocks_;
    std::size_t used_ = 0;  // of the last block
};

}  // namespace fwinterface

#endif  // FWINTERFACE_TEXT_SCRATCH_H
