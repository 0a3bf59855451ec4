// Runs the built programs as separate processes, with bounded waits so no test can hang, and
// kills whatever is still running when a test ends (also when it fails half-way).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace gwtest {

using namespace std::chrono_literals;

struct Outcome {
    int exit_code = -1;     // exit status, -1 when killed by a signal
    int term_signal = 0;    // signal that killed it, 0 when it exited
    bool timed_out = false; // it overran its time and was killed
    std::string out;
    std::string err;
};

// Runs `argv` to completion (argv[0] is the program path), feeding it no input. A program that
// overruns `limit` is killed and reported with timed_out.
Outcome run(const std::vector<std::string>& argv, std::chrono::milliseconds limit = 20s);

// A program left running (gwrt, gwctl monitor) with its output going to files.
class Child {
public:
    // Starts `argv` with stdout and stderr written to `out_path` and `err_path`.
    Child(const std::vector<std::string>& argv, std::string out_path, std::string err_path);
    // Kills and reaps the process if it still runs.
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool running();
    void signal(int sig) const;

    // Sends `sig` (0: none) and waits at most `limit` for the end; kills it if it overruns.
    Outcome stop(int sig, std::chrono::milliseconds limit = 20s);

    std::string out() const;
    std::string err() const;

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    Outcome outcome_;
    std::string out_path_;
    std::string err_path_;
};

// Polls `condition` every 10 ms until it holds or `limit` passes.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s);

}  // namespace gwtest
