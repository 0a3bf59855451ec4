#ifndef FWRULES_RULE_PLACE_H
#define FWRULES_RULE_PLACE_H

#include <string_view>

namespace fwrules {

// A rule's table and chain names, one pair shared by every rule that carries both. A module
// keeps a rule per blocked source, nearly all of them in one table and chain: a copy of both
// names in each rule was a fifth of the rule, and a shared name each still 8 bytes more than
// the pair, the step from an 80-byte heap block to a 64-byte one. A pair lives while a rule
// holds it, so a caller that goes through many names does not keep them all.
class RulePlace {
public:
    RulePlace() = default;
    RulePlace(const RulePlace&) = delete;
    RulePlace& operator=(const RulePlace&) = delete;
    ~RulePlace();

    // Each holds `name` (already checked) instead of the name held so far, the other name kept;
    // throws std::bad_alloc (std::length_error for a name longer than FW_RULE_NAME_MAX) and
    // keeps both old names when the new pair cannot be stored.
    void assign_table(std::string_view name);
    void assign_chain(std::string_view name);

    // "" while no name is held.
    const char* table() const;
    const char* chain() const;
    bool has_table() const { return table()[0] != '\0'; }
    bool has_chain() const { return chain()[0] != '\0'; }

    struct Entry;

private:
    void assign(std::string_view table, std::string_view chain);

    Entry* entry_ = nullptr;  // nullptr while neither name is held
};

}  // namespace fwrules

#endif  // FWRULES_RULE_PLACE_H
