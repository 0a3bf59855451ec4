#ifndef ZEBTRACE_OUTPUT_SINK_H
#define ZEBTRACE_OUTPUT_SINK_H

#include <string>
#include <string_view>

namespace zebtrace {

// Where lines go: stderr, an appended file or syslog. Owns the file descriptor or the syslog
// connection it opened. Not locked: the caller serialises access.
class OutputSink {
public:
    OutputSink() = default;
    ~OutputSink();
    OutputSink(const OutputSink&) = delete;
    OutputSink& operator=(const OutputSink&) = delete;

    void use_stderr();
    bool open_file(const char* path);  // false: nothing changed
    void open_syslog(const char* ident);
    void write(int level, std::string_view line);

private:
    enum class Kind { stderr_stream, file, syslog };
    void close_current();

    Kind kind_ = Kind::stderr_stream;
    int fd_ = -1;
    std::string ident_;  // syslog keeps a pointer to its ident until closelog
};

}  // namespace zebtrace

#endif
