// The device map's query expressions: what they select, and what they refuse and where.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "expression.h"

namespace {

using devices::DeviceFields;
using devices::Expression;
using devices::ParseError;

DeviceFields device(const std::string& tags, const std::vector<std::pair<std::string, std::string>>& params = {}) {
    DeviceFields fields;
    fields.set_tags(tags);
    for(const auto& [name, text] : params) {
        fields.set(name, text);
    }
    return fields;
}

// Parses `text` (which must parse) and evaluates it on `fields`.
bool selects(const std::string& text, const DeviceFields& fields) {
    ParseError error;
    std::unique_ptr<Expression> expression = Expression::parse(text, error);
    EXPECT_NE(expression, nullptr) << text << ": " << error.message << " at " << error.position;
    return expression != nullptr && expression->matches(fields);
}

ParseError refusal(const std::string& text) {
    ParseError error;
    EXPECT_EQ(Expression::parse(text, error), nullptr) << text;
    return error;
}

// Tags are whole words of the tag list; not binds tighter than and, and than or; matches
// searches with an extended regular expression, case aside; == and != compare the whole text,
// and a parameter the device lacks equals nothing. (The gateway itself and devices that are not
// physical are left out of module rules in the golden case of network object rules.)
TEST(QueryExpression, SelectsWhatItSays) {
    const std::string module_rule = "not self and physical and .PhysAddress matches \"01:23:45:67:89:ab\"";
    const std::string escaped_value = R"(not self and physical and .PhysAddress matches "a\" or physical or \"b")";
    const struct {
        std::string expression;
        std::string tags;
        std::vector<std::pair<std::string, std::string>> params;
        bool selected;
    } cases[] = {
        {"physical", "  physical\tlan  wifi-5g ", {}, true},
        {"wifi-5g", "physical wifi-5g", {}, true},
        {"phys", "physical", {}, false},
        {"Physical", "physical", {}, false},
        {"physical", "", {}, false},
        {"a or b and c", "a", {}, true},
        {"a or b and c", "b", {}, false},
        {"a or b and c", "b c", {}, true},
        {"(a or b) and c", "a", {}, false},
        {"not a and b", "b", {}, true},
        {"not a and b", "a b", {}, false},
        {"not (a and b)", "a", {}, true},
        {"not not a", "a", {}, true},
        {"not (a or b)", "b", {}, false},
        {module_rule, "physical lan", {{"PhysAddress", "01:23:45:67:89:ab"}}, true},
        {module_rule, "physical", {{"PhysAddress", "01:23:45:67:89:AB"}}, true},
        {module_rule, "physical", {{"PhysAddress", "01:23:45:67:89:ac"}}, false},
        {module_rule, "physical", {}, false},
        {".Name matches \"laptop\"", "", {{"Name", "office-laptop.lan"}}, true},
        {".Name matches \"^office-(pc|laptop)\\.lan$\"", "", {{"Name", "office-laptop.lan"}}, true},
        {".Name matches \"^laptop\"", "", {{"Name", "office-laptop.lan"}}, false},
        {".Name matches \"office-laptop-lan\"", "", {{"Name", "office-laptop.lan"}}, false},
        {".Name matches \"[0-9]?\"", "", {{"Name", "office-laptop.lan"}}, true},
        {".Empty matches \"\"", "", {{"Empty", ""}}, true},
        {".Missing matches \"\"", "", {}, false},
        {".VendorClassID == \"MSFT 5.0\"", "", {{"VendorClassID", "MSFT 5.0"}}, true},
        {".VendorClassID == \"msft 5.0\"", "", {{"VendorClassID", "MSFT 5.0"}}, false},
        {".VendorClassID == \"MSFT\"", "", {{"VendorClassID", "MSFT 5.0"}}, false},
        {".VendorClassID != \"MSFT\"", "", {{"VendorClassID", "MSFT 5.0"}}, true},
        {".VendorClassID != \"MSFT 5.0\"", "", {{"VendorClassID", "MSFT 5.0"}}, false},
        {".ClientID == \"\"", "", {}, false},
        {".ClientID != \"x\"", "", {}, true},
        {R"(.Name == "say \"hi\" \\o/")", "", {{"Name", "say \"hi\" \\o/"}}, true},
        {R"(.Name == "say \"hi\" \o/")", "", {{"Name", "say \"hi\" \\o/"}}, true},  // a lone backslash stays
        {R"(.Name matches "\"hi\"")", "", {{"Name", "say \"hi\""}}, true},
        {"(physical)and(.Name==\"pc\")", "physical", {{"Name", "pc"}}, true},
        {"\n\tphysical\r\n", "physical", {}, true},
        // Braces inside a bracket expression or escaped are no repetition; bracket classes hold.
        // (Patterns that backtrack for minutes are a golden case: hostile patterns and values.)
        {".Name matches \"[{]a\\{1,999}\"", "", {{"Name", "{a{1,999}"}}, true},
        {".Name matches \"^[[:alpha:]]+-[[:digit:]]$\"", "", {{"Name", "Pc-1"}}, true},
        // A device property inserted escaped between the quotes of a rule is only a pattern.
        {escaped_value, "physical", {{"PhysAddress", "01:23:45:67:89:ab"}}, false},
        {escaped_value, "physical", {{"PhysAddress", "a\" or physical or \"b"}}, true},
    };
    for(const auto& c : cases) {
        EXPECT_EQ(selects(c.expression, device(c.tags, c.params)), c.selected) << c.expression << " on " << c.tags;
    }
}

