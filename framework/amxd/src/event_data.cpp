#include "event_data.h"

#include <amxd/amxd_types.h>

#include "path.h"

namespace amxd {

void event_header(Packer& packer, const char* notification, const amxd_object_t* object, std::size_t more) {
    packer.table(3 + more);
    packer.key("notification");
    packer.text(notification);
    packer.key("path");
    packer.text(object_path(object, AMXD_OBJECT_INDEXED | AMXD_OBJECT_TERMINATE).c_str());
    packer.key("object");
    packer.text(object_path(object, AMXD_OBJECT_NAMED | AMXD_OBJECT_TERMINATE).c_str());
}

PackedVar instance_event(const char* notification, const amxd_object_t* instance) {
    // Packed as it is taken from the tree: a restore queues thousands of these at once.
    Packer packer;
    event_header(packer, notification, instance->parent, 3);
    packer.key("index");
    packer.uint32(instance->index);
    packer.key("name");
    packer.text(instance->name.c_str());
    packer.key("parameters");
    packer.table(instance->params.size());
    for(const amxd_param_t* param : instance->params) {
        packer.key(param->name().c_str());
        packer.var(&param->value());
    }
    return packer.done();
}

void copy_params_into(amxc_var_t* params, const amxd_object_t* object) {
    for(const amxd_param_t* param : object->params) {
        table_add_copy(params, param->name().c_str(), &param->value());
    }
}

} // namespace amxd
