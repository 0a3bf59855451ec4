#include "lexer.h"

#include <cstdio>

#include "limits.h"

namespace amxo {
namespace {

bool is_name_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_name_char(char c) {
    return is_name_start(c) || is_digit(c) || c == '-';
}

// A configuration path inside ${...}: dotted names.
bool is_reference_char(char c) {
    return is_name_char(c) || c == '.';
}

class Lexer {
public:
    Lexer(std::string_view source, const std::shared_ptr<const std::string>& file)
        : src_(source), file_(file) {}

    std::vector<Token> run() {
        std::vector<Token> tokens;
        for (;;) {
            skip_blanks_and_comments();
            if (pos_ >= src_.size()) {
                tokens.push_back(make(TokenKind::End, {}));
                return tokens;
            }
            tokens.push_back(next());
        }
    }

private:
    Location here() const { return Location{file_, line_}; }

    Token make(TokenKind kind, std::string text) const {
        Token t;
        t.kind = kind;
        t.text = std::move(text);
        t.where = here();
        return t;
    }

    char peek(std::size_t ahead = 0) const {
        return pos_ + ahead < src_.size() ? src_[pos_ + ahead] : '\0';
    }

    bool at_end(std::size_t ahead = 0) const { return pos_ + ahead >= src_.size(); }

    void skip_blanks_and_comments() {
        while (!at_end()) {
            char c = peek();
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == '#' || (c == '/' && peek(1) == '/')) {
                while (!at_end() && peek() != '\n') {
                    ++pos_;
                }
            } else if (c == '/' && peek(1) == '*') {
                skip_block_comment();
            } else {
                return;
            }
        }
    }

    void skip_block_comment() {
        const Location start = here();
        pos_ += 2;
        for (;;) {
            if (at_end()) {
                fail(start, "unterminated comment");
            }
            if (peek() == '*' && peek(1) == '/') {
                pos_ += 2;
                return;
            }
            if (peek() == '\n') {
                ++line_;
            }
            ++pos_;
        }
    }

    Token next() {
        const char c = peek();
        if (is_name_start(c)) {
            return make(TokenKind::Name, take_while(is_name_char));
        }
        if (c == '%') {
            ++pos_;
            if (!is_name_start(peek())) {
                fail(here(), "expected a directive name after '%'");
            }
            return make(TokenKind::Directive, take_while(is_name_char));
        }
        if (is_digit(c) || ((c == '-' || c == '+') && is_digit(peek(1)))) {
            return integer();
        }
        if (c == '"') {
            return quoted();
        }
        if (c == '\'') {
            return raw_quoted();
        }
        if (std::string_view("{}[]();,=.").find(c) != std::string_view::npos) {
            ++pos_;
            return make(TokenKind::Punct, std::string(1, c));
        }
        fail(here(), "unexpected character " + describe(c));
    }

    static std::string describe(char c) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f) {
            return std::string("'") + c + "'";
        }
        char buf[8];
        std::snprintf(buf, sizeof buf, "0x%02x", u);
        return buf;
    }

    std::string take_while(bool (*accept)(char)) {
        const std::size_t start = pos_;
        while (!at_end() && accept(peek())) {
            ++pos_;
        }
        check_length(pos_ - start);
        return std::string(src_.substr(start, pos_ - start));
    }

    void check_length(std::size_t length) const {
        if (length > kMaxTokenLength) {
            fail(here(), "token longer than " + std::to_string(kMaxTokenLength) + " bytes");
        }
    }

    Token integer() {
        const std::size_t start = pos_;
        ++pos_;  // sign or first digit
        while (is_digit(peek())) {
            ++pos_;
        }
        check_length(pos_ - start);
        if (is_name_char(peek())) {
            fail(here(), "malformed number");
        }
        return make(TokenKind::Integer, std::string(src_.substr(start, pos_ - start)));
    }

    // Reads up to the closing quote; a line end or the end of input first is an error at the
    // line where the text began, which is where the reader has to look.
    Token quoted() {
        Token t = make(TokenKind::String, {});
        ++pos_;
        std::size_t length = 0;
        std::string literal;
        auto flush = [&] {
            if (!literal.empty()) {
                t.pieces.push_back(TextPiece{std::move(literal), false});
                literal.clear();
            }
        };
        for (;;) {
            if (at_end() || peek() == '\n') {
                fail(t.where, "unterminated string");
            }
            char c = peek();
            if (c == '"') {
                ++pos_;
                break;
            }
            if (c == '\0') {
                fail(here(), "NUL byte in string");
            }
            if (c == '\\') {
                literal += escape();
            } else if (c == '$' && peek(1) == '{') {
                flush();
                t.pieces.push_back(TextPiece{reference(), true});
            } else {
                literal += c;
                ++pos_;
            }
            check_length(++length);
        }
        flush();
        return t;
    }

    char escape() {
        const char c = peek(1);
        pos_ += 2;
        switch (c) {
        case '\\': return '\\';
        case '"': return '"';
        case '\'': return '\'';
        case '$': return '$';
        case 'n': return '\n';
        case 't': return '\t';
        case 'r': return '\r';
        default:
            fail(here(), "unknown escape \\" + (c == '\0' || c == '\n' ? std::string("at end of line") : std::string(1, c)));
        }
    }

    std::string reference() {
        pos_ += 2;  // "${"
        const std::size_t start = pos_;
        while (!at_end() && is_reference_char(peek())) {
            ++pos_;
        }
        if (peek() != '}' || pos_ == start) {
            fail(here(), "malformed ${...} reference");
        }
        std::string path(src_.substr(start, pos_ - start));
        ++pos_;
        return path;
    }

    // '...' is taken as written (no escapes, no references): filter expressions and regular
    // expressions keep their backslashes.
    Token raw_quoted() {
        Token t = make(TokenKind::String, {});
        ++pos_;
        const std::size_t start = pos_;
        while (!at_end() && peek() != '\'' && peek() != '\n') {
            if (peek() == '\0') {
                fail(here(), "NUL byte in string");
            }
            ++pos_;
        }
        if (at_end() || peek() != '\'') {
            fail(t.where, "unterminated string");
        }
        check_length(pos_ - start);
        t.pieces.push_back(TextPiece{std::string(src_.substr(start, pos_ - start)), false});
        ++pos_;
        return t;
    }

    std::string_view src_;
    std::shared_ptr<const std::string> file_;
    std::size_t pos_ = 0;
    unsigned line_ = 1;
};

}  // namespace

std::vector<Token> tokenize(std::string_view source, const std::shared_ptr<const std::string>& file) {
    return Lexer(source, file).run();
}

}  // namespace amxo
