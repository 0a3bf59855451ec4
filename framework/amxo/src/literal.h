// Turns literals of the syntax tree into variants.
#pragma once

#include "ast.h"
#include "config.h"
#include "var.h"

namespace amxo {

// The variant of a literal: texts are expanded with `config`; integers become int32 when they
// fit, else int64 or uint64; lists and tables keep their order. Throws LoadError for an
// integer out of range, a duplicate table key or a failed expansion.
VarPtr literal_to_var(const Value& value, const Config& config);

// The literal as it could be quoted in a message: the expanded text, the integer, true/false.
std::string describe_literal(const Value& value, const Config& config);

}  // namespace amxo
