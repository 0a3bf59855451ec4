// Recursive descent, one function per precedence level:
//   or      := and { ('||' | 'or') and }
//   and     := compare { ('&&' | 'and') compare }
//   compare := unary [ relation unary | 'in' list | 'matches' text | 'starts' 'with' unary ]
//   unary   := ('!' | 'not') unary | primary
//   primary := '(' or ')' | literal | name '(' text ')' | name

#include "expr_parser.h"

#include <amxp/amxp_expr.h>

#include "expr_lexer.h"

namespace amxp::expr {
namespace {

constexpr std::size_t quoted_source_max = 32;

class Parser {
public:
    explicit Parser(std::string_view text) : lexer_(text) { advance(); }

    NodePtr parse_all() {
        NodePtr root = parse_or();
        if (current_.kind != TokenKind::end) fail("unexpected " + describe(current_));
        return root;
    }

private:
    // Counts open parentheses and negations; the evaluation recursion follows the same depth.
    class Nesting {
    public:
        Nesting(Parser& parser, const Token& opener) : parser_(parser) {
            if (++parser_.depth_ > AMXP_EXPR_MAX_DEPTH) {
                parser_.fail_at("nesting deeper than " + std::to_string(AMXP_EXPR_MAX_DEPTH), opener.position);
            }
        }
        ~Nesting() { --parser_.depth_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        Parser& parser_;
    };

    [[noreturn]] void fail(const std::string& what) const { fail_at(what, current_.position); }
    [[noreturn]] void fail_at(const std::string& what, std::size_t position) const {
        throw SyntaxError(SyntaxError::Kind::syntax, what, position);
    }

    static std::string describe(const Token& token) {
        if (token.kind == TokenKind::end) return "end of expression";
        const bool cut = token.source.size() > quoted_source_max;
        std::string quoted = "'";
        quoted.append(token.source.substr(0, quoted_source_max));
        quoted.append(cut ? "...'" : "'");
        return quoted;
    }

    Token advance() {
        Token previous = std::move(current_);
        current_ = lexer_.next();
        return previous;
    }

    Token expect(TokenKind kind, const char* what) {
        if (current_.kind != kind) fail(std::string("expected ") + what);
        return advance();
    }

    NodePtr parse_or() { return parse_chain(TokenKind::op_or, Chain::Kind::any, &Parser::parse_and); }
    NodePtr parse_and() { return parse_chain(TokenKind::op_and, Chain::Kind::all, &Parser::parse_compare); }

    NodePtr parse_chain(TokenKind joiner, Chain::Kind kind, NodePtr (Parser::*parse_operand)()) {
        NodePtr first = (this->*parse_operand)();
        if (current_.kind != joiner) return first;
        std::vector<NodePtr> operands;
        operands.push_back(std::move(first));
        while (current_.kind == joiner) {
            advance();
            operands.push_back((this->*parse_operand)());
        }
        if (kind == Chain::Kind::any) {
            operands = merge_contains(std::move(operands));
            if (operands.size() == 1) return std::move(operands.front());
        }
        return std::make_unique<Chain>(kind, std::move(operands));
    }

    // Runs of contains() of one table's members become one ContainsAny each. The lookups have
    // no side effect, so which of them answers first changes nothing.
    static std::vector<NodePtr> merge_contains(std::vector<NodePtr> operands) {
        std::vector<NodePtr> merged;
        std::string prefix;
        std::vector<std::string> lasts;
        NodePtr single;  // the run's only operand, kept as it was
        auto flush = [&] {
            if (lasts.size() == 1) {
                merged.push_back(std::move(single));
            } else if (lasts.size() > 1) {
                merged.push_back(std::make_unique<ContainsAny>(std::move(prefix), std::move(lasts)));
            }
            lasts.clear();
        };
        for (NodePtr& operand : operands) {
            const auto* contains = dynamic_cast<const Contains*>(operand.get());
            const auto parts = contains != nullptr ? contains->split() : std::nullopt;
            if (!parts) {
                flush();
                merged.push_back(std::move(operand));
                continue;
            }
            if (!lasts.empty() && parts->first != prefix) flush();
            if (lasts.empty()) {
                prefix = std::string(parts->first);
                single = std::move(operand);
            }
            lasts.emplace_back(parts->second);
        }
        flush();
        return merged;
    }

