// Splits a definition text into tokens.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "token.h"

namespace amxo {

// Tokenizes `source`, whose name `file` appears in messages. Comments (// ..., # ... and
// /* ... */) and blanks are dropped; the result ends with one End token. Throws LoadError on
// an unterminated comment or text, a bad escape, an unexpected character or an over-long token.
std::vector<Token> tokenize(std::string_view source, const std::shared_ptr<const std::string>& file);

}  // namespace amxo
