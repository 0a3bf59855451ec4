#include "param_list.h"

#include "room.h"
#include "tree.h"

namespace amxd {

ParamList::~ParamList() {
    std::destroy_n(block_, block_size_);
    std::allocator<amxd_param_t>().deallocate(block_, block_size_);
}

void ParamList::reserve_one_more() {
    amxd::reserve_one_more(single_);
}

void ParamList::add(amxd_param_t* param) noexcept {
    single_.emplace_back(param);
}

void ParamList::copy_of(const ParamList& model) {
    const std::size_t count = model.size();
    if(count == 0) {
        return;
    }
    std::allocator<amxd_param_t> memory;
    amxd_param_t* block = memory.allocate(count);
    std::size_t made = 0;
    try {
        for(amxd_param_t* param : model) {
            std::construct_at(block + made, *param);
            ++made;
        }
    } catch(...) {
        std::destroy_n(block, made);
        memory.deallocate(block, count);
        throw;
    }
    block_ = block;
    block_size_ = count;
}

} // namespace amxd
