// Loading as a whole: configuration, imports and includes.

#include <string>
#include <vector>

#include <amxc/amxc_scoped_var.h>

#include "amxo_fixture.h"

namespace {

using Loading = AmxoTest;

TEST_F(Loading, ValuesSetFromOutsideWinWhateverTheOrder) {
    set_text("prefix_", "CLI_");
    set_text("firewall.backend", "nftables");
    ASSERT_EQ(parse(R"(
%config { prefix_ = "FILE_"; firewall = { backend = "memory"; trace = 1; }; }
%define { object "${prefix_}Root" { } }
)"), 0) << message();
    EXPECT_EQ(config_text("prefix_"), "CLI_");
    EXPECT_EQ(config_text("firewall.backend"), "nftables");
    EXPECT_EQ(config_text("firewall.trace"), "1");
    EXPECT_NE(find("CLI_Root"), nullptr) << "expansion sees the winning value";

    set_text("firewall.trace", "9");
    EXPECT_EQ(config_text("firewall.trace"), "9");

    amxc::ScopedVar v;
    EXPECT_NE(amxo_parser_set_config(parser_, "prefix_.deeper", v.get()), 0) << "prefix_ is a text, not a table";
    EXPECT_NE(amxo_parser_set_config(parser_, "", v.get()), 0);
    EXPECT_NE(amxo_parser_set_config(parser_, "a..b", v.get()), 0);
    std::string deep = "a";
    for (int i = 0; i < 100; ++i) {
        deep += ".a";
    }
    EXPECT_NE(amxo_parser_set_config(parser_, deep.c_str(), v.get()), 0);
    EXPECT_EQ(config_text("prefix_"), "CLI_");
}

TEST_F(Loading, IncludesAreRelativeToTheIncludingFile) {
    ASSERT_EQ(parse_file(data("include/main.def")), 0) << message();
    // Main's value was set in an included file: configuration from an include holds after it.
    EXPECT_EQ(dump(), "Second type=1 name=Second\n  Where:cstring_t=parts\nFirst type=1 name=First\n"
                      "Main type=1 name=Main\n  FromMain:cstring_t=first\n");
}

// Text from an untrusted source must not reach other files: the fuzzed loader depends on it.
TEST_F(Loading, AConfinedParserReadsNoOtherFileAndImportsOnlyFromItsFolders) {
    ASSERT_EQ(amxo_parser_confine(parser_), 0);
    EXPECT_NE(amxo_parser_confine(nullptr), 0);
    const std::string by_path = std::string(AMXO_TEST_MODULES) + "/test-module-a.so";
    EXPECT_NE(parse("import \"" + by_path + "\";"), 0);
    EXPECT_EQ(message(), "<string>:1: module '" + by_path + "' refused: this parser imports plain file names only");
    EXPECT_NE(parse("import \"../modules/test-module-a.so\";"), 0);
    EXPECT_NE(parse("%config { m = \"/\"; }\nimport \"${m}test-module-a.so\";"), 0) << "expanded names too";
    EXPECT_NE(parse_file(data("include/main.def")), 0);
    EXPECT_EQ(message(), data("include/main.def") + ":3: include 'parts/first.def' refused: this parser reads no other file");
    EXPECT_EQ(find("First"), nullptr);
    EXPECT_FALSE(module_loaded("a"));

    ASSERT_EQ(parse("import \"test-module-a.so\" as \"a\";\nentry-point a._test_main;"), 0) << message();
    EXPECT_EQ(amxo_parser_invoke_entry_points(parser_, dm_, 0), 0);
    EXPECT_EQ(take_records(), std::vector<std::string>{"a: main 0 prefix=(none)"});
}

TEST_F(Loading, TextsKeepEscapesAndSingleQuotesKeepEverything) {
    ASSERT_EQ(parse(R"(%config { v = "x"; a = "\${v} \"${v}\"\t"; b = '${v} \d'; })"), 0) << message();
    EXPECT_EQ(config_text("a"), "${v} \"x\"\t");
    EXPECT_EQ(config_text("b"), "${v} \\d");
}

}  // namespace
