// Every file under data/errors/ is one refused load: its second line gives the exact message.
// Each is loaded on top of data/baseline.def, and afterwards the data model, the configuration,
// the entry points and the loaded modules must be exactly as the baseline left them.
#include <dirent.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <amxp/amxp_loop.h>

#include "amxo_fixture.h"

namespace {

const std::string kErrorsDir = std::string(AMXO_TEST_DATA) + "/errors";

struct ErrorCase {
    std::string file;
    std::string expected;
};

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::vector<ErrorCase> error_cases() {
    std::vector<ErrorCase> cases;
    DIR* dir = opendir(kErrorsDir.c_str());
    if (dir == nullptr) {
        return cases;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() < 5 || name.substr(name.size() - 4) != ".def") {
            continue;
        }
        std::ifstream in(kErrorsDir + "/" + name);
        std::string line;
        std::getline(in, line);
        std::getline(in, line);
        const std::string tag = "# expect: ";
        const std::string expected = line.rfind(tag, 0) == 0 ? line.substr(tag.size()) : "(no expect line)";
        cases.push_back(ErrorCase{name, kErrorsDir + "/" + replace_all(expected, "ERRORS", kErrorsDir)});
    }
    closedir(dir);
    std::sort(cases.begin(), cases.end(), [](const ErrorCase& a, const ErrorCase& b) { return a.file < b.file; });
    return cases;
}

class RefusedLoad : public AmxoTest, public ::testing::WithParamInterface<ErrorCase> {
protected:
    void SetUp() override {
        AmxoTest::SetUp();
        ASSERT_EQ(parse_file(data("baseline.def")), 0) << message();
        run_loop();
        take_records();
    }

    // Configuration, entry points and tree in one text.
    std::string state() {
        std::string out = dump();
        char* config = amxc_var_get_cstring_t(amxo_parser_get_config(parser_, "prefix_"));
        out += std::string("prefix_=") + (config != nullptr ? config : "(none)") + "\n";
        std::free(config);
        out += std::string("extra ") + (amxo_parser_get_config(parser_, "extra") != nullptr ? "set" : "unset") + "\n";
        out += "entry point failures " + std::to_string(amxo_parser_invoke_entry_points(parser_, dm_, 5)) + "\n";
        for (const std::string& r : take_records()) {
            out += r + "\n";
        }
        return out;
    }
};

TEST_P(RefusedLoad, LeavesEverythingAsBefore) {
    const ErrorCase& c = GetParam();
    const std::string before = state();

    EXPECT_NE(parse_file(kErrorsDir + "/" + c.file), 0);
    EXPECT_EQ(message(), c.expected);

    run_loop();
    // Validate actions may have run while the refused transaction was tried; nothing else of
    // the failed file may: no event handler, no destroy action, no entry point.
    for (const std::string& record : take_records()) {
        EXPECT_NE(record.find(": refuse 8 "), std::string::npos) << record;
    }
    EXPECT_FALSE(module_loaded("b")) << "the failed file's imports must be closed";
    EXPECT_EQ(state(), before);

    // The parser stays usable and a later good load still succeeds.
    EXPECT_EQ(parse("%define { object Device { object AfterFailure { string A; } } }"), 0) << message();
    EXPECT_STREQ(amxo_parser_get_message(parser_), "");
}

std::string case_name(const ::testing::TestParamInfo<ErrorCase>& param_info) {
    std::string name = param_info.param.file.substr(0, param_info.param.file.size() - 4);
    std::replace_if(name.begin(), name.end(), [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) == 0; }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(DataErrors, RefusedLoad, ::testing::ValuesIn(error_cases()), case_name);

TEST(ErrorCases, AreThere) {
    EXPECT_GE(error_cases().size(), 13u);
}

// Input shaped to exhaust the loader: each must end in a clear refusal, not a crash or a hang.
class HostileInput : public AmxoTest {};

TEST_F(HostileInput, DeepNestingOverlongTokensAndRunawayExpansionAreRefused) {
    std::string deep_objects = "%define {";
    for (int i = 0; i < 10000; ++i) {
        deep_objects += " object O" + std::to_string(i) + " {";
    }
    // Each value doubles the one before; without a cap this reaches gigabytes.
    std::string doubling = "%config { v0 = \"" + std::string(1000, 'x') + "\";";
    for (int i = 1; i < 40; ++i) {
        doubling += " v" + std::to_string(i) + " = \"${v" + std::to_string(i - 1) + "}${v" + std::to_string(i - 1) + "}\";";
    }
    const std::pair<std::string, std::string> cases[] = {
        {deep_objects, "<string>:1: blocks nested deeper than 32 levels"},
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
}

TEST_F(HostileInput, NestingUpToTheCapLoads) {
    // %define counts as one level; 31 objects fit below it.
    std::string text = "%define {";
    for (int i = 0; i < 31; ++i) {
        text += " object O" + std::to_string(i) + " {";
    }
    text += std::string(31, '}') + " }";
    EXPECT_EQ(parse(text), 0) << message();
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
    char path[] = "/tmp/amxo-big-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string chunk(1 << 20, '#');
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(write(fd, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
    }
    close(fd);
    EXPECT_NE(parse_file(path), 0);
    EXPECT_EQ(message(), std::string(path) + ": '" + path + "' is larger than 4194304 bytes");
    unlink(path);

    EXPECT_NE(parse_file("/tmp"), 0);
    EXPECT_EQ(message(), "/tmp: '/tmp' is not a regular file");
    EXPECT_NE(parse_file("/dev/zero"), 0);
    EXPECT_EQ(message(), "/dev/zero: '/dev/zero' is not a regular file");
}

}  // namespace
