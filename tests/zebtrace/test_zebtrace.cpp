// The trace library: exact line text (marks, zone width, source place), per-zone levels and
// the configuration text that sets them, where lines go, and the guard macros (also from C).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#define ME "networksettings"

#ifdef ZEBTRACE_TEST_WITH_FRAMEWORK_MACROS
extern "C" int guards_zebtrace_first(const char* text, int code);
extern "C" int guards_framework_first(const char* text);
#endif

namespace {

const std::string this_file = "tests/zebtrace/test_zebtrace.cpp";

struct CapturedLine {
    int level;
    std::string zone;
    std::string text;
};

// A compiler cache may spell the source place relative to the build folder ("(../tests/...");
// captured lines, and files compared with them, use the spelling from the project root.
std::string from_project_root(std::string text) {
    for (std::size_t at = text.find("(../"); at != std::string::npos; at = text.find("(../", at)) {
        text.erase(at + 1, 3);
    }
    return text;
}

void collect(int level, const char* zone, const char* line, void* priv) {
    static_cast<std::vector<CapturedLine>*>(priv)->push_back({level, zone, from_project_root(line)});
}

// Starts every test from the library's initial state with lines captured instead of printed.
class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        zebtrace_reset();
        zebtrace_set_capture(collect, &lines);
        zebtrace_set_quiet(true);
    }
    void TearDown() override { zebtrace_reset(); }

    std::vector<CapturedLine> lines;
};

std::string place(const char* function, int line) {
    return " - " + std::string(function) + "(" + this_file + "@" + std::to_string(line) + ")";
}

// ---- line text ------------------------------------------------------------------------------

using LineFormat = TraceTest;

TEST_F(LineFormat, EachLevelShowsItsMarkAndBetweenLevelsTakeTheLowerOne) {
    zebtrace_set_level(nullptr, 1000);
    const struct {
        int level;
        const char* mark;
    } cases[] = {{-7, "X"},  {0, "X"},   {99, "X"},  {100, "x"}, {199, "x"}, {200, "!"}, {300, "n"},
                 {349, "n"}, {350, "I"}, {399, "I"}, {400, "i"}, {499, "i"}, {500, "d"}, {900, "d"}};
    for (const auto& c : cases) {
        lines.clear();
        const int line = __LINE__ + 1;
        zebTrace(c.level, "value %d of %s", 42, "x");
        ASSERT_EQ(lines.size(), 1u) << c.level;
        EXPECT_EQ(lines[0].text, std::string("network - [") + c.mark + "]value 42 of x" + place("TestBody", line))
            << c.level;
    }
}

TEST_F(LineFormat, ZoneIsCutOrPaddedToSevenCharacters) {
    const struct {
        const char* zone;
        const char* shown;
    } cases[] = {{"portmapping", "portmap"}, {"firewall_rule", "firewal"}, {"sevenzz", "sevenzz"},
                 {"fw", "fw     "},           {"", "       "},             {nullptr, "       "}};
    for (const auto& c : cases) {
        lines.clear();
        const int line = __LINE__ + 1;
        zebTraceZ(TRACE_LEVEL_WARNING, c.zone, "m");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, std::string(c.shown) + " - [!]m" + place("TestBody", line));
    }
}

TEST_F(LineFormat, MessageIsAlwaysOneLine) {
    zebTrace(TRACE_LEVEL_ERROR, "bad name '%s'", "a\nnetwork - [X]forged\r\x7f");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text.find('\n'), std::string::npos);
    EXPECT_NE(lines[0].text.find("bad name 'a\\x0anetwork - [X]forged\\x0d\\x7f'"), std::string::npos) << lines[0].text;
    lines.clear();
    zebTrace(TRACE_LEVEL_ERROR, "tab\tkept");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].text.find("]tab\tkept - "), std::string::npos);
}

