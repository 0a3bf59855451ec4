// A commit is one kernel transaction: refused whole, read back when its answers are lost,
// and a new run takes over the chains a killed one left behind.

#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
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

// Waits up to ten seconds for a child of this test, then kills it; its exit status, or -1.
int wait_child(pid_t child) {
    int status = 0;
    for(int tick = 0; tick < 1000; ++tick) {
        if(waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
}

std::string error_text() { return fw_backend_error(); }

// The kernel refuses a masquerade target in a chain reached from the forward hook of a
// filter chain, although the rule itself is complete: its insertion fails in the kernel,
// after another was accepted there (the backend gets insertions first, removals after).
TEST_F(NftTransactionsWithJump, RefusedCommitLeavesKernelAndMirrorAsTheyWere) {
    for(const char* source : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) {
        insert_now(source, size_v4() + 1);
    }
    const KernelChain before = read_chain(ns(), access_control_v4);
    const std::string dumped = dump();

    Rule x = RuleMaker().source("10.0.0.9").make();
    Rule b = RuleMaker().source("10.0.0.2").make();
    Rule masquerade = RuleMaker().target(FW_RULE_POLICY_MASQUERADE).make();
    ASSERT_EQ(fw_add_rule(x.get(), 1), FW_OK);           // x a b c
    ASSERT_EQ(fw_delete_rule(b.get(), 3), FW_OK);        // x a c
    ASSERT_EQ(fw_add_rule(masquerade.get(), 4), FW_OK);  // x a c M
    EXPECT_EQ(fw_apply(), FW_ERROR_BACKEND);
    EXPECT_NE(error_text().find("refused operation 2 of 3 (insertion at 5"), std::string::npos) << error_text();

    const KernelChain after = read_chain(ns(), access_control_v4);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.rules, before.rules);
    EXPECT_EQ(dump(), dumped);
    EXPECT_EQ(fw_pending_count(), 0U);

    // The mirror still holds the kernel's handles: positions keep working.
    remove_now("10.0.0.2", 2);
    insert_now("10.0.0.8", 3);
    EXPECT_EQ(read_chain(ns(), access_control_v4).rules,
              (std::vector<std::string>{"-s 10.0.0.1/32 -j DROP", "-s 10.0.0.3/32 -j DROP", "-s 10.0.0.8/32 -j DROP"}));
    EXPECT_EQ(kernel(), dump());
}

// With the answers lost, neither the refusal nor the acknowledgements arrive; reading the
// chain back shows the kernel kept the old rules, and the commit fails without a trace.
TEST_F(NftTransactionsWithJump, RefusedCommitWithLostAnswersIsReadBackAsNotLanded) {
    insert_now("10.0.0.1", 1);
    const KernelChain before = read_chain(ns(), access_control_v4);
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
    EXPECT_EQ(read_chain(ns(), access_control_v4).handles, before.handles);
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

// A run killed without cleaning up leaves its rules in the kernel; the next run starts from
// empty chains, so that its positions start at 1.
TEST_F(NftTransactions, NextRunEmptiesTheChainsAKilledRunLeft) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if(child == 0) {
        close(ready[0]);
        fw_backend_select("memory");  // the parent's kernel connection is not the child's to use
        bool ok = fw_backend_select("nftables") == 0;
        for(uint32_t n = 1; ok && n <= 3; ++n) {
            Rule rule = RuleMaker().source(("10.0.0." + std::to_string(n)).c_str()).make();
            ok = fw_add_rule(rule.get(), n) == FW_OK;
        }
        Rule v6 = RuleMaker(true).source("fd99::1").make();
        ok = ok && fw_add_rule(v6.get(), 1) == FW_OK && fw_apply() == FW_OK;
        const char byte = ok ? 'y' : 'n';
        if(write(ready[1], &byte, 1) != 1 || !ok) {
            std::fprintf(stderr, "child: %s\n", fw_backend_error());
            _exit(1);
        }
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    pollfd waiting{ready[0], POLLIN, 0};
    if(poll(&waiting, 1, 10000) == 1 && read(ready[0], &byte, 1) != 1) {
        byte = 0;
    }
    close(ready[0]);
    kill(child, SIGKILL);
    wait_child(child);
    ASSERT_EQ(byte, 'y');
    ASSERT_EQ(read_chain(ns(), access_control_v4).rules.size(), 3U);

    ASSERT_EQ(fw_backend_select("memory"), 0);
    ASSERT_EQ(fw_backend_select("nftables"), 0) << fw_backend_error();
    EXPECT_TRUE(read_chain(ns(), access_control_v4).rules.empty());
    EXPECT_TRUE(read_chain(ns(), access_control_v6).rules.empty());
    insert_now("10.0.0.9", 1);
    EXPECT_EQ(kernel(), dump());
}

TEST_F(NftTransactions, WithoutNetAdminSelectionFailsAndTheMemoryBackendStays) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if(child == 0) {
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
    EXPECT_EQ(wait_child(child), 0);
}

TEST_F(NftTransactions, SelectingTheBackendInUseChangesNothing) {
    insert_now("10.0.0.1", 1);
    ASSERT_EQ(fw_backend_select("nftables"), 0);
    EXPECT_EQ(read_chain(ns(), access_control_v4).rules.size(), 1U);
    EXPECT_EQ(kernel(), dump());

    EXPECT_NE(fw_backend_select("iptables"), 0);
    EXPECT_NE(error_text().find("unknown firewall backend"), std::string::npos) << error_text();
    EXPECT_NE(fw_backend_select(nullptr), 0);
    EXPECT_STREQ(fw_backend_name(), "nftables");
    EXPECT_EQ(size_v4(), 1U);
}

TEST_F(NftTransactions, JumpOptionCreatesAndRemovesTheForwardHookChains) {
    auto hook = [this](bool ipv6) {
        return ns().exec({"nft", "list", "chain", ipv6 ? "ip6" : "ip", "filter",
                          ipv6 ? "FORWARD6_AccessControl_QK_hook" : "FORWARD_AccessControl_QK_hook"});
    };
    EXPECT_NE(hook(false).status, 0) << "off by default";
    insert_now("10.0.0.1", 1);

    ASSERT_EQ(fw_backend_set_option("jump", "1"), 0) << fw_backend_error();
    for(bool ipv6 : {false, true}) {
        CommandResult listed = hook(ipv6);
        EXPECT_EQ(listed.status, 0);
        EXPECT_NE(listed.output.find("type filter hook forward priority filter; policy accept;"), std::string::npos)
            << listed.output;
        EXPECT_NE(listed.output.find(ipv6 ? "jump FORWARD6_AccessControl_QK\n" : "jump FORWARD_AccessControl_QK\n"),
                  std::string::npos)
            << listed.output;
    }

    // A new run flushes the hook chain before it adds the jump again: still one jump.
    ASSERT_EQ(fw_backend_select("memory"), 0);
    ASSERT_EQ(fw_backend_select("nftables"), 0) << fw_backend_error();
    EXPECT_EQ(hook_jumps(ns().name(), false), 1U);

    EXPECT_NE(fw_backend_set_option("jump", "yes"), 0);
    EXPECT_NE(error_text().find("jump takes 0 or 1"), std::string::npos) << error_text();
    EXPECT_NE(fw_backend_set_option("hop", "1"), 0);
    EXPECT_NE(fw_backend_set_option(nullptr, "1"), 0);
    EXPECT_NE(fw_backend_set_option("jump", nullptr), 0);
    EXPECT_EQ(hook(false).status, 0) << "a refused value changes nothing";

    insert_now("10.0.0.2", 1);
    ASSERT_EQ(fw_backend_set_option("jump", "0"), 0) << fw_backend_error();
    EXPECT_NE(hook(false).status, 0);
    EXPECT_NE(hook(true).status, 0);
    EXPECT_EQ(kernel(), dump());
    EXPECT_EQ(size_v4(), 1U);
}

}  // namespace
}  // namespace nfttest
