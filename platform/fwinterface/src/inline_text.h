#ifndef FWINTERFACE_INLINE_TEXT_H
#define FWINTERFACE_INLINE_TEXT_H

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace fwinterface {

// A rule's text kept where its holder is: up to 60 bytes in the object itself, longer ones in
// a block of their own. A chain mirrors tens of thousands of rules; a std::string holds a
// typical rule text ("-s 10.1.40.1/32 -p tcp -m tcp --dport 80 -j DROP", 48 bytes) in a heap
// block of 64 besides its own 32 bytes, while this keeps it in its 64 bytes.
class InlineText {
public:
    static constexpr std::size_t inline_max = 60;

    InlineText() = default;
    // Throws std::bad_alloc when a long text cannot be copied.
    explicit InlineText(std::string_view text) : size_(static_cast<std::uint32_t>(text.size())) {
        char* to = bytes_;
        if(!is_inline()) {
            to = new char[text.size()];
            set_heap(to);
        }
        if(size_ > 0) {  // an empty view's data may be null
            std::memcpy(to, text.data(), size_);
        }
    }
    InlineText(const InlineText& other) : InlineText(other.view()) {}
    InlineText(InlineText&& other) noexcept : size_(std::exchange(other.size_, 0)) {
        std::memcpy(bytes_, other.bytes_, is_inline() ? size_ : sizeof(char*));  // the text, or its block
    }
    InlineText& operator=(InlineText&& other) noexcept {
        if(this != &other) {
            this->~InlineText();
            new(this) InlineText(std::move(other));
        }
        return *this;
    }
    InlineText& operator=(const InlineText& other) {
        InlineText copy(other);
        return *this = std::move(copy);
    }
    ~InlineText() {
        if(!is_inline()) {
            delete[] heap();
        }
    }

    std::string_view view() const { return {is_inline() ? bytes_ : heap(), size_}; }
    operator std::string_view() const { return view(); }  // NOLINT: a text reads as its view

    friend bool operator==(const InlineText& a, std::string_view b) { return a.view() == b; }

private:
    bool is_inline() const { return size_ <= inline_max; }
    // A long text's block, its pointer kept in the bytes unaligned: aligned, it would pad the
    // object to 72 bytes.
    char* heap() const {
        char* block = nullptr;
        std::memcpy(&block, bytes_, sizeof(block));
        return block;
    }
    void set_heap(char* block) { std::memcpy(bytes_, &block, sizeof(block)); }

    char bytes_[inline_max];
    std::uint32_t size_ = 0;
};

static_assert(sizeof(InlineText) == 64);

}  // namespace fwinterface

#endif  // FWINTERFACE_INLINE_TEXT_H
