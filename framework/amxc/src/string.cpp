// Growable text buffer. Every change computes its result before touching
// the string, so running out of memory leaves the old text intact, and text
// arguments may point into the string's own buffer.
#include <amxc/amxc_string.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// Makes room for `text_length` bytes of text plus the terminator.
bool reserve(amxc_string_t* s, size_t text_length) {
    if(text_length == SIZE_MAX) {
        return false;
    }
    size_t needed = text_length + 1;
    if(needed <= s->length) {
        return true;
    }
    size_t capacity = s->length < 16 ? 16 : s->length;
    while(capacity < needed) {
        capacity = capacity > SIZE_MAX / 2 ? needed : capacity * 2;
    }
    auto* buffer = static_cast<char*>(std::realloc(s->buffer, capacity));
    if(buffer == nullptr) {
        return false;
    }
    if(s->buffer == nullptr) {
        buffer[0] = '\0';
    }
    s->buffer = buffer;
    s->length = capacity;
    return true;
}

bool points_into(const amxc_string_t* s, const char* text) {
    return s->buffer != nullptr && text >= s->buffer && text < s->buffer + s->length;
}

// Writes `text` at byte `at` (at <= last_used), replacing what followed.
int write_at(amxc_string_t* s, size_t at, const char* text, size_t length) {
    if(length > SIZE_MAX - at) {
        return -1;
    }
    size_t offset = points_into(s, text) ? static_cast<size_t>(text - s->buffer) : SIZE_MAX;
    if(!reserve(s, at + length)) {
        return -1;
    }
    if(offset != SIZE_MAX) {
        text = s->buffer + offset;
    }
    std::memmove(s->buffer + at, text, length);
    s->last_used = at + length;
    s->buffer[s->last_used] = '\0';
    return 0;
}

// Formats into a scratch buffer first: an argument may be this string's text.
AMXC_PRINTF(3, 0) int write_formatted(amxc_string_t* s, size_t at, const char* fmt, va_list args) {
    char small[256];
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(small, sizeof(small), fmt, copy);
    va_end(copy);
    if(needed < 0) {
        return -1;
    }
    auto length = static_cast<size_t>(needed);
    if(length < sizeof(small)) {
        return write_at(s, at, small, length);
    }
    auto* large = static_cast<char*>(std::malloc(length + 1));
    if(large == nullptr) {
        return -1;
    }
    va_copy(copy, args);
    std::vsnprintf(large, length + 1, fmt, copy);
    va_end(copy);
    int rv = write_at(s, at, large, length);
    std::free(large);
    return rv;
}

bool blank(int (*is_blank)(int), char c) {
    int uc = static_cast<unsigned char>(c);
    return is_blank != nullptr ? is_blank(uc) != 0 : std::isspace(uc) != 0;
}

}  // namespace

