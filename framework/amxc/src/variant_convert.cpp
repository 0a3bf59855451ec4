// Conversions between variant types. Every conversion either yields the
// whole value or fails: a text that is not a number never reads as 0.
#include "variant_convert.h"

#include <amxc/amxc_string.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "text_pieces.h"
#include "text_scalar.h"
#include "variant_container.h"
#include "variant_internal.h"

namespace amxc {
namespace {

std::string_view text_of(const amxc_var_t* var) {
    return var->data.s == nullptr ? std::string_view{} : std::string_view{var->data.s};
}

Number signed_number(std::int64_t value) {
    if(value >= 0) {
        return {false, static_cast<std::uint64_t>(value)};
    }
    // Negate in unsigned arithmetic: INT64_MIN has no positive counterpart.
    return {true, 0 - static_cast<std::uint64_t>(value)};
}

std::optional<Number> parse_number(std::string_view text) {
    if(std::optional<std::uint64_t> value = parse_uint64(text)) {
        return Number{false, *value};
    }
    if(std::optional<std::int64_t> value = parse_int64(text)) {
        return signed_number(*value);
    }
    return std::nullopt;
}

char* copy_text(std::string_view text) {
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if(copy != nullptr) {
        // An empty view may carry a NULL pointer, which memcpy must not be given.
        if(!text.empty()) {
            std::memcpy(copy, text.data(), text.size());
        }
        copy[text.size()] = '\0';
    }
    return copy;
}

char* list_text(const amxc_var_t* list) {
    amxc_string_t joined;
    amxc_string_init(&joined, 0);
    bool first = true;
    amxc_llist_iterate(link, &list->data.vl) {
        const amxc_var_t* element = var_of_element(link);
        char* text = is_container(element->type_id) ? nullptr : to_text(element);
        int rv = text == nullptr ? -1 : 0;
        if(rv == 0 && !first) {
            rv = amxc_string_append(&joined, ",", 1);
        }
        if(rv == 0) {
            rv = amxc_string_append(&joined, text, std::strlen(text));
        }
        std::free(text);
        if(rv != 0) {
            amxc_string_clean(&joined);
            return nullptr;
        }
        first = false;
    }
    return amxc_string_take_buffer(&joined);
}

int set_text(amxc_var_t* dest, const amxc_var_t* src, std::uint32_t type_id) {
    char* text = to_text(src);
    if(text == nullptr) {
        return -1;
    }
    dest->type_id = type_id;
    dest->data.s = text;
    return 0;
}

bool add_text_element(amxc_var_t* list, std::string_view piece) {
    amxc_var_t element;
    amxc_var_init(&element);
    element.type_id = AMXC_VAR_ID_CSTRING;
    element.data.s = copy_text(piece);
    if(element.data.s == nullptr || store_element(list, &element) == nullptr) {
        amxc_var_clean(&element);
        return false;
    }
    return true;
}

bool add_copied_element(amxc_var_t* list, const amxc_var_t* value) {
    amxc_var_t element;
    amxc_var_init(&element);
    if(copy_content(&element, value, 1) != 0 || store_element(list, &element) == nullptr) {
        amxc_var_clean(&element);
        return false;
    }
    return true;
}

int set_list(amxc_var_t* dest, const amxc_var_t* src) {
    amxc_var_set_type(dest, AMXC_VAR_ID_LIST);
    bool done = true;
    switch(src->type_id) {
    case AMXC_VAR_ID_NULL:
        break;
    case AMXC_VAR_ID_CSTRING:
    case AMXC_VAR_ID_CSV_STRING:
        done = for_each_piece(text_of(src), ',', [dest](std::string_view piece) {
            return add_text_element(dest, piece);
        });
        break;
    case AMXC_VAR_ID_HTABLE:
        amxc_htable_iterate(member, &src->data.vm) {
            if(!add_copied_element(dest, var_of_member(member))) {
                done = false;
                break;
            }
        }
        break;
    default:
        // A single scalar becomes a one-element list.
        done = add_copied_element(dest, src);
        break;
    }
    return done ? 0 : -1;
}

}  // namespace

std::optional<Number> to_number(const amxc_var_t* var) {
    switch(amxc_var_type_of(var)) {
    case AMXC_VAR_ID_NULL:
        return Number{false, 0};
    case AMXC_VAR_ID_CSTRING:
    case AMXC_VAR_ID_CSV_STRING:
        return parse_number(text_of(var));
    case AMXC_VAR_ID_BOOL:
        return Number{false, var->data.b ? 1U : 0U};
    case AMXC_VAR_ID_INT32:
        return signed_number(var->data.i32);
    case AMXC_VAR_ID_INT64:
        return signed_number(var->data.i64);
    case AMXC_VAR_ID_UINT32:
        return Number{false, var->data.ui32};
    case AMXC_VAR_ID_UINT64:
        return Number{false, var->data.ui64};
    default:
        return std::nullopt;
    }
}

std::optional<std::uint64_t> text_as_unsigned(const amxc_var_t* var) {
    return parse_uint64(text_of(var));
}

std::optional<bool> to_bool(const amxc_var_t* var) {
    switch(amxc_var_type_of(var)) {
    case AMXC_VAR_ID_BOOL:
        return var->data.b;
    case AMXC_VAR_ID_CSTRING:
    case AMXC_VAR_ID_CSV_STRING:
        return parse_bool(text_of(var));
    default: {
        // Numbers: only 0 and 1 have a boolean meaning.
        std::optional<Number> n = to_number(var);
        if(!n.has_value() || n->negative || n->magnitude > 1) {
            return std::nullopt;
        }
        return n->magnitude == 1;
    }
    }
}

char* to_text(const amxc_var_t* var) {
    if(var == nullptr) {
        return nullptr;
    }
    char number[number_text_size];
    switch(var->type_id) {
    case AMXC_VAR_ID_NULL:
        return copy_text("");
    case AMXC_VAR_ID_CSTRING:
    case AMXC_VAR_ID_CSV_STRING:
        return copy_text(text_of(var));
    case AMXC_VAR_ID_BOOL:
        return copy_text(var->data.b ? "true" : "false");
    case AMXC_VAR_ID_INT32:
        format_int64(var->data.i32, number);
        return copy_text(number);
    case AMXC_VAR_ID_INT64:
        format_int64(var->data.i64, number);
        return copy_text(number);
    case AMXC_VAR_ID_UINT32:
        format_uint64(var->data.ui32, number);
        return copy_text(number);
    case AMXC_VAR_ID_UINT64:
        format_uint64(var->data.ui64, number);
        return copy_text(number);
    case AMXC_VAR_ID_LIST:
        return list_text(var);
    default:
        return nullptr;
    }
}

int convert_into(amxc_var_t* dest, const amxc_var_t* src, std::uint32_t type_id) {
    if(type_id == AMXC_VAR_ID_ANY || type_id == src->type_id) {
        return copy_content(dest, src, 0);
    }
    int rv = -1;
    switch(type_id) {
    case AMXC_VAR_ID_NULL:
        rv = 0;
        break;
    case AMXC_VAR_ID_CSTRING:
    case AMXC_VAR_ID_CSV_STRING:
        rv = set_text(dest, src, type_id);
        break;
    case AMXC_VAR_ID_BOOL:
        if(std::optional<bool> value = to_bool(src)) {
            rv = amxc_var_set_bool(dest, *value);
        }
        break;
    case AMXC_VAR_ID_INT32:
        if(std::optional<std::int32_t> value = to_integer<std::int32_t>(src)) {
            rv = amxc_var_set_int32_t(dest, *value);
        }
        break;
    case AMXC_VAR_ID_UINT32:
        if(std::optional<std::uint32_t> value = to_integer<std::uint32_t>(src)) {
            rv = amxc_var_set_uint32_t(dest, *value);
        }
        break;
    case AMXC_VAR_ID_INT64:
        if(std::optional<std::int64_t> value = to_integer<std::int64_t>(src)) {
            rv = amxc_var_set_int64_t(dest, *value);
        }
        break;
    case AMXC_VAR_ID_UINT64:
        if(std::optional<std::uint64_t> value = to_integer<std::uint64_t>(src)) {
            rv = amxc_var_set_uint64_t(dest, *value);
        }
        break;
    case AMXC_VAR_ID_LIST:
        rv = set_list(dest, src);
        break;
    case AMXC_VAR_ID_HTABLE:
        if(src->type_id == AMXC_VAR_ID_NULL) {
            rv = amxc_var_set_type(dest, AMXC_VAR_ID_HTABLE);
        }
        break;
    default:
        break;
    }
    if(rv != 0) {
        amxc_var_clean(dest);
    }
    return rv;
}

}  // namespace amxc

using namespace amxc;

extern "C" {

int amxc_var_convert(amxc_var_t* dest, const amxc_var_t* src, uint32_t type_id) {
    if(dest == nullptr || src == nullptr || dest == src) {
        return -1;
    }
    // Convert aside: dest and src may contain one another.
    amxc_var_t tmp;
    amxc_var_init(&tmp);
    int rv = convert_into(&tmp, src, type_id);
    replace_content(dest, &tmp);
    return rv;
}

int amxc_var_cast(amxc_var_t* var, uint32_t type_id) {
    if(var == nullptr) {
        return -1;
    }
    amxc_var_t tmp;
    amxc_var_init(&tmp);
    if(convert_into(&tmp, var, type_id) != 0) {
        return -1;
    }
    replace_content(var, &tmp);
    return 0;
}

}  // extern "C"
