#include "trace_capture.h"

#include <zebtrace/zebtrace.h>

std::string from_project_root(std::string text) {
    for (std::size_t at = text.find("(../"); at != std::string::npos; at = text.find("(../", at)) {
        text.erase(at + 1, 3);
    }
    return text;
}

namespace {

void collect(int level, const char* zone, const char* line, void* priv) {
    static_cast<std::vector<CapturedLine>*>(priv)->push_back({level, zone, from_project_root(line)});
}

}  // namespace

void TraceTest::SetUp() {
    zebtrace_reset();
    zebtrace_set_capture(collect, &lines);
    zebtrace_set_quiet(true);
}

void TraceTest::TearDown() { zebtrace_reset(); }

std::vector<std::string> TraceTest::texts() const {
    std::vector<std::string> out;
    for (const auto& line : lines) out.push_back(line.text);
    return out;
}
