// Actions and events: the functions a definition binds are called for the right objects, with
// the data the definition gives them, and events reach only the handlers of their own object.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "amxo_fixture.h"

namespace {

using Records = std::vector<std::string>;

class Bindings : public AmxoTest {
protected:
    amxd_status_t apply(const std::string& select, const std::string& param, const char* value) {
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        amxd_trans_select_pathf(&trans, "%s", select.c_str());
        amxd_trans_set_cstring_t(&trans, param.c_str(), value);
        const amxd_status_t status = amxd_trans_apply(&trans, dm_);
        amxd_trans_clean(&trans);
        return status;
    }
    amxd_status_t add(const std::string& templ, const char* name = nullptr) {
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        amxd_trans_select_pathf(&trans, "%s", templ.c_str());
        amxd_trans_add_inst(&trans, 0, name);
        const amxd_status_t status = amxd_trans_apply(&trans, dm_);
        amxd_trans_clean(&trans);
        return status;
    }
    amxd_status_t del(const std::string& templ, uint32_t index) {
        amxd_trans_t trans;
        amxd_trans_init(&trans);
        amxd_trans_select_pathf(&trans, "%s", templ.c_str());
        amxd_trans_del_inst(&trans, index, nullptr);
        const amxd_status_t status = amxd_trans_apply(&trans, dm_);
        amxd_trans_clean(&trans);
        return status;
    }
    Records events() {
        run_loop();
        return take_records();
    }
};

TEST_F(Bindings, ParameterValidateGetsTheBindingDataAsPriv) {
    ASSERT_EQ(parse(R"(
import "test-module-a.so" as "a";
%define {
    object Rule[] {
        string SourcePort {
            on action validate call _test_range { min = 10; max = 100; };
        }
    }
})"), 0) << message();
    ASSERT_EQ(add("Rule"), amxd_status_ok);
    take_records();

    EXPECT_EQ(apply("Rule.1", "SourcePort", "100"), amxd_status_ok);
    EXPECT_EQ(apply("Rule.1", "SourcePort", "101"), amxd_status_invalid_value);
    const Records calls = take_records();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "a: range 3 SourcePort=100 priv={min=10,max=100}");
    EXPECT_EQ(calls[1], "a: range 3 SourcePort=101 priv={min=10,max=100}");
    char* kept = amxd_object_get_cstring_t(find("Rule.1"), "SourcePort", nullptr);
    EXPECT_STREQ(kept, "100");
    free(kept);
}

class EventScope : public Bindings {
protected:
    void SetUp() override {
        Bindings::SetUp();
        ASSERT_EQ(parse(R"(
import "test-module-a.so" as "a";
%define {
    object Device {
        object AccessControl[] {
            bool Enable;
            string Name;
            on event "dm:instance-added" call _test_event;
            on event "dm:object-changed" call _test_event filter 'contains("parameters.Enable")';
            object Sub {
                string X;
                on event "dm:object-changed" call _test_event;
            }
        }
        object AccessControlExtra[] {
            bool Enable;
        }
        object NetworkObject[] {
            string Name;
            object Rule[] {
                string SourceIP;
                on event "dm:instance-added" call _test_event;
                on event "dm:object-changed" call _test_event;
            }
        }
    }
})"), 0) << message();
    }
};

TEST_F(EventScope, TableHandlersSeeTheTableAndItsInstancesOnly) {
    ASSERT_EQ(add("Device.AccessControl"), amxd_status_ok);
    ASSERT_EQ(add("Device.AccessControlExtra"), amxd_status_ok);
    EXPECT_EQ(events(), (Records{"a: event dm:instance-added Device.AccessControl. priv=Device.AccessControl."}))
        << "a table whose name starts with the same letters is another object";

    ASSERT_EQ(apply("Device.AccessControl.1", "Enable", "true"), amxd_status_ok);
    ASSERT_EQ(apply("Device.AccessControlExtra.1", "Enable", "true"), amxd_status_ok);
    EXPECT_EQ(events(), (Records{"a: event dm:object-changed Device.AccessControl.1. priv=Device.AccessControl."}));
}

TEST_F(EventScope, TablesInTablesMatchAnyIndexAtEachLevel) {
    ASSERT_EQ(add("Device.NetworkObject"), amxd_status_ok);
    ASSERT_EQ(add("Device.NetworkObject"), amxd_status_ok);
    ASSERT_EQ(add("Device.NetworkObject.2.Rule"), amxd_status_ok);
    ASSERT_EQ(add("Device.NetworkObject.2.Rule"), amxd_status_ok);
    const std::string priv = " priv=Device.NetworkObject.Rule.";
    EXPECT_EQ(events(), (Records{"a: event dm:instance-added Device.NetworkObject.2.Rule." + priv,
                                 "a: event dm:instance-added Device.NetworkObject.2.Rule." + priv}));

    ASSERT_EQ(apply("Device.NetworkObject.2.Rule.2", "SourceIP", "10.0.0.1"), amxd_status_ok);
    ASSERT_EQ(apply("Device.NetworkObject.1", "Name", "lan"), amxd_status_ok);
    EXPECT_EQ(events(), (Records{"a: event dm:object-changed Device.NetworkObject.2.Rule.2." + priv}));
}

}  // namespace
