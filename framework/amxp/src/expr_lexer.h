#ifndef AMXP_EXPR_LEXER_H
#define AMXP_EXPR_LEXER_H

#include <cstddef>
#include <string>
#include <string_view>

#include "expr_syntax_error.h"
#include "expr_value.h"

namespace amxp::expr {

enum class TokenKind {
    end,
    text,     // 'quoted' or "quoted"; `value` holds it unescaped
    number,   // `number` holds it
    name,     // a dotted field path or a function name; `value` holds it
    kw_true,
    kw_false,
    kw_in,
    kw_matches,
    kw_starts,
    kw_with,
    op_not,  // ! or not
    op_and,  // && or and
    op_or,   // || or or
    equal,
    not_equal,
    less,
    greater,
    less_equal,
    greater_equal,
    open_paren,
    close_paren,
    open_bracket,
    close_bracket,
    comma,
};

struct Token {
    TokenKind kind = TokenKind::end;
    std::size_t position = 0;  // byte offset of the token's first character
    std::string_view source;   // the token as written
    std::string value;
    Number number;
};

// Splits an expression text into tokens, one at a time. Throws SyntaxError on a malformed token.
class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}
    Token next();

private:
    void skip_blanks();
    Token read_text();
    Token read_number();
    Token read_name();
    Token read_operator();
    Token make(TokenKind kind, std::size_t start) const;

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace amxp::expr

#endif
