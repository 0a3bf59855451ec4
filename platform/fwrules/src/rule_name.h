#ifndef FWRULES_RULE_NAME_H
#define FWRULES_RULE_NAME_H

#include <string_view>

namespace fwrules {

// A table or chain name, shared by every rule that carries it. A module keeps a rule per
// blocked source, nearly all of them in one table and chain: a copy of both names in each rule
// was a fifth of the rule. A name lives while a rule holds it, so a caller that goes through
// many names does not keep them all.
class RuleName {
public:
    RuleName() = default;
    RuleName(const RuleName&) = delete;
    RuleName& operator=(const RuleName&) = delete;
    ~RuleName();

    // Holds `text` (already checked) instead of the name held so far; throws std::bad_alloc
    // and keeps the old name when a new one cannot be stored.
    void assign(std::string_view text);

    const char* c_str() const;  // "" while no name is held
    bool empty() const { return entry_ == nullptr; }

    struct Entry;

private:
    Entry* entry_ = nullptr;
};

}  // namespace fwrules

#endif  // FWRULES_RULE_NAME_H
