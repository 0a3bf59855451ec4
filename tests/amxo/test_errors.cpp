// Refused loads. Each is tried on top of data/baseline.def, and afterwards the data model, the
// configuration, the entry points and the loaded modules must be exactly as the baseline left
// them, and the parser must still load a good text.

#include <fstream>
#include <string>

#include "amxo_fixture.h"

namespace {

class OnBaseline : public AmxoTest {
protected:
    void SetUp() override {
        AmxoTest::SetUp();
        ASSERT_EQ(parse_file(data("baseline.def")), 0) << message();
        run_loop();
        take_records();
        before_ = state();
    }

    // Configuration, entry points and tree in one text.
    std::string state() {
        std::string out = dump();
        out += "prefix_=" + config_text("prefix_") + " extra=" + config_text("extra") + "\n";
        out += "entry point failures " + std::to_string(amxo_parser_invoke_entry_points(parser_, dm_, 5)) + "\n";
        for (const std::string& r : take_records()) {
            out += r + "\n";
        }
        return out;
    }

    void expect_refused(int rc, const std::string& expected, const std::string& what) {
        EXPECT_NE(rc, 0) << what;
        EXPECT_EQ(message(), expected) << what;
        run_loop();
        // Validate actions may have run while the refused transaction was tried; nothing else of
        // the failed load may: no event handler, no destroy action, no entry point.
        for (const std::string& record : take_records()) {
            EXPECT_TRUE(record.find(": refuse 8 ") != std::string::npos || record.find(": range ") != std::string::npos)
                << record;
        }
        EXPECT_FALSE(module_loaded("b")) << what << ": the failed load's imports must be closed";
        EXPECT_EQ(state(), before_) << what;
    }

    void expect_still_usable() {
        EXPECT_EQ(parse("%define { object Device { object AfterFailure { string A; } } }"), 0) << message();
        EXPECT_STREQ(amxo_parser_get_message(parser_), "");
    }

