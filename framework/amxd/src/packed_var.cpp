#include "packed_var.h"

#include <cstdint>
#include <cstring>

namespace amxd {

namespace {

// Each value: its type id (one byte), then for texts a length and the bytes, for numbers their
// 8 bytes, for containers a count and the members (a table's with their keys first).
void put_size(std::string& out, std::size_t size) {
    do {
        const auto low = static_cast<unsigned char>(size & 0x7f);
        size >>= 7;
        out.push_back(static_cast<char>(size != 0 ? (low | 0x80) : low));
    } while(size != 0);
}

// With its terminator, so that the reader hands the text on where it lies.
void put_text(std::string& out, const char* text) {
    const std::size_t length = text == nullptr ? 0 : std::strlen(text);
    put_size(out, length);
    out.append(text == nullptr ? "" : text, length + 1);
}

void put_number(std::string& out, uint64_t bits) {
    char raw[sizeof bits];
    std::memcpy(raw, &bits, sizeof bits);
    out.append(raw, sizeof raw);
}

void put_var(std::string& out, const amxc_var_t* var) {
    const uint32_t type = amxc_var_type_of(var);
    out.push_back(static_cast<char>(type));
    switch(type) {
    case AMXC_VAR_ID_CSTRING:
    case AMXC_VAR_ID_CSV_STRING:
        put_text(out, amxc_var_constcast(cstring_t, var));
        break;
    case AMXC_VAR_ID_BOOL:
        out.push_back(amxc_var_constcast(bool, var) ? 1 : 0);
        break;
    case AMXC_VAR_ID_INT32:
        put_number(out, static_cast<uint64_t>(static_cast<int64_t>(amxc_var_constcast(int32_t, var))));
        break;
    case AMXC_VAR_ID_UINT32:
        put_number(out, amxc_var_constcast(uint32_t, var));
        break;
    case AMXC_VAR_ID_INT64:
        put_number(out, static_cast<uint64_t>(amxc_var_constcast(int64_t, var)));
        break;
    case AMXC_VAR_ID_UINT64:
        put_number(out, amxc_var_constcast(uint64_t, var));
        break;
    case AMXC_VAR_ID_LIST:
    case AMXC_VAR_ID_HTABLE: {
        std::size_t count = 0;
        amxc_var_for_each(member, var) {
            ++count;
        }
        put_size(out, count);
        amxc_var_for_each(member, var) {
            if(type == AMXC_VAR_ID_HTABLE) {
                put_text(out, amxc_var_key(member));
            }
            put_var(out, member);
        }
        break;
    }
    default:
        break;  // NULL: the type says it all
    }
}

// Reads what Packer wrote (the bytes are always our own) into a tree that borrows its texts and
// keys from them.
class Reader {
public:
    Reader(std::string_view bytes, amxc::BorrowedTree& tree) : rest_(bytes), tree_(tree) {}

    void get(amxc_var_t* var) {
        const auto type = static_cast<uint32_t>(static_cast<unsigned char>(take(1)[0]));
        switch(type) {
        case AMXC_VAR_ID_CSTRING:
        case AMXC_VAR_ID_CSV_STRING:
            amxc::BorrowedTree::set_text(var, type, text());
            break;
        case AMXC_VAR_ID_BOOL:
            amxc_var_set_bool(var, take(1)[0] != 0);
            break;
        case AMXC_VAR_ID_INT32:
            amxc_var_set_int32_t(var, static_cast<int32_t>(static_cast<int64_t>(number())));
            break;
        case AMXC_VAR_ID_UINT32:
            amxc_var_set_uint32_t(var, static_cast<uint32_t>(number()));
            break;
        case AMXC_VAR_ID_INT64:
            amxc_var_set_int64_t(var, static_cast<int64_t>(number()));
            break;
        case AMXC_VAR_ID_UINT64:
            amxc_var_set_uint64_t(var, number());
            break;
        case AMXC_VAR_ID_LIST:
            amxc_var_set_type(var, AMXC_VAR_ID_LIST);
            for(std::size_t count = size(); count > 0; --count) {
                get(tree_.add_element(var));
            }
            break;
        case AMXC_VAR_ID_HTABLE: {
            const std::size_t count = size();
            tree_.make_table(var, count);
            for(std::size_t n = 0; n < count; ++n) {
                get(tree_.add_member(var, text()));  // a packed table's keys are its members' own
            }
            break;
        }
        default:
            break;
        }
    }

private:
    std::string_view take(std::size_t count) {
        const std::string_view part = rest_.substr(0, count);
        rest_.remove_prefix(count);
        return part;
    }

    std::size_t size() {
        std::size_t value = 0;
        for(int shift = 0;; shift += 7) {
            const auto byte = static_cast<unsigned char>(take(1)[0]);
            value |= static_cast<std::size_t>(byte & 0x7f) << shift;
            if((byte & 0x80) == 0) {
                return value;
            }
        }
    }

    const char* text() { return take(size() + 1).data(); }

    uint64_t number() {
        uint64_t bits = 0;
        std::memcpy(&bits, take(sizeof bits).data(), sizeof bits);
        return bits;
    }

    std::string_view rest_;
    amxc::BorrowedTree& tree_;
};

} // namespace

const amxc_var_t* PackedVar::read(amxc::BorrowedTree& tree) const {
    amxc_var_t* var = tree.new_var();
    if(!bytes_.empty()) {
        Reader(bytes_, tree).get(var);
    }
    return var;
}

Packer::Packer() {
    packed_.bytes_.reserve(first_room);
}

void Packer::table(std::size_t members) {
    packed_.bytes_.push_back(static_cast<char>(AMXC_VAR_ID_HTABLE));
    put_size(packed_.bytes_, members);
}

void Packer::key(const char* key) {
    put_text(packed_.bytes_, key);
}

void Packer::text(const char* text) {
    packed_.bytes_.push_back(static_cast<char>(AMXC_VAR_ID_CSTRING));
    put_text(packed_.bytes_, text);
}

void Packer::uint32(uint32_t value) {
    packed_.bytes_.push_back(static_cast<char>(AMXC_VAR_ID_UINT32));
    put_number(packed_.bytes_, value);
}

void Packer::var(const amxc_var_t* value) {
    put_var(packed_.bytes_, value);
}

PackedVar Packer::done() {
    packed_.bytes_.shrink_to_fit();
    return std::move(packed_);
}

} // namespace amxd
