// Loading as a whole: configuration, imports and includes.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "amxo_fixture.h"

namespace {

using Records = std::vector<std::string>;

class Loading : public AmxoTest {
protected:
    std::string config_text(const char* path) {
        char* s = amxc_var_get_cstring_t(amxo_parser_get_config(parser_, path));
        std::string out = s != nullptr ? s : "(absent)";
        std::free(s);
        return out;
    }
    void set_text(const char* path, const char* value) {
        amxc_var_t v;
        amxc_var_init(&v);
        amxc_var_set_cstring_t(&v, value);
        ASSERT_EQ(amxo_parser_set_config(parser_, path, &v), 0);
        amxc_var_clean(&v);
    }
};

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

    amxc_var_t v;
    amxc_var_init(&v);
    EXPECT_NE(amxo_parser_set_config(parser_, "prefix_.deeper", &v), 0) << "prefix_ is a text, not a table";
    EXPECT_NE(amxo_parser_set_config(parser_, "", &v), 0);
    EXPECT_NE(amxo_parser_set_config(parser_, "a..b", &v), 0);
    std::string deep = "a";
    for (int i = 0; i < 100; ++i) {
        deep += ".a";
    }
    EXPECT_NE(amxo_parser_set_config(parser_, deep.c_str(), &v), 0);
    EXPECT_EQ(config_text("prefix_"), "CLI_");
}

TEST_F(Loading, IncludesAreRelativeToTheIncludingFile) {
    ASSERT_EQ(parse_file(data("include/main.def")), 0) << message();
    EXPECT_NE(find("First"), nullptr);
    char* where = amxd_object_get_cstring_t(find("Second"), "Where", nullptr);
    EXPECT_STREQ(where, "parts");
    std::free(where);
    char* part = amxd_object_get_cstring_t(find("Main"), "FromMain", nullptr);
    EXPECT_STREQ(part, "first") << "configuration set in an included file holds after it";
    std::free(part);
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
    EXPECT_EQ(take_records(), (Records{"a: main 0 prefix=(none)"}));
}

TEST_F(Loading, TextsKeepEscapesAndSingleQuotesKeepEverything) {
    ASSERT_EQ(parse(R"(%config { v = "x"; a = "\${v} \"${v}\"\t"; b = '${v} \d'; })"), 0) << message();
    EXPECT_EQ(config_text("a"), "${v} \"x\"\t");
    EXPECT_EQ(config_text("b"), "${v} \\d");
}

}  // namespace
