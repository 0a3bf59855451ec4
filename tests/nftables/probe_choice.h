#ifndef TESTS_NFTABLES_PROBE_CHOICE_H
#define TESTS_NFTABLES_PROBE_CHOICE_H

#include <cstddef>
#include <vector>

#include "dice.h"
#include "probe_frame.h"
#include "reference_chain.h"

namespace nfttest {

// `count` probes of one family aimed at the rules of `chain`: mostly at one rule each, on
// and just beside the edges of its source (first and last address, one before, one after)
// and of its port ranges, with its protocol, ICMP type, destination and MAC or a near miss;
// the rest anywhere in the ranges rules use. Every probe has a source the router forwards
// and a destination it routes to the server.
std::vector<Probe> choose_probes(const ReferenceChain& chain, bool ipv6, std::size_t count, Dice& dice);

}  // namespace nfttest

#endif  // TESTS_NFTABLES_PROBE_CHOICE_H
