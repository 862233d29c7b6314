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
// stacks. With collection on (collect_during_tests below; in the GC-torture
// build every series allocation then collects), a value a test keeps across
// an allocation must be reachable from a root, like any native code's
// values: on the data stack, or kept with hold().
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>

#include "boot/startup.h"
#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "runtime/arena.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"

namespace kiv::test {

// ---- Keeping test values reachable ------------------------------------------
// A Cell held in a C++ variable is no root: once collection is on, its series
// may be reclaimed at the next allocation. The value helpers here (load()
// and the rest) also keep what they return in a block
// that the collector marks until the next test starts, so a test may hold
// their results across allocations. Values made by calling the modules
// directly must be kept with hold() (or live on the data stack).
inline Cell held_values{TYPE_NONE, 0, 0, 0};
inline Cell held_pending{TYPE_NONE, 0, 0, 0};  // the value being appended
inline void mark_held_values() {
    if (held_values.type() == TYPE_BLOCK) collector::mark_block(&held_values);
    collector::mark_cells(&held_pending, &held_pending + 1);
}
// Keeps the value reachable until the next test starts; returns it. The data
// stack is left alone (tests inspect cells there).
inline Cell hold(const Cell& value) {
    held_pending = value;
    if (held_values.type() != TYPE_BLOCK) block::make_at(&held_values, 64);
    block::cells_append(&held_values, &held_pending);
    Cell out = held_pending;
    held_pending = Cell{TYPE_NONE, 0, 0, 0};
    return out;
}

// ---- Values from Kiv text ------------------------------------------------------------
// The real lexer: words are bound in the global context as loaded code's words are; a line
// break before a value gives it the new-line marker.

// Every value of the text, as a block; kept with hold().
inline Cell load_all(const char* text) {
    Cell* out = stack::push(Cell{TYPE_NONE, 0, 0, 0});
    lexer::Options options;
    uint32_t consumed = 0;
    lexer::scan(out, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), options, nullptr,
                &consumed);
    Cell v = *out;
    stack::pop(1);
    return hold(v);
}
// The first value of the text ("[1 2]" is a block, "1 2" only the 1); unset
// for an empty text. Kept with hold().
inline Cell load(const char* text) {
    Cell all = load_all(text);
    if (block::cells_length(&all) == 0) return Cell{TYPE_UNSET, 0, 0, 0};
    return hold(*block::cells_at(&all, all.w1));
}

// A data-stack cell that stays until the test ends (the argument base moves
// above it, so calls that drop their arguments leave it): an output cell for
// calls that build a value in place.
inline Cell* root_slot() {
    Cell* c = stack::push(Cell{TYPE_NONE, 0, 0, 0});
    stack::arg_base = stack::top;
    return c;
}

// Brings the runtime up once per process, to the language level that kiv
// boots (the library's modules do not run); a test that replaces a hook
// installs its own in SetUp.
inline void boot_runtime() {
    static bool booted = false;
    if (booted) return;
    booted = true;
    boot(BootLevel::language);
    collector::register_marker(mark_held_values);
}

// Whether RuntimeTest switches collection on for each test: on, so that
// every test keeps its values reachable as native code must (see hold());
// the environment variable KIV_TEST_COLLECT=0 switches it off. Suites that
// test the collector switch it on themselves.
inline bool collect_during_tests = [] {
    const char* v = std::getenv("KIV_TEST_COLLECT");
    return !(v && v[0] == '0');
}();

class RuntimeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { boot_runtime(); }
    void SetUp() override {
        boot_runtime();
        stack::reset_all();
        cycles::reset();
        held_values = Cell{TYPE_NONE, 0, 0, 0};
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
// the `count` cells of `args` are pushed from the argument base on (fixed
// arguments, then any refinement arguments); `positions` holds 16 refinement
// positions (-1 absent). Returns a copy of the result, kept with hold().
inline Cell run_generic(uint32_t slot, const int32_t* positions, const Cell* args, size_t count) {
    Cell* saved = stack::top;
    Cell* base = stack::mark_native(nullptr);
    for (size_t k = 0; k < count; ++k) stack::push(args[k]);
    stack::Frame* mine = stack::ctop();
    try {
        EXPECT_EQ(actions::generic_table[slot](positions), UNWIND_NONE);
    } catch (...) {
        stack::catch_at(mine);
        throw;
    }
    Cell result = *base;
    stack::unwind_drop();
    // unwind_drop leaves the top at the caller's argument base: give back
    // the cells pushed since (a helper called from inside a running native,
    // like a stand-in lexer, must not drop its caller's cells).
    stack::top = saved;
    return hold(result);
}

// run_generic with the arguments as a list and one position per refinement
// in `refs` (missing trailing entries count as absent).
inline Cell run_action(uint32_t slot, std::initializer_list<Cell> args,
                       std::initializer_list<int32_t> refs = {}) {
    int32_t positions[16];
    for (int32_t& p : positions) p = -1;
    int i = 0;
    for (int32_t r : refs) positions[i++] = r;
    return run_generic(slot, positions, args.begin(), args.size());
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

// ---- Global words --------------------------------------------------------------------
// Sets a global word to a value (the start-up library would). The value waits
// on the data stack while the word is made: interning may allocate, and so
// collect.
inline void set_global(const char* name, const Cell& value) {
    Cell* held = stack::push(value);
    Cell w = word::load(name);
    EXPECT_EQ(context::set_word(&w, held).code, UNWIND_NONE);
    stack::pop(1);
}

// Gives every registered datatype name its datatype! as global value.
inline void define_type_words() {
    for (uint32_t t = 1; t <= datatype::highest_type_id; ++t)
        if (datatype::names[t].name) set_global(datatype::names[t].name, datatype::cell(t));
}
// The global value of a word.
inline Cell global_value(const char* name) {
    Cell w = word::load(name);
    return *context::get_word(&w);
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
