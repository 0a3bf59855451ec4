#ifndef TESTS_E2E_E2E_FIXTURE_H
#define TESTS_E2E_E2E_FIXTURE_H

#include <gtest/gtest.h>

#include <optional>

#include "gateway.h"
#include "test_runtime.h"

namespace e2e {

inline const std::string root = "Device.NetworkSettings.";

// Each test gets a gateway of its own with gwrt started; afterwards gwrt is stopped the clean
// way, which must end well and leave the module's chains empty in the kernel.
class GatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if(!machine_refuses().empty()) {
            GTEST_SKIP() << machine_refuses();
        }
        gateway_.emplace(firewall_options());
        ASSERT_EQ(gateway_->error(), "");
        ASSERT_EQ(gateway_->start(), "");
    }
    void TearDown() override {
        if(gateway_ && gateway_->running()) {
            gwtest::Outcome end = gateway_->stop();
            EXPECT_EQ(end.exit_code, 0) << end.err;
            EXPECT_FALSE(gwtest::sanitizer_report(end.err)) << end.err;
            EXPECT_EQ(gateway_->kernel(), dump_of({})) << "a clean stop leaves no rule behind";
        }
        gateway_.reset();
    }

    // The firewall options of gwrt's configuration (see Gateway).
    virtual std::string firewall_options() const { return positional_kernel_rules; }

public:
    Gateway& gw() { return *gateway_; }
    const nfttest::Topology& net() { return gateway_->net(); }

    // A network object holding one rule per (Type, SourceIP[, SourceMask]) entry.
    std::string network_object(const std::vector<std::vector<std::string>>& rules) {
        const std::string object = gw().add(root + "NetworkObject.", {"Name=e2e"});
        for(const std::vector<std::string>& rule : rules) {
            EXPECT_NE(gw().add(object + "Rule.", rule), "") << rule.front();
        }
        return object;
    }

private:
    std::optional<Gateway> gateway_;
};

}  // namespace e2e

#endif  // TESTS_E2E_E2E_FIXTURE_H
