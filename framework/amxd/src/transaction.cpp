// Recording transactions and applying them (the engine is in apply_context.cpp).
#include <cstdarg>
#include <optional>
#include <string>
#include <vector>

#include "apply_context.h"
#include "c_boundary.h"
#include "object_tree.h"
#include "path.h"

using namespace amxd;

namespace {

constexpr std::size_t max_operations = 1u << 20;

struct Operation {
    enum class Kind { select, set, add_inst, del_inst };
    Kind kind;
    std::string text;            // select: path; set: parameter; add/del: instance name
    VarPtr value;                // set only
    uint32_t index = 0;          // add/del only
    const amxd_dm_t* dm = nullptr;   // select of an object: the data model it belonged to
};

struct TransImpl {
    std::vector<Operation> ops;
    bool applied = false;
    amxd_status_t broken = amxd_status_ok;   // recording ran out of memory or operations
    std::string error;
    std::string added_path;
};

TransImpl* impl_of(const amxd_trans_t* trans) {
    return trans == nullptr ? nullptr : static_cast<TransImpl*>(trans->impl);
}

// Appends an operation; a failure to store it breaks the transaction, so that applying it can
// never silently skip a step the caller asked for.
amxd_status_t record(amxd_trans_t* trans, Operation&& op) {
    TransImpl* impl = impl_of(trans);
    if(impl == nullptr) {
        return amxd_status_invalid_arg;
    }
    if(impl->broken != amxd_status_ok) {
        return impl->broken;
    }
    if(impl->ops.size() >= max_operations) {
        impl->broken = amxd_status_invalid_arg;
        return impl->broken;
    }
    amxd_status_t status = guard_status([&] {
        if(impl->ops.capacity() == 0) {
            impl->ops.reserve(4);   // a selection and a few writes, in one block
        }
        impl->ops.push_back(std::move(op));
        return amxd_status_ok;
    });
    if(status != amxd_status_ok) {
        impl->broken = status;
    }
    return status;
}

amxd_status_t run_operations(ApplyContext& apply, const std::vector<Operation>& ops) {
    for(const Operation& op : ops) {
        amxd_status_t status = amxd_status_ok;
        switch(op.kind) {
        case Operation::Kind::select:
            if((op.dm != nullptr) && (op.dm != apply.dm())) {
                return apply.fail(amxd_status_invalid_arg, "the selected object " + op.text + " belongs to another data model");
            }
            status = apply.select(op.text);
            break;
        case Operation::Kind::set:
            status = apply.set_param(op.text, op.value.get());
            break;
        case Operation::Kind::add_inst:
            status = apply.add_instance(op.index, op.text);
            break;
        case Operation::Kind::del_inst:
            status = apply.delete_instance(op.index, op.text);
            break;
        }
        if(status != amxd_status_ok) {
            return status;
        }
    }
    return amxd_status_ok;
}

amxd_status_t apply_on(TransImpl* impl, bool change_ro, amxd_dm_t* dm) {
    ApplyContext apply(dm, change_ro);
    amxd_status_t status = amxd_status_ok;
    dm->apply = &apply;
    {
        TreeLock lock(dm->root.get());
        try {
            status = run_operations(apply, impl->ops);
            if(status == amxd_status_ok) {
                status = apply.validate();
            }
            if(status == amxd_status_ok) {
                // Taken before the commit, which may destroy that instance again.
                impl->added_path = apply.added_path();
                // Last: once the events are queued nothing may fail any more.
                status = apply.post_events();
            }
        } catch(const std::exception&) {
            status = apply.fail(amxd_status_out_of_mem, "out of memory");
        }
        if(status == amxd_status_ok) {
            apply.commit();
        } else {
            apply.rollback();
        }
    }
    dm->apply = nullptr;
    if(status != amxd_status_ok) {
        impl->added_path.clear();
    }
    // The outcome stands even when its description cannot be stored.
    guard_status([&] {
        impl->error = status == amxd_status_ok ? std::string() : apply.error();
        return amxd_status_ok;
    });
    return status;
}

// A recording step that could not even build its operation breaks the transaction too.
amxd_status_t broken_by(amxd_trans_t* trans, amxd_status_t status) {
    impl_of(trans)->broken = status;
    return status;
}

// A parameter write of a value made here, `name` checked: recorded as it is, not copied once more.
amxd_status_t record_set(amxd_trans_t* trans, const char* name, VarPtr value) {
    Operation op{Operation::Kind::set, {}, std::move(value), 0, nullptr};
    amxd_status_t status = guard_status([&] {
        op.text = name;
        return amxd_status_ok;
    });
    return status == amxd_status_ok ? record(trans, std::move(op)) : broken_by(trans, status);
}

amxd_status_t set_text(amxd_trans_t* trans, const char* name, const char* value, int (*setter)(amxc_var_t*, const char*)) {
    if((impl_of(trans) == nullptr) || (name == nullptr) || (name[0] == '\0') || (value == nullptr)) {
        return amxd_status_invalid_arg;
    }
    VarPtr var;
    amxd_status_t status = guard_status([&] {
        var = new_var();
        return amxd_status_ok;
    });
    if((status != amxd_status_ok) || (setter(var.get(), value) != 0)) {
        return broken_by(trans, amxd_status_out_of_mem);
    }
    return record_set(trans, name, std::move(var));
}

template <typename Value>
amxd_status_t set_scalar(amxd_trans_t* trans, const char* name, Value value, int (*setter)(amxc_var_t*, Value)) {
    ScopedVar var;
    setter(var.get(), value);   // scalars need no memory
    return amxd_trans_set_param(trans, name, var.get());
}

} // namespace

