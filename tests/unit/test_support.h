// Shared fixture for unit tests that need the minimal runtime: the arena,
// the memory manager, the datatype registry with every registration, the
// generic action table, the root block, the data and frame stacks, the cycle
// stack, the symbol table, the global context and the fixed words.
//
// Usage:
//   class MyTest : public kiv::test::RuntimeTest {};
//   TEST_F(MyTest, Something) { ... kiv::test::mold_text(v) ... }
//
// The runtime is booted once per test binary; every test starts with empty
// stacks. Collection is on while a test runs (in the GC-torture build every
// series allocation collects): a value a test keeps across an allocation
// must be reachable from a root, the data stack for instance, like any
// native code's values.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <initializer_list>
#include <string>

#include "boot/fixed_words.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/arena.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/memory.h"
#include "runtime/root.h"

namespace kiv::test {

// Brings the minimal runtime up once per process.
inline void boot_runtime() {
    static bool booted = false;
    if (booted) return;
    booted = true;
    arena::init();
    memory::init();
    externals::init();
    datatype::init_tables();
    datatype::register_all();
    actions::init();
    memory::init_frames();
    root::init();
    stack::init();
    cycles::init();
    symbol::init_block();
    context::init_global();
    symbol::init_index();
    fixed::bind_type_names();
    fixed::build();
    ownership::init();
    slots::init();
    collector::init();
}

// Whether RuntimeTest switches collection on for each test.
inline bool collect_during_tests = false;

class RuntimeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { boot_runtime(); }
    void SetUp() override {
        boot_runtime();
        stack::reset_all();
        cycles::reset();
        memory::collection_enabled = collect_during_tests;
    }
    void TearDown() override {
        memory::collection_enabled = false;
        stack::reset_all();
        cycles::reset();
    }
};

// ---- Value makers (tests only: the datatype modules have their own) ----------
inline Cell int_cell(int32_t v) {
    return Cell{TYPE_INTEGER, 0, uint32_t(v), 0};
}
inline Cell char_cell(uint32_t cp) {
    return Cell{TYPE_CHAR, 0, cp, 0};
}
inline Cell float_cell(double d) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    c.set_f64(d);
    return c;
}
inline Cell type_cell(uint32_t type) {
    return datatype::cell(type);
}

// ---- Strings ------------------------------------------------------------------
// The text of a string! value from its index to its tail, as UTF-8.
inline std::string string_text(const Cell& s) {
    std::string out;
    const SeriesBuffer* b = buffer_of(s.w2);
    uint32_t unit = b->unit();
    const uint8_t* p = b->head_ptr() + uint64_t(s.w1) * unit;
    const uint8_t* end = b->tail_ptr();
    for (; p < end; p += unit) {
        uint32_t cp = unit == 1   ? *p
                      : unit == 2 ? uint32_t(p[0] | p[1] << 8)
                                  : uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | cp >> 6);
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | cp >> 12);
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | cp >> 18);
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// ---- Running actions on the data stack ---------------------------------------
// Runs action `slot` through its generic stack entry under a native frame:
// `args` are pushed from the argument base on (fixed arguments, then any
// refinement arguments), `refs` gives one position per refinement (-1 absent;
// missing trailing entries count as absent). Returns a copy of the result.
inline Cell run_action(uint32_t slot, std::initializer_list<Cell> args,
                       std::initializer_list<int32_t> refs = {}) {
    int32_t positions[16];
    for (int32_t& p : positions) p = -1;
    int i = 0;
    for (int32_t r : refs) positions[i++] = r;
    Cell* base = stack::mark_native(nullptr);
    for (const Cell& a : args) stack::push(a);
    stack::Frame* mine = stack::ctop();
    try {
        actions::generic_table[slot](positions);
    } catch (...) {
        stack::catch_at(mine);
        throw;
    }
    Cell result = *base;
    stack::unwind_drop();
    return result;
}

// mold/form text through the generic entries (so /part truncation applies).
// part == NO_PART: no /part.
constexpr int32_t NO_PART = INT32_MIN;
inline std::string mold_text(const Cell& v, bool only = false, bool all = false, bool flat = false,
                             int32_t part = NO_PART) {
    Cell r = part == NO_PART
                 ? run_action(ACT_MOLD, {v}, {only ? 0 : -1, all ? 0 : -1, flat ? 0 : -1, -1})
                 : run_action(ACT_MOLD, {v, int_cell(part)}, {only ? 0 : -1, all ? 0 : -1, flat ? 0 : -1, 1});
    return string_text(r);
}
inline std::string form_text(const Cell& v, int32_t part = NO_PART) {
    Cell r =
        part == NO_PART ? run_action(ACT_FORM, {v}, {-1}) : run_action(ACT_FORM, {v, int_cell(part)}, {1});
    return string_text(r);
}

// ---- Errors -----------------------------------------------------------------------
// Runs f and expects a RaisedError of the category and id; returns it.
inline RaisedError expect_error(const std::function<void()>& f, const char* category, const char* id) {
    try {
        f();
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.category, category);
        EXPECT_EQ(e.id, id);
        return e;
    }
    ADD_FAILURE() << "expected error " << category << " " << id;
    return RaisedError{};
}

}  // namespace kiv::test
