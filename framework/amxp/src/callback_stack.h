// The stack the loop's callbacks run on, apart from the stack of whoever runs the loop, so that a
// callback doing long work can pause in its middle and the loop serve readers meanwhile.
#pragma once

#include <boost/context/fiber.hpp>

#include <cstddef>
#include <exception>

namespace amxp {

class CallbackStack {
public:
    // What runs on the stack: `run(arg)`, whose result the caller gets.
    struct Job {
        int (*run)(void* arg);
        void* arg;
    };

    CallbackStack() = default;
    CallbackStack(const CallbackStack&) = delete;
    CallbackStack& operator=(const CallbackStack&) = delete;

    // Starts `job` on the stack; returns once the job returned (neither running_here() nor
    // paused()) or paused. False, with nothing run, when the stack cannot be made (out of
    // memory). Rethrows what the job threw.
    bool start(Job job);
    // Continues the paused job, with the same outcome as start().
    void resume();
    // From the job: back to the caller of start() or resume(), which continues it later.
    void pause();

    // The caller runs on this stack (a callback, or something it called).
    bool running_here() const { return state_ == State::running; }
    bool paused() const { return state_ == State::paused; }
    // The result of the last job that finished.
    int result() const { return result_; }

private:
    enum class State { idle, running, paused };

    void make();
    void switch_in();
    void switch_out();
    void serve_jobs();

    boost::context::fiber stack_;   // the stack's side while it does not run
    boost::context::fiber caller_;  // the caller's side while the stack runs
    State state_ = State::idle;
    Job job_{};
    int result_ = 0;
    std::exception_ptr thrown_;
    // Both sides' bounds, for AddressSanitizer, which must be told of every switch.
    const void* stack_bottom_ = nullptr;
    std::size_t stack_size_ = 0;
    const void* caller_bottom_ = nullptr;
    std::size_t caller_size_ = 0;
};

} // namespace amxp
