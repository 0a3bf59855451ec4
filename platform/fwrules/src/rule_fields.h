#ifndef FWRULES_RULE_FIELDS_H
#define FWRULES_RULE_FIELDS_H

#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include <fwrules/fw_rule.h>

#include "field_syntax.h"

namespace fwrules {

// A text of at most N characters held inline, so that setting a field never allocates and a
// rule copies as plain data. Its length takes one byte: a module holds a rule per blocked
// source, and a word per field was a sixth of each.
template <std::size_t N>
class FixedText {
    static_assert(N <= UINT8_MAX, "the length is kept in one byte");

public:
    static constexpr std::size_t capacity = N;

    // The caller has checked text.size() <= N.
    void assign(std::string_view text) {
        std::memcpy(chars_, text.data(), text.size());
        chars_[text.size()] = '\0';
        size_ = static_cast<std::uint8_t>(text.size());
    }
    const char* c_str() const { return chars_; }
    std::string_view view() const { return {chars_, size_}; }
    bool empty() const { return size_ == 0; }

private:
    char chars_[N + 1] = {};
    std::uint8_t size_ = 0;
};

// Longest texts each field accepts.
constexpr std::size_t address_text_max = INET6_ADDRSTRLEN - 1;
constexpr std::size_t mask_text_max = 15;  // "255.255.255.255"
constexpr std::size_t mac_text_max = 17;   // "xx:xx:xx:xx:xx:xx"

// Every field keeps the text it was given (for the getters) and, where one is needed to
// check or write the rule, its parsed form; setters keep both in step.
struct Fields {
    FixedText<FW_RULE_NAME_MAX> table;
    FixedText<FW_RULE_NAME_MAX> chain;
    Family family = Family::none;
    FixedText<address_text_max> source_text;
    std::optional<Address> source;
    FixedText<mask_text_max> mask_text;
    std::optional<Mask> mask;
    FixedText<address_text_max> destination_text;
    std::optional<Address> destination;
    FixedText<mac_text_max> mac;
    std::uint32_t protocol = 0;
    std::uint32_t source_port = 0;
    std::uint32_t source_port_max = 0;
    std::uint32_t destination_port = 0;
    std::uint32_t destination_port_max = 0;
    std::int32_t icmp_type = -1;
    std::int32_t icmp_code = -1;
    fw_rule_policy_t policy = FW_RULE_POLICY_LAST;
    bool enabled = false;
};

// Consistency of a complete rule (see fw_rule_check).
fw_rule_error_t check(const Fields& rule);

}  // namespace fwrules

// The opaque C type is the field record itself.
struct fw_rule : fwrules::Fields {};

#endif  // FWRULES_RULE_FIELDS_H
