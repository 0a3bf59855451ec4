#include "interned_name.h"

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
    // The name looked up last: a transaction names the same chain operation after operation.
    const std::string* last = nullptr;
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
    if(all.last == nullptr || *all.last != text) {
        all.last = &*all.texts.emplace(text).first;
    }
    text_ = all.last;
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
