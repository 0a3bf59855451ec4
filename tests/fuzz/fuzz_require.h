// A property every input must keep: a trap is what libFuzzer reports as a crash, with the input.
#pragma once

inline void require(bool holds) {
    if(!holds) {
        __builtin_trap();
    }
}
