// What a POSIX extended regular expression costs the engine to compile, read before it is
// handed to regcomp: glibc copies the atom of a bounded repeat once per repeat (and that of a
// '+' once), so a short hostile pattern can take the loop for minutes.
#include "amxp/amxp_regex_cost.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace amxp {
namespace {

// Size (atoms after expansion) and cost (atoms copied by bounded repeats) of a stretch of
// pattern; both only grow, and the scan stops as soon as the cost passes the limit.
struct Weight {
    std::uint64_t size = 0;
    std::uint64_t cost = 0;
};

struct Bound {
    std::uint64_t repeat = 0;  // copies the engine makes: n of {m,n}, m of {m} and {m,}
    std::size_t end = 0;       // index after the closing brace
};

// A repetition bound "{m}", "{m,}", "{m,n}" or "{,n}" (the engine reads an empty m as 0) starting at text[at] == '{'. nullopt when the
// brace does not open a bound (the engine then decides what it is).
std::optional<Bound> read_bound(std::string_view text, std::size_t at) {
    std::size_t i = at + 1;
    auto number = [&](std::uint64_t& value) {
        const std::size_t first = i;
        value = 0;
        while(i < text.size() && text[i] >= '0' && text[i] <= '9' && i - first < 10) {
            value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
            ++i;
        }
        return i > first;
    };
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    if(!number(low) && (i >= text.size() || text[i] != ',')) {
        return std::nullopt;
    }
    high = low;
    if(i < text.size() && text[i] == ',') {
        ++i;
        if(!number(high)) {
            high = low;
        }
    }
    if(i >= text.size() || text[i] != '}') {
        return std::nullopt;
    }
    return Bound{std::max(low, high), i + 1};
}

// Index after the bracket expression starting at text[at] == '['; text.size() when it does not
// end (the engine refuses it).
std::size_t bracket_end(std::string_view text, std::size_t at) {
    std::size_t i = at + 1;
    if(i < text.size() && text[i] == '^') {
        ++i;
    }
    if(i < text.size() && text[i] == ']') {
        ++i;  // a leading ']' is a member
    }
    while(i < text.size() && text[i] != ']') {
        if(text[i] == '[' && i + 1 < text.size() && std::string_view(":.=").find(text[i + 1]) != std::string_view::npos) {
            const std::array<char, 2> closing{text[i + 1], ']'};
            const std::size_t close = text.find(std::string_view(closing.data(), closing.size()), i + 2);
            if(close == std::string_view::npos) {
                return text.size();
            }
            i = close + 2;
        } else {
            ++i;
        }
    }
    return i < text.size() ? i + 1 : text.size();
}

}  // namespace

std::string regex_cost_refusal(std::string_view text) {
    // Repeating a repetition ("a**", "a+{1,200}") means nothing in extended expressions, and
    // the engine nests a closure per operator: a handful of them stalls its compilation.
    static const std::string stacked = "stacked repetition operators";
    std::vector<Weight> groups(1);
    std::optional<Weight> last;  // the atom a following repeat applies to
    bool repeated = false;       // the last token was a repetition operator
    std::size_t i = 0;
    auto add_atom = [&](Weight atom) {
        groups.back().size += atom.size;
        groups.back().cost += atom.cost;
        last = atom;
        repeated = false;
    };
    // The last atom was counted once already: replaces it by `repeat` copies of itself.
    // False when the group's cost passes the limit.
    auto repeat_last = [&](std::uint64_t repeat) {
        const Weight once = *last;
        const Weight copies{once.size * repeat, (once.cost + once.size) * repeat};
        Weight& group = groups.back();
        group.size += copies.size - once.size;
        group.cost += copies.cost - once.cost;
        last = copies;
        return group.cost <= kRegexMaxExpansion;
    };
    while(i < text.size()) {
        const char c = text[i];
        if(c == '\\') {
            if(i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
                return "back-references are not supported";
            }
            add_atom(Weight{1, 0});
            i += 2;
        } else if(c == '[') {
            add_atom(Weight{1, 0});
            i = bracket_end(text, i);
        } else if(c == '(') {
            groups.emplace_back();
            last.reset();
            repeated = false;
            ++i;
        } else if(c == ')' && groups.size() > 1) {
            const Weight inner = groups.back();
            groups.pop_back();
            add_atom(Weight{std::max<std::uint64_t>(inner.size, 1), inner.cost});
            ++i;
        } else if(c == '{' && last) {
            const std::optional<Bound> bound = read_bound(text, i);
            if(!bound) {
                add_atom(Weight{1, 0});
                ++i;
                continue;
            }
            if(repeated) {
                return stacked;
            }
            if(bound->repeat > kRegexMaxRepeat) {
                return "repetition bound above " + std::to_string(kRegexMaxRepeat);
            }
            if(!repeat_last(bound->repeat)) {
                return "repetitions expand beyond " + std::to_string(kRegexMaxExpansion) + " atoms";
            }
            repeated = true;
            i = bound->end;
        } else if((c == '*' || c == '+' || c == '?') && repeated) {
            return stacked;
        } else if(c == '+' && last) {
            // The engine builds "a+" as "aa*": one copy of the atom.
            if(!repeat_last(2)) {
                return "repetitions expand beyond " + std::to_string(kRegexMaxExpansion) + " atoms";
            }
            repeated = true;
            ++i;
        } else if(c == '*' || c == '+' || c == '?') {
            repeated = last.has_value();
            ++i;  // repeats without copies; the atom stays the one a bound would apply to
        } else if(c == '|' || c == '^' || c == '$') {
            last.reset();
            repeated = false;
            ++i;
        } else {
            add_atom(Weight{1, 0});
            ++i;
        }
    }
    // Costs of separate groups add up (an unclosed group is the engine's error to report).
    std::uint64_t total = 0;
    for(const Weight& group : groups) {
        total += group.cost;
    }
    if(total > kRegexMaxExpansion) {
        return "repetitions expand beyond " + std::to_string(kRegexMaxExpansion) + " atoms";
    }
    return {};
}

}  // namespace amxp
