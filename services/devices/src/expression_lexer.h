// Splits a query expression into tokens (see expression.h for the language).
#ifndef DEVICES_EXPRESSION_LEXER_H
#define DEVICES_EXPRESSION_LEXER_H

#include <cstddef>
#include <string>
#include <string_view>

#include "expression.h"

namespace devices {

struct Token {
    enum class Kind { word, field, text, open, close, equals, differs, end };
    Kind kind = Kind::end;
    std::string value;         // word, field name (without the dot) or unescaped text
    std::size_t position = 0;  // first byte of the token
};

// How a token is named in error messages ("'and'", "a quoted text", "the end").
std::string describe(const Token& token);

class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    // The next token; false, with `error` filled, on a character that starts no token or a
    // text without its closing quote.
    bool next(Token& token, ParseError& error);

private:
    bool read_text(Token& token, ParseError& error);

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace devices

#endif  // DEVICES_EXPRESSION_LEXER_H
