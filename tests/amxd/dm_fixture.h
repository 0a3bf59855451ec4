// A data model shaped like the one the module runs on, and helpers to drive it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <amxc/amxc_scoped_var.h>
#include <amxc/amxc_variant.h>
#include <amxd/amxd.h>
#include <amxp/amxp_loop.h>
#include <amxp/amxp_slot.h>

namespace amxd_test {

// Owned text from the C API, freed on scope exit.
inline std::string take_text(char* text) {
    std::string copy = text == nullptr ? "<null>" : text;
    free(text);
    return copy;
}

inline amxd_param_t* add_param(amxd_object_t* object, const char* name, uint32_t type, const char* initial = nullptr) {
    amxd_param_t* param = nullptr;
    EXPECT_EQ(amxd_param_new(&param, name, type), amxd_status_ok);
    if(initial != nullptr) {
        amxc::ScopedVar value;
        amxc_var_set_cstring_t(value.get(), initial);
        EXPECT_EQ(amxd_param_set_value(param, value.get()), amxd_status_ok);
    }
    EXPECT_EQ(amxd_object_add_param(object, param), amxd_status_ok);
    return param;
}

inline amxd_object_t* add_object(amxd_object_t* parent, amxd_object_type_t type, const char* name) {
    amxd_object_t* object = nullptr;
    EXPECT_EQ(amxd_object_new(&object, type, name), amxd_status_ok);
    EXPECT_EQ(amxd_object_add_object(parent, object), amxd_status_ok);
    return object;
}

// Refuses a port above 65535.
inline amxd_status_t port_in_range(amxd_object_t*, amxd_param_t*, amxd_action_t, const amxc_var_t* const args,
                                   amxc_var_t* const, void*) {
    return amxc_var_get_uint64_t(args) > 65535 ? amxd_status_invalid_value : amxd_status_ok;
}

// Device.X.{AccessControl[], PortForwardingRule[] > ICMP, NetworkObject[] > Rule[]}
class DmTest : public ::testing::Test {
protected:
    void SetUp() override {
        amxp_loop_reset();
        ASSERT_EQ(amxd_dm_new(&dm), amxd_status_ok);
        amxd_object_t* device = add_object(amxd_dm_get_root(dm), amxd_object_singleton, "Device");
        x = add_object(device, amxd_object_singleton, "X");

        access = add_object(x, amxd_object_template, "AccessControl");
        add_param(access, "Alias", AMXC_VAR_ID_CSTRING);
        add_param(access, "Enable", AMXC_VAR_ID_BOOL, "false");
        add_param(access, "NetworkGroupRef", AMXC_VAR_ID_CSTRING);

        pfr = add_object(x, amxd_object_template, "PortForwardingRule");
        add_param(pfr, "Protocol", AMXC_VAR_ID_CSTRING);
        amxd_param_t* port = add_param(pfr, "DestPortEndRange", AMXC_VAR_ID_UINT32, "0");
        amxd_param_add_action_cb(port, action_param_validate, port_in_range, nullptr);
        amxd_object_t* icmp = add_object(pfr, amxd_object_singleton, "ICMP");
        add_param(icmp, "Type", AMXC_VAR_ID_UINT32, "0");

        netobj = add_object(x, amxd_object_template, "NetworkObject");
        add_param(netobj, "Name", AMXC_VAR_ID_CSTRING);
        amxd_object_t* rule = add_object(netobj, amxd_object_template, "Rule");
        add_param(rule, "Type", AMXC_VAR_ID_CSTRING, "IPAddress");
        add_param(rule, "SourceIP", AMXC_VAR_ID_CSTRING);
    }

    void TearDown() override {
        amxd_dm_delete(&dm);
        amxp_loop_reset();
    }

    // Applies a transaction built by `build`; returns its status and keeps its error text.
    template <typename Build>
    amxd_status_t apply(Build build, bool change_ro = false) {
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        amxd_trans_set_attr(&trans, amxd_tattr_change_ro, change_ro);
        build(&trans);
        amxd_status_t status = amxd_trans_apply(&trans, dm);
        last_error = amxd_trans_get_error(&trans);
        const char* added = amxd_trans_get_added_path(&trans);
        last_added = added == nullptr ? "" : added;
        amxd_trans_clean(&trans);
        return status;
    }

    // Adds an instance with the given name and text parameters in one transaction.
    amxd_object_t* add_instance(amxd_object_t* templ, const char* name,
                                std::vector<std::pair<const char*, const char*>> params = {}) {
        amxd_status_t status = apply([&](amxd_trans_t* t) {
            amxd_trans_select_object(t, templ);
            amxd_trans_add_inst(t, 0, name);
            for(const auto& [key, value] : params) {
                amxd_trans_set_cstring_t(t, key, value);
            }
        });
        EXPECT_EQ(status, amxd_status_ok) << last_error;
        return amxd_dm_findf(dm, "%s", last_added.c_str());
    }

    // One addition, or one parameter written as text, in a transaction of its own.
    amxd_status_t add_at(amxd_object_t* templ, uint32_t index, const char* name) {
        return apply([&](amxd_trans_t* t) {
            amxd_trans_select_object(t, templ);
            amxd_trans_add_inst(t, index, name);
        });
    }
    amxd_status_t set(amxd_object_t* object, const char* param, const char* value) {
        return apply([&](amxd_trans_t* t) {
            amxd_trans_select_object(t, object);
            amxd_trans_set_cstring_t(t, param, value);
        });
    }

    std::string text_of(const amxd_object_t* object, const char* param) {
        return take_text(amxd_object_get_cstring_t(object, param, nullptr));
    }

    amxd_dm_t* dm = nullptr;
    amxd_object_t* x = nullptr;
    amxd_object_t* access = nullptr;
    amxd_object_t* pfr = nullptr;
    amxd_object_t* netobj = nullptr;
    std::string last_error;
    std::string last_added;
};

// Every event of a data model, in delivery order, as copies.
class EventLog {
public:
    explicit EventLog(amxd_dm_t* dm) {
        amxc_var_set_type(events_.get(), AMXC_VAR_ID_LIST);
        EXPECT_EQ(amxp_slot_connect(amxd_dm_get_sigmngr(dm), "*", nullptr, &EventLog::slot, this), 0);
    }

    std::size_t size() const { return names_.size(); }
    const std::string& name(std::size_t i) const { return names_.at(i); }
    const amxc_var_t* at(std::size_t i) const {
        return amxc_var_get_index(events_.get(), static_cast<int64_t>(i), AMXC_VAR_FLAG_DEFAULT);
    }
    const amxc_var_t* get(std::size_t i, const char* path) const {
        return amxc_var_get_path(at(i), path, AMXC_VAR_FLAG_DEFAULT);
    }
    std::string text(std::size_t i, const char* path) const { return take_text(amxc_var_get_cstring_t(get(i, path))); }

private:
    static void slot(const char* const sig_name, const amxc_var_t* const data, void* const priv) {
        auto* self = static_cast<EventLog*>(priv);
        EXPECT_EQ(amxc_var_copy(amxc_var_add_new(self->events_.get()), data), 0);
        self->names_.push_back(sig_name);
    }

    amxc::ScopedVar events_;
    std::vector<std::string> names_;
};

} // namespace amxd_test
