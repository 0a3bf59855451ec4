// %define: parameter types, defaults and attributes, names expanded from the configuration,
// methods.
#include <cstdlib>
#include <string>

#include "amxo_fixture.h"

namespace {

const char* kTree = R"(
%config { prefix_ = "X_"; }
import "test-module-a.so" as "a";
%define {
    object Device {
        object "${prefix_}NetworkSettings" {
            string _test_method(%in %mandatory htable data);
            object AccessControl[] {
                bool Enable = false;
                string NetworkGroupRef { max-length 16; }
                csv_string PortForwardingRuleRef = "a, b";
                %read-only string Status = "Inactive";
                uint32 Port = "8080";
                int32 Code = -1;
                int64 Big = -5000000000;
                uint64 Huge = 18446744073709551615;
                bool FromText = "yes";
            }
            object PortForwardingRule[] {
                object ICMP { uint32 Type = 0; uint32 Code = 3; }
            }
            object NetworkObject[] {
                object Rule[] { string SourceIP = "${prefix_}ip"; }
            }
        }
    }
}
)";

class Define : public AmxoTest {
protected:
    std::string text(const char* path, const char* param) {
        char* s = amxd_object_get_cstring_t(find(path), param, nullptr);
        std::string out = s != nullptr ? s : "(null)";
        std::free(s);
        return out;
    }
    uint32_t type(const char* path, const char* param) {
        return amxd_param_get_type(amxd_object_get_param_def(find(path), param));
    }
};

TEST_F(Define, GivesParametersTheirTypesDefaultsAndAttributes) {
    ASSERT_EQ(parse(kTree), 0) << message();
    const char* ac = "Device.X_NetworkSettings.AccessControl";
    EXPECT_EQ(type(ac, "Enable"), AMXC_VAR_ID_BOOL);
    EXPECT_EQ(type(ac, "NetworkGroupRef"), AMXC_VAR_ID_CSTRING);
    EXPECT_EQ(type(ac, "PortForwardingRuleRef"), AMXC_VAR_ID_CSV_STRING);
    EXPECT_EQ(type(ac, "Port"), AMXC_VAR_ID_UINT32);
    EXPECT_EQ(type(ac, "Code"), AMXC_VAR_ID_INT32);
    EXPECT_EQ(type(ac, "Big"), AMXC_VAR_ID_INT64);
    EXPECT_EQ(type(ac, "Huge"), AMXC_VAR_ID_UINT64);

    const amxd_object_t* templ = find(ac);
    EXPECT_EQ(amxc_var_get_const_uint32_t(amxd_param_get_value(amxd_object_get_param_def(templ, "Port"))), 8080u)
        << "a text default is converted to the parameter's type";
    EXPECT_EQ(amxc_var_get_const_int32_t(amxd_param_get_value(amxd_object_get_param_def(templ, "Code"))), -1);
    EXPECT_EQ(amxc_var_get_const_int64_t(amxd_param_get_value(amxd_object_get_param_def(templ, "Big"))), -5000000000LL);
    EXPECT_EQ(amxc_var_get_const_uint64_t(amxd_param_get_value(amxd_object_get_param_def(templ, "Huge"))), UINT64_MAX);
    EXPECT_TRUE(amxc_var_get_const_bool(amxd_param_get_value(amxd_object_get_param_def(templ, "FromText"))));
    EXPECT_STREQ(amxc_var_get_const_cstring_t(amxd_param_get_value(amxd_object_get_param_def(templ, "Status"))), "Inactive");
    EXPECT_STREQ(amxc_var_get_const_cstring_t(amxd_param_get_value(amxd_object_get_param_def(templ, "NetworkGroupRef"))), "");

    EXPECT_TRUE(amxd_param_is_attr_set(amxd_object_get_param_def(templ, "Status"), amxd_pattr_read_only));
    EXPECT_FALSE(amxd_param_is_attr_set(amxd_object_get_param_def(templ, "Enable"), amxd_pattr_read_only));

    const amxd_object_t* rule = amxd_object_get_child(find("Device.X_NetworkSettings.NetworkObject"), "Rule");
    EXPECT_STREQ(amxc_var_get_const_cstring_t(amxd_param_get_value(amxd_object_get_param_def(rule, "SourceIP"))), "X_ip")
        << "${...} is expanded in texts as well as names";
}

TEST_F(Define, BindsAndInvokesMethods) {
    ASSERT_EQ(parse(kTree), 0) << message();
    amxd_object_t* ns = find("Device.X_NetworkSettings");
    amxc_var_t args;
    amxc_var_t ret;
    amxc_var_init(&args);
    amxc_var_init(&ret);
    amxc_var_set_type(&args, AMXC_VAR_ID_HTABLE);
    amxc_var_t* data = amxc_var_add_new_key_htable(&args, "data");
    amxc_var_add_new_key_cstring_t(data, "k", "v");
    ASSERT_EQ(amxd_object_invoke_function(ns, "_test_method", &args, &ret), amxd_status_ok);
    EXPECT_STREQ(amxc_var_get_const_cstring_t(&ret), "a _test_method on Device.X_NetworkSettings. data={k=v}");

    // The argument was declared mandatory.
    amxc_var_clean(&args);
    amxc_var_set_type(&args, AMXC_VAR_ID_HTABLE);
    EXPECT_EQ(amxd_object_invoke_function(ns, "_test_method", &args, &ret), amxd_status_invalid_function_argument);
    amxc_var_clean(&args);
    amxc_var_clean(&ret);
}

TEST_F(Define, NamesAreChecked) {
    EXPECT_NE(parse("%config { p = \"a.b\"; } %define { object \"${p}\" { } }"), 0);
    EXPECT_EQ(message(), "<string>:1: invalid object name 'a.b'");
    EXPECT_NE(parse("%define { object \"9lives\" { } }"), 0);
    EXPECT_EQ(message(), "<string>:1: invalid object name '9lives'");
    EXPECT_NE(parse("%define { object A { string \"\"; } }"), 0);
    EXPECT_EQ(message(), "<string>:1: invalid parameter name ''");
    EXPECT_NE(parse("%define { object A { string P; object P { } } }"), 0);
    EXPECT_EQ(message(), "<string>:1: object 'P' has the name of a parameter");
    EXPECT_EQ(dump(), "");
}

}  // namespace