TEST_F(LineFormat, OverlongMessageIsCut) {
    const std::string huge(ZEBTRACE_MESSAGE_MAX * 2, 'a');
    zebTrace(TRACE_LEVEL_ERROR, "%s", huge.c_str());
    ASSERT_EQ(lines.size(), 1u);
    const std::string expected_message = std::string(ZEBTRACE_MESSAGE_MAX - 3, 'a') + "...";
    EXPECT_EQ(lines[0].text.find("[x]" + expected_message + " - TestBody("), 10u);

    // Exactly at the bound nothing is cut.
    lines.clear();
    const std::string fits(ZEBTRACE_MESSAGE_MAX, 'b');
    zebTrace(TRACE_LEVEL_ERROR, "%s", fits.c_str());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].text.find("[x]" + fits + " - "), std::string::npos);
}

// ---- levels and their configuration -------------------------------------------------------

int evaluations = 0;

const char* counted(const char* text) {
    ++evaluations;
    return text;
}

using Filtering = TraceTest;

TEST_F(Filtering, ZoneLevelsOverrideTheDefaultUntilCleared) {
    ASSERT_EQ(zebtrace_configure("firewall_rule=500,networksettings=300"), 0);
    zebTraceZ(TRACE_LEVEL_DEBUG, "firewall_rule", "fw debug");
    zebTraceZ(TRACE_LEVEL_DEBUG, "other", "other debug");
    zebTraceZ(TRACE_LEVEL_INFO, "networksettings", "ns info");
    zebTraceZ(TRACE_LEVEL_NOTICE, "networksettings", "ns notice");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].zone, "firewall_rule");
    EXPECT_EQ(lines[1].level, TRACE_LEVEL_NOTICE);

    // A zone whose name extends another's is a different zone.
    EXPECT_EQ(zebtrace_get_level("firewall_rule2"), TRACE_LEVEL_INFO);
    EXPECT_EQ(zebtrace_get_level("firewall"), TRACE_LEVEL_INFO);

    // A later text keeps the zones it does not name.
    ASSERT_EQ(zebtrace_configure("default=300,portmapping=100"), 0);
    EXPECT_EQ(zebtrace_get_level(nullptr), 300);
    EXPECT_EQ(zebtrace_get_level("other"), 300);
    EXPECT_EQ(zebtrace_get_level("portmapping"), 100);
    EXPECT_EQ(zebtrace_get_level("firewall_rule"), 500);

    zebtrace_clear_level("firewall_rule");
    EXPECT_EQ(zebtrace_get_level("firewall_rule"), 300);
    EXPECT_FALSE(zebtrace_is_enabled(TRACE_LEVEL_DEBUG, "firewall_rule"));
    zebtrace_clear_level("never-set");
    zebtrace_clear_level(nullptr);
}

TEST_F(Filtering, MalformedConfigurationIsRefusedAndChangesNothing) {
    ASSERT_EQ(zebtrace_configure("kept=123,default=450"), 0);
    const char* const refused[] = {
        "default",             // no '='
        "a=",                  // no level
        "=5",                  // no name
        "a=5,",                // empty item at the end
        ",a=5",                // empty item at the start
        "a=5,,b=6",            // empty item inside
        "a=5,a=6",             // name given twice
        "default=1,default=2", // default given twice
        "a b=5",               // blank inside a name
        "a=5x",                // trailing garbage
        "a=+5",                // only '-' is a sign
        "a=0x10",              // decimal only
        "a=99999999999",       // out of int range
        "a=5;b=6",             // wrong separator
        "z\xc3\xa9=1",         // non-ASCII name
        "kept=1,bad",          // a good item before a bad one must not be applied
    };
    for (const char* text : refused) {
        EXPECT_EQ(zebtrace_configure(text), -1) << text;
    }
    EXPECT_EQ(zebtrace_configure((std::string(65, 'z') + "=1").c_str()), -1);
    EXPECT_EQ(zebtrace_configure((std::string(64, 'z') + "=1").c_str()), 0);
    EXPECT_EQ(zebtrace_configure(nullptr), -1);

    EXPECT_EQ(zebtrace_get_level("kept"), 123);
    EXPECT_EQ(zebtrace_get_level(nullptr), 450);
    EXPECT_EQ(zebtrace_get_level("a"), 450);
}

