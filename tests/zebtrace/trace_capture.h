#ifndef TESTS_ZEBTRACE_TRACE_CAPTURE_H
#define TESTS_ZEBTRACE_TRACE_CAPTURE_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

struct CapturedLine {
    int level;
    std::string zone;
    std::string text;
};

// A compiler cache may spell the source place relative to the build folder ("(../tests/...");
// captured lines, and files compared with them, use the spelling from the project root.
std::string from_project_root(std::string text);

// Starts every test from the library's initial state with lines captured instead of printed.
class TraceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::vector<std::string> texts() const;

    std::vector<CapturedLine> lines;
};

#endif
