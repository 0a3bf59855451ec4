#include "callback_stack.h"

#include <boost/context/protected_fixedsize_stack.hpp>

#include <new>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define AMXP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define AMXP_ASAN 1
#endif
#endif

#ifdef AMXP_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace amxp {
namespace {

// As much as a thread's default stack: callbacks parse, and run under the sanitizers' larger
// frames. Pages are only taken as they are touched.
constexpr std::size_t stack_bytes = 8u << 20;

// The guarded stack, whose bounds AddressSanitizer needs at every switch.
class BoundedStack {
public:
    BoundedStack(const void** bottom, std::size_t* size) : bottom_(bottom), size_(size) {}

    boost::context::stack_context allocate() {
        boost::context::stack_context context = stack_.allocate();
        *bottom_ = static_cast<const char*>(context.sp) - context.size;
        *size_ = context.size;
        return context;
    }
    void deallocate(boost::context::stack_context& context) noexcept { stack_.deallocate(context); }

private:
    boost::context::protected_fixedsize_stack stack_{stack_bytes};
    const void** bottom_;
    std::size_t* size_;
};

void start_switch([[maybe_unused]] void** fake_stack, [[maybe_unused]] const void* bottom,
                  [[maybe_unused]] std::size_t size) {
#ifdef AMXP_ASAN
    __sanitizer_start_switch_fiber(fake_stack, bottom, size);
#endif
}

void finish_switch([[maybe_unused]] void* fake_stack, [[maybe_unused]] const void** old_bottom,
                   [[maybe_unused]] std::size_t* old_size) {
#ifdef AMXP_ASAN
    __sanitizer_finish_switch_fiber(fake_stack, old_bottom, old_size);
#endif
}

} // namespace

void CallbackStack::make() {
    stack_ = boost::context::fiber(std::allocator_arg, BoundedStack(&stack_bottom_, &stack_size_),
                                   [this](boost::context::fiber&& caller) {
                                       caller_ = std::move(caller);
                                       finish_switch(nullptr, &caller_bottom_, &caller_size_);
                                       serve_jobs();
                                       return std::move(caller_);
                                   });
}

void CallbackStack::serve_jobs() {
    for(;;) {
        try {
            result_ = job_.run(job_.arg);
        } catch(const boost::context::detail::forced_unwind&) {
            throw; // the stack is being taken down: let it unwind
        } catch(...) {
            thrown_ = std::current_exception();
        }
        state_ = State::idle;
        switch_out();
    }
}

void CallbackStack::switch_in() {
    void* fake_stack = nullptr;
    start_switch(&fake_stack, stack_bottom_, stack_size_);
    stack_ = std::move(stack_).resume();
    finish_switch(fake_stack, nullptr, nullptr);
    if(state_ == State::idle && thrown_) {
        std::rethrow_exception(std::exchange(thrown_, nullptr));
    }
}

void CallbackStack::switch_out() {
    void* fake_stack = nullptr;
    start_switch(&fake_stack, caller_bottom_, caller_size_);
    caller_ = std::move(caller_).resume();
    finish_switch(fake_stack, &caller_bottom_, &caller_size_);
}

bool CallbackStack::start(Job job) {
    if(!stack_) {
        try {
            make();
        } catch(const std::bad_alloc&) {
            return false;
        }
    }
    job_ = job;
    state_ = State::running;
    switch_in();
    return true;
}

void CallbackStack::resume() {
    switch_in();
}

void CallbackStack::pause() {
    state_ = State::paused;
    switch_out();
    state_ = State::running;
}

} // namespace amxp
