#ifndef AMXP_EXPR_PARSER_H
#define AMXP_EXPR_PARSER_H

#include <string_view>

#include "expr_ast.h"

namespace amxp::expr {

// Compiles an expression text into a tree. Throws SyntaxError for a malformed text (including
// over-long or over-deep ones and bad regular expressions); std::bad_alloc when out of memory.
NodePtr parse_expression(std::string_view text);

}  // namespace amxp::expr

#endif
