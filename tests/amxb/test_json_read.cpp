// Reading JSON: the mapping to variant types, and refusals of hostile or unsupported text
// with a "line:column" message, leaving the target untouched.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include <amxj/amxj.h>

namespace {

struct Var {
    Var() { amxc_var_init(&v); }
    ~Var() { amxc_var_clean(&v); }
    amxc_var_t v;
};

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
    const Outcome outcome = read(&v.v, json);
    EXPECT_EQ(outcome.rc, 0) << outcome.error;
    const char* text = amxc_var_get_const_cstring_t(&v.v);
    return text == nullptr ? "<not a text>" : text;
}

TEST(JsonRead, IntegersBecomeInt64OrUint64) {
    Var v;
    ASSERT_EQ(read(&v.v, "[0, -0, 42, -9223372036854775808, 9223372036854775807, "
                         "9223372036854775808, 18446744073709551615]").rc, 0);
    const int64_t expected_signed[] = {0, 0, 42, INT64_MIN, INT64_MAX};
    for(int i = 0; i < 5; ++i) {
        const amxc_var_t* item = amxc_var_get_index(&v.v, i, AMXC_VAR_FLAG_DEFAULT);
        EXPECT_EQ(amxc_var_type_of(item), AMXC_VAR_ID_INT64) << i;
        EXPECT_EQ(amxc_var_get_const_int64_t(item), expected_signed[i]) << i;
    }
    const amxc_var_t* big = amxc_var_get_index(&v.v, 5, AMXC_VAR_FLAG_DEFAULT);
    EXPECT_EQ(amxc_var_type_of(big), AMXC_VAR_ID_UINT64);
    EXPECT_EQ(amxc_var_get_const_uint64_t(big), 9223372036854775808u);
    EXPECT_EQ(amxc_var_get_const_uint64_t(amxc_var_get_index(&v.v, 6, AMXC_VAR_FLAG_DEFAULT)), UINT64_MAX);
}

TEST(JsonRead, ScalarsStringsAndContainers) {
    Var v;
    ASSERT_EQ(read(&v.v, " {\"a\": true, \"b\": false, \"c\": null, \"d\": \"x\", \"e\": [], \"f\": {}}\r\n").rc, 0);
    ASSERT_EQ(amxc_var_type_of(&v.v), AMXC_VAR_ID_HTABLE);
    EXPECT_EQ(amxc_var_type_of(amxc_var_get_key(&v.v, "a", 0)), AMXC_VAR_ID_BOOL);
    EXPECT_TRUE(amxc_var_get_const_bool(amxc_var_get_key(&v.v, "a", 0)));
    EXPECT_FALSE(amxc_var_get_const_bool(amxc_var_get_key(&v.v, "b", 0)));
    ASSERT_NE(amxc_var_get_key(&v.v, "c", 0), nullptr);
    EXPECT_EQ(amxc_var_type_of(amxc_var_get_key(&v.v, "c", 0)), AMXC_VAR_ID_NULL);
    EXPECT_EQ(amxc_var_type_of(amxc_var_get_key(&v.v, "d", 0)), AMXC_VAR_ID_CSTRING);
    EXPECT_EQ(amxc_var_type_of(amxc_var_get_key(&v.v, "e", 0)), AMXC_VAR_ID_LIST);
    EXPECT_EQ(amxc_var_type_of(amxc_var_get_key(&v.v, "f", 0)), AMXC_VAR_ID_HTABLE);
}