extern "C" {

int amxc_string_new(amxc_string_t** s, size_t length) {
    if(s == nullptr) {
        return -1;
    }
    auto* string = static_cast<amxc_string_t*>(std::calloc(1, sizeof(amxc_string_t)));
    if(string == nullptr) {
        return -1;
    }
    if(amxc_string_init(string, length) != 0) {
        std::free(string);
        return -1;
    }
    *s = string;
    return 0;
}

void amxc_string_delete(amxc_string_t** s) {
    if(s == nullptr || *s == nullptr) {
        return;
    }
    amxc_llist_it_take(&(*s)->it);
    amxc_string_clean(*s);
    std::free(*s);
    *s = nullptr;
}

int amxc_string_init(amxc_string_t* s, size_t length) {
    if(s == nullptr) {
        return -1;
    }
    s->buffer = nullptr;
    s->length = 0;
    s->last_used = 0;
    amxc_llist_it_init(&s->it);
    if(length == 0) {
        return 0;
    }
    return reserve(s, length) ? 0 : -1;
}

void amxc_string_clean(amxc_string_t* s) {
    if(s == nullptr) {
        return;
    }
    std::free(s->buffer);
    s->buffer = nullptr;
    s->length = 0;
    s->last_used = 0;
}

void amxc_string_reset(amxc_string_t* s) {
    if(s == nullptr || s->buffer == nullptr) {
        return;
    }
    s->buffer[0] = '\0';
    s->last_used = 0;
}

int amxc_string_set(amxc_string_t* s, const char* text) {
    if(s == nullptr || text == nullptr) {
        return -1;
    }
    return write_at(s, 0, text, std::strlen(text));
}

int amxc_string_append(amxc_string_t* s, const char* text, size_t length) {
    if(s == nullptr || text == nullptr) {
        return -1;
    }
    return write_at(s, s->last_used, text, strnlen(text, length));
}

int amxc_string_setf(amxc_string_t* s, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int rv = amxc_string_vsetf(s, fmt, args);
    va_end(args);
    return rv;
}

int amxc_string_appendf(amxc_string_t* s, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int rv = amxc_string_vappendf(s, fmt, args);
    va_end(args);
    return rv;
}

int amxc_string_vsetf(amxc_string_t* s, const char* fmt, va_list args) {
    if(s == nullptr || fmt == nullptr) {
        return -1;
    }
    return write_formatted(s, 0, fmt, args);
}

int amxc_string_vappendf(amxc_string_t* s, const char* fmt, va_list args) {
    if(s == nullptr || fmt == nullptr) {
        return -1;
    }
    return write_formatted(s, s->last_used, fmt, args);
}

const char* amxc_string_get(const amxc_string_t* s, size_t offset) {
    if(s == nullptr || offset > s->last_used) {
        return nullptr;
    }
    return s->buffer == nullptr ? "" : s->buffer + offset;
}

char* amxc_string_take_buffer(amxc_string_t* s) {
    if(s == nullptr) {
        return nullptr;
    }
    char* buffer = s->buffer;
    if(buffer == nullptr) {
        buffer = static_cast<char*>(std::calloc(1, 1));
        if(buffer == nullptr) {
            return nullptr;
        }
    }
    s->buffer = nullptr;
    s->length = 0;
    s->last_used = 0;
    return buffer;
}

size_t amxc_string_text_length(const amxc_string_t* s) {
    return s == nullptr ? 0 : s->last_used;
}

bool amxc_string_is_empty(const amxc_string_t* s) {
    return amxc_string_text_length(s) == 0;
}

void amxc_string_trim(amxc_string_t* s, int (*is_blank)(int)) {
    amxc_string_trimr(s, is_blank);
    amxc_string_triml(s, is_blank);
}

void amxc_string_triml(amxc_string_t* s, int (*is_blank)(int)) {
    if(s == nullptr || s->buffer == nullptr) {
        return;
    }
    size_t start = 0;
    while(start < s->last_used && blank(is_blank, s->buffer[start])) {
        ++start;
    }
    if(start == 0) {
        return;
    }
    std::memmove(s->buffer, s->buffer + start, s->last_used - start);
    s->last_used -= start;
    s->buffer[s->last_used] = '\0';
}

void amxc_string_trimr(amxc_string_t* s, int (*is_blank)(int)) {
    if(s == nullptr || s->buffer == nullptr) {
        return;
    }
    while(s->last_used > 0 && blank(is_blank, s->buffer[s->last_used - 1])) {
        --s->last_used;
    }
    s->buffer[s->last_used] = '\0';
}

int amxc_string_search(const amxc_string_t* s, const char* needle, size_t start) {
    if(s == nullptr || needle == nullptr || start > s->last_used) {
        return -1;
    }
    std::string_view text{amxc_string_get(s, 0), s->last_used};
    size_t found = text.find(needle, start);
    if(found == std::string_view::npos || found > static_cast<size_t>(INT_MAX)) {
        return -1;
    }
    return static_cast<int>(found);
}

}  // extern "C"
