#ifndef FWINTERFACE_MEMORY_BACKEND_H
#define FWINTERFACE_MEMORY_BACKEND_H

#include <cstdint>
#include <optional>

#include "ruleset_backend.h"

namespace fwinterface {

// The running ruleset kept in this process. A transaction is applied in place while an undo
// log is kept; when an operation fails, the log puts everything back.
class MemoryBackend final : public Backend {
public:
    static constexpr std::string_view backend_name = "memory";

    MemoryBackend();

    std::string_view name() const override { return backend_name; }
    std::size_t chain_size(const ChainKey& key) const override;
    void rules_at(const ChainKey& key, std::size_t first, std::size_t count,
                  std::vector<RuleImage>& out) const override;
    bool apply(std::span<const Operation> transaction) override;
    std::string_view error() const override { return error_; }
    void write_dump(const DumpSink& put) const override;
    void reset() override;

    // Test hook: refuse operation `op` (1-based) of the next transaction; 0 clears it.
    void refuse_next(std::uint32_t op) { refuse_op_ = op; }

private:
    // The transaction as one rewrite of each chain it touches: apply()'s result, or nullopt
    // when the plan is not worth it and the operations go one by one.
    std::optional<bool> rewrite(std::span<const Operation> transaction, std::uint32_t refuse);

    Ruleset chains_;
    std::uint32_t refuse_op_ = 0;
    std::string error_;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_MEMORY_BACKEND_H
