#ifndef TESTS_NFTABLES_NETNS_H
#define TESTS_NFTABLES_NETNS_H

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace nfttest {

struct CommandResult {
    int status = -1;     // exit status; -1 when it could not run, was killed or timed out
    std::string output;  // stdout and stderr together
};

// Owns a file descriptor and closes it.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int descriptor) : fd(descriptor) {}
    ~Fd();
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// Runs a program (searched in PATH) and waits for it, killing it when it outlives `timeout`.
CommandResult run_command(const std::vector<std::string>& argv,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs a program inside the named network namespace (`ip netns exec`).
CommandResult exec_in(const std::string& namespace_name, const std::vector<std::string>& argv,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A named network namespace made for one test: "nsft<pid>-<n>-<role>", unique across
// tests and processes, deleted by the destructor (also when the test fails).
class Namespace {
public:
    explicit Namespace(std::string_view role);
    ~Namespace();
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;

    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }
    const std::string& error() const { return error_; }

private:
    std::string name_;
    std::string error_;
    bool ok_ = false;
};

// Moves the calling thread into a named namespace for the lifetime of the object; sockets
// opened meanwhile (the nftables backend's too) stay in it.
class Inside {
public:
    explicit Inside(const std::string& namespace_name);
    ~Inside();
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

    bool ok() const { return ok_; }

private:
    int home_ = -1;
    bool ok_ = false;
};

// A unique prefix for the namespaces of one test: "nsft<pid>-<n>".
std::string unique_prefix();

// Why this machine cannot run the kernel tests ("" when it can): not root, no nft or ip,
// network namespaces refused. Checked once.
const std::string& kernel_tests_refused();

}  // namespace nfttest

#endif  // TESTS_NFTABLES_NETNS_H
