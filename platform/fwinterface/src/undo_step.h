#ifndef FWINTERFACE_UNDO_STEP_H
#define FWINTERFACE_UNDO_STEP_H

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace fwinterface {

// One step of a journal that takes a transaction back: a small closure kept in place. A
// transaction of tens of thousands of operations records several steps each; kept in a
// std::function, most would cost a heap allocation of their own.
class UndoStep {
public:
    static constexpr std::size_t capacity = 48;

    template <typename F, typename Fn = std::decay_t<F>>
        requires(!std::is_same_v<Fn, UndoStep>)
    explicit UndoStep(F&& step) : ops_(&ops_of<Fn>) {
        static_assert(sizeof(Fn) <= capacity && alignof(Fn) <= alignof(void*),
                      "an undo step keeps little: capture pointers, not copies");
        static_assert(std::is_nothrow_move_constructible_v<Fn>);
        new(storage_) Fn(std::forward<F>(step));
    }
    UndoStep(UndoStep&& other) noexcept : ops_(other.ops_) { ops_->move(storage_, other.storage_); }
    UndoStep(const UndoStep&) = delete;
    UndoStep& operator=(const UndoStep&) = delete;
    UndoStep& operator=(UndoStep&&) = delete;
    ~UndoStep() { ops_->destroy(storage_); }

    void operator()() noexcept { ops_->run(storage_); }

private:
    struct Ops {
        void (*run)(void*);
        void (*move)(void* to, void* from);
        void (*destroy)(void*);
    };
    template <typename Fn>
    static constexpr Ops ops_of{
        [](void* f) { (*static_cast<Fn*>(f))(); },
        [](void* to, void* from) { new(to) Fn(std::move(*static_cast<Fn*>(from))); },
        [](void* f) { static_cast<Fn*>(f)->~Fn(); },
    };

    const Ops* ops_;
    alignas(void*) std::byte storage_[capacity];
};

}  // namespace fwinterface

#endif  // FWINTERFACE_UNDO_STEP_H