TEST(JsonRead, EscapesDecodeToUtf8) {
    EXPECT_EQ(first_string(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
    EXPECT_EQ(first_string(R"("\u00e9\u20AC")"), "\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(first_string(R"("\ud83d\ude00")"), "\xf0\x9f\x98\x80");
    EXPECT_EQ(first_string("\"caf\xc3\xa9\""), "caf\xc3\xa9");
}

TEST(JsonRead, RepeatedKeyKeepsFirstPositionAndLastValue) {
    Var v;
    ASSERT_EQ(read(&v.v, R"({"a": 1, "b": 2, "a": {"x": 3}})").rc, 0);
    ASSERT_EQ(amxc_var_size(&v.v), 2u);
    const amxc_var_t* first = amxc_var_get_first(&v.v);
    EXPECT_STREQ(amxc_var_key(first), "a");
    EXPECT_EQ(amxc_var_type_of(first), AMXC_VAR_ID_HTABLE);
    EXPECT_EQ(amxc_var_get_const_int64_t(amxc_var_get_key(first, "x", 0)), 3);
}

struct Refusal {
    const char* text;
    const char* error;  // expected message, position included
};

class JsonRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(JsonRefusal, GivesPositionAndLeavesTargetUntouched) {
    Var v;
    amxc_var_set(cstring_t, &v.v, "before");
    const Outcome outcome = read(&v.v, GetParam().text);
    EXPECT_NE(outcome.rc, 0);
    EXPECT_EQ(outcome.error, GetParam().error);
    EXPECT_STREQ(amxc_var_get_const_cstring_t(&v.v), "before");
}

INSTANTIATE_TEST_SUITE_P(Syntax, JsonRefusal, ::testing::Values(
    Refusal{"", "1:1: unexpected end of text, a value was expected"},
    Refusal{"  \n ", "2:2: unexpected end of text, a value was expected"},
    Refusal{"{} x", "1:4: unexpected text after the value"},
    Refusal{"[1] [2]", "1:5: unexpected text after the value"},
    Refusal{"[1,]", "1:4: unexpected character, a value was expected"},
    Refusal{"[1 2]", "1:4: ',' or ']' expected"},
    Refusal{"{\"a\" 1}", "1:6: ':' expected"},
    Refusal{"{a: 1}", "1:2: a string key was expected"},
    Refusal{"{\"a\": 1", "1:8: unterminated object"},
    Refusal{"[\"abc", "1:6: unterminated string"},
    Refusal{"tru", "1:1: invalid literal"},
    Refusal{"nul1", "1:1: invalid literal"},
    Refusal{"\xef\xbb\xbf{}", "1:1: unexpected character, a value was expected"}));

INSTANTIATE_TEST_SUITE_P(Numbers, JsonRefusal, ::testing::Values(
    Refusal{"[1,\n  2.5]", "2:3: numbers with a fraction or an exponent are not supported"},
    Refusal{"1e3", "1:1: numbers with a fraction or an exponent are not supported"},
    Refusal{"-1E-2", "1:1: numbers with a fraction or an exponent are not supported"},
    Refusal{"012", "1:1: invalid number: leading zero"},
    Refusal{"-", "1:2: invalid number"},
    Refusal{"+1", "1:1: unexpected character, a value was expected"},
    Refusal{"18446744073709551616", "1:1: integer out of range"},
    Refusal{"-9223372036854775809", "1:1: integer out of range"},
    Refusal{"99999999999999999999999999999999", "1:1: integer out of range"}));

INSTANTIATE_TEST_SUITE_P(Strings, JsonRefusal, ::testing::Values(
    Refusal{R"("\x")", "1:3: invalid escape"},
    Refusal{R"("\u12")", "1:4: invalid \\u escape"},
    Refusal{R"("\uZZZZ")", "1:4: invalid \\u escape"},
    Refusal{R"("\ud800")", "1:2: unpaired UTF-16 surrogate in \\u escape"},
    Refusal{R"("\ud800\u0041")", "1:2: unpaired UTF-16 surrogate in \\u escape"},
    Refusal{R"("\udc00")", "1:2: unpaired UTF-16 surrogate in \\u escape"},
    Refusal{R"("a\u0000b")", "1:3: \\u0000 is not allowed in a text"},
    Refusal{"\"tab\there\"", "1:5: control character in string"},
    Refusal{"\"\x80\"", "1:2: invalid UTF-8"},
    Refusal{"\"\xc0\xaf\"", "1:2: invalid UTF-8"},          // overlong '/'
    Refusal{"\"\xe0\x80\xaf\"", "1:2: invalid UTF-8"},      // overlong, three bytes
    Refusal{"\"\xed\xa0\x80\"", "1:2: invalid UTF-8"},      // encoded surrogate
    Refusal{"\"\xf4\x90\x80\x80\"", "1:2: invalid UTF-8"},  // above U+10FFFF
    Refusal{"\"\xf5\"", "1:2: invalid UTF-8"},
    Refusal{"\"ab\xe2\x82\"", "1:4: invalid UTF-8"},        // cut short
    Refusal{"{\"k\xff\": 1}", "1:4: invalid UTF-8"}));

TEST(JsonRead, NulByteInsideTheGivenLengthIsRefused) {
    Var v;
    const std::string text("[1,\0 2]", 7);
    EXPECT_EQ(read(&v.v, text).error, "1:4: unexpected character, a value was expected");
    const std::string in_string("\"a\0b\"", 5);
    EXPECT_EQ(read(&v.v, in_string).error, "1:3: control character in string");
}

TEST(JsonRead, ReadsOnlyTheGivenLength) {
    Var v;
    const char text[] = "[1, 2] trailing garbage that must not be looked at";
    ASSERT_EQ(amxj_read(&v.v, text, 6, NULL, 0), 0);
    EXPECT_EQ(amxc_var_size(&v.v), 2u);
    // Cut inside a value: the parser must not run past the length.
    EXPECT_NE(amxj_read(&v.v, text, 4, NULL, 0), 0);
}

TEST(JsonRead, DepthIsCapped) {
    auto nested = [](int depth) {
        return std::string(static_cast<size_t>(depth), '[') + std::string(static_cast<size_t>(depth), ']');
    };
    Var v;
    EXPECT_EQ(read(&v.v, nested(AMXJ_MAX_DEPTH)).rc, 0);
    const Outcome too_deep = read(&v.v, nested(AMXJ_MAX_DEPTH + 1));
    EXPECT_EQ(too_deep.error, "1:129: nesting too deep");
    // Far deeper than any stack could recurse: refused just the same.
    std::string objects;
    for(int i = 0; i < 100000; ++i) {
        objects += "{\"a\":";
    }
    EXPECT_NE(read(&v.v, objects).rc, 0);
}

TEST(JsonRead, SmallErrorBufferIsCutAndTerminated) {
    Var v;
    char error[6];
    std::memset(error, 'x', sizeof(error));
    EXPECT_NE(amxj_read(&v.v, "1.5", 3, error, sizeof(error)), 0);
    EXPECT_STREQ(error, "1:1: ");
    EXPECT_NE(amxj_read(&v.v, "1.5", 3, NULL, 0), 0);
    EXPECT_NE(amxj_read(NULL, "1", 1, error, sizeof(error)), 0);
}

// Mutated documents are either refused with a message or read into something that survives a
// write and a second read; under the sanitizers this also shows that no input makes the parser
// read outside the text or leak.
TEST(JsonRead, MutatedDocumentsNeverBreakTheParser) {
    const std::string seed = R"({"Hosts.Host.1.": {"IPAddress": "10.0.0.1", "Active": true, )"
                             R"("Names": ["a\u00e9", "\ud83d\ude00"], "Count": 18446744073709551615}})";
    const char alphabet[] = "{}[]\",:\\u0123456789eE.-+ tfnl\x80\xc3\xed\xf0";
    std::mt19937 random(12345);
    for(int round = 0; round < 20000; ++round) {
        std::string text = seed;
        const int edits = 1 + static_cast<int>(random() % 4);
        for(int e = 0; e < edits; ++e) {
            const size_t at = random() % text.size();
            switch(random() % 3) {
            case 0: text[at] = alphabet[random() % (sizeof(alphabet) - 1)]; break;
            case 1: text.erase(at, 1 + random() % 3); break;
            default: text.insert(at, 1, alphabet[random() % (sizeof(alphabet) - 1)]); break;
            }
            if(text.empty()) {
                text = "x";
            }
        }
        Var v;
        const Outcome outcome = read(&v.v, text);
        if(outcome.rc != 0) {
            ASSERT_NE(outcome.error.find(": "), std::string::npos) << text;
            continue;
        }
        // Whatever was accepted is written back, and that text reads back to itself.
        amxc_string_t out;
        amxc_string_init(&out, 0);
        ASSERT_EQ(amxj_write(&v.v, &out, false), 0) << text;
        const std::string written = amxc_string_get(&out, 0);
        amxc_string_clean(&out);
        Var again;
        ASSERT_EQ(read(&again.v, written).rc, 0) << written;
        int result = 1;
        ASSERT_EQ(amxc_var_compare(&v.v, &again.v, &result), 0);
        ASSERT_EQ(result, 0) << written;
    }
}

}  // namespace
