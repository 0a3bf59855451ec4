#ifndef TESTS_NFTABLES_NFT_FIXTURE_H
#define TESTS_NFTABLES_NFT_FIXTURE_H

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "kernel_view.h"
#include "netns.h"
#include "fw_fixture.h"

namespace nfttest {

using fwtest::dump;
using fwtest::Rule;
using fwtest::RuleMaker;
using fwtest::text_of;

// Each test runs in a network namespace of its own, with the nftables backend selected in
// it; afterwards the memory backend is selected again (closing the kernel connection) and
// the namespace is deleted. Skips where the machine refuses (not root, no nft, no netns).
class NftablesTest : public fwtest::FwInterface {
protected:
    void SetUp() override {
        if(!kernel_backend()) {
            FwInterface::SetUp();
            return;
        }
        if(!kernel_tests_refused().empty()) {
            GTEST_SKIP() << kernel_tests_refused();
        }
        ns_.emplace("fw");
        ASSERT_TRUE(ns_->ok()) << ns_->error();
        inside_.emplace(ns_->name());
        ASSERT_TRUE(inside_->ok()) << "cannot enter " << ns_->name();
        ASSERT_EQ(fw_backend_set_option("jump", jump() ? "1" : "0"), 0) << fw_backend_error();
        ASSERT_EQ(fw_backend_set_option("sets", sets() ? "1" : "0"), 0) << fw_backend_error();
        ASSERT_EQ(fw_backend_select("nftables"), 0) << fw_backend_error();
        fw_reset();
    }
    void TearDown() override {
        fw_backend_select("memory");
        fw_reset();
        fw_backend_set_option("jump", "0");
        fw_backend_set_option("sets", "0");
        inside_.reset();
        ns_.reset();
    }

    // Whether the test runs on the kernel backend; on the memory one there is no namespace and
    // kernel() is the dump itself.
    virtual bool kernel_backend() const { return true; }
    // Whether the backend also owns the forward-hook chains in this fixture.
    virtual bool jump() const { return false; }
    // Whether the access-control chains are compiled into set lookups; by default the kernel
    // holds one rule per rule, so that tests can compare it with the positional chain.
    virtual bool sets() const { return false; }

    const std::string& ns() const { return ns_->name(); }
    // Runs nft in the test's namespace: nft("list ruleset").
    CommandResult nft(const std::string& command) const { return exec_in(ns(), {"nft", command}); }
    KernelChain chain(const ChainName& name) const { return read_chain(ns(), name); }

    // The kernel's access-control chains, and `more`, in the form of fw_dump().
    std::string kernel(std::vector<ChainName> more = {}) const {
        if(!ns_) {
            return dump();
        }
        more.insert(more.begin(), {access_control_v4, access_control_v6});
        return kernel_dump(ns(), more);
    }

private:
    std::optional<Namespace> ns_;
    std::optional<Inside> inside_;
};

// The same with the forward-hook chains owned by the backend.
class NftablesJumpTest : public NftablesTest {
protected:
    bool jump() const override { return true; }
};

}  // namespace nfttest

#endif  // TESTS_NFTABLES_NFT_FIXTURE_H
