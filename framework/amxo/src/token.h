// Tokens of the definition language.
#pragma once

#include <string>
#include <vector>

#include "load_error.h"

namespace amxo {

// A double-quoted text is kept in pieces so that ${name} references are expanded when the
// statement runs (with the configuration as it is then), while an escaped "\${" stays literal.
struct TextPiece {
    std::string text;           // literal text, or the configuration path of a reference
    bool is_reference = false;
};
using Text = std::vector<TextPiece>;

enum class TokenKind {
    Name,       // object, Enable, del-inst, _accesscontrol_added
    Directive,  // %config, %read-only (text holds the name without '%')
    String,     // "..." (pieces may hold references) or '...' (one literal piece)
    Integer,    // -1, 65535 (text holds the literal)
    Punct,      // one of { } [ ] ( ) ; , = .
    End
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;   // Name, Directive, Integer, Punct
    Text pieces;        // String
    Location where;

    bool is(TokenKind k, std::string_view t) const { return kind == k && text == t; }
    bool is_punct(char c) const { return kind == TokenKind::Punct && text.size() == 1 && text[0] == c; }
};

}  // namespace amxo
