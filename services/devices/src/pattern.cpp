#include "pattern.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

namespace devices {
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

// A repetition bound "{m}", "{m,}" or "{m,n}" starting at text[at] == '{'. nullopt when the
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
    if(!number(low)) {
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

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether every character of the pattern stands for itself, case aside. Bytes outside ASCII
// are left to the engine, whose case folding may follow the locale.
bool is_plain(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7f && std::string_view(".[]()*+?{}|^$\\").find(c) == std::string_view::npos;
    });
}

}  // namespace

std::string check_pattern_cost(std::string_view text) {
    std::vector<Weight> groups(1);
    std::optional<Weight> last;  // the atom a following repeat applies to
    std::size_t i = 0;
    auto add_atom = [&](Weight atom) {
        groups.back().size += atom.size;
        groups.back().cost += atom.cost;
        last = atom;
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
            if(bound->repeat > kPatternMaxRepeat) {
                return "repetition bound above " + std::to_string(kPatternMaxRepeat);
            }
            // The atom was counted once already; replace it by its repeated form.
            const Weight once = *last;
            const Weight repeated{once.size * bound->repeat, (once.cost + once.size) * bound->repeat};
            Weight& group = groups.back();
            group.size += repeated.size - once.size;
            group.cost += repeated.cost - once.cost;
            if(group.cost > kPatternMaxExpansion) {
                return "repetitions expand beyond " + std::to_string(kPatternMaxExpansion) + " atoms";
            }
            last = repeated;
            i = bound->end;
        } else if(c == '*' || c == '+' || c == '?') {
            ++i;  // repeats without copies; the atom stays the one a bound would apply to
        } else if(c == '|' || c == '^' || c == '$') {
            last.reset();
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
    if(total > kPatternMaxExpansion) {
        return "repetitions expand beyond " + std::to_string(kPatternMaxExpansion) + " atoms";
    }
    return {};
}

std::unique_ptr<Pattern> Pattern::compile(const std::string& text, std::string& error) {
    error = check_pattern_cost(text);
    if(!error.empty()) {
        return nullptr;
    }
    std::unique_ptr<Pattern> pattern(new Pattern());
    const int rc = regcomp(&pattern->compiled_, text.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB);
    if(rc != 0) {
        std::array<char, 128> message{};
        regerror(rc, &pattern->compiled_, message.data(), message.size());
        error = message.data();
        return nullptr;  // a failed regcomp keeps nothing: the destructor skips regfree
    }
    pattern->compiled_ok_ = true;
    if(is_plain(text)) {
        pattern->literal_ = true;
        std::transform(text.begin(), text.end(), std::back_inserter(pattern->lowered_), lower);
    }
    return pattern;
}

Pattern::~Pattern() {
    if(compiled_ok_) {
        regfree(&compiled_);
    }
}

bool Pattern::search(const std::string& text) const {
    if(literal_) {
        return std::search(text.begin(), text.end(), lowered_.begin(), lowered_.end(),
                           [](char a, char b) { return lower(a) == b; }) != text.end() ||
               lowered_.empty();
    }
    return regexec(&compiled_, text.c_str(), 0, nullptr, 0) == 0;
}

}  // namespace devices
