#include "reply_parts.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace amxb {

namespace {

constexpr std::size_t number_bound = 21;  // "-9223372036854775808" and a spare

bool is_text(const amxc_var_t* value) {
    const uint32_t type = amxc_var_type_of(value);
    return type == AMXC_VAR_ID_CSTRING || type == AMXC_VAR_ID_CSV_STRING;
}

std::size_t char_bound(unsigned char c) {
    if(c < 0x20u) {
        return 6;  // \u00XX
    }
    return (c == '"' || c == '\\') ? 2 : 1;
}

std::size_t text_bound(std::string_view text) {
    std::size_t size = 2;
    for(const char c : text) {
        size += char_bound(static_cast<unsigned char>(c));
    }
    return size;
}

std::string_view text_of(const amxc_var_t* value) {
    const char* text = amxc_var_get_const_cstring_t(value);
    return text == nullptr ? std::string_view() : std::string_view(text);
}

// An empty value of the kind of `value`, put where a large one is filled in by later parts.
void set_empty_like(amxc_var_t* target, const amxc_var_t* value) {
    if(is_text(value)) {
        amxc_var_set_cstring_t(target, "");
    } else {
        amxc_var_set_type(target, amxc_var_type_of(value));
    }
}

class Splitter {
public:
    Splitter(std::size_t budget, std::deque<ReplyPart>& out) : budget_(budget), out_(out) {}

    // `at` is where `value` goes; `value` is emptied.
    void split(amxc_var_t* value, const amxc_var_t* at) {
        const uint32_t type = amxc_var_type_of(value);
        if(json_size_bound(value, budget_) <= budget_ || (!is_text(value) && type != AMXC_VAR_ID_LIST && type != AMXC_VAR_ID_HTABLE)) {
            emit(at, value);
        } else if(is_text(value)) {
            split_text(value, at);
        } else {
            split_container(value, at, type == AMXC_VAR_ID_HTABLE);
        }
    }

private:
    void emit(const amxc_var_t* at, amxc_var_t* piece) {
        ReplyPart part;
        part.at = make_var();
        part.piece = make_var();
        amxc_var_copy(part.at.get(), at);
        amxc_var_move(part.piece.get(), piece);
        part.bound = json_size_bound(part.piece.get(), 2 * budget_);
        out_.push_back(std::move(part));
    }

    // Cuts between characters, never inside one; `value` is taken, shared by the parts.
    void split_text(amxc_var_t* value, const amxc_var_t* at) {
        auto whole = std::shared_ptr<amxc_var_t>(make_var().release(), VarDeleter());
        amxc_var_move(whole.get(), value);
        const std::string_view all = text_of(whole.get());
        std::string_view text = all;
        while(!text.empty()) {
            std::size_t size = 2;
            std::size_t end = 0;
            while(end < text.size() && size + char_bound(static_cast<unsigned char>(text[end])) <= budget_) {
                size += char_bound(static_cast<unsigned char>(text[end]));
                ++end;
            }
            while(end > 0 && end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u) {
                --end;
            }
            end = end == 0 ? 1 : end;
            ReplyPart part;
            part.at = make_var();
            part.text = whole;
            part.from = static_cast<std::size_t>(text.data() - all.data());
            part.length = end;
            amxc_var_copy(part.at.get(), at);
            part.bound = text_bound(text.substr(0, end));
            out_.push_back(std::move(part));
            text.remove_prefix(end);
        }
    }

    void split_container(amxc_var_t* value, const amxc_var_t* at, bool table) {
        const uint32_t type = amxc_var_type_of(value);
        ScopedVar group;
        amxc_var_set_type(group.get(), type);
        std::size_t group_size = 2;
        std::size_t index = 0;
        auto flush = [&] {
            if(amxc_var_size(group.get()) > 0) {
                emit(at, group.get());
                amxc_var_set_type(group.get(), type);
                group_size = 2;
            }
        };
        amxc_var_for_each(member, value) {
            // Copied: taking the member out of its table frees its key.
            const std::string key = table ? amxc_var_key(member) : "";
            const std::size_t size = (table ? text_bound(key) + 1 : 0) + json_size_bound(member, budget_) + 1;
            if(group_size + size > budget_) {
                flush();
            }
            if(group_size + size > budget_) {
                // Too large even alone: an empty value now, its content at its own place.
                ScopedVar place;
                amxc_var_copy(place.get(), at);
                set_empty_like(table ? amxc_var_add_new_key(group.get(), key.c_str()) : amxc_var_add_new(group.get()), member);
                if(table) {
                    amxc_var_add(cstring_t, place.get(), key.c_str());
                } else {
                    amxc_var_add(uint64_t, place.get(), index);
                }
                flush();
                split(member, place.get());
            } else {
                amxc_var_t* taken = amxc_var_take_it(member);
                if(table) {
                    amxc_var_set_key(group.get(), key.c_str(), taken, AMXC_VAR_FLAG_DEFAULT);
                } else {
                    amxc_var_set_index(group.get(), static_cast<int64_t>(amxc_var_size(group.get())), taken, AMXC_VAR_FLAG_DEFAULT);
                }
                group_size += size;
            }
            ++index;
        }
        flush();
    }

