#ifndef FWINTERFACE_RULE_READER_H
#define FWINTERFACE_RULE_READER_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fwinterface {

// An address match: the address (4 or 16 bytes used) with its host bits cleared, and the
// prefix length (1 to 32 or 128).
struct AddressMatch {
    std::array<std::uint8_t, 16> bytes{};
    unsigned prefix = 0;
};

// A port match; `first` 0 means none, `last` equals `first` for a single port.
struct PortMatch {
    std::uint16_t first = 0;
    std::uint16_t last = 0;

    auto operator<=>(const PortMatch&) const = default;
};

enum class Verdict : std::uint8_t { drop, accept, reject, masquerade };

// The matches and target of one rule, as a kernel backend needs them.
struct RuleSpec {
    std::optional<AddressMatch> source;
    std::optional<AddressMatch> destination;
    std::uint8_t protocol = 0;  // 0: any
    std::optional<std::array<std::uint8_t, 6>> mac;
    PortMatch source_port;
    PortMatch destination_port;
    int icmp_type = -1;  // -1: any
    int icmp_code = -1;  // -1: any
    Verdict verdict = Verdict::drop;
};

// Reads the text of fw_rule_to_text() (see the README of fwrules) back into its matches, for
// a chain of the given family. Anything that text never holds (an unknown option, a value
// out of range, an address of the other family, ports or ICMP without their protocol, no
// target or something after it) is refused: false, with a short reason in `error`.
bool parse_rule_text(std::string_view text, bool ipv6, RuleSpec& spec, std::string& error);

}  // namespace fwinterface

#endif  // FWINTERFACE_RULE_READER_H
