#ifndef TESTS_PLATFORM_FW_FIXTURE_H
#define TESTS_PLATFORM_FW_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "rule_maker.h"

namespace fwtest {

// The firewall as fw_dump() shows it.
inline std::string dump() {
    char* text = fw_dump();
    std::string copy = text == nullptr ? "<null>" : text;
    std::free(text);
    return copy;
}

// Every test starts from the memory backend's start state.
class FwInterface : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(fw_backend_select("memory"), 0);
        fw_reset();
    }
    void TearDown() override { fw_reset(); }

    // The sources of the rules of one running access-control chain, in chain order, joined
    // by ",": "10.0.0.1,10.0.0.2".
    static std::string sources(bool ipv6 = false) {
        std::string out;
        const std::string all = dump();
        const std::string line = ipv6 ? "\n-A FORWARD6_AccessControl_QK -s " : "\n-A FORWARD_AccessControl_QK -s ";
        for(std::size_t at = all.find(line); at != std::string::npos; at = all.find(line, at + 1)) {
            const std::size_t begin = at + line.size();
            out += (out.empty() ? "" : ",") + all.substr(begin, all.find('/', begin) - begin);
        }
        return out;
    }

    static uint32_t size_v4() { return fw_chain_size("filter", "FORWARD_AccessControl_QK", false); }

    // Inserts (or removes) the IPv4 drop rule for `source` at `position` and commits.
    static void insert_now(const char* source, uint32_t position, bool remove = false) {
        Rule rule = RuleMaker().source(source).make();
        ASSERT_NE(rule, nullptr);
        ASSERT_EQ(remove ? fw_delete_rule(rule.get(), position) : fw_add_rule(rule.get(), position), FW_OK) << source;
        ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
    }
    static void remove_now(const char* source, uint32_t position) { insert_now(source, position, true); }
};

}  // namespace fwtest

#endif  // TESTS_PLATFORM_FW_FIXTURE_H
