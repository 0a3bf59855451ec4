// Makes room for one more element ahead of an insertion that must not fail, growing
// geometrically so that a run of insertions stays linear.
#pragma once

#include <algorithm>
#include <cstddef>

namespace amxd {

template <typename Vector>
void reserve_one_more(Vector& vector) {
    if(vector.size() == vector.capacity()) {
        vector.reserve(std::max<std::size_t>(4, vector.capacity() * 2));
    }
}

} // namespace amxd
