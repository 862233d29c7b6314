// The datatype registry: names of the datatypes and the per-type action table.
//
// Each datatype module registers once at start-up, parent before child, with
// its id, parent id, name and 62 action entries. An INHERIT entry copies the
// parent's entry at registration time, so later changes to the parent do not
// reach the child. The table has a row for every id up to TYPE_ID_LIMIT.
//
// A type module registers like this (each set<> line is checked at compile
// time against the slot's signature in datatypes/actions.h):
//     datatype::Registration r = datatype::blank(TYPE_CHAR, TYPE_INTEGER, "char!");
//     r.set<ACT_MAKE>(make);
//     r.set<ACT_FORM>(form);
//     r.inherit({ACT_RANDOM, ACT_ABSOLUTE});
//     datatype::register_type(r);
#pragma once

#include <cstdint>
#include <initializer_list>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace kiv::datatype {

struct NameRecord {
    const char* name;  // with the trailing "!"
    int32_t length;    // without the "!"
    Cell word;         // a copy of the word naming the type (header 0 until words exist)
};

struct Registration {
    uint32_t id;
    uint32_t parent;
    const char* name;
    uint32_t count;  // entries that follow id, parent and name: must be 62
    ActionEntry entries[ACTION_COUNT];

    // Installs the implementation of `Slot`; f must have the slot's signature.
    template <uint32_t Slot>
    void set(SlotFn<Slot> f) {
        static_assert(Slot >= 1 && Slot <= ACTION_COUNT);
        entries[Slot - 1] = detail::erase(f);
    }
    // Routes add, subtract, multiply, divide and remainder to the type's
    // math worker (it takes the MathOp code).
    template <auto Worker>
    void set_arithmetic() {
        set<ACT_ADD>(math_entry<Worker, OP_ADD>);
        set<ACT_SUBTRACT>(math_entry<Worker, OP_SUB>);
        set<ACT_MULTIPLY>(math_entry<Worker, OP_MUL>);
        set<ACT_DIVIDE>(math_entry<Worker, OP_DIV>);
        set<ACT_REMAINDER>(math_entry<Worker, OP_REM>);
    }
    // Routes and~, or~ and xor~ to the type's math worker.
    template <auto Worker>
    void set_bitwise() {
        set<ACT_AND_T>(math_entry<Worker, OP_AND>);
        set<ACT_OR_T>(math_entry<Worker, OP_OR>);
        set<ACT_XOR_T>(math_entry<Worker, OP_XOR>);
    }
    // Takes the parent's entry for these slots.
    void inherit(uint32_t slot) { entries[slot - 1] = INHERIT; }
    void inherit(std::initializer_list<uint32_t> slots) {
        for (uint32_t s : slots) inherit(s);
    }
    void inherit_all() {
        for (auto& e : entries) e = INHERIT;
    }
    // Leaves the slot without implementation (after inherit_all).
    void drop(uint32_t slot) { entries[slot - 1] = nullptr; }
};

extern NameRecord names[TYPE_ID_LIMIT + 1];
extern ActionEntry action_table[(TYPE_ID_LIMIT + 1) * 256];
extern uint32_t highest_type_id;

// Empties the records and the table (runs before any registration).
void init_tables();

// Registers one type. A wrong entry count is a faulty build: the process ends
// with the count report and a runtime error.
void register_type(const Registration& reg);

inline ActionEntry lookup(uint32_t type, uint32_t slot) {
    return action_table[type * 256 + slot - 1];
}

// The implementation of a slot known at compile time, typed.
template <uint32_t Slot>
inline SlotFn<Slot> lookup(uint32_t type) {
    return entry_as<Slot>(lookup(type, Slot));
}

// Starts a registration with every slot empty.
Registration blank(uint32_t id, uint32_t parent, const char* name);

}  // namespace kiv::datatype
