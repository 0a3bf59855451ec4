#ifndef FWRULES_FIXED_TEXT_H
#define FWRULES_FIXED_TEXT_H

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace fwrules {

// A text of at most N characters held inline, so that it is stored without an allocation.
// Its length takes one byte.
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
    // Appending: the caller knows that the whole text fits.
    void push_back(char c) {
        chars_[size_++] = c;
        chars_[size_] = '\0';
    }
    void append_number(unsigned value) {
        size_ = static_cast<std::uint8_t>(std::to_chars(chars_ + size_, chars_ + N, value).ptr - chars_);
        chars_[size_] = '\0';
    }

    const char* c_str() const { return chars_; }
    std::string_view view() const { return {chars_, size_}; }
    bool empty() const { return size_ == 0; }

private:
    char chars_[N + 1] = {};
    std::uint8_t size_ = 0;
};

}  // namespace fwrules

#endif  // FWRULES_FIXED_TEXT_H
