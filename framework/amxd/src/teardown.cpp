#include "teardown.h"

#include "object_tree.h"

namespace amxd {

namespace {
void destroy_below(amxd_object_t* object, bool blueprint) {
    for(const auto& entry : object->members().instances) {
        destroy_below(entry.second.get(), blueprint);
    }
    const bool children_are_blueprints = blueprint || (object->type == amxd_object_template);
    for(const ObjectPtr& child : object->members().children) {
        destroy_below(child.get(), children_are_blueprints);
    }
    if(!blueprint) {
        run_actions(object->actions, action_object_destroy, object, nullptr, nullptr, nullptr, false);
    }
}
} // namespace

void run_destroy_actions(amxd_object_t* object) {
    destroy_below(object, is_blueprint(object));
}

void destroy_detached(ObjectPtr object) {
    {
        TreeLock lock(object.get());
        run_destroy_actions(object.get());
    }
    object.reset();
}

} // namespace amxd
