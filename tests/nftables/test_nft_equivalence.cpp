// Whatever form the nftables backend gives the access-control chains in the kernel, every
// packet must get the verdict of the positional chain: the first rule that matches decides.
// Seeded random transactions through the C API; after each, crafted packets from the client
// namespace (any source address, IPv4 and IPv6, tcp, udp, icmp) go through the router, and
// each must reach the server exactly when the rule texts say it passes. The positional view,
// fw_dump(), must hold the rules where the operations put them, and stay what the memory
// backend makes of the same operations; one rule per rule, the kernel holds that view.

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <fwinterface/backend.h>
#include <fwinterface/interface.h>

#include "fw_fixture.h"
#include "kernel_view.h"
#include "reference_chain.h"
#include "rule_reader.h"
#include "rule_writer.h"

namespace nfttest {
namespace {

using fwtest::dump;

constexpr int transactions = 40;
constexpr std::size_t probes_per_family = 60;
constexpr std::size_t most_mismatches_shown = 20;

// The backend's "sets" option and the seed of the sequence.
using Case = std::tuple<const char*, std::uint32_t>;

// One committed transaction and the positional view it left.
struct Transaction {
    std::vector<Operation> operations;
    std::string view;
};

std::string history(const std::vector<Transaction>& done) {
    std::ostringstream out;
    for(std::size_t i = 0; i < done.size(); ++i) {
        out << "transaction " << i + 1 << ":\n";
        for(const Operation& operation : done[i].operations) {
            out << "  " << describe(operation) << '\n';
        }
    }
    return out.str();
}

// Makes the calls of `operation` and tells what went wrong ("" when nothing).
std::string perform(const Operation& operation) {
    Rule rule = operation.rule.make();
    if(rule == nullptr) {
        return "fwrules refused the rule of " + describe(operation);
    }
    const int result = operation.insert ? fw_add_rule(rule.get(), operation.position)
                                        : fw_delete_rule(rule.get(), operation.position);
    return result == FW_OK ? "" : describe(operation) + ": " + fw_error_text(result);
}

class NftEquivalence : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if(!kernel_tests_refused().empty()) {
            GTEST_SKIP() << kernel_tests_refused();
        }
        topology_.emplace();
        ASSERT_TRUE(topology_->ok()) << topology_->error();
        prober_.emplace(*topology_);
        ASSERT_TRUE(prober_->ok()) << prober_->error();
        inside_.emplace(topology_->router());
        ASSERT_TRUE(inside_->ok());
        ASSERT_EQ(fw_backend_set_option("jump", "1"), 0) << fw_backend_error();
        ASSERT_EQ(fw_backend_set_option("sets", std::get<0>(GetParam())), 0) << fw_backend_error();
        ASSERT_EQ(fw_backend_select("nftables"), 0) << fw_backend_error();
    }
    void TearDown() override {
        fw_backend_select("memory");
        fw_backend_set_option("jump", "0");
        fw_backend_set_option("sets", "0");
        inside_.reset();
        prober_.reset();
        topology_.reset();
    }

    // Probes both chains of the view `view` and returns a line for each probe whose fate
    // differs from the reference's verdict, the first few of them ("" when none does).
    std::string probe_view(const std::string& view, ChainModel& model, Dice& dice) {
        std::vector<Probe> probes;
        std::vector<bool> expected;
        std::optional<ReferenceChain> chains[2];
        for(bool ipv6 : {false, true}) {
            const std::vector<std::string> texts = chain_rules(view, (ipv6 ? access_control_v6 : access_control_v4).chain);
            std::vector<std::string> placed;
            for(const RuleDraft& rule : model.of(ipv6)) {
                placed.push_back(text_of(rule.make().get()));
            }
            if(texts != placed) {
                return "the view is not where the operations put the rules\n";
            }
            std::string error;
            std::optional<ReferenceChain>& chain = chains[ipv6] = ReferenceChain::read(texts, ipv6, error);
            if(!chain) {
                return "the reference cannot read the view: " + error + '\n';
            }
            for(const Probe& probe : choose_probes(*chain, ipv6, probes_per_family, dice)) {
                probes.push_back(probe);
                expected.push_back(chain->passes(probe));
            }
        }
        const std::vector<bool> arrived =
            prober_->send(probes, static_cast<std::size_t>(std::count(expected.begin(), expected.end(), true)));
        if(!prober_->ok()) {
            return "the prober failed: " + prober_->error() + '\n';
        }
        std::ostringstream out;
        for(std::size_t i = 0, shown = 0; i < probes.size() && shown < most_mismatches_shown; ++i) {
            if(arrived[i] != expected[i]) {
                ++shown;
                out << describe(probes[i]) << (arrived[i] ? ": arrived" : ": did not arrive") << ", the deciding rule is "
                    << chains[probes[i].ipv6()]->deciding_rule(probes[i]) << " of its chain (0: none)\n";
            }
        }
        return out.str();
    }

