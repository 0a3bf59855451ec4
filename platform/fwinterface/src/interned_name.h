#ifndef FWINTERFACE_INTERNED_NAME_H
#define FWINTERFACE_INTERNED_NAME_H

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace fwinterface {

// A table or chain name, kept once for the whole process: every copy is one pointer. A large
// transaction copies its chain's name into each of its operations, and a name longer than a
// string's inline room cost an allocation per copy. Names are few (the chains the modules
// and this library create), so they are never freed.
class InternedName {
public:
    InternedName();  // the empty name, without a lookup
    InternedName(std::string_view text);  // NOLINT: a name converts from its text
    InternedName(const char* text) : InternedName(std::string_view(text)) {}
    InternedName(const std::string& text) : InternedName(std::string_view(text)) {}

    // The name of `text` if some name was ever made of it; nothing otherwise, so that a
    // lookup of a name nothing has (a caller's query) does not keep its text for good.
    static std::optional<InternedName> find(std::string_view text);

    const std::string& str() const { return *text_; }
    operator const std::string&() const { return *text_; }  // NOLINT
    operator std::string_view() const { return *text_; }    // NOLINT
    bool empty() const { return text_->empty(); }

    // One text, one name: equality compares pointers; the order is the texts'.
    friend bool operator==(const InternedName& a, const InternedName& b) { return a.text_ == b.text_; }
    friend bool operator==(const InternedName& a, std::string_view b) { return *a.text_ == b; }
    friend std::strong_ordering operator<=>(const InternedName& a, const InternedName& b) {
        return a.text_ == b.text_ ? std::strong_ordering::equal : a.text_->compare(*b.text_) <=> 0;
    }

private:
    explicit InternedName(const std::string* text) : text_(text) {}
    const std::string* text_;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_INTERNED_NAME_H
