// Query expressions of the device map: which devices a query selects.
//
//     not self and physical and .PhysAddress matches "01:23:45:67:89:ab"
//
//   expression := term ("or" term)*
//   term       := factor ("and" factor)*
//   factor     := "not" factor | "(" expression ")" | test
//   test       := WORD                      true when the device carries that tag
//               | FIELD "matches" TEXT      POSIX extended regex, case-insensitive, found anywhere
//               | FIELD "==" TEXT           the parameter's text is exactly TEXT
//               | FIELD "!=" TEXT           it is not (also true when there is no such parameter)
//   WORD  := [A-Za-z0-9_-]+ other than not, and, or, matches
//   FIELD := "." [A-Za-z_][A-Za-z0-9_-]*    a parameter of the device, compared as text
//   TEXT  := '"' ... '"'  where \" and \\ stand for " and \; any other backslash is kept as
//            written, so regular expressions need no doubling
// "not" binds tightest, then "and", then "or". Keywords are lower case.
#ifndef DEVICES_EXPRESSION_H
#define DEVICES_EXPRESSION_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device_fields.h"
#include "pattern.h"

namespace devices {

// Bounds on what a client may send: longer or deeper expressions are refused.
inline constexpr std::size_t kExpressionMaxLength = 4096;
inline constexpr std::size_t kExpressionMaxDepth = 32;  // nested parentheses and "not"

// Why a text is not an expression, and the 0-based byte offset where the fault lies.
struct ParseError {
    std::string message;
    std::size_t position = 0;
};

// A compiled expression. Immutable once parsed; evaluation allocates nothing.
class Expression {
public:
    // The expression `text` stands for, or nullptr with `error` filled.
    static std::unique_ptr<Expression> parse(std::string_view text, ParseError& error);

    bool matches(const DeviceFields& device) const;

    // Calls fn(name, position) for each parameter the expression reads, in text order.
    void for_each_field(const std::function<void(const std::string&, std::size_t)>& fn) const;

    struct Node {
        enum class Kind { tag, matches, equals, differs, negation, all, any };
        Kind kind = Kind::tag;
        std::string name;                  // tag or parameter name
        std::string text;                  // operand of == and !=
        std::unique_ptr<Pattern> pattern;  // operand of matches
        std::size_t position = 0;          // of the tag or field in the text
        std::vector<Node> children;        // negation: one; all, any: two or more
    };

private:
    explicit Expression(Node root) : root_(std::move(root)) {}

    Node root_;
};

}  // namespace devices

#endif  // DEVICES_EXPRESSION_H
