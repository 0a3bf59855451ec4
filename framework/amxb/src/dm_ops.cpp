// Changes and calls on a data model of this process. Every change is one transaction, so a
// refused value leaves the whole tree as it was.
#include <cstdlib>
#include <memory>

#include "dm_ops.h"
#include "path.h"

namespace amxb {

namespace {

using owned_text = std::unique_ptr<char, decltype(&std::free)>;

class Transaction {
public:
    Transaction() { amxd_trans_init(&trans_); }
    ~Transaction() { amxd_trans_clean(&trans_); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    amxd_trans_t* get() { return &trans_; }

    Outcome apply(amxd_dm_t* dm, const std::string& path) {
        const amxd_status_t status = amxd_trans_apply(&trans_, dm);
        if(status == amxd_status_ok) {
            return {};
        }
        const char* why = amxd_trans_get_error(&trans_);
        if(why == nullptr || why[0] == '\0') {
            return refusal(status, path);
        }
        return {status, why};
    }

private:
    amxd_trans_t trans_;
};

std::string indexed_path(const amxd_object_t* object) {
    const owned_text path(amxd_object_get_path(object, AMXD_OBJECT_INDEXED | AMXD_OBJECT_TERMINATE), &std::free);
    return path == nullptr ? std::string() : std::string(path.get());
}

// Records a set of every member of `values` (a table or NULL) on the current selection.
Outcome record_values(Transaction& trans, const amxc_var_t* values, const std::string& path) {
    if(values == nullptr) {
        return {};
    }
    if(amxc_var_type_of(values) != AMXC_VAR_ID_HTABLE) {
        return refusal(amxd_status_invalid_arg, path + " (values must be a table)");
    }
    amxc_var_for_each(value, values) {
        amxc_var_t copy;
        amxc_var_init(&copy);
        amxc_var_copy(&copy, value);
        const amxd_status_t status = amxd_trans_set_param(trans.get(), amxc_var_key(value), &copy);
        amxc_var_clean(&copy);
        if(status != amxd_status_ok) {
            return refusal(status, path + amxc_var_key(value));
        }
    }
    return {};
}

amxd_object_t* find(amxd_dm_t* dm, const std::string& path, Outcome& outcome) {
    if(!path_is_valid(path)) {
        outcome = refusal(amxd_status_invalid_path, path);
        return nullptr;
    }
    amxd_object_t* object = amxd_dm_findf(dm, "%s", path.c_str());
    if(object == nullptr || amxd_object_get_type(object) == amxd_object_root) {
        outcome = refusal(amxd_status_object_not_found, path);
        return nullptr;
    }
    return object;
}

Outcome dm_set(amxd_dm_t* dm, const Request& request, amxc_var_t* ret) {
    Outcome outcome;
    amxd_object_t* object = find(dm, request.path, outcome);
    if(object == nullptr) {
        return outcome;
    }
    const std::string path = indexed_path(object);
    if(amxc_var_type_of(request.values) != AMXC_VAR_ID_HTABLE) {
        return refusal(amxd_status_invalid_arg, path + " (values must be a table)");
    }
    Transaction trans;
    amxd_trans_select_object(trans.get(), object);
    outcome = record_values(trans, request.values, path);
    if(outcome.status == 0) {
        outcome = trans.apply(dm, path);
    }
    if(outcome.status != 0) {
        return outcome;
    }
    amxc_var_set_type(ret, AMXC_VAR_ID_LIST);
    amxc_var_t* params = amxc_var_add_new_key_htable(amxc_var_add_new_htable(ret), path.c_str());
    amxc_var_for_each(value, request.values) {
        const amxc_var_t* now = amxd_object_get_param_value(object, amxc_var_key(value));
        amxc_var_copy(amxc_var_add_new_key(params, amxc_var_key(value)), now);
    }
    return {};
}

Outcome dm_add(amxd_dm_t* dm, const Request& request, amxc_var_t* ret) {
    Outcome outcome;
    amxd_object_t* templ = find(dm, request.path, outcome);
    if(templ == nullptr) {
        return outcome;
    }
    const std::string path = indexed_path(templ);
    if(amxd_object_get_type(templ) != amxd_object_template) {
        return refusal(amxd_status_not_a_template, path);
    }
    Transaction trans;
    amxd_trans_select_object(trans.get(), templ);
    amxd_trans_add_inst(trans.get(), request.index, request.name.c_str());
    outcome = record_values(trans, request.values, path);
    if(outcome.status == 0) {
        outcome = trans.apply(dm, path);
    }
    if(outcome.status != 0) {
        return outcome;
    }
    const char* added = amxd_trans_get_added_path(trans.get());
    amxd_object_t* instance = added == nullptr ? nullptr : amxd_dm_findf(dm, "%s", added);
    if(instance == nullptr) {
        return refusal(amxd_status_unknown_error, path + " (the added instance is gone)");
    }
    amxc_var_set_type(ret, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(cstring_t, ret, "path", indexed_path(instance).c_str());
    amxc_var_add_key(uint32_t, ret, "index", amxd_object_get_index(instance));
    amxc_var_add_key(cstring_t, ret, "name", amxd_object_get_name(instance, AMXD_OBJECT_NAMED));
    return {};
}

Outcome dm_del(amxd_dm_t* dm, const Request& request, amxc_var_t* ret) {
    Outcome outcome;
    amxd_object_t* instance = find(dm, request.path, outcome);
    if(instance == nullptr) {
        return outcome;
    }
    const std::string path = indexed_path(instance);
    if(amxd_object_get_type(instance) != amxd_object_instance) {
        return refusal(amxd_status_not_instantiated, path + " (not an instance)");
    }
    Transaction trans;
    amxd_trans_select_object(trans.get(), amxd_object_get_parent(instance));
    amxd_trans_del_inst(trans.get(), amxd_object_get_index(instance), nullptr);
    outcome = trans.apply(dm, path);
    if(outcome.status != 0) {
        return outcome;
    }
    amxc_var_set_type(ret, AMXC_VAR_ID_LIST);
    amxc_var_add(cstring_t, ret, path.c_str());
    return {};
}

Outcome dm_call(amxd_dm_t* dm, const Request& request, amxc_var_t* ret) {
    Outcome outcome;
    amxd_object_t* object = find(dm, request.path, outcome);
    if(object == nullptr) {
        return outcome;
    }
    const std::string what = indexed_path(object) + request.method + "()";
    if(request.args != nullptr && amxc_var_type_of(request.args) != AMXC_VAR_ID_HTABLE) {
        return refusal(amxd_status_invalid_arg, what + " (arguments must be a table)");
    }
    const amxd_status_t status = amxd_object_invoke_function(object, request.method.c_str(), request.args, ret);
    if(status != amxd_status_ok) {
        // A method that failed may say why in a text return value.
        const char* why = amxc_var_type_of(ret) == AMXC_VAR_ID_CSTRING ? amxc_var_get_const_cstring_t(ret) : nullptr;
        Outcome failed = refusal(status, what);
        if(why != nullptr && why[0] != '\0') {
            failed.error += " (" + std::string(why) + ")";
        }
        amxc_var_clean(ret);
        return failed;
    }
    return {};
}

}  // namespace

Outcome refusal(int status, const std::string& what) {
    return {status, what + ": " + amxd_status_string(static_cast<amxd_status_t>(status))};
}

Outcome dm_execute(amxd_dm_t* dm, const Request& request, amxc_var_t* ret) {
    amxc_var_clean(ret);
    switch(request.op) {
    case Op::get: return dm_get(dm, request.path, request.depth, ret);
    case Op::set: return dm_set(dm, request, ret);
    case Op::add: return dm_add(dm, request, ret);
    case Op::del: return dm_del(dm, request, ret);
    case Op::call: return dm_call(dm, request, ret);
    }
    return refusal(amxd_status_not_supported, request.path);
}

}  // namespace amxb
