// The module's exported address checks; the values a client writes are refused or taken in
// the golden case of refused values.
#include <amxd/amxd_types.h>

#include "module_fixture.h"

namespace {

using Checks = ModuleTest;

TEST_F(Checks, AddressesAreClassifiedByFamily) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"1.2.3.4", 4}, {"192.168.001.001", 4}, {"255.255.255.255", 4}, {"256.1.1.1", 0}, {"1.2.3.4 ", 0},
        {"1.2.3", 0}, {"1.2.3.4/24", 0}, {"::1", 6}, {"::", 6}, {"2001:db8::1", 6}, {"fe80::1%eth0", 6},
        {"::ffff:1.2.3.4", 6}, {"2001:DB8:0:0:0:0:0:1", 6}, {"2001:db8::1::2", 0}, {"01:23:45:67:89:ab", 0},
        {"", 0}, {nullptr, 0}};
    for(const auto& [text, family] : cases) {
        EXPECT_EQ(api_.check_is_valid_ip(text), family) << (text == nullptr ? "(null)" : text);
    }
}

TEST_F(Checks, MacAddressesAreSixColonSeparatedPairs) {
    EXPECT_TRUE(api_.check_is_valid_macaddr("01:23:45:67:89:ab"));
    EXPECT_TRUE(api_.check_is_valid_macaddr("01:23:45:67:89:AB"));
    EXPECT_FALSE(api_.check_is_valid_macaddr("01-23-45-67-89-ab"));
    EXPECT_FALSE(api_.check_is_valid_macaddr("01:23:45:67:89"));
    EXPECT_FALSE(api_.check_is_valid_macaddr("01:23:45:67:89:ab:cd"));
    EXPECT_FALSE(api_.check_is_valid_macaddr(""));
    EXPECT_FALSE(api_.check_is_valid_macaddr(nullptr));
}

}  // namespace
