#ifndef FWINTERFACE_POSITIONAL_LIST_H
#define FWINTERFACE_POSITIONAL_LIST_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace fwinterface {

// Each element stands for one position.
struct UnitWeight {
    std::size_t operator()(const auto& /*element*/) const { return 1; }
};

// A sequence addressed by position where reading, inserting and erasing at any position cost
// O(log n) (a tree balanced by random priorities, each node counting the positions below it).
// A chain edited at its front, as rules are withdrawn one commit at a time, would make a
// vector move every later element per operation.
//
// An element may stand for several positions (`Weight` tells how many, at least 1): then
// positions name the element that holds them, insertions and erasures happen at an element's
// first position, and size() counts positions.
//
// Erased nodes are kept as spares until release_spares(), so that putting back what was
// erased since (the roll-back of a transaction) never allocates. Iterators are positions:
// `begin() + i` names position i, and they stay valid only until the next change.
template <typename T, typename Weight = UnitWeight>
class PositionalList {
    // The count beside the priority in 8 bytes: a node of a 32-byte element takes a 64-byte
    // heap block, not 80, and a rule's in the kernel mirror 80, not 96 (tens of thousands of
    // them). A list's positions stay far below 2^32: a chain holds at most FW_CHAIN_MAX rules.
    struct Node {
        T value;
        std::unique_ptr<Node> left;
        std::unique_ptr<Node> right;
        std::uint32_t size = 1;
        std::uint32_t priority = 0;
    };
    using Link = std::unique_ptr<Node>;

public:
    using value_type = T;

    template <bool Const>
    class basic_iterator {
        using List = std::conditional_t<Const, const PositionalList, PositionalList>;

    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const T*, T*>;
        using reference = std::conditional_t<Const, const T&, T&>;

        basic_iterator() = default;
        basic_iterator(List* list, std::size_t index) : list_(list), index_(index) {}
        operator basic_iterator<true>() const requires(!Const) { return {list_, index_}; }

        reference operator*() const { return (*list_)[index_]; }
        pointer operator->() const { return &(*list_)[index_]; }
        basic_iterator& operator++() {
            ++index_;
            return *this;
        }
        basic_iterator operator++(int) {
            basic_iterator before = *this;
            ++index_;
            return before;
        }
        basic_iterator operator+(difference_type n) const { return {list_, index_ + static_cast<std::size_t>(n)}; }
        bool operator==(const basic_iterator& other) const { return index_ == other.index_; }
        std::size_t index() const { return index_; }

    private:
        List* list_ = nullptr;
        std::size_t index_ = 0;
    };
    using iterator = basic_iterator<false>;
    using const_iterator = basic_iterator<true>;

    PositionalList() = default;
    PositionalList(PositionalList&&) noexcept = default;
    PositionalList& operator=(PositionalList&&) noexcept = default;
    ~PositionalList() {
        clear();
        release_spares();
    }

    std::size_t size() const { return size_of(root_); }
    bool empty() const { return root_ == nullptr; }

    T& operator[](std::size_t index) { return node_at(index)->value; }
    const T& operator[](std::size_t index) const { return node_at(index)->value; }

