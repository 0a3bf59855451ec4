// Structure of the object tree: attaching, detaching, finding, and the locks that keep
// callbacks from changing the structure under a running operation.
#pragma once

#include <string_view>

#include <amxp/amxp_loop.h>

#include "tree.h"

namespace amxd {

// The topmost ancestor (a data model's root, or the top of a detached tree).
amxd_object_t* top_of(const amxd_object_t* object);

// The data model `object` belongs to, or NULL when it is detached (or taken out of its
// template by a running transaction).
amxd_dm_t* dm_of(const amxd_object_t* object);

// Whether the tree holding `object` is busy (actions, a transaction or a teardown running).
bool is_locked(const amxd_object_t* object);

// Holds the busy mark of a tree for a scope. A busy tree is being changed, or its actions run:
// long work paused there would let readers see it half done, so the loop's slices wait.
class TreeLock {
public:
    explicit TreeLock(const amxd_object_t* object) : top_(top_of(object)) {
        ++top_->busy;
        amxp_loop_hold_slices();
    }
    ~TreeLock() {
        amxp_loop_release_slices();
        --top_->busy;
    }
    TreeLock(const TreeLock&) = delete;
    TreeLock& operator=(const TreeLock&) = delete;

private:
    amxd_object_t* top_;
};

// True for the objects that describe a template's future instances (the child objects
// declared under a template, and everything below them): they are definitions, not data.
bool is_blueprint(const amxd_object_t* object);

// True for `ancestor` itself and for every object below it.
bool is_within(const amxd_object_t* object, const amxd_object_t* ancestor);

amxd_object_t* find_child(const amxd_object_t* parent, std::string_view name);
amxd_object_t* find_instance(const amxd_object_t* templ, uint32_t index);
amxd_object_t* find_instance(const amxd_object_t* templ, std::string_view name);
amxd_param_t* find_param(const amxd_object_t* object, std::string_view name);
amxd_function_t* find_function(const amxd_object_t* object, std::string_view name);

// Adds a singleton or template under `parent`, which takes ownership only on success: on
// std::bad_alloc nothing changed and `child` is still the caller's. The caller checked the
// name is free.
void attach_child(amxd_object_t* parent, amxd_object_t* child);

// Takes a child out of its parent's containers. Its parent pointer is kept, so that destroy
// actions can still see where it was; the caller marks it removed.
ObjectPtr detach_child(amxd_object_t* child);

// Adds an instance under its template. Throws std::bad_alloc with nothing changed. The caller
// checked index and name are free.
void attach_instance(amxd_object_t* templ, ObjectPtr instance);

// An instance taken out of its template, ready to go back to exactly its old place without
// allocating (rollback must not fail).
struct DetachedInstance {
    InstanceMap::node_type node;
    NameIndex::node_type name_node;
    amxd_object_t* object() const { return node.empty() ? nullptr : node.mapped().get(); }
};
DetachedInstance detach_instance(amxd_object_t* instance);
void reattach_instance(amxd_object_t* templ, DetachedInstance&& detached);

// Adds a parameter or function; the object takes ownership only on success (on
// std::bad_alloc nothing changed and the caller still owns it).
void attach_param(amxd_object_t* object, amxd_param_t* param);
// Copies of `model`'s parameters into `object`, which has none yet. Throws std::bad_alloc.
void attach_copied_params(amxd_object_t* object, const amxd_object_t* model);
void attach_function(amxd_object_t* object, amxd_function_t* func);

} // namespace amxd
