#ifndef NETWORKOBJECT_SORT_H
#define NETWORKOBJECT_SORT_H

/* Ordering of the entries of a NetworkObjectIPList (C++ only). */

#include <span>
#include <string_view>

namespace netobj {

/* Sorts `items` in ascending byte-wise order (the order of strcmp), equal items kept. The cost
 * grows with the total length of the items, not with n log n comparisons: the object's list is
 * rebuilt on every device report, so a large object must not pay a comparison sort each time. */
void sort_bytewise(std::span<std::string_view> items);

}  // namespace netobj

#endif