    std::string before_;
};

TEST_F(OnBaseline, RefusedTextsNameTheLineAndWhatWasFound) {
    const std::pair<const char*, const char*> cases[] = {
        {"%define {\n object A {\n string B = ;\n }\n}", "<string>:3: expected a value, found ';'"},
        {"%define { object A[ { } }", "<string>:1: expected ']' after '[' of a multi-instance object, found '{'"},
        {"%define { object A {\n string B\n string C; } }", "<string>:3: expected '{' or ';' after the parameter, found 'string'"},
        {"import test.so;", "<string>:1: expected a module file name in quotes, found 'test'"},
        {"%config { a = 1 }", "<string>:1: expected ';' after the value of 'a', found '}'"},
        {"%config { a = [1 2]; }", "<string>:1: expected ']' or ',' in list, found '2'"},
        {"%config { a = 12abc; }", "<string>:1: malformed number"},
        {"%config { a = \"\\q\"; }", "<string>:1: unknown escape \\q"},
        {"%config { a = \"${}\"; }", "<string>:1: malformed ${...} reference"},
        {"%config { a = 99999999999999999999; }", "<string>:1: integer 99999999999999999999 out of range"},
        {"%config { a = 1; a = 2; }", "<string>:1: duplicate key 'a'"},
        {"%config { t = { x = 1; x = 2; }; }", "<string>:1: duplicate key 'x'"},
        {"%define { object A { on action validate call; } }", "<string>:1: expected a function name, found ';'"},
        {"%define { object A { %secret string B; } }", "<string>:1: unknown parameter attribute '%secret'"},
        {"%define { object A { %read-only object B { } } }", "<string>:1: attribute '%read-only' does not apply here"},
        {"%define {\n object A {", "<string>:2: expected a declaration or '}', found end of file"},
        {"object A { }", "<string>:1: expected a section or a statement, found 'object'"},
        {"%define { object A {\n string B = \"no end;\n } }", "<string>:2: unterminated string"},
        {"%define { object A { string B; } }\n/* runs to\n the end", "<string>:2: unterminated comment"},
        {"%define { object A { strng B; } }", "<string>:1: unknown type 'strng'"},
        {"%define { object A { object T { } object T { } } }", "<string>:1: duplicate object 'T'"},
        {"import \"test-module-b.so\" as \"b\";\n%define { object A { string N; bool N; } }",
         "<string>:2: duplicate parameter 'N'"},
        {"import \"test-module-b.so\" as \"b\";\n%define { object A { uint32 C = \"many\"; } }",
         "<string>:2: default \"many\" of 'C' is not a valid uint32"},
        {"%define { object A { uint32 C = -1; } }", "<string>:1: default -1 of 'C' is not a valid uint32"},
        {"import \"test-module-b.so\" as \"b\";\nimport \"no-such-module.so\" as \"nope\";",
         "<string>:2: module 'no-such-module.so' not found"},
        {"import \"test-module-b.so\" as \"b\";\n%define { object A { on action destroy call _no_such_function; } }",
         "<string>:2: unknown function '_no_such_function'"},
        // Only the module's own symbols bind, not those of the libraries below it.
        {"import \"test-module-b.so\" as \"b\";\n%define { object A { on action destroy call free; } }",
         "<string>:2: unknown function 'free'"},
        {"%config { p = \"a.b\"; } %define { object \"${p}\" { } }", "<string>:1: invalid object name 'a.b'"},
        {"%define { object \"9lives\" { } }", "<string>:1: invalid object name '9lives'"},
        {"%define { object A { string \"\"; } }", "<string>:1: invalid parameter name ''"},
        {"%define { object A { string P; object P { } } }", "<string>:1: object 'P' has the name of a parameter"},
        // %populate: what cannot apply is refused before anything changes.
        {"%populate { object Device.Table { parameter Name = \"1\"; } }",
         "<string>:1: 'Device.Table.' is a multi-instance object; set parameters on its instances"},
        {"%populate { object Device.Base { instance add(); } }", "<string>:1: 'Device.Base.' is not a multi-instance object"},
        {"%populate { object Device.Table { instance add(0, \"a\") { parameter Port = \"many\"; } } }",
         "<string>:1: value 'many' is not valid for 'Port' (uint32_t)"},
        {"%populate { object Device.Table { instance add(0, \"a\"); instance add(0, \"a\"); } }",
         "<string>:1: instance 'a' of 'Device.Table.' already exists"},
        {"%populate { object Device.Table { instance add(4); instance add(4); } }",
         "<string>:1: instance 4 of 'Device.Table.' already exists"},
        {"%populate { object Device.Table.nothing { } }", "<string>:1: no instance 'nothing' in 'Device.Table.'"},
        {"%populate { object Device.Table { instance add(0, \"123\"); } }", "<string>:1: invalid instance name '123'"},
        {"%populate { object Device..X { } }", "<string>:1: expected an object path, found '.'"},
        {"%populate { object \"Device..X\" { } }", "<string>:1: invalid object path 'Device..X'"},
        {"%populate { object Device.Table { instance add(0, \"a\") { parameter Port = 5000; } } }",
         "<string>:1: populate refused: invalid value for Device.Table.2.Port"},
    };
    for (const auto& [text, expected] : cases) {
        expect_refused(parse(text), expected, text);
    }
    expect_still_usable();
}

// Files whose failure comes late, after imports, definitions and populated instances.
TEST_F(OnBaseline, RefusedFilesLeaveEverythingAsBefore) {
    for (const char* name : {"include_loop.def", "late_failure.def", "populate_refused.def"}) {
        const std::string path = data(std::string("errors/") + name);
        std::ifstream in(path);
        std::string expected;
        std::getline(in, expected);
        std::getline(in, expected);  // "# expect: <message>", the place relative to data/errors
        expect_refused(parse_file(path), data("errors/") + expected.substr(std::string("# expect: ").size()), path);
    }
    expect_still_usable();
}

// Input shaped to exhaust the loader: each must end in a clear refusal, not a crash or a hang.
using HostileInput = AmxoTest;

// A definition opening `depth` nested objects O0, O1, ... and closing none.
std::string nested_objects(int depth) {
    std::string text = "%define {";
    for (int i = 0; i < depth; ++i) {
        text += " object O" + std::to_string(i) + " {";
    }
    return text;
}

TEST_F(HostileInput, DeepNestingOverlongTokensAndRunawayExpansionAreRefusedAtTheirCaps) {
    // Each value doubles the one before; without a cap this reaches gigabytes.
    std::string doubling = "%config { v0 = \"" + std::string(1000, 'x') + "\";";
    for (int i = 1; i < 40; ++i) {
        doubling += " v" + std::to_string(i) + " = \"${v" + std::to_string(i - 1) + "}${v" + std::to_string(i - 1) + "}\";";
    }
    const std::pair<std::string, std::string> cases[] = {
        {nested_objects(10000), "<string>:1: blocks nested deeper than 32 levels"},
        {"%config { deep = " + std::string(10000, '['), "<string>:1: blocks nested deeper than 32 levels"},
        {"%config { a = \"" + std::string(70000, 'x') + "\"; }", "<string>:1: token longer than 65536 bytes"},
        {"%define { object " + std::string(70000, 'x') + " { } }", "<string>:1: token longer than 65536 bytes"},
        {doubling + " }", "<string>:1: text longer than 65536 bytes after expansion"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_NE(parse(text), 0);
        EXPECT_EQ(message(), expected);
    }
    EXPECT_EQ(dump(), "");
    EXPECT_EQ(amxo_parser_get_config(parser_, "v0"), nullptr) << "a refused %config changes nothing";

    // %define counts as one level; 31 objects fit below it.
    EXPECT_EQ(parse(nested_objects(31) + std::string(31, '}') + " }"), 0) << message();
    EXPECT_NE(find("O0.O1.O2.O3.O4.O5.O6.O7.O8.O9.O10.O11.O12.O13.O14.O15.O16.O17.O18.O19.O20.O21.O22.O23.O24.O25.O26.O27.O28.O29.O30"), nullptr);
}

TEST_F(HostileInput, NulBytesAndControlCharactersAreRefused) {
    const std::string with_nul("%define { object \"a\0b\" { } }", 29);
    EXPECT_NE(parse_file_text(with_nul), 0);
    EXPECT_NE(message().find(":1: NUL byte in string"), std::string::npos) << message();
    EXPECT_NE(parse_file_text(std::string("%define {\n\x01 }")), 0);
    EXPECT_NE(message().find(":2: unexpected character 0x01"), std::string::npos) << message();
}

TEST_F(HostileInput, OversizedAndSpecialFilesAreRefused) {
    EXPECT_NE(parse_file_text(std::string(5 << 20, '#')), 0);
    EXPECT_NE(message().find("' is larger than 4194304 bytes"), std::string::npos) << message();
    EXPECT_NE(parse_file("/tmp"), 0);
    EXPECT_EQ(message(), "/tmp: '/tmp' is not a regular file");
    EXPECT_NE(parse_file("/dev/zero"), 0);
    EXPECT_EQ(message(), "/dev/zero: '/dev/zero' is not a regular file");
}

}  // namespace
