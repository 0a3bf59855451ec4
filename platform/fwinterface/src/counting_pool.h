#ifndef FWINTERFACE_COUNTING_POOL_H
#define FWINTERFACE_COUNTING_POOL_H

#include <cstddef>
#include <memory_resource>

namespace fwinterface {

// A pool of small blocks that counts the blocks it lent, so that its owner can hand the pool's
// memory back once none is lent: a pool keeps what it once held until it is released, and a
// burst of short-lived blocks (a port change counts every source's new port in before its old
// one out) would otherwise stay resident for good.
class CountingPool final : public std::pmr::memory_resource {
public:
    // Gives every block back to the heap when none is lent.
    void release_if_unused() {
        if(lent_ == 0) {
            pool_.release();
        }
    }

private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override {
        void* block = pool_.allocate(bytes, alignment);
        ++lent_;
        return block;
    }
    void do_deallocate(void* block, std::size_t bytes, std::size_t alignment) override {
        pool_.deallocate(block, bytes, alignment);
        --lent_;
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    std::pmr::unsynchronized_pool_resource pool_;
    std::size_t lent_ = 0;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_COUNTING_POOL_H