    iterator begin() { return {this, 0}; }
    iterator end() { return {this, size()}; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    // Inserts before `pos` (end() appends). Throws std::bad_alloc with nothing changed when no
    // spare node is left and none can be allocated.
    iterator insert(const_iterator pos, T value) {
        Link node = take_spare();
        if(node == nullptr) {
            node = std::make_unique<Node>();
        }
        node->value = std::move(value);
        node->left = nullptr;
        node->right = nullptr;
        node->size = static_cast<std::uint32_t>(Weight()(node->value));
        node->priority = next_priority();
        // Down the path to the position while the nodes there rank above the new one, then the
        // subtree found there is split around it: only that subtree (small, in expectation) is
        // taken apart, not the whole path.
        std::size_t index = pos.index();
        Link* at = &root_;
        while(*at != nullptr && (*at)->priority >= node->priority) {
            Node& here = **at;
            here.size += node->size;
            const std::size_t left = size_of(here.left);
            if(index <= left) {
                at = &here.left;
            } else {
                index -= left + Weight()(here.value);
                at = &here.right;
            }
        }
        auto [before, after] = split(std::move(*at), index);
        node->left = std::move(before);
        node->right = std::move(after);
        update(*node);
        *at = std::move(node);
        return {this, pos.index()};
    }

    // Erases the element whose first position is `pos`; its node becomes a spare.
    iterator erase(const_iterator pos) {
        auto [before, rest] = split(std::move(root_), pos.index());
        auto [node, after] = split(std::move(rest), 1);
        root_ = merge(std::move(before), std::move(after));
        node->value = T();
        node->left = std::move(spares_);
        spares_ = std::move(node);
        return {this, pos.index()};
    }

    // Takes positions [first, first + count) out as a list of their own, in O(log n) where
    // erasing them one by one would split and merge the tree each time. `first` and
    // `first + count` must be element boundaries.
    PositionalList cut_out(std::size_t first, std::size_t count) {
        auto [before, rest] = split(std::move(root_), first);
        auto [part, after] = split(std::move(rest), count);
        root_ = merge(std::move(before), std::move(after));
        PositionalList out;
        out.root_ = std::move(part);
        return out;
    }

    // Puts what cut_out() took back in front of position `pos` (a boundary), in O(log n);
    // `part` is left empty. Never allocates.
    void splice_in(std::size_t pos, PositionalList&& part) noexcept {
        auto [before, after] = split(std::move(root_), pos);
        root_ = merge(merge(std::move(before), std::move(part.root_)), std::move(after));
    }

    void clear() {
        // Child by child, so that freeing a large tree needs no deep recursion.
        while(root_ != nullptr) {
            if(root_->left != nullptr) {
                Link left = std::move(root_->left);
                root_->left = std::move(left->right);
                left->right = std::move(root_);
                root_ = std::move(left);
            } else {
                root_ = std::move(root_->right);
            }
        }
    }

    // The element holding position `pos`, and how far into it `pos` lies.
    std::pair<T*, std::size_t> locate(std::size_t pos) {
        Node* node = node_at(pos);
        return {&node->value, pos};
    }
    std::pair<const T*, std::size_t> locate(std::size_t pos) const {
        const Node* node = node_at(pos);
        return {&node->value, pos};
    }

    // Lets `change` alter the element holding position `pos`, weight included, and brings the
    // positions after it up to date: one descent, where an erase and two insertions take four.
    // `change` must leave the element a weight of at least 1 and must not throw.
    template <typename Change>
    void reweigh(std::size_t pos, Change&& change) {
        reweigh_in(*root_, pos, change);
    }

    // Calls `visit` with each element holding a position in [first, first + count), in order:
    // O(log n + count), where reading them one by one would descend from the root each time.
    template <typename Visit>
    void for_each(std::size_t first, std::size_t count, Visit&& visit) const {
        for_each_in(root_.get(), first, first + count, visit);
    }

    // Makes sure that `count` insertions can follow without allocating.
    void reserve_spares(std::size_t count) {
        for(Node* spare = spares_.get(); spare != nullptr && count > 0; spare = spare->left.get()) {
            --count;
        }
        for(; count > 0; --count) {
            Link node = std::make_unique<Node>();
            node->left = std::move(spares_);
            spares_ = std::move(node);
        }
    }

    void release_spares() {
        while(spares_ != nullptr) {
            spares_ = std::move(spares_->left);
        }
    }

    // What rewrite() needs allocated beforehand: nodes for the new values that the dropped
    // elements' nodes cannot hold, and room for the tree's. A caller rewriting several lists
    // prepares them all before it changes any.
    class Prepared {
        friend class PositionalList;
        std::vector<T> values_;   // the new values, in order
        std::vector<Link> fresh_;  // spare nodes, one per new value beyond the dropped elements
        std::vector<Link> present_;
        std::vector<Link> result_;
    };

    // `result_size`: the rewrite's result, so that the dropped elements are counted (present
    // elements + new values - result). Throws std::bad_alloc with nothing changed.
    Prepared prepare(std::vector<T> fresh, std::size_t result_size) const {
        Prepared prepared;
        const std::size_t present = element_count(root_.get());
        const std::size_t dropped = present + fresh.size() - std::min(result_size, present + fresh.size());
        for(std::size_t n = dropped; n < fresh.size(); ++n) {
            prepared.fresh_.push_back(std::make_unique<Node>());
        }
        prepared.values_ = std::move(fresh);
        prepared.present_.reserve(present);
        prepared.result_.reserve(result_size);
        return prepared;
    }

    // Replaces the sequence in O(n), where as many single edits would each split and merge
    // the tree: element i of the result is the present element number order[i] (its node
    // kept) when order[i] is below their count, else the prepared new value number
    // order[i] - count. Each is named at most once; present elements not named are dropped,
    // their nodes taking new values: a group replaced by its new rules allocates no node.
    void rewrite(Prepared& prepared, std::span<const std::uint32_t> order) noexcept {
        take_nodes(std::move(root_), prepared.present_);
        const std::size_t present = prepared.present_.size();
        for(const std::uint32_t from : order) {
            prepared.result_.push_back(from < present ? std::move(prepared.present_[from]) : nullptr);
        }
        // The present nodes left are the dropped ones: each takes a new value, then the spares.
        auto dropped = prepared.present_.begin();
        auto node_for_new = [&]() -> Link {
            while(dropped != prepared.present_.end() && *dropped == nullptr) {
                ++dropped;
            }
            if(dropped != prepared.present_.end()) {
                return std::move(*dropped++);
            }
            Link spare = std::move(prepared.fresh_.back());
            prepared.fresh_.pop_back();
            return spare;
        };
        for(std::size_t i = 0; i < order.size(); ++i) {
            if(order[i] >= present) {
                prepared.result_[i] = node_for_new();
                prepared.result_[i]->value = std::move(prepared.values_[order[i] - present]);
            }
        }
        root_ = build(prepared.result_, 0, prepared.result_.size(), 0);
        prepared = Prepared();
    }

private:
    static std::size_t size_of(const Link& node) { return node == nullptr ? 0 : node->size; }
    static void update(Node& node) {
        node.size = static_cast<std::uint32_t>(Weight()(node.value) + size_of(node.left) + size_of(node.right));
    }

    // The elements of `tree` holding its first `count` positions (an element only partly
    // among them included), and the others. Depth is the tree's height, logarithmic with the
    // random priorities.
    static std::pair<Link, Link> split(Link tree, std::size_t count) {
        if(tree == nullptr) {
            return {};
        }
        if(count <= size_of(tree->left)) {
            auto [first, second] = split(std::move(tree->left), count);
            tree->left = std::move(second);
            update(*tree);
            return {std::move(first), std::move(tree)};
        }
        const std::size_t through = size_of(tree->left) + Weight()(tree->value);
        auto [first, second] = split(std::move(tree->right), count > through ? count - through : 0);
        tree->right = std::move(first);
        update(*tree);
        return {std::move(tree), std::move(second)};
    }

    static Link merge(Link first, Link second) {
        if(first == nullptr) {
            return second;
        }
        if(second == nullptr) {
            return first;
        }
        if(first->priority > second->priority) {
            first->right = merge(std::move(first->right), std::move(second));
            update(*first);
            return first;
        }
        second->left = merge(std::move(first), std::move(second->left));
        update(*second);
        return second;
    }

    template <typename Visit>
    static void for_each_in(const Node* node, std::size_t begin, std::size_t end, Visit& visit) {
        if(node == nullptr || begin >= end) {
            return;
        }
        const std::size_t left = size_of(node->left);
        const std::size_t through = left + Weight()(node->value);
        if(begin < left) {
            for_each_in(node->left.get(), begin, end < left ? end : left, visit);
        }
        if(begin < through && end > left) {
            visit(node->value);
        }
        if(end > through) {
            for_each_in(node->right.get(), begin > through ? begin - through : 0, end - through, visit);
        }
    }

    template <typename Change>
    static void reweigh_in(Node& node, std::size_t pos, Change& change) {
        const std::size_t left = size_of(node.left);
        const std::size_t own = Weight()(node.value);
        if(pos < left) {
            reweigh_in(*node.left, pos, change);
        } else if(pos - left < own) {
            change(node.value);
        } else {
            reweigh_in(*node.right, pos - left - own, change);
        }
        update(node);
    }

    // The node holding position `index`; `index` becomes the offset into it.
    Node* node_at(std::size_t& index) const {
        Node* node = root_.get();
        for(;;) {
            const std::size_t left = size_of(node->left);
            if(index < left) {
                node = node->left.get();
                continue;
            }
            index -= left;
            const std::size_t own = Weight()(node->value);
            if(index < own) {
                return node;
            }
            index -= own;
            node = node->right.get();
        }
    }

    static std::size_t element_count(const Node* node) {
        return node == nullptr ? 0 : 1 + element_count(node->left.get()) + element_count(node->right.get());
    }

    // The tree's nodes in order, taken apart; recursion as deep as the tree.
    static void take_nodes(Link node, std::vector<Link>& out) noexcept {
        if(node == nullptr) {
            return;
        }
        take_nodes(std::move(node->left), out);
        Link right = std::move(node->right);
        out.push_back(std::move(node));
        take_nodes(std::move(right), out);
    }

    // A balanced tree of nodes[first, last). A random tree of n nodes holds its highest
    // priorities near the root: level d gets priorities of rank 2^d - 1 to 2^(d+1) - 2 among
    // n, so the heap order holds and later insertions land as deep as in a random tree.
    Link build(std::vector<Link>& nodes, std::size_t first, std::size_t last, unsigned depth) noexcept {
        if(first == last) {
            return nullptr;
        }
        const std::size_t middle = first + (last - first) / 2;
        Link node = std::move(nodes[middle]);
        const std::uint64_t count = nodes.size();
        const std::uint64_t lowest = (std::uint64_t{1} << depth) - 1;
        const std::uint64_t band = std::min<std::uint64_t>(lowest + 1, count - lowest);
        const std::uint64_t rank = lowest + next_priority() % band;
        node->priority = static_cast<std::uint32_t>(UINT32_MAX - rank * UINT32_MAX / count);
        node->left = build(nodes, first, middle, depth + 1);
        node->right = build(nodes, middle + 1, last, depth + 1);
        update(*node);
        return node;
    }

    Link take_spare() {
        Link node = std::move(spares_);
        if(node != nullptr) {
            spares_ = std::move(node->left);
        }
        return node;
    }

    std::uint32_t next_priority() {
        // xorshift32: any well-spread sequence keeps the tree balanced in expectation.
        seed_ ^= seed_ << 13;
        seed_ ^= seed_ >> 17;
        seed_ ^= seed_ << 5;
        return seed_;
    }

    Link root_;
    Link spares_;  // chained through `left`
    std::uint32_t seed_ = 2463534242U;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_POSITIONAL_LIST_H
