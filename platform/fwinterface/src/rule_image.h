#ifndef FWINTERFACE_RULE_IMAGE_H
#define FWINTERFACE_RULE_IMAGE_H

#include <optional>
#include <string_view>

#include <fwrules/rule_text.hpp>

namespace fwinterface {

// A rule as a removal is checked against the rule at its place: its text, or what it matches,
// its text then written only when it meets a text. A rule removed through fw_delete_rule()
// comes as its matches, and so does a rule of a compiled chain, which keeps none of its text:
// a group withdrawn from compiled chains writes no text on either side.
class RuleImage {
public:
    static RuleImage of_text(std::string_view text) {
        RuleImage image;
        image.text_ = text;
        return image;
    }
    static RuleImage of_matches(const fwrules::TextMatches& matches) {
        RuleImage image;
        image.matches_ = matches;
        return image;
    }

    // Its text: the one it has, which lives as long as what it came from, or one written from
    // its matches into `room`.
    std::string_view text(fwrules::TextRoom& room) const {
        return matches_ && text_.data() == nullptr ? fwrules::write_rule_text(*matches_, room) : text_;
    }
    bool has_text() const { return text_.data() != nullptr || !matches_; }

    // Whether both stand for the same text.
    bool same_rule(const RuleImage& other) const {
        if(matches_ && other.matches_) {
            return fwrules::same_text(*matches_, *other.matches_);
        }
        fwrules::TextRoom room;
        fwrules::TextRoom other_room;
        return text(room) == other.text(other_room);
    }

private:
    RuleImage() = default;

    std::string_view text_;  // data() nullptr for one of matches
    std::optional<fwrules::TextMatches> matches_;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_RULE_IMAGE_H
