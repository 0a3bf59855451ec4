// Where lines go: an appended file, stderr, and what happens when a file cannot be opened.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <zebtrace/zebtrace.h>

#include "trace_capture.h"

namespace {

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

}  // namespace

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
