// A variant kept as one block of bytes until it is needed again.
//
// Events wait in the loop's queue from the transaction that made them until their delivery;
// a restore of thousands of instances queues thousands of them at once. As variant trees
// (a heap block per member and per text) they were the largest thing a restore held, and
// what they left scattered kept the process at that peak. Packed, an event is one block of
// about its text's size, read just before its delivery into a tree that borrows its texts.
#pragma once

#include <string>
#include <string_view>

#include <amxc/amxc_borrowed_tree.h>

#include "var_util.h"

namespace amxd {

class PackedVar {
public:
    PackedVar() = default;

    bool empty() const { return bytes_.empty(); }
    // The variant as it was packed (NULL-typed for an empty one), built by `tree` and borrowing
    // from this one: valid while both are. Throws what `tree` throws.
    const amxc_var_t* read(amxc::BorrowedTree& tree) const;

private:
    friend class Packer;
    std::string bytes_;
};

// Packs a variant member by member, for data taken straight from the tree without building
// it as a variant first. A table announces its member count; each member is a key, then a
// value. Every call throws std::bad_alloc.
class Packer {
public:
    Packer();
    void table(std::size_t members);
    void key(const char* key);
    void text(const char* text);
    void uint32(uint32_t value);
    void var(const amxc_var_t* value);

    PackedVar done();

private:
    // Room for an event with a dozen parameters, so that it grows once or never; done() gives
    // back what it did not use.
    static constexpr std::size_t first_room = 512;
    PackedVar packed_;
};

} // namespace amxd
