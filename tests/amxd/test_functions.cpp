// Data-model functions: arguments, return values, refusals.
#include "dm_fixture.h"

using namespace amxd_test;

namespace {
// Sum of "a" and "b" (uint32 after conversion); echoes the object's path in "path".
amxd_status_t add_numbers(amxd_object_t* object, amxd_function_t* func, amxc_var_t* args, amxc_var_t* ret) {
    EXPECT_STREQ(amxd_function_get_name(func), "Add");
    EXPECT_EQ(amxd_function_get_owner(func), object);
    EXPECT_EQ(amxc_var_type_of(amxc_var_get_key(args, "a", AMXC_VAR_FLAG_DEFAULT)), AMXC_VAR_ID_UINT32);
    uint32_t sum = amxc_var_get_uint32_t(amxc_var_get_key(args, "a", AMXC_VAR_FLAG_DEFAULT)) +
                   amxc_var_get_uint32_t(amxc_var_get_key(args, "b", AMXC_VAR_FLAG_DEFAULT));
    amxc_var_set_uint32_t(ret, sum);
    return amxd_status_ok;
}

class FunctionTest : public DmTest {
protected:
    void SetUp() override {
        DmTest::SetUp();
        amxd_function_t* func = nullptr;
        ASSERT_EQ(amxd_function_new(&func, "Add", AMXC_VAR_ID_UINT32, add_numbers), amxd_status_ok);
        ASSERT_EQ(amxd_function_add_arg(func, "a", AMXC_VAR_ID_UINT32, true), amxd_status_ok);
        ASSERT_EQ(amxd_function_add_arg(func, "b", AMXC_VAR_ID_UINT32, false), amxd_status_ok);
        EXPECT_EQ(amxd_function_add_arg(func, "b", AMXC_VAR_ID_BOOL, false), amxd_status_duplicate);
        ASSERT_EQ(amxd_object_add_function(x, func), amxd_status_ok);
        amxd_function_t* stub = nullptr;
        ASSERT_EQ(amxd_function_new(&stub, "_Import", AMXC_VAR_ID_NULL, nullptr), amxd_status_ok);
        ASSERT_EQ(amxd_object_add_function(x, stub), amxd_status_ok);
        amxc_var_init(&args);
        amxc_var_set_type(&args, AMXC_VAR_ID_HTABLE);
        amxc_var_init(&ret);
    }
    void TearDown() override {
        amxc_var_clean(&args);
        amxc_var_clean(&ret);
        DmTest::TearDown();
    }
    amxc_var_t args;
    amxc_var_t ret;
};
} // namespace

TEST_F(FunctionTest, InvokeConvertsArgumentsAndReturnsAValue) {
    amxc_var_add_key(cstring_t, &args, "a", "40");
    amxc_var_add_key(uint32_t, &args, "b", 2);
    ASSERT_EQ(amxd_object_invoke_function(x, "Add", &args, &ret), amxd_status_ok);
    EXPECT_EQ(amxc_var_get_const_uint32_t(&ret), 42u);
}

TEST_F(FunctionTest, RefusesMissingOrBadArgumentsAndUnknownFunctions) {
    amxc_var_add_key(uint32_t, &args, "b", 2);
    EXPECT_EQ(amxd_object_invoke_function(x, "Add", &args, &ret), amxd_status_invalid_function_argument);
    amxc_var_add_key(cstring_t, &args, "a", "forty");
    EXPECT_EQ(amxd_object_invoke_function(x, "Add", &args, &ret), amxd_status_invalid_function_argument);
    EXPECT_EQ(amxd_object_invoke_function(x, "Add", nullptr, &ret), amxd_status_invalid_function_argument);
    EXPECT_EQ(amxd_object_invoke_function(x, "Nope", &args, &ret), amxd_status_function_not_found);
    EXPECT_EQ(amxd_object_invoke_function(x, "_Import", &args, &ret), amxd_status_function_not_implemented);
    amxc_var_t list;
    amxc_var_init(&list);
    amxc_var_set_type(&list, AMXC_VAR_ID_LIST);
    EXPECT_EQ(amxd_object_invoke_function(x, "Add", &list, &ret), amxd_status_invalid_function_argument);
    amxc_var_clean(&list);
    EXPECT_EQ(amxc_var_type_of(&ret), AMXC_VAR_ID_NULL);
}

TEST_F(FunctionTest, TemplateFunctionsAreCopiedToInstances) {
    amxd_function_t* func = nullptr;
    ASSERT_EQ(amxd_function_new(&func, "Add", AMXC_VAR_ID_UINT32, add_numbers), amxd_status_ok);
    amxd_function_add_arg(func, "a", AMXC_VAR_ID_UINT32, true);
    ASSERT_EQ(amxd_object_add_function(access, func), amxd_status_ok);
    amxd_object_t* acl = add_instance(access, nullptr);
    ASSERT_NE(amxd_object_get_function(acl, "Add"), nullptr);
    EXPECT_NE(amxd_object_get_function(acl, "Add"), func);
    amxc_var_add_key(uint32_t, &args, "a", 7);
    ASSERT_EQ(amxd_object_invoke_function(acl, "Add", &args, &ret), amxd_status_ok);
    EXPECT_EQ(amxc_var_get_const_uint32_t(&ret), 7u);
}