TEST_F(Filtering, DroppedLineDoesNotEvaluateItsArguments) {
    evaluations = 0;
    zebTraceZ(TRACE_LEVEL_DEBUG, "z", "%s", counted("x"));
    zebTraceZIn(counted("z"));  // zone of an arrow line is the filter key: it must be evaluated once
    EXPECT_EQ(evaluations, 1);
    zebTraceZ(TRACE_LEVEL_INFO, "z", "%s", counted("x"));
    EXPECT_EQ(evaluations, 2);
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(Filtering, TwoThreadsTracingAtOnceLoseNoLine) {
    std::atomic<bool> go{false};
    const auto writer = [&](const char* zone) {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 500; ++i) {
            zebTraceZ(TRACE_LEVEL_ERROR, zone, "line %d", i);
            if (i % 100 == 0) zebtrace_set_level(zone, TRACE_LEVEL_INFO + i);
        }
    };
    std::thread first(writer, "first");
    std::thread second(writer, "second");
    go = true;
    first.join();
    second.join();
    ASSERT_EQ(lines.size(), 1000u);
    for (const auto& line : lines) {
        EXPECT_TRUE(line.text.rfind("first   - [x]line ", 0) == 0 || line.text.rfind("second  - [x]line ", 0) == 0)
            << line.text;
    }
}

// ---- outputs ------------------------------------------------------------------------------

