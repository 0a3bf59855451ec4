// Creates the objects of a plan and hangs them into the data model, or takes them all away.
#pragma once

#include <utility>
#include <vector>

#include "plan.h"

namespace amxo {

class TreeBuilder {
public:
    TreeBuilder() = default;
    // Deletes every object it built (attached or not) unless commit() was called.
    ~TreeBuilder();
    TreeBuilder(const TreeBuilder&) = delete;
    TreeBuilder& operator=(const TreeBuilder&) = delete;

    // Creates, detached, every new object below `root` (setting PlanObject::built) with its
    // parameters, functions and actions. Throws LoadError when the data model refuses one.
    void build(PlanObject& root);

    // Adds each new subtree to its existing parent. Throws LoadError when one is refused.
    void attach();

    // Binds the actions kept for the end (see tree_builder.cpp); then the objects belong to the
    // data model for good. Throws LoadError when the data model refuses a binding, in which
    // case the destructor still takes everything back.
    void commit();

private:
    struct Top {
        amxd_object_t* parent;
        amxd_object_t* object;
        const PlanObject* plan;
    };

    void walk(PlanObject& existing);
    amxd_object_t* create(PlanObject& plan);

    std::vector<Top> tops_;
    std::vector<std::pair<PlanObject*, PlanAction*>> deferred_;
};

}  // namespace amxo
