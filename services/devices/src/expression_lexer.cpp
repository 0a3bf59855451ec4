#include "expression_lexer.h"

#include <cstdio>

namespace devices {
namespace {

bool is_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A character as it can be shown in a message: printable ASCII quoted, anything else as hex.
std::string shown(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if(byte >= 0x20 && byte < 0x7f) {
        return std::string("'") + c + "'";
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", byte);
    return hex;
}

}  // namespace

std::string describe(const Token& token) {
    switch(token.kind) {
    case Token::Kind::word: return "'" + token.value + "'";
    case Token::Kind::field: return "'." + token.value + "'";
    case Token::Kind::text: return "a quoted text";
    case Token::Kind::open: return "'('";
    case Token::Kind::close: return "')'";
    case Token::Kind::equals: return "'=='";
    case Token::Kind::differs: return "'!='";
    case Token::Kind::end: break;
    }
    return "the end";
}

bool Lexer::next(Token& token, ParseError& error) {
    while(at_ < text_.size() && is_blank(text_[at_])) {
        ++at_;
    }
    token = Token{};
    token.position = at_;
    if(at_ >= text_.size()) {
        token.kind = Token::Kind::end;
        return true;
    }
    const char c = text_[at_];
    const std::string_view rest = text_.substr(at_);
    if(c == '"') {
        return read_text(token, error);
    }
    if(c == '(' || c == ')') {
        token.kind = c == '(' ? Token::Kind::open : Token::Kind::close;
        ++at_;
        return true;
    }
    if(rest.starts_with("==") || rest.starts_with("!=")) {
        token.kind = c == '=' ? Token::Kind::equals : Token::Kind::differs;
        at_ += 2;
        return true;
    }
    if(c == '.') {
        if(at_ + 1 >= text_.size() || !is_name_start(text_[at_ + 1])) {
            error = ParseError{"expected a parameter name after '.'", at_ + 1};
            return false;
        }
        std::size_t end = at_ + 1;
        while(end < text_.size() && is_word_char(text_[end])) {
            ++end;
        }
        token.kind = Token::Kind::field;
        token.value = text_.substr(at_ + 1, end - at_ - 1);
        at_ = end;
        return true;
    }
    if(is_word_char(c)) {
        std::size_t end = at_;
        while(end < text_.size() && is_word_char(text_[end])) {
            ++end;
        }
        token.kind = Token::Kind::word;
        token.value = text_.substr(at_, end - at_);
        at_ = end;
        return true;
    }
    error = ParseError{"unexpected character " + shown(c), at_};
    return false;
}

bool Lexer::read_text(Token& token, ParseError& error) {
    const std::size_t open = at_;
    std::size_t i = at_ + 1;
    std::string value;
    while(i < text_.size() && text_[i] != '"') {
        if(text_[i] == '\\' && i + 1 < text_.size() && (text_[i + 1] == '"' || text_[i + 1] == '\\')) {
            ++i;
        }
        value += text_[i];
        ++i;
    }
    if(i >= text_.size()) {
        error = ParseError{"text not closed by '\"'", open};
        return false;
    }
    token.kind = Token::Kind::text;
    token.value = std::move(value);
    at_ = i + 1;
    return true;
}

}  // namespace devices
