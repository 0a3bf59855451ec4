#include "expr_lexer.h"

#include <array>
#include <cstdio>
#include <limits>

namespace amxp::expr {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_name_char(char c) { return is_name_start(c) || is_digit(c); }

std::string describe_char(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7f) return std::string("'") + c + "'";
    std::array<char, 16> hex{};
    std::snprintf(hex.data(), hex.size(), "byte 0x%02x", byte);
    return hex.data();
}

struct Keyword {
    std::string_view word;
    TokenKind kind;
};

constexpr std::array keywords{
    Keyword{"true", TokenKind::kw_true},     Keyword{"false", TokenKind::kw_false},
    Keyword{"in", TokenKind::kw_in},         Keyword{"matches", TokenKind::kw_matches},
    Keyword{"starts", TokenKind::kw_starts}, Keyword{"with", TokenKind::kw_with},
    Keyword{"not", TokenKind::op_not},       Keyword{"and", TokenKind::op_and},
    Keyword{"or", TokenKind::op_or},
};

struct Operator {
    std::string_view spelling;
    TokenKind kind;
};

// Two-character operators first so that "<=" is not read as "<".
constexpr std::array operators{
    Operator{"==", TokenKind::equal},        Operator{"!=", TokenKind::not_equal},
    Operator{"<=", TokenKind::less_equal},   Operator{">=", TokenKind::greater_equal},
    Operator{"&&", TokenKind::op_and},       Operator{"||", TokenKind::op_or},
    Operator{"<", TokenKind::less},          Operator{">", TokenKind::greater},
    Operator{"!", TokenKind::op_not},        Operator{"(", TokenKind::open_paren},
    Operator{")", TokenKind::close_paren},   Operator{"[", TokenKind::open_bracket},
    Operator{"]", TokenKind::close_bracket}, Operator{",", TokenKind::comma},
};

}  // namespace

Token Lexer::next() {
    skip_blanks();
    if (at_ >= text_.size()) return make(TokenKind::end, text_.size());
    const char c = text_[at_];
    if (c == '\'' || c == '"') return read_text();
    if (is_digit(c) || (c == '-' && at_ + 1 < text_.size() && is_digit(text_[at_ + 1]))) return read_number();
    if (is_name_start(c)) return read_name();
    return read_operator();
}

void Lexer::skip_blanks() {
    while (at_ < text_.size() && is_blank(text_[at_])) ++at_;
}

Token Lexer::make(TokenKind kind, std::size_t start) const {
    Token token;
    token.kind = kind;
    token.position = start;
    token.source = text_.substr(start, at_ - start);
    return token;
}

Token Lexer::read_text() {
    const std::size_t start = at_;
    const char quote = text_[at_++];
    std::string value;
    while (at_ < text_.size() && text_[at_] != quote) {
        char c = text_[at_++];
        // Only the quotes and the backslash are escaped; other backslashes belong to the text
        // (regular expressions use them).
        if (c == '\\' && at_ < text_.size()) {
            const char escaped = text_[at_];
            if (escaped == '\'' || escaped == '"' || escaped == '\\') {
                c = escaped;
                ++at_;
            }
        }
        value.push_back(c);
    }
    if (at_ >= text_.size()) throw SyntaxError(SyntaxError::Kind::syntax, "unterminated text", start);
    ++at_;
    Token token = make(TokenKind::text, start);
    token.value = std::move(value);
    return token;
}

Token Lexer::read_number() {
    const std::size_t start = at_;
    const bool negative = text_[at_] == '-';
    if (negative) ++at_;
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : std::numeric_limits<std::uint64_t>::max();
    std::uint64_t magnitude = 0;
    bool too_big = false;
    while (at_ < text_.size() && is_digit(text_[at_])) {
        const auto digit = static_cast<std::uint64_t>(text_[at_++] - '0');
        too_big = too_big || magnitude > (limit - digit) / 10;
        if (!too_big) magnitude = magnitude * 10 + digit;
    }
    if (at_ < text_.size() && (is_name_char(text_[at_]) || text_[at_] == '.')) {
        throw SyntaxError(SyntaxError::Kind::syntax, "malformed number", start);
    }
    if (too_big) throw SyntaxError(SyntaxError::Kind::syntax, "number out of range", start);
    Token token = make(TokenKind::number, start);
    token.number = negative ? Number{magnitude != 0, magnitude} : Number::from_unsigned(magnitude);
    return token;
}

Token Lexer::read_name() {
    const std::size_t start = at_;
    while (true) {
        while (at_ < text_.size() && is_name_char(text_[at_])) ++at_;
        if (at_ >= text_.size() || text_[at_] != '.') break;
        ++at_;
        if (at_ >= text_.size() || !is_name_char(text_[at_])) {
            throw SyntaxError(SyntaxError::Kind::syntax, "expected a name after '.'", at_);
        }
    }
    Token token = make(TokenKind::name, start);
    for (const auto& keyword : keywords) {
        if (token.source == keyword.word) {
            token.kind = keyword.kind;
            return token;
        }
    }
    token.value = std::string(token.source);
    return token;
}

Token Lexer::read_operator() {
    const std::size_t start = at_;
    for (const auto& op : operators) {
        if (text_.substr(at_, op.spelling.size()) == op.spelling) {
            at_ += op.spelling.size();
            return make(op.kind, start);
        }
    }
    throw SyntaxError(SyntaxError::Kind::syntax, "unexpected character " + describe_char(text_[at_]), start);
}

}  // namespace amxp::expr
