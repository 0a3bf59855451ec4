// A reply too large for one frame travels as parts. Each part is a piece appended at a place in
// the result: "at" lists the keys (tables) and indices (lists) leading there from the result,
// and the piece is of the kind found there: a table's members are added, a list's elements
// appended, a text's characters appended. The first part at the result itself sets it. A
// member too large for one part is sent as an empty value of its kind, then filled by parts
// at its own place, so every part can be used as it arrives.
#ifndef AMXB_REPLY_PARTS_H
#define AMXB_REPLY_PARTS_H

#include <cstddef>
#include <deque>
#include <string>

#include "variant_ptr.h"

namespace amxb {

struct ReplyPart {
    VarPtr at;     // a list of texts and indices
    VarPtr piece;  // null for a stretch of a large text, cut out when the part is sent
    std::shared_ptr<const amxc_var_t> text;  // that text, shared by its parts
    std::size_t from = 0;
    std::size_t length = 0;
    std::size_t bound = 0;  // json_size_bound of the piece

    // The piece, taken out (a stretch of text made into a variant now). Null when out of memory.
    VarPtr take_piece();
};

// Upper bound of the length of `value` written as JSON, exact for ASCII texts and numbers;
// stops counting past `cap`.
std::size_t json_size_bound(const amxc_var_t* value, std::size_t cap);

// Cuts `result` (emptied) into parts whose pieces each stay within `budget` bytes of JSON. A
// text larger than that is kept once, and each of its parts copies its stretch only when sent:
// a firewall dump of megabytes then never sits in memory twice.
std::deque<ReplyPart> split_result(amxc_var_t* result, std::size_t budget);

// Appends `piece` (emptied) at `at` in `whole`. False, with `error` set, when `at` leads
// nowhere or to a value of another kind.
bool merge_part(amxc_var_t* whole, const amxc_var_t* at, amxc_var_t* piece, std::string& error);

}  // namespace amxb

#endif
