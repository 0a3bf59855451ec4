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
    for(const auto& [text, valid] : std::vector<std::pair<const char*, bool>>{
            {"01:23:45:67:89:ab", true}, {"01:23:45:67:89:AB", true}, {"01-23-45-67-89-ab", false},
            {"01:23:45:67:89", false}, {"01:23:45:67:89:ab:cd", false}, {"", false}, {nullptr, false}}) {
        EXPECT_EQ(api_.check_is_valid_macaddr(text), valid) << (text == nullptr ? "(null)" : text);
    }
}

}  // namespace
