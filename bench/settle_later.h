// Holding back the hand-back of a large change's freed memory, as gwrt's settle timer does.
#ifndef BENCH_SETTLE_LATER_H
#define BENCH_SETTLE_LATER_H

#include <fwinterface/backend.h>

namespace modbench {

// While it lives, the memory large changes free stays for the next instead of going back at the
// end of each turn, as in gwrt while changes come within a second of each other; it goes back
// when this ends.
class SettleLater {
public:
    SettleLater() { fw_backend_release_when_settled(&not_yet, nullptr); }
    ~SettleLater() { fw_backend_release_when_settled(nullptr, nullptr); }
    SettleLater(const SettleLater&) = delete;
    SettleLater& operator=(const SettleLater&) = delete;

private:
    static void not_yet(void* /*priv*/) {}
};

}  // namespace modbench

#endif  // BENCH_SETTLE_LATER_H
