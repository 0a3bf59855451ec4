// JSON text -> variant: a strict recursive-descent parser. Recursion is bounded by
// AMXJ_MAX_DEPTH, every loop advances through the input, so hostile text cannot crash or hang it.
#include <amxj/amxj.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "utf8.h"

namespace {

// Owns the variant being built, so that a failed parse frees whatever it made.
class ScratchVar {
public:
    ScratchVar() { amxc_var_init(&var_); }
    ~ScratchVar() { amxc_var_clean(&var_); }
    ScratchVar(const ScratchVar&) = delete;
    ScratchVar& operator=(const ScratchVar&) = delete;
    amxc_var_t* get() { return &var_; }
private:
    amxc_var_t var_;
};

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    bool parse(amxc_var_t* dst) {
        skip_blanks();
        if(!parse_value(dst, 0)) {
            return false;
        }
        skip_blanks();
        if(pos_ != text_.size()) {
            return fail("unexpected text after the value");
        }
        return true;
    }

    // "line:column: what" for the position where parsing stopped.
    std::string error() const {
        std::size_t line = 1;
        std::size_t column = 1;
        for(std::size_t i = 0; i < error_pos_ && i < text_.size(); ++i) {
            if(text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return std::to_string(line) + ":" + std::to_string(column) + ": " + error_;
    }

private:
    bool fail(const char* what) {
        return fail_at(pos_, what);
    }

    bool fail_at(std::size_t pos, const char* what) {
        error_pos_ = pos;
        error_ = what;
        return false;
    }

    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    void skip_blanks() {
        while(!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
            ++pos_;
        }
    }

    bool parse_value(amxc_var_t* dst, int depth) {
        if(at_end()) {
            return fail("unexpected end of text, a value was expected");
        }
        switch(peek()) {
        case '{': return parse_object(dst, depth + 1);
        case '[': return parse_array(dst, depth + 1);
        case '"': return parse_string_value(dst);
        case 't': return parse_literal("true", dst);
        case 'f': return parse_literal("false", dst);
        case 'n': return parse_literal("null", dst);
        default:
            if(peek() == '-' || (peek() >= '0' && peek() <= '9')) {
                return parse_number(dst);
            }
            return fail("unexpected character, a value was expected");
        }
    }

    bool parse_literal(std::string_view word, amxc_var_t* dst) {
        if(text_.substr(pos_, word.size()) != word) {
            return fail("invalid literal");
        }
        pos_ += word.size();
        if(word == "null") {
            amxc_var_clean(dst);
            return true;
        }
        return amxc_var_set_bool(dst, word == "true") == 0 || fail("out of memory");
    }

    bool parse_number(amxc_var_t* dst) {
        const std::size_t start = pos_;
        const bool negative = peek() == '-';
        if(negative) {
            ++pos_;
        }
        const std::size_t digits_start = pos_;
        if(at_end() || peek() < '0' || peek() > '9') {
            return fail("invalid number");
        }
        if(peek() == '0') {
            ++pos_;
            if(!at_end() && peek() >= '0' && peek() <= '9') {
                return fail_at(start, "invalid number: leading zero");
            }
        } else {
            while(!at_end() && peek() >= '0' && peek() <= '9') {
                ++pos_;
            }
        }
        if(!at_end() && (peek() == '.' || peek() == 'e' || peek() == 'E')) {
            return fail_at(start, "numbers with a fraction or an exponent are not supported");
        }
        std::uint64_t magnitude = 0;
        const char* first = text_.data() + digits_start;
        const char* last = text_.data() + pos_;
        const auto result = std::from_chars(first, last, magnitude);
        if(result.ec != std::errc() || result.ptr != last) {
            return fail_at(start, "integer out of range");
        }
        int rc = 0;
        if(negative) {
            constexpr std::uint64_t int64_min_magnitude = static_cast<std::uint64_t>(INT64_MAX) + 1u;
            if(magnitude > int64_min_magnitude) {
                return fail_at(start, "integer out of range");
            }
            // Negate in unsigned arithmetic: -INT64_MIN does not fit int64_t.
            rc = amxc_var_set_int64_t(dst, static_cast<std::int64_t>(0u - magnitude));
        } else if(magnitude <= static_cast<std::uint64_t>(INT64_MAX)) {
            rc = amxc_var_set_int64_t(dst, static_cast<std::int64_t>(magnitude));
        } else {
            rc = amxc_var_set_uint64_t(dst, magnitude);
        }
        return rc == 0 || fail("out of memory");
    }

    bool parse_hex4(std::uint32_t& value) {
        if(text_.size() - pos_ < 4) {
            return fail("invalid \\u escape");
        }
        value = 0;
        for(int i = 0; i < 4; ++i) {
            const char c = text_[pos_ + static_cast<std::size_t>(i)];
            std::uint32_t digit = 0;
            if(c >= '0' && c <= '9') {
                digit = static_cast<std::uint32_t>(c - '0');
            } else if(c >= 'a' && c <= 'f') {
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            } else if(c >= 'A' && c <= 'F') {
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return fail("invalid \\u escape");
            }
            value = (value << 4) | digit;
        }
        pos_ += 4;
        return true;
    }

    bool parse_unicode_escape(std::string& out) {
        const std::size_t start = pos_ - 2;
        std::uint32_t code_point = 0;
        if(!parse_hex4(code_point)) {
            return false;
        }
        if(code_point >= 0xDC00u && code_point <= 0xDFFFu) {
            return fail_at(start, "unpaired UTF-16 surrogate in \\u escape");
        }
        if(code_point >= 0xD800u && code_point <= 0xDBFFu) {
            if(text_.substr(pos_, 2) != "\\u") {
                return fail_at(start, "unpaired UTF-16 surrogate in \\u escape");
            }
            pos_ += 2;
            std::uint32_t low = 0;
            if(!parse_hex4(low)) {
                return false;
            }
            if(low < 0xDC00u || low > 0xDFFFu) {
                return fail_at(start, "unpaired UTF-16 surrogate in \\u escape");
            }
            code_point = 0x10000u + ((code_point - 0xD800u) << 10) + (low - 0xDC00u);
        }
        if(code_point == 0) {
            // A text variant is NUL-terminated: keeping the rest would silently cut it.
            return fail_at(start, "\\u0000 is not allowed in a text");
        }
        amxj::utf8_append(out, code_point);
        return true;
    }

    bool parse_escape(std::string& out) {
        ++pos_;  // the backslash
        if(at_end()) {
            return fail("unterminated string");
        }
        const char c = peek();
        ++pos_;
        switch(c) {
        case '"': out += '"'; return true;
        case '\\': out += '\\'; return true;
        case '/': out += '/'; return true;
        case 'b': out += '\b'; return true;
        case 'f': out += '\f'; return true;
        case 'n': out += '\n'; return true;
        case 'r': out += '\r'; return true;
        case 't': out += '\t'; return true;
        case 'u': return parse_unicode_escape(out);
        default:
            --pos_;
            return fail("invalid escape");
        }
    }

    // A character a string holds as it stands: neither its end, an escape, a control
    // character nor part of a multi-byte sequence.
    static bool is_plain_ascii(unsigned char c) { return c >= 0x20u && c < 0x80u && c != '"' && c != '\\'; }

    bool parse_string(std::string& out) {
        ++pos_;  // the opening quote
        while(true) {
            if(at_end()) {
                return fail("unterminated string");
            }
            const auto c = static_cast<unsigned char>(peek());
            if(c == '"') {
                ++pos_;
                return true;
            }
            if(c == '\\') {
                if(!parse_escape(out)) {
                    return false;
                }
            } else if(c < 0x20u) {
                return fail("control character in string");
            } else if(c < 0x80u) {
                // A run of plain ASCII at once: nearly every text of a saved tree is one.
                const std::size_t start = pos_;
                while(!at_end() && is_plain_ascii(static_cast<unsigned char>(peek()))) {
                    ++pos_;
                }
                out.append(text_.substr(start, pos_ - start));
            } else {
                const std::size_t length = amxj::utf8_sequence_length(text_.substr(pos_));
                if(length == 0) {
                    return fail("invalid UTF-8");
                }
                out.append(text_.substr(pos_, length));
                pos_ += length;
            }
        }
    }

    bool parse_string_value(amxc_var_t* dst) {
        std::string text;
        if(!parse_string(text)) {
            return false;
        }
        return amxc_var_set_cstring_t(dst, text.c_str()) == 0 || fail("out of memory");
    }

    bool parse_array(amxc_var_t* dst, int depth) {
        if(depth > AMXJ_MAX_DEPTH) {
            return fail("nesting too deep");
        }
        if(amxc_var_set_type(dst, AMXC_VAR_ID_LIST) != 0) {
            return fail("out of memory");
        }
        ++pos_;
        skip_blanks();
        if(!at_end() && peek() == ']') {
            ++pos_;
            return true;
        }
        while(true) {
            amxc_var_t* element = amxc_var_add_new(dst);
            if(element == nullptr) {
                return fail("out of memory");
            }
            skip_blanks();
            if(!parse_value(element, depth)) {
                return false;
            }
            skip_blanks();
            if(at_end()) {
                return fail("unterminated array");
            }
            if(peek() == ']') {
                ++pos_;
                return true;
            }
            if(peek() != ',') {
                return fail("',' or ']' expected");
            }
            ++pos_;
        }
    }

    bool parse_object(amxc_var_t* dst, int depth) {
        if(depth > AMXJ_MAX_DEPTH) {
            return fail("nesting too deep");
        }
        if(amxc_var_set_type(dst, AMXC_VAR_ID_HTABLE) != 0) {
            return fail("out of memory");
        }
        ++pos_;
        skip_blanks();
        if(!at_end() && peek() == '}') {
            ++pos_;
            return true;
        }
        std::string key;
        while(true) {
            skip_blanks();
            if(at_end() || peek() != '"') {
                return fail("a string key was expected");
            }
            key.clear();
            if(!parse_string(key)) {
                return false;
            }
            skip_blanks();
            if(at_end() || peek() != ':') {
                return fail("':' expected");
            }
            ++pos_;
            skip_blanks();
            // A repeated key empties the earlier member in place: the last value wins.
            amxc_var_t* member = amxc_var_add_new_key(dst, key.c_str());
            if(member == nullptr) {
                return fail("out of memory");
            }
            if(!parse_value(member, depth)) {
                return false;
            }
            skip_blanks();
            if(at_end()) {
                return fail("unterminated object");
            }
            if(peek() == '}') {
                ++pos_;
                return true;
            }
            if(peek() != ',') {
                return fail("',' or '}' expected");
            }
            ++pos_;
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t error_pos_ = 0;
    const char* error_ = "";
};

void report(char* error, std::size_t error_size, const std::string& message) {
    if(error != nullptr && error_size > 0) {
        std::snprintf(error, error_size, "%s", message.c_str());
    }
}

}  // namespace

extern "C" int amxj_read(amxc_var_t* var, const char* text, size_t length, char* error, size_t error_size) {
    if(var == nullptr || (text == nullptr && length > 0)) {
        report(error, error_size, "1:1: invalid argument");
        return -1;
    }
    try {
        ScratchVar scratch;
        JsonReader reader(std::string_view(text == nullptr ? "" : text, length));
        if(!reader.parse(scratch.get())) {
            report(error, error_size, reader.error());
            return -1;
        }
        if(amxc_var_move(var, scratch.get()) != 0) {
            report(error, error_size, "1:1: out of memory");
            return -1;
        }
        return 0;
    } catch(const std::bad_alloc&) {
        report(error, error_size, "1:1: out of memory");
        return -1;
    }
}
