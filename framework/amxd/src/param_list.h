// The parameters of an object, in declaration order.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

#include <amxd/amxd_types.h>

namespace amxd {

// An instance gets its template's parameters all at once, in one block: the instances of a
// large table are most of a data model, and a block per parameter cost each of them a dozen
// allocations and some 170 bytes. Parameters added one by one (a definition, or
// amxd_object_add_param) follow the block, each in its own. Parameters are never taken out:
// they go with the list.
class ParamList {
public:
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = amxd_param_t*;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = amxd_param_t*;

        iterator() = default;
        iterator(const ParamList* list, std::size_t at) : list_(list), at_(at) {}
        amxd_param_t* operator*() const { return list_->at(at_); }
        iterator& operator++() {
            ++at_;
            return *this;
        }
        iterator operator++(int) {
            iterator before = *this;
            ++at_;
            return before;
        }
        bool operator==(const iterator& other) const { return at_ == other.at_; }

    private:
        const ParamList* list_ = nullptr;
        std::size_t at_ = 0;
    };

    ParamList() = default;
    ~ParamList();
    ParamList(const ParamList&) = delete;
    ParamList& operator=(const ParamList&) = delete;

    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, size()}; }
    std::size_t size() const { return block_size_ + single_.size(); }
    bool empty() const { return size() == 0; }

    // Room for one more add(). Throws std::bad_alloc.
    void reserve_one_more();
    // Takes `param` (one of amxd_param_new) as the last parameter; reserve_one_more() made room.
    void add(amxd_param_t* param) noexcept;
    // Into an empty list: a copy of each of `model`'s parameters, in one block. Throws
    // std::bad_alloc with nothing added.
    void copy_of(const ParamList& model);

private:
    // Inline, but defined in tree.h: a parameter's size is known there.
    inline amxd_param_t* at(std::size_t index) const;

    amxd_param_t* block_ = nullptr;  // block_size_ parameters made in place
    std::size_t block_size_ = 0;
    std::vector<std::unique_ptr<amxd_param_t>> single_;
};

} // namespace amxd