    std::optional<Topology> topology_;
    std::optional<Prober> prober_;
    std::optional<Inside> inside_;
};

TEST_P(NftEquivalence, EveryPacketGetsTheVerdictOfThePositionalChain) {
    const std::uint32_t seed = std::get<1>(GetParam());
    SCOPED_TRACE("seed " + std::to_string(seed) + ", sets " + std::get<0>(GetParam()));
    Dice dice(seed);
    RandomRules rules(dice);
    ChainModel model;
    std::vector<Transaction> done;
    for(int n = 1; n <= transactions; ++n) {
        Transaction& transaction = done.emplace_back();
        transaction.operations = rules.next_transaction(model);
        for(const Operation& operation : transaction.operations) {
            const std::string refused = perform(operation);
            ASSERT_EQ(refused, "") << history(done);
        }
        ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error() << '\n' << history(done);
        transaction.view = dump();
        if(std::get<0>(GetParam()) == std::string("0")) {
            ASSERT_EQ(kernel_dump(topology_->router(), {access_control_v4, access_control_v6}), transaction.view);
        }
        const std::string mismatches = probe_view(transaction.view, model, dice);
        ASSERT_TRUE(mismatches.empty()) << "after transaction " << n << ":\n"
                                        << mismatches << history(done) << "view:\n"
                                        << transaction.view;
    }

    // The same operations on the memory backend give the same view after every transaction.
    ASSERT_EQ(fw_backend_select("memory"), 0) << fw_backend_error();
    fw_reset();
    for(std::size_t n = 0; n < done.size(); ++n) {
        for(const Operation& operation : done[n].operations) {
            ASSERT_EQ(perform(operation), "") << "memory backend, transaction " << n + 1;
        }
        ASSERT_EQ(fw_apply(), FW_OK) << fw_backend_error();
        ASSERT_EQ(dump(), done[n].view) << "memory backend, transaction " << n + 1 << '\n' << history(done);
    }
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    return std::string("sets") + std::get<0>(info.param) + "_seed" + std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Seeds, NftEquivalence,
                         ::testing::Combine(::testing::Values("0", "1"),
                                            ::testing::Values(11U, 23U, 37U, 41U, 59U, 73U)),
                         case_name);

// A compiled chain keeps its rules as their matches and writes their texts back: for every
// rule the module can make, that text must be the one fwrules wrote, or the chain would keep
// its own copy of each (which only the resident memory would show). No kernel needed.
TEST(RuleWriter, WritesBackTheTextOfEveryRandomRule) {
    Dice dice(7);
    RandomRules rules(dice);
    ChainModel model;
    std::size_t checked = 0;
    for(int n = 0; n < 300; ++n) {
        for(const Operation& operation : rules.next_transaction(model)) {
            const Rule made = operation.rule.make();
            if(!operation.insert || made == nullptr) {
                continue;
            }
            const std::string text = text_of(made.get());
            fwinterface::RuleSpec spec;
            std::string error;
            ASSERT_TRUE(fwinterface::parse_rule_text(text, operation.rule.ipv6, spec, error)) << text << ": " << error;
            fwinterface::RuleTextRoom room;
            ASSERT_EQ(fwinterface::write_rule_text(spec, operation.rule.ipv6, room), text);
            ++checked;
        }
    }
    EXPECT_GT(checked, 500U);
}

// A rule text's IPv4 address is read as inet_pton reads it, and refused where it refuses.
TEST(RuleReader, ReadsAnIPv4AddressAsInetPtonDoes) {
    for(const char* address : {"0.0.0.0", "255.255.255.255", "10.1.2.3", "256.1.2.3", "1.2.3", "1.2.3.4.5", "1..2.3",
                               "01.2.3.4", "1.2.3.04", "1234.1.1.1", "-1.2.3.4", "+1.2.3.4", "1.2.3.4x", " 1.2.3.4",
                               "1.2.3.", ".1.2.3", "", "1.2.3.400", "::1"}) {
        std::array<std::uint8_t, 16> expected{};
        const bool valid = inet_pton(AF_INET, address, expected.data()) == 1;
        fwinterface::RuleSpec spec;
        std::string error;
        const bool read = fwinterface::parse_rule_text(std::string("-s ") + address + "/32 -j DROP", false, spec, error);
        EXPECT_EQ(read, valid) << address;
        if(read && valid) {
            EXPECT_EQ(spec.source->bytes, expected) << address;
        }
    }
}

}  // namespace
}  // namespace nfttest
