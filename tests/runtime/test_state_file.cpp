// The state file's checksum and codec: what a good file is, and that damage of any kind is
// told from it.
#include <gtest/gtest.h>

#include <string>

#include "sha256.h"
#include "state_file.h"
#include "support/json_text.h"

namespace {

void parse(amxc_var_t* var, const std::string& json) {
    ASSERT_EQ(amxj_read(var, json.data(), json.size(), nullptr, 0), 0) << json;
}

const std::string kState =
    R"({"instances":{"Device.N.AccessControl":{"2":"","5":"night"},"Device.N.NetworkObject.3.Rule":{"1":""}},)"
    R"("export":{"data":{"set":{"hgwconfig":{"NetworkSettings":{"AccessControl":[{"a":{"Enable":true,"Alias":"é"}}]}}}}}})";

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(gw::sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(gw::sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the last block, so padding takes a second one.
    EXPECT_EQ(gw::sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(gw::sha256_hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(StateFile, RoundTripKeepsStateExactlyAndDamageIsRefused) {
    amxc::ScopedVar state;
    parse(state.get(), kState);
    std::string digest;
    const std::string good = gw::encode_state_file(state.get(), &digest);
    amxc::ScopedVar back;
    std::string why;
    std::string read_digest;
    ASSERT_TRUE(gw::decode_state_file(good, back.get(), why, &read_digest)) << why;
    EXPECT_EQ(gwtest::json_text(back.get()), kState);
    // The checksum stands for the bytes of a file as written: a restart compares the next save
    // with it instead of hashing the file.
    EXPECT_EQ(read_digest, digest);
    EXPECT_NE(good.find("\"sha256\":\"" + digest + "\""), std::string::npos);
    // Layout does not matter: the same file pretty-printed still checks out, but its bytes are
    // not what a save writes.
    amxc::ScopedVar whole;
    parse(whole.get(), good);
    EXPECT_TRUE(gw::decode_state_file(gwtest::json_text(whole.get(), true), back.get(), why, &read_digest)) << why;
    EXPECT_EQ(read_digest, "");

    // Damage: refused, with the output left alone.
    auto refused = [](const std::string& bytes) {
        amxc::ScopedVar out;
        amxc_var_set_cstring_t(out.get(), "untouched");
        std::string error;
        bool ok = gw::decode_state_file(bytes, out.get(), error);
        EXPECT_STREQ(amxc_var_get_const_cstring_t(out.get()), "untouched");
        EXPECT_FALSE(ok || error.empty());
        return error;
    };
    // Torn at every length: never accepted.
    for (std::size_t cut = 0; cut < good.size() - 1; ++cut) {
        refused(good.substr(0, cut));
    }
    // A changed value that is still valid JSON is caught by the checksum.
    std::string changed = good;
    changed.replace(changed.find("\"5\""), 3, "\"6\"");
    EXPECT_EQ(refused(changed), "checksum mismatch");
    std::string flipped = good;
    flipped[flipped.find("Enable") + 1] ^= 0x20;
    EXPECT_EQ(refused(flipped), "checksum mismatch");
    EXPECT_EQ(refused(std::string(good).replace(good.find("\"version\":2"), 11, "\"version\":3")),
              "unsupported version (this gwrt reads versions 1 to 2)");
    std::string short_digest = good;
    short_digest.erase(short_digest.find("\",\"state\"") - 1, 1);
    EXPECT_EQ(refused(short_digest), "no checksum or no state");
    EXPECT_EQ(refused(R"({"format":"other"})"), "not a gwrt state file");
    EXPECT_EQ(refused("[1,2]"), "not a gwrt state file");
    EXPECT_EQ(refused(std::string("{\0}", 3)).substr(0, 8), "not JSON");
    EXPECT_EQ(refused(""), "empty");
    EXPECT_EQ(refused(std::string(gw::kMaxStateFileSize + 1, ' ')).substr(0, 11), "larger than");
}

TEST(StateFile, StateShapeIsChecked) {
    // Well-formed envelopes around bad states, each one with a matching checksum; version 1
    // files (indices as ascending lists) are still read.
    auto decoded = [](const std::string& json, const char* version) {
        amxc::ScopedVar state;
        parse(state.get(), json);
        std::string file = gw::encode_state_file(state.get());
        file.replace(file.find("\"version\":2"), 11, std::string("\"version\":") + version);
        amxc::ScopedVar out;
        std::string error;
        bool ok = gw::decode_state_file(file, out.get(), error);
        EXPECT_NE(ok, !error.empty()) << json;
        return ok;
    };
    EXPECT_TRUE(decoded(kState, "2"));
    EXPECT_TRUE(decoded(R"({"indices":{"T":[2,5]},"export":{}})", "1"));
    EXPECT_FALSE(decoded(R"({"indices":{"T":[2,5]},"export":{}})", "2"));
    for (std::string bad : {R"({"instances":{}})", R"({"instances":{},"export":[]})", R"({"export":{}})",
                            R"({"instances":{"T":{"0":""}},"export":{}})", R"({"instances":{"T":{"01":""}},"export":{}})",
                            R"({"instances":{"T":{"4294967296":""}},"export":{}})", R"({"instances":{"T":{"1":1}},"export":{}})",
                            R"({"instances":{"T":[1]},"export":{}})", R"([])"}) {
        EXPECT_FALSE(decoded(bad, "2")) << bad;
    }
    for (std::string bad : {R"({"indices":{"T":[3,3]},"export":{}})", R"({"indices":{"T":[0]},"export":{}})",
                            R"({"indices":{"T":[4294967296]},"export":{}})", R"({"indices":{"T":["1"]},"export":{}})",
                            R"({"indices":{"T":5},"export":{}})"}) {
        EXPECT_FALSE(decoded(bad, "1")) << bad;
    }
}

}  // namespace