extern "C" {

amxd_status_t amxd_trans_init(amxd_trans_t* const trans) {
    if(trans == nullptr) {
        return amxd_status_invalid_arg;
    }
    trans->impl = new(std::nothrow) TransImpl();
    trans->attributes = 0;
    trans->status = amxd_status_ok;
    return trans->impl == nullptr ? amxd_status_out_of_mem : amxd_status_ok;
}

void amxd_trans_clean(amxd_trans_t* const trans) {
    if(trans == nullptr) {
        return;
    }
    delete impl_of(trans);
    trans->impl = nullptr;
    trans->attributes = 0;
}

amxd_status_t amxd_trans_new(amxd_trans_t** trans) {
    if(trans == nullptr) {
        return amxd_status_invalid_arg;
    }
    *trans = new(std::nothrow) amxd_trans_t();
    if(*trans == nullptr) {
        return amxd_status_out_of_mem;
    }
    amxd_status_t status = amxd_trans_init(*trans);
    if(status != amxd_status_ok) {
        delete *trans;
        *trans = nullptr;
    }
    return status;
}

void amxd_trans_delete(amxd_trans_t** trans) {
    if((trans == nullptr) || (*trans == nullptr)) {
        return;
    }
    amxd_trans_clean(*trans);
    delete *trans;
    *trans = nullptr;
}

amxd_status_t amxd_trans_set_attr(amxd_trans_t* trans, amxd_tattr_id_t attr, bool enable) {
    if((trans == nullptr) || (attr < amxd_tattr_change_ro) || (attr > amxd_tattr_change_prot)) {
        return amxd_status_invalid_arg;
    }
    const uint32_t bit = 1u << static_cast<uint32_t>(attr);
    trans->attributes = enable ? (trans->attributes | bit) : (trans->attributes & ~bit);
    return amxd_status_ok;
}

amxd_status_t amxd_trans_select_object(amxd_trans_t* trans, const amxd_object_t* const object) {
    if((impl_of(trans) == nullptr) || (object == nullptr) || (dm_of(object) == nullptr)) {
        return amxd_status_invalid_arg;
    }
    Operation op{Operation::Kind::select, {}, nullptr, 0, dm_of(object)};
    amxd_status_t status = guard_status([&] {
        op.text = object_path(object, AMXD_OBJECT_INDEXED);
        return amxd_status_ok;
    });
    return status == amxd_status_ok ? record(trans, std::move(op)) : broken_by(trans, status);
}

amxd_status_t amxd_trans_select_pathf(amxd_trans_t* const trans, const char* path_fmt, ...) {
    if((impl_of(trans) == nullptr) || (path_fmt == nullptr)) {
        return amxd_status_invalid_arg;
    }
    Operation op{Operation::Kind::select, {}, nullptr, 0, nullptr};
    va_list args;
    va_start(args, path_fmt);
    std::optional<std::string> path;
    amxd_status_t status = guard_status([&] {
        path = format_path(path_fmt, args);
        return amxd_status_ok;
    });
    va_end(args);
    if(status != amxd_status_ok) {
        return broken_by(trans, status);
    }
    if(!path) {
        return amxd_status_invalid_arg;
    }
    op.text = std::move(*path);
    return record(trans, std::move(op));
}

amxd_status_t amxd_trans_set_param(amxd_trans_t* const trans, const char* param_name, amxc_var_t* const value) {
    if((impl_of(trans) == nullptr) || (param_name == nullptr) || (param_name[0] == '\0') || (value == nullptr)) {
        return amxd_status_invalid_arg;
    }
    VarPtr copy;
    amxd_status_t status = guard_status([&] {
        copy = copy_var(value);
        return amxd_status_ok;
    });
    return status == amxd_status_ok ? record_set(trans, param_name, std::move(copy)) : broken_by(trans, status);
}

amxd_status_t amxd_trans_set_cstring_t(amxd_trans_t* const trans, const char* name, const char* value) {
    return set_text(trans, name, value, amxc_var_set_cstring_t);
}

amxd_status_t amxd_trans_set_csv_string_t(amxd_trans_t* const trans, const char* name, const char* value) {
    return set_text(trans, name, value, amxc_var_set_csv_string_t);
}

amxd_status_t amxd_trans_set_bool(amxd_trans_t* const trans, const char* name, bool value) {
    return set_scalar(trans, name, value, amxc_var_set_bool);
}

amxd_status_t amxd_trans_set_int32_t(amxd_trans_t* const trans, const char* name, int32_t value) {
    return set_scalar(trans, name, value, amxc_var_set_int32_t);
}

amxd_status_t amxd_trans_set_uint32_t(amxd_trans_t* const trans, const char* name, uint32_t value) {
    return set_scalar(trans, name, value, amxc_var_set_uint32_t);
}

amxd_status_t amxd_trans_set_int64_t(amxd_trans_t* const trans, const char* name, int64_t value) {
    return set_scalar(trans, name, value, amxc_var_set_int64_t);
}

amxd_status_t amxd_trans_set_uint64_t(amxd_trans_t* const trans, const char* name, uint64_t value) {
    return set_scalar(trans, name, value, amxc_var_set_uint64_t);
}

amxd_status_t amxd_trans_add_inst(amxd_trans_t* const trans, const uint32_t index, const char* name) {
    if(impl_of(trans) == nullptr) {
        return amxd_status_invalid_arg;
    }
    Operation op{Operation::Kind::add_inst, {}, nullptr, index, nullptr};
    amxd_status_t status = guard_status([&] {
        op.text = name == nullptr ? "" : name;
        return amxd_status_ok;
    });
    return status == amxd_status_ok ? record(trans, std::move(op)) : broken_by(trans, status);
}

amxd_status_t amxd_trans_del_inst(amxd_trans_t* const trans, const uint32_t index, const char* name) {
    if((impl_of(trans) == nullptr) || ((index == 0) && ((name == nullptr) || (name[0] == '\0')))) {
        return amxd_status_invalid_arg;
    }
    Operation op{Operation::Kind::del_inst, {}, nullptr, index, nullptr};
    amxd_status_t status = guard_status([&] {
        op.text = name == nullptr ? "" : name;
        return amxd_status_ok;
    });
    return status == amxd_status_ok ? record(trans, std::move(op)) : broken_by(trans, status);
}

amxd_status_t amxd_trans_apply(amxd_trans_t* const trans, amxd_dm_t* const dm) {
    TransImpl* impl = impl_of(trans);
    if((impl == nullptr) || (dm == nullptr)) {
        return amxd_status_invalid_arg;
    }
    amxd_status_t status = amxd_status_ok;
    const char* refusal = nullptr;
    if(impl->applied) {
        status = amxd_status_invalid_action;
        refusal = "the transaction was applied already";
    } else if(impl->broken != amxd_status_ok) {
        status = impl->broken;
        refusal = "the transaction could not record all its operations";
    } else if((dm->apply != nullptr) || is_locked(dm->root.get())) {
        status = amxd_status_recursion;
        refusal = "the data model is busy: transactions cannot be applied from actions or from another apply";
    }
    if(refusal != nullptr) {
        guard_status([&] {
            impl->error = refusal;
            impl->added_path.clear();
            return amxd_status_ok;
        });
    } else {
        impl->applied = true;
        status = apply_on(impl, (trans->attributes & (1u << amxd_tattr_change_ro)) != 0, dm);
    }
    trans->status = status;
    return status;
}

const char* amxd_trans_get_added_path(const amxd_trans_t* const trans) {
    const TransImpl* impl = impl_of(trans);
    return (impl == nullptr) || impl->added_path.empty() ? nullptr : impl->added_path.c_str();
}

const char* amxd_trans_get_error(const amxd_trans_t* const trans) {
    const TransImpl* impl = impl_of(trans);
    return impl == nullptr ? "" : impl->error.c_str();
}

} // extern "C"