struct Malformed {
    std::string text;
    std::size_t position;
    std::string message;  // a part of the message
};

TEST(QueryExpression, MalformedExpressionsAreRefusedWithThePosition) {
    const std::vector<Malformed> cases = {
        {"", 0, "empty expression"},
        {"   ", 3, "empty expression"},
        {"physical and", 12, "found the end"},
        {"physical physical", 9, "expected 'and', 'or' or the end"},
        {"and physical", 0, "found 'and'"},
        {"not", 3, "found the end"},
        {"(physical", 9, "expected ')'"},
        {"physical)", 8, "found ')'"},
        {"()", 1, "found ')'"},
        {".Name", 5, "expected 'matches', '==' or '!='"},
        {".Name matches", 13, "expected a quoted text after 'matches'"},
        {".Name matches physical", 14, "found 'physical'"},
        {".Name == .Name", 9, "found '.Name'"},
        {".Name matches \"abc", 14, "not closed"},
        {".Name matches \"abc\\\"", 14, "not closed"},
        {".Name = \"x\"", 6, "unexpected character '='"},
        {". Name == \"x\"", 1, "parameter name after '.'"},
        {".1st == \"x\"", 1, "parameter name after '.'"},
        {"physical && lan", 9, "unexpected character '&'"},
        {"\"physical\"", 0, "found a quoted text"},
        {"phys\x01 and lan", 4, "0x01"},
        {".Name matches \"(\"", 14, "invalid pattern"},
        {".Name matches \"(a)\\1\"", 14, "back-references"},
        // A device property inserted unescaped between the quotes of a rule cannot turn the rule
        // into one that selects every physical device: the stray text is no test of its own.
        {"not self and physical and .PhysAddress matches \"a\" or physical or \"b\"", 66, "found a quoted text"},
    };
    for(const Malformed& c : cases) {
        const ParseError error = refusal(c.text);
        EXPECT_EQ(error.position, c.position) << c.text << ": " << error.message;
        EXPECT_NE(error.message.find(c.message), std::string::npos) << c.text << ": " << error.message;
    }
}

TEST(QueryExpression, HostileSizesAreBounded) {
    const std::string longest = ".Name == \"" + std::string(devices::kExpressionMaxLength - 11, 'x') + "\"";
    ASSERT_EQ(longest.size(), devices::kExpressionMaxLength);
    EXPECT_FALSE(selects(longest, device("")));
    EXPECT_EQ(refusal(longest + " ").position, devices::kExpressionMaxLength);

    const std::size_t depth = devices::kExpressionMaxDepth;
    EXPECT_TRUE(selects(std::string(depth - 1, '(') + "a" + std::string(depth - 1, ')'), device("a")));
    const ParseError deep = refusal(std::string(depth, '(') + "a" + std::string(depth, ')'));
    EXPECT_EQ(deep.position, depth);
    EXPECT_NE(deep.message.find("nested deeper"), std::string::npos);
    std::string nots;
    for(std::size_t i = 0; i < 1000; ++i) {
        nots += "not ";
    }
    EXPECT_EQ(refusal(nots + "a").position, 4 * depth);

    // Long flat chains are no depth at all.
    std::string chain = "t0";
    for(int i = 1; i < 500; ++i) {
        chain += " or t" + std::to_string(i);
    }
    EXPECT_TRUE(selects(chain, device("t499")));
    EXPECT_FALSE(selects(chain, device("t500")));
}

// Patterns without special characters are searched for without the engine: the answers must
// be the engine's.
TEST(QueryExpression, PlainPatternsAnswerLikeTheEngine) {
    const std::vector<std::string> patterns = {"01:23:45:67:89:ab", "01:23:45:67:89:AB", "Pc-1", "a b", "", "z", "é"};
    const std::vector<std::string> texts = {"01:23:45:67:89:ab", "01:23:45:67:89:Ab", "x01:23:45:67:89:abx", "01:23:45:67:89:a",
                                            "pc-10", "PC-1", "xa bx", "ab", "", "É", "é"};
    for(const std::string& pattern : patterns) {
        std::string error;
        const std::unique_ptr<devices::Pattern> fast = devices::Pattern::compile(pattern, error);
        ASSERT_NE(fast, nullptr) << error;
        const std::unique_ptr<amxp::Regex> engine = amxp::Regex::compile(pattern, amxp::Regex::Case::insensitive, error);
        ASSERT_NE(engine, nullptr) << error;
        for(const std::string& text : texts) {
            EXPECT_EQ(fast->search(text), engine->search(text)) << pattern << " in " << text;
        }
    }
}

}  // namespace
