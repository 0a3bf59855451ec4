// Variant -> JSON text.
#include <amxj/amxj.h>

#include <charconv>
#include <new>
#include <string>
#include <string_view>

#include "utf8.h"

namespace {

class JsonWriter {
public:
    explicit JsonWriter(bool pretty) : pretty_(pretty) {}

    bool write(const amxc_var_t* var) {
        return write_value(var, 0);
    }

    std::string& text() {
        return out_;
    }

private:
    bool write_value(const amxc_var_t* var, int depth) {
        switch(amxc_var_type_of(var)) {
        case AMXC_VAR_ID_NULL:
            out_ += "null";
            return true;
        case AMXC_VAR_ID_BOOL:
            out_ += amxc_var_get_const_bool(var) ? "true" : "false";
            return true;
        case AMXC_VAR_ID_INT32:
            append_number(amxc_var_get_const_int32_t(var));
            return true;
        case AMXC_VAR_ID_UINT32:
            append_number(amxc_var_get_const_uint32_t(var));
            return true;
        case AMXC_VAR_ID_INT64:
            append_number(amxc_var_get_const_int64_t(var));
            return true;
        case AMXC_VAR_ID_UINT64:
            append_number(amxc_var_get_const_uint64_t(var));
            return true;
        case AMXC_VAR_ID_CSTRING:
        case AMXC_VAR_ID_CSV_STRING:
            return write_string(amxc_var_get_const_cstring_t(var));
        case AMXC_VAR_ID_LIST:
        case AMXC_VAR_ID_HTABLE:
            return write_container(var, depth + 1);
        default:
            return false;
        }
    }

    template<typename T>
    void append_number(T value) {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof(digits), value);
        out_.append(digits, result.ptr);
    }

    void append_control_escape(unsigned char c) {
        static constexpr char hex[] = "0123456789abcdef";
        out_ += "\\u00";
        out_ += hex[c >> 4];
        out_ += hex[c & 0x0Fu];
    }

    bool write_container(const amxc_var_t* var, int depth) {
        if(depth > AMXJ_MAX_DEPTH) {
            return false;
        }
        const bool table = amxc_var_type_of(var) == AMXC_VAR_ID_HTABLE;
        out_ += table ? '{' : '[';
        bool first = true;
        amxc_var_for_each(item, var) {
            if(!first) {
                out_ += ',';
            }
            first = false;
            new_line(depth);
            if(table) {
                if(!write_string(amxc_var_key(item))) {
                    return false;
                }
                out_ += pretty_ ? ": " : ":";
            }
            if(!write_value(item, depth)) {
                return false;
            }
        }
        if(!first) {
            new_line(depth - 1);
        }
        out_ += table ? '}' : ']';
        return true;
    }

    void new_line(int depth) {
        if(pretty_) {
            out_ += '\n';
            out_.append(static_cast<std::size_t>(depth) * 2, ' ');
        }
    }

    bool write_string(const char* text) {
        const std::string_view view = text == nullptr ? std::string_view() : std::string_view(text);
        if(!amxj::utf8_is_valid(view)) {
            return false;
        }
        out_ += '"';
        for(const char c : view) {
            switch(c) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '\b': out_ += "\\b"; break;
            case '\f': out_ += "\\f"; break;
            case '\n': out_ += "\\n"; break;
            case '\r': out_ += "\\r"; break;
            case '\t': out_ += "\\t"; break;
            default:
                if(static_cast<unsigned char>(c) < 0x20u) {
                    append_control_escape(static_cast<unsigned char>(c));
                } else {
                    out_ += c;
                }
            }
        }
        out_ += '"';
        return true;
    }

    bool pretty_;
    std::string out_;
};

}  // namespace

extern "C" int amxj_write(const amxc_var_t* var, amxc_string_t* out, bool pretty) {
    if(var == nullptr || out == nullptr) {
        return -1;
    }
    try {
        JsonWriter writer(pretty);
        if(!writer.write(var)) {
            return -1;
        }
        return amxc_string_set(out, writer.text().c_str()) == 0 ? 0 : -1;
    } catch(const std::bad_alloc&) {
        return -1;
    }
}
