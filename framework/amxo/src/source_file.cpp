#include "source_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "limits.h"

namespace amxo {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void fail_errno(const std::string& path, const Location& where, const char* what) {
    fail(where, std::string(what) + " '" + path + "': " + std::strerror(errno));
}

}  // namespace

std::string read_source(const std::string& path, const Location& where) {
    // O_NONBLOCK: a FIFO must not block the loader; it is refused below as not regular.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        fail_errno(path, where, "cannot open");
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        fail_errno(path, where, "cannot read");
    }
    if (!S_ISREG(st.st_mode)) {
        fail(where, "'" + path + "' is not a regular file");
    }
    auto too_large = [&] {
        fail(where, "'" + path + "' is larger than " + std::to_string(kMaxFileSize) + " bytes");
    };
    if (static_cast<unsigned long long>(st.st_size) > kMaxFileSize) {
        too_large();
    }
    // Read up to one byte past the cap: the file may have grown since fstat.
    std::string content(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == content.size()) {
            if (content.size() > kMaxFileSize) {
                too_large();
            }
            content.resize(std::min(content.size() * 2, kMaxFileSize + 1));
        }
        const ssize_t n = ::read(fd.get(), content.data() + used, content.size() - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail_errno(path, where, "cannot read");
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    content.resize(used);
    return content;
}

std::string canonical_path(const std::string& path, const Location& where) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) {
        fail_errno(path, where, "cannot open");
    }
    return resolved.get();
}

}  // namespace amxo
