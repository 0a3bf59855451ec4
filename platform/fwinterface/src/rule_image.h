#ifndef FWINTERFACE_RULE_IMAGE_H
#define FWINTERFACE_RULE_IMAGE_H

#include <array>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include <fwrules/rule_text.hpp>

#include "rule_reader.h"

namespace fwinterface {

// A rule as a removal is checked against the rule at its place: its text, or what it matches,
// its text then written only when it meets a text. A rule removed through fw_delete_rule()
// comes as its matches, and so does a rule of a compiled chain, which keeps none of its text:
// a group withdrawn from compiled chains writes no text on either side.
//
// Matches are borrowed, not copied: a compiled chain lends its rules a window at a time, each
// its family's matches with its own source and destination port put in, and a copy of the
// whole matches per rule, into the window and again into its vector, was a tenth of a
// deletion. An image lives no longer than what it borrows: the caller's matches, or the
// running rules until the next apply.
class RuleImage {
public:
    static RuleImage of_text(std::string_view text) {
        RuleImage image;
        image.text_ = text;
        return image;
    }
    static RuleImage of_matches(const fwrules::TextMatches& matches) {
        RuleImage image;
        image.matches_ = &matches;
        return image;
    }
    // `common` with `source` (unless null, for a rule without one) and the destination port
    // put in.
    static RuleImage of_parts(const fwrules::TextMatches& common, const AddressMatch* source, PortMatch port) {
        RuleImage image;
        image.matches_ = &common;
        image.parts_ = true;
        if(source != nullptr) {
            image.puts_source_ = true;
            image.source_ = source->bytes;
            image.source_prefix_ = static_cast<std::uint8_t>(source->prefix);
        }
        image.port_ = port;
        return image;
    }

    // Its text: the one it has, which lives as long as what it came from, or one written from
    // its matches into `room`.
    std::string_view text(fwrules::TextRoom& room) const {
        return has_text() ? text_ : with_matches([&room](const fwrules::TextMatches& matches) {
            return fwrules::write_rule_text(matches, room);
        });
    }
    bool has_text() const { return matches_ == nullptr; }

    // Whether both stand for the same text.
    bool same_rule(const RuleImage& other) const {
        if(!has_text() && !other.has_text()) {
            return with_matches([&other](const fwrules::TextMatches& mine) {
                return other.with_matches(
                    [&mine](const fwrules::TextMatches& theirs) { return fwrules::same_text(mine, theirs); });
            });
        }
        fwrules::TextRoom room;
        fwrules::TextRoom other_room;
        return text(room) == other.text(other_room);
    }

private:
    RuleImage() = default;

    // Calls `use` with its matches, the parts put in.
    template <typename Use>
    std::invoke_result_t<Use, const fwrules::TextMatches&> with_matches(Use&& use) const {
        if(!parts_) {
            return use(*matches_);
        }
        fwrules::TextMatches matches = *matches_;
        if(puts_source_) {
            matches.source = source_;
            matches.source_prefix = source_prefix_;
        }
        matches.destination_port = port_.first;
        matches.destination_port_max = port_.last;
        return use(matches);
    }

    std::string_view text_;                          // of a text
    const fwrules::TextMatches* matches_ = nullptr;  // of matches, or the parts' common matches
    std::array<std::uint8_t, 16> source_{};
    std::uint8_t source_prefix_ = 0;
    bool parts_ = false;
    bool puts_source_ = false;
    PortMatch port_;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_RULE_IMAGE_H
