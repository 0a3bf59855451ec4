#ifndef FWINTERFACE_PENDING_BATCH_H
#define FWINTERFACE_PENDING_BATCH_H

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include <fwinterface/interface.h>

#include "ruleset_backend.h"

namespace fwinterface {

// The operations recorded since the last commit. Each is checked against the view "running
// chains + the operations before it" and refused when it does not fit, so a transaction
// handed to the backend holds only operations that fit.
//
// The view is not a copy of the chains: per chain it keeps its size and the operations on
// it, and finds the rule at a position by walking those operations back to a position of
// the running chain. Copying would cost the whole chain per commit; the walk costs only the
// operations pending on that chain, which is one for the module's removals.
class PendingBatch {
public:
    // Each returns FW_OK or the fw_error_t of the refusal; a refused operation is not recorded.
    fw_error_t insert(const Backend& running, ChainKey key, std::uint32_t position, std::string rule);
    fw_error_t remove(const Backend& running, ChainKey key, std::uint32_t position, const std::string& rule);

    std::span<const Operation> operations() const { return operations_; }
    bool empty() const { return operations_.empty(); }
    void clear();

private:
    struct ChainView {
        std::size_t size = 0;                    // rules in the view
        std::vector<std::size_t> operations;     // indexes into operations_, in order
    };

    ChainView& view_of(const Backend& running, const ChainKey& key);
    const std::string* rule_at(const Backend& running, const ChainKey& key, const ChainView& view,
                               std::size_t position) const;
    void record(ChainView& view, Operation operation);

    std::vector<Operation> operations_;
    std::map<ChainKey, ChainView> views_;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_PENDING_BATCH_H
