// The cycle stack: the series a recursive walk is currently inside.
//
// Mold, form, compare, deep copy and binding walk nested series. Before
// descending into a series a walker pushes its identity (the node of the
// series, or of an object's context) and pops it afterwards, so a series met
// again from within itself is recognised and not walked a second time.
//
// Invariant: the stack holds at most ENTRIES - 1 identities. The push that
// would fill the last entry empties the stack and raises internal too-deep;
// a walk that fails (or an evaluator stack overflow) also leaves it empty.
// Main thread only.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::cycles {

constexpr uint32_t ENTRIES = 1000;

// Allocates the entries (tracked heap) and empties the stack. Calling it
// again only empties the stack.
void init();

// Pushes an identity; raises internal too-deep (after emptying the stack)
// when the stack would be full.
void push(uint32_t identity);
// Removes the topmost entry, if any.
void pop();
// Removes n entries (never below the bottom).
void drop(uint32_t n);
// Empties the stack.
void reset();
// True when the identity is on the stack.
bool find(uint32_t identity);
// Number of entries in use.
uint32_t depth();
// Collector: after node compaction moved nodes, each entry e becomes map(e)
// when that is not 0.
void relocate(uint32_t (*map)(uint32_t identity));

// Pushes identities for the scope of a walk and pops them again when the
// walk ends, normally or by an error unwinding through it.
class Guard {
public:
    Guard() = default;
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    ~Guard() { drop(pushed_); }
    void push(uint32_t identity) {
        cycles::push(identity);
        ++pushed_;
    }

private:
    uint32_t pushed_ = 0;
};

// The identity a walker pushes for a value: word 1 for object!, word 2 else.
inline uint32_t identity_of(const Cell* value) {
    return value->type() == TYPE_OBJECT ? value->w1 : value->w2;
}

// When the value's series is on the stack, the cycle marker that stands for
// it (mold mode: "[...]" for block!/hash!, "(...)" for paren!, "#[...]" for
// map!, "make object! [...]" for object!, "..." for the path types; form
// mode: "..." for all); null otherwise. string::append_cycle_marker writes it.
const char* marker(const Cell* value, bool mold);

}  // namespace kiv::cycles
