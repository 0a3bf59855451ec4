#include "event_data.h"

#include <amxd/amxd_types.h>

#include "path.h"

namespace amxd {

VarPtr event_header(const char* notification, const amxd_object_t* object) {
    VarPtr data = new_var();
    if(amxc_var_set_type(data.get(), AMXC_VAR_ID_HTABLE) != 0) {
        throw std::bad_alloc();
    }
    table_add_text(data.get(), "notification", notification);
    table_add_text(data.get(), "path", object_path(object, AMXD_OBJECT_INDEXED | AMXD_OBJECT_TERMINATE).c_str());
    table_add_text(data.get(), "object", object_path(object, AMXD_OBJECT_NAMED | AMXD_OBJECT_TERMINATE).c_str());
    return data;
}

VarPtr instance_event(const char* notification, const amxd_object_t* instance) {
    VarPtr data = event_header(notification, instance->parent);
    table_add_uint32(data.get(), "index", instance->index);
    table_add_text(data.get(), "name", instance->name.c_str());
    copy_params_into(table_add_table(data.get(), "parameters"), instance);
    return data;
}

void copy_params_into(amxc_var_t* params, const amxd_object_t* object) {
    for(const ParamPtr& param : object->params) {
        table_add_copy(params, param->name.c_str(), &param->value);
    }
}

} // namespace amxd
