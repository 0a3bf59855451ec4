// Where lines go: an appended file, stderr, and what happens when a file cannot be opened.

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>
#include <zebtrace/zebtrace.h>

#include "trace_capture.h"

namespace {

class TempFile {
public:
    TempFile() {
        char name[] = "/tmp/zebtrace-test-XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        if (fd >= 0) close(fd);
        path_ = name;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const char* path() const { return path_.c_str(); }
    std::string read() const {
        std::ifstream in(path_);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

private:
    std::string path_;
};

}  // namespace

using Outputs = TraceTest;

TEST_F(Outputs, FileGetsEachLineAppendedAfterExistingContent) {
    TempFile file;
    {
        std::ofstream out(file.path());
        out << "kept from before\n";
    }
    zebtrace_set_quiet(false);
    ASSERT_EQ(zebtrace_open_file(file.path()), 0);
    zebTraceZ(TRACE_LEVEL_ERROR, "fileout", "one");
    zebTraceZ(TRACE_LEVEL_WARNING, "fileout", "two");
    zebtrace_use_stderr();
    zebTraceZ(TRACE_LEVEL_WARNING, "fileout", "not in file");

    ASSERT_EQ(lines.size(), 3u) << "the capture still sees every line";
    EXPECT_EQ(from_project_root(file.read()), "kept from before\n" + lines[0].text + "\n" + lines[1].text + "\n");
}

TEST_F(Outputs, QuietKeepsLinesOutOfTheOutput) {
    TempFile file;
    ASSERT_EQ(zebtrace_open_file(file.path()), 0);
    zebTraceZ(TRACE_LEVEL_ERROR, "fileout", "captured only");
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(file.read(), "");
}

TEST_F(Outputs, FailedOpenKeepsThePreviousOutput) {
    TempFile file;
    zebtrace_set_quiet(false);
    ASSERT_EQ(zebtrace_open_file(file.path()), 0);
    EXPECT_EQ(zebtrace_open_file("/nonexistent-dir/trace.log"), -1);
    EXPECT_EQ(zebtrace_open_file(nullptr), -1);
    zebTraceZ(TRACE_LEVEL_ERROR, "fileout", "still here");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(from_project_root(file.read()), lines[0].text + "\n");
}