// A fresh file under /tmp, removed at the end.
class TempFile {
public:
    TempFile() { close(mkstemp(path_.data())); }
    ~TempFile() { std::remove(path()); }
    const char* path() const { return path_.c_str(); }
    std::string read() const {
        std::ifstream in(path_);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    std::string path_ = "/tmp/zebtrace-test-XXXXXX";
};

using Outputs = TraceTest;

TEST_F(Outputs, FileGetsEachLineAppendedAndAFailedOpenKeepsIt) {
    TempFile file;
    std::ofstream(file.path()) << "kept from before\n";
    zebtrace_set_quiet(false);
    ASSERT_EQ(zebtrace_open_file(file.path()), 0);
    zebTraceZ(TRACE_LEVEL_ERROR, "fileout", "one");
    EXPECT_EQ(zebtrace_open_file("/nonexistent-dir/trace.log"), -1);
    EXPECT_EQ(zebtrace_open_file(nullptr), -1);
    zebTraceZ(TRACE_LEVEL_WARNING, "fileout", "two");
    zebtrace_use_stderr();
    zebTraceZ(TRACE_LEVEL_WARNING, "fileout", "not in file");

    ASSERT_EQ(lines.size(), 3u) << "the capture still sees every line";
    EXPECT_EQ(from_project_root(file.read()), "kept from before\n" + lines[0].text + "\n" + lines[1].text + "\n");
}

// Under systemd, the journal learns each stderr line's priority from its "<N>" prefix; a
// stderr redirected elsewhere keeps plain lines even with JOURNAL_STREAM inherited.
TEST_F(Outputs, StderrLinesCarryTheirPriorityOnlyOnTheJournalStream) {
    TempFile file;
    const int saved = dup(STDERR_FILENO);
    const int fd = open(file.path(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    dup2(fd, STDERR_FILENO);
    close(fd);
    struct stat st {};
    fstat(STDERR_FILENO, &st);
    zebtrace_set_quiet(false);
    for (const std::string& stream : {std::string("1:1"), std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)}) {
        setenv("JOURNAL_STREAM", stream.c_str(), 1);
        zebtrace_use_stderr();
        zebTraceZ(TRACE_LEVEL_ERROR, "journal", "broken");
        zebTraceZ(TRACE_LEVEL_INFO, "journal", "fine");
    }
    const bool journal = zebtrace_stderr_is_journal();
    unsetenv("JOURNAL_STREAM");
    zebtrace_use_stderr();
    dup2(saved, STDERR_FILENO);
    close(saved);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(journal);
    EXPECT_EQ(from_project_root(file.read()), lines[0].text + "\n" + lines[1].text + "\n<3>" + lines[2].text + "\n<6>" + lines[3].text + "\n");
}

// ---- guard macros -------------------------------------------------------------------------
// They jump only when their condition holds, trace before jumping, and evaluate their subject
// once; traced under a zone of their own.

#undef ME
#define ME "guards"

int reads = 0;

template <typename T>
T once(T value) {
    ++reads;
    return value;
}

// Returns 1 past each guard that let it through, so the result tells which guard jumped.
int traced_guards(const char* text, const void* pointer, int code, bool flag) {
    int passed = 0;
    when_null_trace(once(pointer), exit, TRACE_LEVEL_ERROR, "null %s", "pointer");
    ++passed;
    when_failed_trace(once(code), exit, TRACE_LEVEL_WARNING, "failed %d", code);
    ++passed;
    when_str_empty_trace(once(text), exit, TRACE_LEVEL_ERROR, "empty text");
    ++passed;
    when_false_trace(once(flag), exit, TRACE_LEVEL_NOTICE, "false flag");
    ++passed;
    when_true_trace(once(!flag || code == 0), exit, TRACE_LEVEL_INFO, "true flag");
    ++passed;
exit:
    return passed;
}

using GuardMacros = TraceTest;

TEST_F(GuardMacros, TracedGuardJumpsAndTracesOnlyWhenItsConditionHolds) {
    const int anything = 0;
    const struct {
        const char* text;
        const void* pointer;
        int code;
        bool flag;
        int passed;
        const char* message;  // nullptr: no line expected
    } cases[] = {
        {"t", nullptr, 0, true, 0, "[x]null pointer - "},
        {"t", &anything, -3, true, 1, "[!]failed -3 - "},
        {nullptr, &anything, 0, true, 2, "[x]empty text - "},
        {"", &anything, 0, true, 2, "[x]empty text - "},
        {"t", &anything, 0, false, 3, "[n]false flag - "},
    };
    for (const auto& c : cases) {
        lines.clear();
        reads = 0;
        EXPECT_EQ(traced_guards(c.text, c.pointer, c.code, c.flag), c.passed);
        EXPECT_EQ(reads, c.passed + 1) << "each guard reads its subject once";
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text.rfind("guards  - ", 0), 0u) << lines[0].text;
        EXPECT_NE(lines[0].text.find(c.message), std::string::npos) << lines[0].text;
        EXPECT_NE(lines[0].text.find(" - traced_guards(tests/zebtrace/test_zebtrace.cpp@"), std::string::npos);
    }
}

#ifdef ZEBTRACE_TEST_WITH_FRAMEWORK_MACROS

// Compiled as C, with the framework's guard header after or before the trace library's.
TEST_F(GuardMacros, WorkFromCBesideTheFrameworkGuards) {
    EXPECT_EQ(guards_zebtrace_first("x", 0), 0);
    EXPECT_EQ(guards_framework_first("x"), 0);
    EXPECT_TRUE(lines.empty());

    EXPECT_EQ(guards_zebtrace_first("", 0), -1);
    EXPECT_EQ(guards_zebtrace_first("x", 5), -2);
    EXPECT_EQ(guards_framework_first(nullptr), -1);
    ASSERT_EQ(lines.size(), 3u);
    const std::string place = " - guards_zebtrace_first(tests/zebtrace/guards_zebtrace_first.c@";
    EXPECT_EQ(lines[0].text.rfind("c_unit  - [x]empty name" + place, 0), 0u) << lines[0].text;
    EXPECT_EQ(lines[1].text.rfind("c_unit  - [!]code 5 for x" + place, 0), 0u) << lines[1].text;
    EXPECT_EQ(lines[2].text.rfind("both    - [x]empty - guards_framework_first(", 0), 0u) << lines[2].text;
}
#endif

}  // namespace
