#ifndef AMXP_EXPR_AST_H
#define AMXP_EXPR_AST_H

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <amxc/amxc_variant.h>

#include "amxp/amxp_regex.h"
#include "expr_value.h"

namespace amxp::expr {

// What one evaluation reads and reports besides its result.
struct EvalContext {
    const amxc_var_t* data = nullptr;
    bool engine_failed = false;  // the regex engine gave an error (not a mismatch)
};

// A node of a compiled expression. Nodes own their children; evaluation never changes them.
class Node {
public:
    virtual ~Node() = default;
    virtual Value evaluate(EvalContext& context) const = 0;
};

using NodePtr = std::unique_ptr<Node>;

class Literal final : public Node {
public:
    explicit Literal(bool flag) : kind_(Kind::boolean), flag_(flag) {}
    explicit Literal(Number number) : kind_(Kind::number), number_(number) {}
    explicit Literal(std::string text) : kind_(Kind::text), text_(std::move(text)) {}
    Value evaluate(EvalContext& context) const override;
    Value value() const;

private:
    enum class Kind { boolean, number, text };
    Kind kind_;
    bool flag_ = false;
    Number number_;
    std::string text_;
};

// A dotted path looked up in the event data.
class Field final : public Node {
public:
    explicit Field(std::string path) : path_(std::move(path)) {}
    Value evaluate(EvalContext& context) const override;

private:
    std::string path_;
};

// contains('path'): whether the path exists in the event data.
class Contains final : public Node {
public:
    explicit Contains(std::string path) : path_(std::move(path)) {}
    Value evaluate(EvalContext& context) const override;
    // The path cut before its last component ("parameters" and "Enable" of
    // "parameters.Enable"); nullopt for a path of one component, or with an empty one.
    std::optional<std::pair<std::string_view, std::string_view>> split() const;

private:
    std::string path_;
};

// contains('P.a') || contains('P.b') || ...: P looked up once, then each last component in it.
// An event filter asks so whether any of a dozen parameters changed.
class ContainsAny final : public Node {
public:
    ContainsAny(std::string prefix, std::vector<std::string> lasts) : prefix_(std::move(prefix)), lasts_(std::move(lasts)) {}
    Value evaluate(EvalContext& context) const override;

private:
    std::string prefix_;
    std::vector<std::string> lasts_;
};

class Not final : public Node {
public:
    explicit Not(NodePtr operand) : operand_(std::move(operand)) {}
    Value evaluate(EvalContext& context) const override;

private:
    NodePtr operand_;
};

// A chain of && (all) or || (any), evaluated left to right with short-circuit. Kept flat so
// that a long chain does not make a deep tree.
class Chain final : public Node {
public:
    enum class Kind { all, any };
    Chain(Kind kind, std::vector<NodePtr> operands) : kind_(kind), operands_(std::move(operands)) {}
    Value evaluate(EvalContext& context) const override;

private:
    Kind kind_;
    std::vector<NodePtr> operands_;
};

class Comparison final : public Node {
public:
    Comparison(NodePtr left, Relation relation, NodePtr right)
        : left_(std::move(left)), relation_(relation), right_(std::move(right)) {}
    Value evaluate(EvalContext& context) const override;

private:
    NodePtr left_;
    Relation relation_;
    NodePtr right_;
};

// a in [literal, ...]
class InList final : public Node {
public:
    InList(NodePtr operand, std::vector<Literal> choices) : operand_(std::move(operand)), choices_(std::move(choices)) {}
    Value evaluate(EvalContext& context) const override;

private:
    NodePtr operand_;
    std::vector<Literal> choices_;
};

// a matches 'ERE'
class Matches final : public Node {
public:
    Matches(NodePtr operand, std::unique_ptr<Regex> pattern) : operand_(std::move(operand)), pattern_(std::move(pattern)) {}
    Value evaluate(EvalContext& context) const override;

private:
    NodePtr operand_;
    std::unique_ptr<Regex> pattern_;
};

// a starts with b
class StartsWith final : public Node {
public:
    StartsWith(NodePtr operand, NodePtr prefix) : operand_(std::move(operand)), prefix_(std::move(prefix)) {}
    Value evaluate(EvalContext& context) const override;

private:
    NodePtr operand_;
    NodePtr prefix_;
};

}  // namespace amxp::expr

#endif
