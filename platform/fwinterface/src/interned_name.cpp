#include "interned_name.h"

#include <functional>
#include <unordered_set>

namespace fwinterface {
namespace {

// Looks texts up by view, so that a lookup never allocates.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};

using Names = std::unordered_set<std::string, TextHash, std::equal_to<>>;

// Never destroyed: names may be used by whatever runs at exit. Its nodes stay put, so names
// point into them. Like the rest of this library's state, it is used from one thread.
Names& names() {
    static Names* const instance = new Names();
    return *instance;
}

}  // namespace

// Every default key of an operation starts as this name: kept at hand, not looked up.
InternedName::InternedName() {
    static const std::string* const empty = &*names().emplace().first;
    text_ = empty;
}

InternedName::InternedName(std::string_view text) {
    Names& all = names();
    auto it = all.find(text);  // before emplace, which would build a string to compare
    if(it == all.end()) {
        it = all.emplace(text).first;
    }
    text_ = &*it;
}

std::optional<InternedName> InternedName::find(std::string_view text) {
    const Names& all = names();
    const auto it = all.find(text);
    if(it == all.end()) {
        return std::nullopt;
    }
    return InternedName(&*it);
}

}  // namespace fwinterface
