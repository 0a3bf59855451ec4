// Writing variants as JSON: exact text, escaping, and the refusals that keep
// "whatever is written can be read back" true.
#include <gtest/gtest.h>

#include <string>

#include <amxj/amxj.h>

namespace {

struct Var {
    Var() { amxc_var_init(&v); }
    ~Var() { amxc_var_clean(&v); }
    amxc_var_t v;
};

struct Text {
    Text() { amxc_string_init(&s, 0); }
    ~Text() { amxc_string_clean(&s); }
    std::string str() const { return amxc_string_get(&s, 0); }
    amxc_string_t s;
};

std::string write(const amxc_var_t* var, bool pretty = false) {
    Text out;
    EXPECT_EQ(amxj_write(var, &out.s, pretty), 0);
    return out.str();
}

TEST(JsonWrite, EscapesControlCharactersAndKeepsUtf8) {
    Var text;
    amxc_var_set(cstring_t, &text.v, "q\"b\\n\n\t\x01\x1f/\x7f caf\xc3\xa9 \xf0\x9f\x98\x80");
    EXPECT_EQ(write(&text.v), "\"q\\\"b\\\\n\\n\\t\\u0001\\u001f/\x7f caf\xc3\xa9 \xf0\x9f\x98\x80\"");

    Var key;
    amxc_var_set_type(&key.v, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(int32_t, &key.v, "a\"b", 1);
    EXPECT_EQ(write(&key.v), "{\"a\\\"b\":1}");
}

TEST(JsonWrite, RefusesWhatCouldNotBeReadBack) {
    Text out;
    amxc_string_set(&out.s, "untouched");

    Var bad_text;  // a lone continuation byte, then an overlong '/'
    amxc_var_set(cstring_t, &bad_text.v, "ok\x80");
    EXPECT_NE(amxj_write(&bad_text.v, &out.s, false), 0);
    amxc_var_set(cstring_t, &bad_text.v, "\xc0\xaf");
    EXPECT_NE(amxj_write(&bad_text.v, &out.s, false), 0);

    Var bad_key;
    amxc_var_set_type(&bad_key.v, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(int32_t, &bad_key.v, "\xed\xa0\x80", 1);  // an encoded surrogate
    EXPECT_NE(amxj_write(&bad_key.v, &out.s, false), 0);

    Var deep;
    amxc_var_set_type(&deep.v, AMXC_VAR_ID_LIST);
    amxc_var_t* inner = &deep.v;
    for(int depth = 1; depth < AMXJ_MAX_DEPTH; ++depth) {
        inner = amxc_var_add_new_list(inner);
    }
    EXPECT_EQ(amxj_write(&deep.v, &out.s, false), 0) << "exactly the maximum depth is fine";
    amxc_var_add_new_list(inner);
    amxc_string_set(&out.s, "untouched");
    EXPECT_NE(amxj_write(&deep.v, &out.s, false), 0);

    EXPECT_EQ(out.str(), "untouched");
    EXPECT_NE(amxj_write(NULL, &out.s, false), 0);
    EXPECT_NE(amxj_write(&deep.v, NULL, false), 0);
}

}  // namespace
