// Builds the syntax tree of one definition file from its tokens.
#pragma once

#include <vector>

#include "ast.h"
#include "token.h"

namespace amxo {

// Parses a whole file. Throws LoadError ("file:line: expected ...") at the first fault; blocks
// nested deeper than kMaxNesting are refused, so recursion stays bounded.
Document parse_document(const std::vector<Token>& tokens);

}  // namespace amxo
