#ifndef AMXP_EXPR_SYNTAX_ERROR_H
#define AMXP_EXPR_SYNTAX_ERROR_H

#include <cstddef>
#include <stdexcept>
#include <string>

namespace amxp::expr {

// Why an expression text was refused, and where. Thrown while compiling only.
class SyntaxError : public std::runtime_error {
public:
    enum class Kind { syntax, regex };
    SyntaxError(Kind kind, const std::string& what, std::size_t position)
        : std::runtime_error(what + " at " + std::to_string(position)), kind_(kind), position_(position) {}
    Kind kind() const { return kind_; }
    std::size_t position() const { return position_; }

private:
    Kind kind_;
    std::size_t position_;
};

}  // namespace amxp::expr

#endif
