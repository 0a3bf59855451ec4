// JSON both ways: hostile or unsupported text is refused with a "line:column" message and the
// target untouched; whatever is written can be read back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include <amxc/amxc_scoped_var.h>
#include <amxj/amxj.h>

namespace {

using Var = amxc::ScopedVar;

struct Outcome {
    int rc;
    std::string error;
};

Outcome read(amxc_var_t* var, const std::string& text) {
    char error[160] = "";
    const int rc = amxj_read(var, text.data(), text.size(), error, sizeof(error));
    return {rc, error};
}

std::string first_string(const std::string& json) {
    Var v;
    const Outcome outcome = read(v.get(), json);
    EXPECT_EQ(outcome.rc, 0) << outcome.error;
    const char* text = amxc_var_get_const_cstring_t(v.get());
    return text == nullptr ? "<not a text>" : text;
}

TEST(JsonRead, EscapesDecodeToUtf8) {
    EXPECT_EQ(first_string(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
    EXPECT_EQ(first_string(R"("\u00e9\u20AC")"), "\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(first_string(R"("\ud83d\ude00")"), "\xf0\x9f\x98\x80");
    EXPECT_EQ(first_string("\"caf\xc3\xa9\""), "caf\xc3\xa9");
    // Runs of plain characters between escapes and multi-byte characters, DEL among them.
    EXPECT_EQ(first_string("\"ab\\ncd\xc3\xa9" "ef\x7f" "gh\\u0041ij\""), "ab\ncd\xc3\xa9" "ef\x7f" "ghAij");
}

TEST(JsonRead, RepeatedKeyKeepsFirstPositionAndLastValue) {
    Var v;
    ASSERT_EQ(read(v.get(), R"({"a": 1, "b": 2, "a": {"x": 3}})").rc, 0);
    ASSERT_EQ(amxc_var_size(v.get()), 2u);
    const amxc_var_t* first = amxc_var_get_first(v.get());
    EXPECT_STREQ(amxc_var_key(first), "a");
    EXPECT_EQ(amxc_var_type_of(first), AMXC_VAR_ID_HTABLE);
    EXPECT_EQ(amxc_var_get_const_int64_t(amxc_var_get_key(first, "x", 0)), 3);
}

// Each refused with its message, position included, and the target left as it was.
TEST(JsonRead, RefusalGivesPositionAndLeavesTargetUntouched) {
    const struct {
        std::string text;
        const char* error;
    } refusals[] = {
        {"", "1:1: unexpected end of text, a value was expected"},
        {"  \n ", "2:2: unexpected end of text, a value was expected"},
        {"{} x", "1:4: unexpected text after the value"},
        {"[1] [2]", "1:5: unexpected text after the value"},
        {"[1,]", "1:4: unexpected character, a value was expected"},
        {"[1 2]", "1:4: ',' or ']' expected"},
        {"{\"a\" 1}", "1:6: ':' expected"},
        {"{a: 1}", "1:2: a string key was expected"},
        {"{\"a\": 1", "1:8: unterminated object"},
        {"[\"abc", "1:6: unterminated string"},
        {"tru", "1:1: invalid literal"},
        {"nul1", "1:1: invalid literal"},
        {"\xef\xbb\xbf{}", "1:1: unexpected character, a value was expected"},
        {"[1,\n  2.5]", "2:3: numbers with a fraction or an exponent are not supported"},
        {"1e3", "1:1: numbers with a fraction or an exponent are not supported"},
        {"-1E-2", "1:1: numbers with a fraction or an exponent are not supported"},
        {"012", "1:1: invalid number: leading zero"},
        {"-", "1:2: invalid number"},
        {"+1", "1:1: unexpected character, a value was expected"},
        {"18446744073709551616", "1:1: integer out of range"},
        {"-9223372036854775809", "1:1: integer out of range"},
        {"99999999999999999999999999999999", "1:1: integer out of range"},
        {R"("\x")", "1:3: invalid escape"},
        {R"("\u12")", "1:4: invalid \\u escape"},
        {R"("\uZZZZ")", "1:4: invalid \\u escape"},
        {R"("\ud800")", "1:2: unpaired UTF-16 surrogate in \\u escape"},
        {R"("\ud800\u0041")", "1:2: unpaired UTF-16 surrogate in \\u escape"},
        {R"("\udc00")", "1:2: unpaired UTF-16 surrogate in \\u escape"},
        {R"("a\u0000b")", "1:3: \\u0000 is not allowed in a text"},
        {"\"tab\there\"", "1:5: control character in string"},
        {"\"\x1f\"", "1:2: control character in string"},
        {"\"\x80\"", "1:2: invalid UTF-8"},
        {"\"\xc0\xaf\"", "1:2: invalid UTF-8"},          // overlong '/'
        {"\"\xe0\x80\xaf\"", "1:2: invalid UTF-8"},      // overlong, three bytes
        {"\"\xed\xa0\x80\"", "1:2: invalid UTF-8"},      // encoded surrogate
        {"\"\xf4\x90\x80\x80\"", "1:2: invalid UTF-8"},  // above U+10FFFF
        {"\"\xf5\"", "1:2: invalid UTF-8"},
        {"\"ab\xe2\x82\"", "1:4: invalid UTF-8"},        // cut short
        {"{\"k\xff\": 1}", "1:4: invalid UTF-8"},
        {std::string("[1,\0 2]", 7), "1:4: unexpected character, a value was expected"},
        {std::string("\"a\0b\"", 5), "1:3: control character in string"},
    };
    for(const auto& refusal : refusals) {
        Var v;
        amxc_var_set(cstring_t, v.get(), "before");
        const Outcome outcome = read(v.get(), refusal.text);
        EXPECT_NE(outcome.rc, 0);
        EXPECT_EQ(outcome.error, refusal.error);
        EXPECT_STREQ(amxc_var_get_const_cstring_t(v.get()), "before") << refusal.text;
    }
}

TEST(JsonRead, ReadsOnlyTheGivenLength) {
    Var v;
    const char text[] = "[1, 2] trailing garbage that must not be looked at";
    ASSERT_EQ(amxj_read(v.get(), text, 6, NULL, 0), 0);
    EXPECT_EQ(amxc_var_size(v.get()), 2u);
    // Cut inside a value: the parser must not run past the length.
    EXPECT_NE(amxj_read(v.get(), text, 4, NULL, 0), 0);
}

TEST(JsonRead, DepthIsCapped) {
    auto nested = [](int depth) {
        return std::string(static_cast<size_t>(depth), '[') + std::string(static_cast<size_t>(depth), ']');
    };
    Var v;
    EXPECT_EQ(read(v.get(), nested(AMXJ_MAX_DEPTH)).rc, 0);
    const Outcome too_deep = read(v.get(), nested(AMXJ_MAX_DEPTH + 1));
    EXPECT_EQ(too_deep.error, "1:129: nesting too deep");
    // Far deeper than any stack could recurse: refused just the same.
    std::string objects;
    for(int i = 0; i < 100000; ++i) {
        objects += "{\"a\":";
    }
    EXPECT_NE(read(v.get(), objects).rc, 0);
}

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
    amxc_var_set(cstring_t, text.get(), "q\"b\\n\n\t\x01\x1f/\x7f caf\xc3\xa9 \xf0\x9f\x98\x80");
    EXPECT_EQ(write(text.get()), "\"q\\\"b\\\\n\\n\\t\\u0001\\u001f/\x7f caf\xc3\xa9 \xf0\x9f\x98\x80\"");

    Var key;
    amxc_var_set_type(key.get(), AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(int32_t, key.get(), "a\"b", 1);
    EXPECT_EQ(write(key.get()), "{\"a\\\"b\":1}");
}

TEST(JsonWrite, RefusesWhatCouldNotBeReadBack) {
    Text out;
    amxc_string_set(&out.s, "untouched");

    Var bad_text;  // a lone continuation byte, then an overlong '/'
    amxc_var_set(cstring_t, bad_text.get(), "ok\x80");
    EXPECT_NE(amxj_write(bad_text.get(), &out.s, false), 0);
    amxc_var_set(cstring_t, bad_text.get(), "\xc0\xaf");
    EXPECT_NE(amxj_write(bad_text.get(), &out.s, false), 0);

    Var bad_key;
    amxc_var_set_type(bad_key.get(), AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(int32_t, bad_key.get(), "\xed\xa0\x80", 1);  // an encoded surrogate
    EXPECT_NE(amxj_write(bad_key.get(), &out.s, false), 0);

    Var deep;
    amxc_var_set_type(deep.get(), AMXC_VAR_ID_LIST);
    amxc_var_t* inner = deep.get();
    for(int depth = 1; depth < AMXJ_MAX_DEPTH; ++depth) {
        inner = amxc_var_add_new_list(inner);
    }
    EXPECT_EQ(amxj_write(deep.get(), &out.s, false), 0) << "exactly the maximum depth is fine";
    amxc_var_add_new_list(inner);
    amxc_string_set(&out.s, "untouched");
    EXPECT_NE(amxj_write(deep.get(), &out.s, false), 0);

    EXPECT_EQ(out.str(), "untouched");
    EXPECT_NE(amxj_write(NULL, &out.s, false), 0);
    EXPECT_NE(amxj_write(deep.get(), NULL, false), 0);
}

}  // namespace