    std::size_t budget_;
    std::deque<ReplyPart>& out_;
};

// The value at `at` below `whole`; only the last element of a list can still grow.
amxc_var_t* place_of(amxc_var_t* whole, const amxc_var_t* at) {
    amxc_var_t* place = whole;
    amxc_var_for_each(step, at) {
        if(amxc_var_type_of(place) == AMXC_VAR_ID_HTABLE && amxc_var_type_of(step) == AMXC_VAR_ID_CSTRING) {
            place = amxc_var_get_key(place, amxc_var_get_const_cstring_t(step), AMXC_VAR_FLAG_DEFAULT);
        } else if(amxc_var_type_of(place) == AMXC_VAR_ID_LIST && amxc_var_size(place) > 0 &&
                  amxc_var_get_uint64_t(step) == amxc_var_size(place) - 1) {
            place = amxc_var_get_last(place);
        } else {
            return nullptr;
        }
        if(place == nullptr) {
            return nullptr;
        }
    }
    return place;
}

}  // namespace

std::size_t json_size_bound(const amxc_var_t* value, std::size_t cap) {
    switch(amxc_var_type_of(value)) {
    case AMXC_VAR_ID_CSTRING:
    case AMXC_VAR_ID_CSV_STRING:
        return text_bound(text_of(value));
    case AMXC_VAR_ID_LIST:
    case AMXC_VAR_ID_HTABLE: {
        std::size_t size = 2;
        amxc_var_for_each(member, value) {
            const char* key = amxc_var_key(member);
            size += (key != nullptr ? text_bound(key) + 1 : 0) + json_size_bound(member, cap) + 1;
            if(size > cap) {
                break;
            }
        }
        return size;
    }
    default:
        return number_bound;
    }
}

VarPtr ReplyPart::take_piece() {
    if(piece != nullptr) {
        return std::move(piece);
    }
    VarPtr made = make_var();
    char* stretch = strndup(text_of(text.get()).data() + from, length);
    if(made == nullptr || amxc_var_push_cstring_t(made.get(), stretch) != 0) {
        free(stretch);
        return nullptr;
    }
    text.reset();
    return made;
}

std::deque<ReplyPart> split_result(amxc_var_t* result, std::size_t budget) {
    std::deque<ReplyPart> parts;
    ScopedVar root;
    amxc_var_set_type(root.get(), AMXC_VAR_ID_LIST);
    Splitter(budget, parts).split(result, root.get());
    return parts;
}

bool merge_part(amxc_var_t* whole, const amxc_var_t* at, amxc_var_t* piece, std::string& error) {
    if(amxc_var_type_of(at) != AMXC_VAR_ID_LIST) {
        error = "a reply part without a place";
        return false;
    }
    if(amxc_var_size(at) == 0 && amxc_var_type_of(whole) == AMXC_VAR_ID_NULL) {
        amxc_var_move(whole, piece);
        return true;
    }
    amxc_var_t* place = place_of(whole, at);
    const uint32_t type = amxc_var_type_of(place);
    if(place != nullptr && is_text(place) && is_text(piece)) {
        const std::string joined = std::string(text_of(place)) + std::string(text_of(piece));
        amxc_var_set_cstring_t(place, joined.c_str());
        return true;
    }
    if(place == nullptr || (type != AMXC_VAR_ID_LIST && type != AMXC_VAR_ID_HTABLE) || amxc_var_type_of(piece) != type) {
        error = "a reply part that does not fit the reply";
        return false;
    }
    amxc_var_for_each(member, piece) {
        const std::string key = type == AMXC_VAR_ID_HTABLE ? amxc_var_key(member) : "";
        amxc_var_t* taken = amxc_var_take_it(member);
        const int rc = type == AMXC_VAR_ID_HTABLE ? amxc_var_set_key(place, key.c_str(), taken, AMXC_VAR_FLAG_DEFAULT)
                                                  : amxc_var_set_index(place, static_cast<int64_t>(amxc_var_size(place)), taken, AMXC_VAR_FLAG_DEFAULT);
        if(rc != 0) {
            amxc_var_delete(&taken);
            error = "a reply part repeats a member";
            return false;
        }
    }
    return true;
}

}  // namespace amxb
