// The module rebuilds a group by withdrawing every rule and inserting the new set; the kernel
// must only ever hold the group whole, before the change or after it. A reader lists the
// kernel's chain over and over, and a member of the group pings through the gateway every 5 ms,
// while another member joins the group of 10,001 sources and leaves it.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "e2e_fixture.h"

namespace e2e {
namespace {

using E2eAtomic = GatewayTest;

constexpr std::size_t group = 10001;

// Rules in the kernel's IPv4 access-control chain, or 0 when it cannot be listed.
std::size_t kernel_rules(const std::string& router) {
    const nfttest::CommandResult listed =
        nfttest::exec_in(router, {"nft", "list", "chain", "ip", "filter", nfttest::access_control_v4.chain});
    std::size_t rules = 0;
    for(std::size_t at = listed.output.find(" drop"); listed.status == 0 && at != std::string::npos;
        at = listed.output.find(" drop", at + 1)) {
        ++rules;
    }
    return rules;
}

// Echo requests the client sends to the server every 5 ms, and replies it gets, until `stop`.
struct Echoes {
    std::size_t sent = 0;
    std::size_t answered = 0;
};
Echoes ping_until(const std::string& client, const std::atomic<bool>& stop) {
    Echoes echoes;
    while(!stop) {
        const nfttest::CommandResult run =
            nfttest::exec_in(client, {"ping", "-q", "-n", "-c", "100", "-i", "0.005", "-W", "1", server_v4});
        std::size_t sent = 0;
        std::size_t answered = 0;
        if(std::sscanf(run.output.c_str() + std::min(run.output.find("\n1"), run.output.size()),
                       "\n%zu packets transmitted, %zu", &sent, &answered) == 2) {
            echoes.sent += sent;
            echoes.answered += answered;
        }
    }
    return echoes;
}

TEST_F(E2eAtomic, AGroupOfTenThousandSourcesStaysWholeInTheKernelWhileAMemberJoinsAndLeaves) {
    const std::string object = network_object({{"Type=IPRange", "SourceIP=10.98.0.1", "SourceIPRangeMax=10.98.39.16"},
                                               {"Type=IPAddress", "SourceIP=" + client_v4}});
    ASSERT_NE(add(root + "AccessControl.", {"Enable=true", "NetworkGroupRef=" + ref(object)}), "");
    auto wait_for = [this](std::size_t rules) {
        gwtest::wait_until([&] { return kernel_rules(net().router()) == rules; }, 60s);
        return kernel_rules(net().router());
    };
    ASSERT_EQ(wait_for(group), group);

    std::atomic<bool> stop{false};
    std::vector<std::size_t> listed;
    std::thread reader([&] {
        while(!stop) {
            listed.push_back(kernel_rules(net().router()));
        }
    });
    Echoes echoes;
    std::thread pinger([&] { echoes = ping_until(net().client(), stop); });
    const std::string joined = add(object + "Rule.", {"Type=IPAddress", "SourceIP=10.99.1.3"});
    const std::size_t after_join = wait_for(group + 1);
    const int left = ctl({"del", joined}).exit_code;
    const std::size_t after_leave = wait_for(group);
    stop = true;
    reader.join();
    pinger.join();

    EXPECT_EQ(after_join, group + 1);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(after_leave, group);
    std::size_t partial = 0;
    for(std::size_t rules : listed) {
        partial += rules == group || rules == group + 1 ? 0 : 1;
    }
    EXPECT_EQ(partial, 0U) << "listings with part of the group withdrawn, of " << listed.size();
    EXPECT_GE(echoes.sent, 200U) << "the client must have probed through both rebuilds";
    EXPECT_EQ(echoes.answered, 0U) << "the client, a member, got through during a rebuild";
}

}  // namespace
}  // namespace e2e
