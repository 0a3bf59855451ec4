#ifndef FWINTERFACE_GROWING_ARRAY_H
#define FWINTERFACE_GROWING_ARRAY_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

namespace fwinterface {

// An array of plain values that grows with realloc(). A large block then grows where it lies,
// or is moved by remapping its pages; a std::vector copies it into fresh memory at each
// doubling, and tens of thousands of pending operations touched twice their size in new pages
// (a page fault per 4 KiB, a sixth of installing 40,000 rules).
template <typename T>
    requires std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>
class GrowingArray {
public:
    GrowingArray() = default;
    GrowingArray(GrowingArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    GrowingArray& operator=(GrowingArray&& other) noexcept {
        GrowingArray taken(std::move(other));
        std::swap(data_, taken.data_);
        std::swap(size_, taken.size_);
        std::swap(capacity_, taken.capacity_);
        return *this;
    }
    GrowingArray(const GrowingArray&) = delete;
    GrowingArray& operator=(const GrowingArray&) = delete;
    ~GrowingArray() { std::free(data_); }

    // Throws std::bad_alloc with nothing changed.
    void push_back(const T& value) {
        if(size_ == capacity_) {
            grow();
        }
        std::construct_at(data_ + size_, value);
        ++size_;
    }
    T& operator[](std::size_t index) { return data_[index]; }
    const T& operator[](std::size_t index) const { return data_[index]; }
    T& back() { return data_[size_ - 1]; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    std::span<const T> view() const { return {data_, size_}; }

    void clear() { size_ = 0; }  // the room stays
    void release() { *this = GrowingArray(); }

private:
    void grow() {
        const std::size_t capacity = capacity_ == 0 ? 16 : capacity_ * 2;
        if(capacity > SIZE_MAX / sizeof(T)) {
            throw std::bad_alloc();
        }
        void* grown = std::realloc(data_, capacity * sizeof(T));
        if(grown == nullptr) {
            throw std::bad_alloc();
        }
        data_ = static_cast<T*>(grown);
        capacity_ = capacity;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_GROWING_ARRAY_H
