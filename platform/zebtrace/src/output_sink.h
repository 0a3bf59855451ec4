#ifndef ZEBTRACE_OUTPUT_SINK_H
#define ZEBTRACE_OUTPUT_SINK_H

#include <string>
#include <string_view>

namespace zebtrace {

// Where lines go: stderr, an appended file or syslog. Owns the file descriptor or the syslog
// connection it opened. Not locked: the caller serialises access. When stderr is the journal's
// stream (systemd), each stderr line starts with its priority ("<3>") so the journal keeps it.
class OutputSink {
public:
    OutputSink();
    ~OutputSink();
    OutputSink(const OutputSink&) = delete;
    OutputSink& operator=(const OutputSink&) = delete;

    void use_stderr();
    bool open_file(const char* path);  // false: nothing changed
    void open_syslog(const char* ident);
    void write(int level, std::string_view line);
    bool stderr_is_journal() const { return journal_; }

private:
    enum class Kind { stderr_stream, file, syslog };
    void close_current();

    Kind kind_ = Kind::stderr_stream;
    int fd_ = -1;
    std::string ident_;  // syslog keeps a pointer to its ident until closelog
    bool journal_ = false;
};

}  // namespace zebtrace

#endif
