// Recursive descent over the grammar in expression.h. Recursion only follows "(" and "not",
// whose nesting is bounded; chains of "and"/"or" are loops building one n-ary node.
#include <utility>

#include "expression.h"
#include "expression_lexer.h"

namespace devices {
namespace {

using Node = Expression::Node;

bool is_reserved(const std::string& word) {
    return word == "not" || word == "and" || word == "or" || word == "matches";
}

class Parser {
public:
    Parser(std::string_view text, ParseError& error) : lexer_(text), error_(error) {}

    bool run(Node& root) {
        if(!advance()) {
            return false;
        }
        if(current_.kind == Token::Kind::end) {
            return fail("empty expression", current_.position);
        }
        if(!expression(root, 0)) {
            return false;
        }
        if(current_.kind != Token::Kind::end) {
            return fail("expected 'and', 'or' or the end, found " + describe(current_), current_.position);
        }
        return true;
    }

private:
    using Operand = bool (Parser::*)(Node&, std::size_t);

    bool advance() { return lexer_.next(current_, error_); }

    bool fail(std::string message, std::size_t position) {
        error_ = ParseError{std::move(message), position};
        return false;
    }

    bool at_keyword(std::string_view keyword) const {
        return current_.kind == Token::Kind::word && current_.value == keyword;
    }

    bool expression(Node& out, std::size_t depth) { return chain(out, depth, "or", Node::Kind::any, &Parser::term); }

    bool term(Node& out, std::size_t depth) { return chain(out, depth, "and", Node::Kind::all, &Parser::factor); }

    // operand (keyword operand)*: the operand itself when alone, else one node of `kind`.
    bool chain(Node& out, std::size_t depth, std::string_view keyword, Node::Kind kind, Operand operand) {
        Node first;
        if(!(this->*operand)(first, depth)) {
            return false;
        }
        if(!at_keyword(keyword)) {
            out = std::move(first);
            return true;
        }
        out = Node{};
        out.kind = kind;
        out.children.push_back(std::move(first));
        while(at_keyword(keyword)) {
            if(!advance()) {
                return false;
            }
            Node next;
            if(!(this->*operand)(next, depth)) {
                return false;
            }
            out.children.push_back(std::move(next));
        }
        return true;
    }

    bool factor(Node& out, std::size_t depth) {
        if(depth >= kExpressionMaxDepth) {
            return fail("nested deeper than " + std::to_string(kExpressionMaxDepth) + " levels", current_.position);
        }
        if(at_keyword("not")) {
            if(!advance()) {
                return false;
            }
            Node child;
            if(!factor(child, depth + 1)) {
                return false;
            }
            out.kind = Node::Kind::negation;
            out.children.push_back(std::move(child));
            return true;
        }
        if(current_.kind == Token::Kind::open) {
            if(!advance() || !expression(out, depth + 1)) {
                return false;
            }
            if(current_.kind != Token::Kind::close) {
                return fail("expected ')', found " + describe(current_), current_.position);
            }
            return advance();
        }
        if(current_.kind == Token::Kind::word && !is_reserved(current_.value)) {
            out.kind = Node::Kind::tag;
            out.name = current_.value;
            out.position = current_.position;
            return advance();
        }
        if(current_.kind == Token::Kind::field) {
            return test(out);
        }
        return fail("expected a tag, a field, 'not' or '(', found " + describe(current_), current_.position);
    }

    bool test(Node& out) {
        out.name = current_.value;
        out.position = current_.position;
        const std::string field = describe(current_);
        if(!advance()) {
            return false;
        }
        std::string op;
        if(at_keyword("matches")) {
            out.kind = Node::Kind::matches;
            op = "'matches'";
        } else if(current_.kind == Token::Kind::equals || current_.kind == Token::Kind::differs) {
            out.kind = current_.kind == Token::Kind::equals ? Node::Kind::equals : Node::Kind::differs;
            op = describe(current_);
        } else {
            return fail("expected 'matches', '==' or '!=' after " + field + ", found " + describe(current_),
                        current_.position);
        }
        if(!advance()) {
            return false;
        }
        if(current_.kind != Token::Kind::text) {
            return fail("expected a quoted text after " + op + ", found " + describe(current_), current_.position);
        }
        if(out.kind == Node::Kind::matches) {
            std::string why;
            out.pattern = Pattern::compile(current_.value, why);
            if(out.pattern == nullptr) {
                return fail("invalid pattern: " + why, current_.position);
            }
        } else {
            out.text = current_.value;
        }
        return advance();
    }

    Lexer lexer_;
    ParseError& error_;
    Token current_;
};

}  // namespace

std::unique_ptr<Expression> Expression::parse(std::string_view text, ParseError& error) {
    if(text.size() > kExpressionMaxLength) {
        error = ParseError{"expression longer than " + std::to_string(kExpressionMaxLength) + " bytes",
                           kExpressionMaxLength};
        return nullptr;
    }
    Node root;
    Parser parser(text, error);
    if(!parser.run(root)) {
        return nullptr;
    }
    return std::unique_ptr<Expression>(new Expression(std::move(root)));
}

}  // namespace devices