    static bool relation_of(TokenKind kind, Relation& relation) {
        switch (kind) {
        case TokenKind::equal: relation = Relation::equal; return true;
        case TokenKind::not_equal: relation = Relation::not_equal; return true;
        case TokenKind::less: relation = Relation::less; return true;
        case TokenKind::greater: relation = Relation::greater; return true;
        case TokenKind::less_equal: relation = Relation::less_equal; return true;
        case TokenKind::greater_equal: relation = Relation::greater_equal; return true;
        default: return false;
        }
    }

    NodePtr parse_compare() {
        NodePtr left = parse_unary();
        Relation relation{};
        if (relation_of(current_.kind, relation)) {
            advance();
            return std::make_unique<Comparison>(std::move(left), relation, parse_unary());
        }
        switch (current_.kind) {
        case TokenKind::kw_in:
            advance();
            return std::make_unique<InList>(std::move(left), parse_literal_list());
        case TokenKind::kw_matches:
            advance();
            return std::make_unique<Matches>(std::move(left), parse_pattern());
        case TokenKind::kw_starts:
            advance();
            expect(TokenKind::kw_with, "'with' after 'starts'");
            return std::make_unique<StartsWith>(std::move(left), parse_unary());
        default:
            return left;
        }
    }

    NodePtr parse_unary() {
        if (current_.kind != TokenKind::op_not) return parse_primary();
        const Token negation = advance();
        const Nesting nesting(*this, negation);
        return std::make_unique<Not>(parse_unary());
    }

    NodePtr parse_primary() {
        switch (current_.kind) {
        case TokenKind::open_paren: {
            const Token opener = advance();
            const Nesting nesting(*this, opener);
            NodePtr inner = parse_or();
            expect(TokenKind::close_paren, "')'");
            return inner;
        }
        case TokenKind::name:
            return parse_name();
        default:
            if (!is_literal(current_.kind)) fail("expected an operand");
            return std::make_unique<Literal>(take_literal());
        }
    }

    static bool is_literal(TokenKind kind) {
        return kind == TokenKind::text || kind == TokenKind::number || kind == TokenKind::kw_true ||
               kind == TokenKind::kw_false;
    }

    // The current token, which is_literal accepted, as a literal.
    Literal take_literal() {
        Token token = advance();
        switch (token.kind) {
        case TokenKind::number: return Literal(token.number);
        case TokenKind::kw_true: return Literal(true);
        case TokenKind::kw_false: return Literal(false);
        default: return Literal(std::move(token.value));
        }
    }

    NodePtr parse_name() {
        Token name = advance();
        if (current_.kind != TokenKind::open_paren) return std::make_unique<Field>(std::move(name.value));
        if (name.value != "contains") fail_at("unknown function " + describe(name), name.position);
        advance();
        if (current_.kind != TokenKind::text) fail("expected a quoted path");
        Token path = advance();
        if (path.value.empty()) fail_at("empty path", path.position);
        expect(TokenKind::close_paren, "')'");
        return std::make_unique<Contains>(std::move(path.value));
    }

    std::vector<Literal> parse_literal_list() {
        expect(TokenKind::open_bracket, "'[' after 'in'");
        std::vector<Literal> choices;
        if (current_.kind == TokenKind::close_bracket) {
            advance();
            return choices;
        }
        while (true) {
            if (!is_literal(current_.kind)) fail("expected a literal");
            choices.push_back(take_literal());
            if (current_.kind == TokenKind::close_bracket) break;
            expect(TokenKind::comma, "',' or ']'");
        }
        advance();
        return choices;
    }

    std::unique_ptr<Regex> parse_pattern() {
        if (current_.kind != TokenKind::text) fail("expected a quoted regular expression");
        const Token pattern = advance();
        std::string reason;
        auto regex = Regex::compile(pattern.value, Regex::Case::sensitive, reason);
        if (!regex) throw SyntaxError(SyntaxError::Kind::regex, "invalid regular expression (" + reason + ")", pattern.position);
        return regex;
    }

    Lexer lexer_;
    Token current_;
    int depth_ = 0;
};

}  // namespace

NodePtr parse_expression(std::string_view text) {
    if (text.size() > AMXP_EXPR_MAX_LENGTH) {
        throw SyntaxError(SyntaxError::Kind::syntax, "expression longer than " + std::to_string(AMXP_EXPR_MAX_LENGTH) + " bytes",
                          AMXP_EXPR_MAX_LENGTH);
    }
    if (text.find_first_not_of(" \t\n\r\f\v") == std::string_view::npos) {
        throw SyntaxError(SyntaxError::Kind::syntax, "empty expression", 0);
    }
    return Parser(text).parse_all();
}

}  // namespace amxp::expr
