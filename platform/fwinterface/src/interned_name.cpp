#include "interned_name.h"

#include <array>
#include <functional>
#include <mutex>
#include <unordered_set>

namespace fwinterface {
namespace {

// Looks texts up by view, so that a lookup never allocates.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};

struct Names {
    std::mutex lock;
    std::unordered_set<std::string, TextHash, std::equal_to<>> texts;  // nodes stay put: names point into them
    // The names made last: each operation of a transaction names the same table and chain,
    // and a backend the access-control chains of both families between them.
    std::array<const std::string*, 4> recent{};
    std::size_t oldest = 0;
};

// Never destroyed: names may be used by whatever runs at exit.
Names& names() {
    static Names* const instance = new Names();
    return *instance;
}

}  // namespace

InternedName::InternedName(std::string_view text) {
    Names& all = names();
    const std::lock_guard<std::mutex> hold(all.lock);
    for(const std::string* name : all.recent) {
        if(name != nullptr && *name == text) {
            text_ = name;
            return;
        }
    }
    auto it = all.texts.find(text);  // before emplace, which would build a string to compare
    if(it == all.texts.end()) {
        it = all.texts.emplace(text).first;
    }
    text_ = &*it;
    all.recent[all.oldest] = text_;
    all.oldest = (all.oldest + 1) % all.recent.size();
}

std::optional<InternedName> InternedName::find(std::string_view text) {
    Names& all = names();
    const std::lock_guard<std::mutex> hold(all.lock);
    const auto it = all.texts.find(text);
    if(it == all.texts.end()) {
        return std::nullopt;
    }
    return InternedName(&*it);
}

}  // namespace fwinterface
