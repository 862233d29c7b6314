// The memo of a quick form's last refusal, by code position.
#pragma once

#include <cstdint>

#include "runtime/arena.h"

namespace kiv {

// A quick form that met a value needing the ordinary path (a path or a
// paren leading to a function call, say) at the code position of a node,
// refused again there without the attempt for its next RUNS tries: a loop
// meets the same refusal on every pass, and refusing is always right (the
// ordinary path gives the same result). The attempt is made again after
// them, so code that has become quick soon takes the quick form.
struct RefusalMemo {
    static constexpr uint32_t RUNS = 15;
    uint64_t key = 0;  // node and position; 0 for none (no node is 0)
    uint32_t runs = 0;
    static uint64_t key_of(Off n, uint32_t p) { return uint64_t(n) << 32 | p; }
    bool refused(Off n, uint32_t p) {
        if (key_of(n, p) != key) [[likely]]
            return false;
        if (--runs == 0) key = 0;
        return true;
    }
    void note(Off n, uint32_t p) {
        key = key_of(n, p);
        runs = RUNS;
    }
};

}  // namespace kiv
