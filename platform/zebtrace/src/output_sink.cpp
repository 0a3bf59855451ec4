#include "output_sink.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <zebtrace/zebtrace.h>

namespace zebtrace {
namespace {

int syslog_priority(int level) {
    if (level < TRACE_LEVEL_ERROR) return LOG_CRIT;
    if (level < TRACE_LEVEL_WARNING) return LOG_ERR;
    if (level < TRACE_LEVEL_NOTICE) return LOG_WARNING;
    if (level < TRACE_LEVEL_APP_INFO) return LOG_NOTICE;
    if (level < TRACE_LEVEL_DEBUG) return LOG_INFO;
    return LOG_DEBUG;
}

// One write per line so that lines of several processes appending to one file never mix.
void write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

// systemd hands a service "JOURNAL_STREAM=<device>:<inode>" of the stream it connected to
// stderr; comparing both tells a journal stream from a stderr redirected elsewhere since.
bool stderr_is_journal_stream() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    if (stream == nullptr || ::fstat(STDERR_FILENO, &st) != 0) return false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    char end = 0;
    return std::sscanf(stream, "%llu:%llu%c", &device, &inode, &end) == 2 && device == st.st_dev && inode == st.st_ino;
}

}  // namespace

OutputSink::OutputSink() : journal_(stderr_is_journal_stream()) {}

OutputSink::~OutputSink() { close_current(); }

void OutputSink::close_current() {
    if (kind_ == Kind::file && fd_ >= 0) ::close(fd_);
    if (kind_ == Kind::syslog) ::closelog();
    fd_ = -1;
    kind_ = Kind::stderr_stream;
}

void OutputSink::use_stderr() {
    close_current();
    journal_ = stderr_is_journal_stream();
}

bool OutputSink::open_file(const char* path) {
    if (path == nullptr) return false;
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    close_current();
    kind_ = Kind::file;
    fd_ = fd;
    return true;
}

void OutputSink::open_syslog(const char* ident) {
    close_current();
    ident_ = ident == nullptr ? std::string() : std::string(ident);
    ::openlog(ident == nullptr ? nullptr : ident_.c_str(), LOG_PID, LOG_DAEMON);
    kind_ = Kind::syslog;
}

void OutputSink::write(int level, std::string_view line) {
    if (kind_ == Kind::syslog) {
        ::syslog(syslog_priority(level), "%.*s", static_cast<int>(line.size()), line.data());
        return;
    }
    std::string text;
    text.reserve(line.size() + 4);
    if (kind_ == Kind::stderr_stream && journal_) {
        text = "<" + std::to_string(syslog_priority(level)) + ">";
    }
    text.append(line);
    text.push_back('\n');
    write_all(kind_ == Kind::file ? fd_ : STDERR_FILENO, text);
}

}  // namespace zebtrace
