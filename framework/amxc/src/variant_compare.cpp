// Ordering of variants: by value across number widths, byte-wise for texts,
// element-wise for lists, key by key for tables.
#include <amxc/amxc_variant.h>

#include <cstdlib>
#include <cstring>

#include "variant_convert.h"
#include "variant_internal.h"

namespace {

using amxc::Number;

int sign(int value) {
    return (value > 0) - (value < 0);
}

int compare_numbers(Number a, Number b) {
    if(a.negative != b.negative) {
        return a.negative ? -1 : 1;
    }
    int by_magnitude = (a.magnitude > b.magnitude) - (a.magnitude < b.magnitude);
    return a.negative ? -by_magnitude : by_magnitude;
}

bool is_scalar_number(uint32_t id) {
    return id == AMXC_VAR_ID_BOOL || id == AMXC_VAR_ID_INT32 || id == AMXC_VAR_ID_UINT32 ||
           id == AMXC_VAR_ID_INT64 || id == AMXC_VAR_ID_UINT64;
}

int compare_as_text(const amxc_var_t* a, const amxc_var_t* b, int* result) {
    char* text_a = amxc::to_text(a);
    char* text_b = amxc::to_text(b);
    int rv = -1;
    if(text_a != nullptr && text_b != nullptr) {
        *result = sign(std::strcmp(text_a, text_b));
        rv = 0;
    }
    std::free(text_a);
    std::free(text_b);
    return rv;
}

// One side text, the other a number or boolean: by value when the text
// holds one of the same kind, else as texts.
int compare_mixed(const amxc_var_t* a, const amxc_var_t* b, int* result) {
    const amxc_var_t* other = amxc::is_text(a->type_id) ? b : a;
    std::optional<Number> na;
    std::optional<Number> nb;
    if(other->type_id == AMXC_VAR_ID_BOOL) {
        std::optional<bool> ba = amxc::to_bool(a);
        std::optional<bool> bb = amxc::to_bool(b);
        if(ba.has_value() && bb.has_value()) {
            na = Number{false, *ba ? 1U : 0U};
            nb = Number{false, *bb ? 1U : 0U};
        }
    } else {
        na = amxc::to_number(a);
        nb = amxc::to_number(b);
    }
    if(na.has_value() && nb.has_value()) {
        *result = compare_numbers(*na, *nb);
        return 0;
    }
    return compare_as_text(a, b, result);
}

int compare_at(const amxc_var_t* a, const amxc_var_t* b, int* result, int depth);

int compare_lists(const amxc_var_t* a, const amxc_var_t* b, int* result, int depth) {
    const amxc_var_t* ea = amxc_var_get_first(a);
    const amxc_var_t* eb = amxc_var_get_first(b);
    for(; ea != nullptr && eb != nullptr; ea = amxc_var_get_next(ea), eb = amxc_var_get_next(eb)) {
        if(compare_at(ea, eb, result, depth + 1) != 0) {
            return -1;
        }
        if(*result != 0) {
            return 0;
        }
    }
    *result = (ea != nullptr) - (eb != nullptr);
    return 0;
}

int compare_tables(const amxc_var_t* a, const amxc_var_t* b, int* result, int depth) {
    size_t size_a = amxc_var_size(a);
    size_t size_b = amxc_var_size(b);
    *result = (size_a > size_b) - (size_a < size_b);
    amxc_var_for_each(member, a) {
        if(*result != 0) {
            break;
        }
        const amxc_var_t* peer = amxc_var_get_key(b, amxc_var_key(member), AMXC_VAR_FLAG_DEFAULT);
        if(peer == nullptr) {
            *result = 1;
        } else if(compare_at(member, peer, result, depth + 1) != 0) {
            return -1;
        }
    }
    return 0;
}

int compare_at(const amxc_var_t* a, const amxc_var_t* b, int* result, int depth) {
    if(depth > amxc::max_depth) {
        return -1;
    }
    uint32_t ta = a->type_id;
    uint32_t tb = b->type_id;
    if(ta == AMXC_VAR_ID_NULL || tb == AMXC_VAR_ID_NULL) {
        *result = (ta != AMXC_VAR_ID_NULL) - (tb != AMXC_VAR_ID_NULL);
        return 0;
    }
    if(amxc::is_text(ta) && amxc::is_text(tb)) {
        // Where they lie: every write of a parameter compares its old and new text.
        *result = sign(std::strcmp(amxc_var_constcast(cstring_t, a), amxc_var_constcast(cstring_t, b)));
        return 0;
    }
    if(is_scalar_number(ta) && is_scalar_number(tb)) {
        *result = compare_numbers(*amxc::to_number(a), *amxc::to_number(b));
        return 0;
    }
    if(ta == AMXC_VAR_ID_LIST && tb == AMXC_VAR_ID_LIST) {
        return compare_lists(a, b, result, depth);
    }
    if(ta == AMXC_VAR_ID_HTABLE && tb == AMXC_VAR_ID_HTABLE) {
        return compare_tables(a, b, result, depth);
    }
    if(amxc::is_container(ta) || amxc::is_container(tb)) {
        return -1;
    }
    return compare_mixed(a, b, result);
}

}  // namespace

extern "C" int amxc_var_compare(const amxc_var_t* a, const amxc_var_t* b, int* result) {
    if(a == nullptr || b == nullptr || result == nullptr) {
        return -1;
    }
    int value = 0;
    if(compare_at(a, b, &value, 0) != 0) {
        return -1;
    }
    *result = value;
    return 0;
}
