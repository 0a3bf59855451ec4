// A commit is one kernel transaction, read back when its answers are lost. (Its refusal, in both
// kernel forms, is in test_nft_compiled.cpp; a new run taking over the chains a killed one left
// is proven through gwrt in tests/e2e.)

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "nft_fixture.h"

namespace nfttest {
namespace {

using NftTransactions = NftablesTest;
using NftTransactionsWithJump = NftablesJumpTest;

std::string error_text() { return fw_backend_error(); }

// The kernel refuses a masquerade target reached from the forward hook. With the answers lost,
// neither the refusal nor the acknowledgements arrive; reading the chain back shows the kernel
// kept the old rules, and the commit fails without a trace.
TEST_F(NftTransactionsWithJump, RefusedCommitWithLostAnswersIsReadBackAsNotLanded) {
    insert_now("10.0.0.1", 1);
    const KernelChain before = chain(access_control_v4);
    std::vector<Rule> rules;
    for(int n = 0; n < 100; ++n) {
        rules.push_back(RuleMaker().source(("10.3.0." + std::to_string(n)).c_str()).make());
        ASSERT_EQ(fw_add_rule(rules.back().get(), static_cast<uint32_t>(n + 2)), FW_OK);
    }
    Rule masquerade = RuleMaker().target(FW_RULE_POLICY_MASQUERADE).make();
    ASSERT_EQ(fw_add_rule(masquerade.get(), 102), FW_OK);
    ASSERT_EQ(fw_nftables_lose_answers_next(), 0);

    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_NE(error_text().find("lost the kernel's answer; the transaction did not land"), std::string::npos)
        << error_text();
    EXPECT_EQ(chain(access_control_v4).handles, before.handles);
    insert_now("10.0.0.2", 2);
    EXPECT_EQ(kernel(), dump());
}

// The answers to a commit that landed are lost: the handles of its rules are read back, so
// that later operations still find them.
TEST_F(NftTransactions, CommitWithLostAnswersIsReadBackAsLanded) {
    insert_now("10.0.0.1", 1);
    Rule first = RuleMaker().source("10.0.0.1").make();
    ASSERT_EQ(fw_delete_rule(first.get(), 1), FW_OK);
    std::vector<std::string> sources;
    for(int n = 0; n < 300; ++n) {
        sources.push_back("10.2." + std::to_string(n / 250) + "." + std::to_string(n % 250));
        Rule rule = RuleMaker().source(sources.back().c_str()).make();
        ASSERT_EQ(fw_add_rule(rule.get(), static_cast<uint32_t>(n + 1)), FW_OK);
    }
    ASSERT_EQ(fw_nftables_lose_answers_next(), 0);
    ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
    EXPECT_EQ(kernel(), dump());

    remove_now(sources[299].c_str(), 300);
    remove_now(sources[1].c_str(), 2);
    insert_now("10.0.0.5", 150);
    EXPECT_EQ(kernel(), dump());
    EXPECT_EQ(size_v4(), 299U);
}

TEST_F(NftTransactions, WithoutNetAdminSelectionFailsAndTheMemoryBackendStays) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if(child == 0) {
        alarm(10);  // a hang kills the child, and fails the test
        fw_backend_select("memory");
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct none[2] = {};
        if(syscall(SYS_capset, &header, none) != 0) {
            _exit(2);
        }
        const bool refused = fw_backend_select("nftables") != 0;
        const bool kept = std::strcmp(fw_backend_name(), "memory") == 0;
        const bool told = std::strstr(fw_backend_error(), std::strerror(EPERM)) != nullptr;
        if(!(refused && kept && told)) {
            std::fprintf(stderr, "child: select %d, backend %s, error \"%s\"\n", refused, fw_backend_name(),
                         fw_backend_error());
        }
        _exit(refused && kept && told ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(NftTransactions, SelectingTheBackendInUseChangesNothing) {
    insert_now("10.0.0.1", 1);
    ASSERT_EQ(fw_backend_select("nftables"), 0);
    EXPECT_EQ(chain(access_control_v4).rules.size(), 1U);
    EXPECT_EQ(kernel(), dump());

    EXPECT_NE(fw_backend_select("iptables"), 0);
    EXPECT_NE(error_text().find("unknown firewall backend"), std::string::npos) << error_text();
    EXPECT_STREQ(fw_backend_name(), "nftables");
    EXPECT_EQ(size_v4(), 1U);
}

// That the hook chains pass forwarded packets through the rules is proven with packets by the
// equivalence and end-to-end tests, which use the option.
TEST_F(NftTransactions, JumpOptionCreatesAndRemovesTheForwardHookChains) {
    const auto jumps = [this] { return std::pair{hook_jumps(ns(), false), hook_jumps(ns(), true)}; };
    EXPECT_EQ(jumps(), std::pair(0UL, 0UL)) << "off by default";
    insert_now("10.0.0.1", 1);
    ASSERT_EQ(fw_backend_set_option("jump", "1"), 0) << fw_backend_error();
    EXPECT_EQ(jumps(), std::pair(1UL, 1UL));

    EXPECT_NE(fw_backend_set_option("jump", "yes"), 0);
    EXPECT_NE(error_text().find("jump takes 0 or 1"), std::string::npos) << error_text();
    EXPECT_NE(fw_backend_set_option("hop", "1"), 0);
    EXPECT_NE(fw_backend_set_option(nullptr, "1"), 0);
    EXPECT_NE(fw_backend_set_option("jump", nullptr), 0);
    EXPECT_EQ(jumps(), std::pair(1UL, 1UL)) << "a refused value changes nothing";

    insert_now("10.0.0.2", 1);
    ASSERT_EQ(fw_backend_set_option("jump", "0"), 0) << fw_backend_error();
    EXPECT_EQ(jumps(), std::pair(0UL, 0UL));
    EXPECT_EQ(kernel(), dump());
    EXPECT_EQ(size_v4(), 2U);
}

}  // namespace
}  // namespace nfttest
