// Test support for running natives through the interpreter: the runtime
// with error values, the natives table and the interpreter; the natives and
// a few actions and operators defined as global words; code text is read by
// the real lexer (test::load).
//
//   class MyTest : public kiv::test::NativesTest {};
//   TEST_F(MyTest, Adds) { EXPECT_EQ(run_mold("[1 + 2]"), "3"); }
#pragma once

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/native.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "test_support.h"

namespace kiv::test {

// A value from its code text ("[...]" gives a block), read by the real
// lexer and kept reachable until the next test (see hold()).
inline Cell code(const char* text) {
    return load(text);
}

// ---- Definitions ----------------------------------------------------------------------

// The typesets the natives' specifications name.
inline void define_typesets() {
    auto ts = [](const char* name, std::initializer_list<uint32_t> ids) {
        set_global(name, typeset::of_types(ids));
    };
    set_global("any-type!", typeset::of_words(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu));
    ts("any-word!", {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD});
    ts("any-path!", {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH});
    ts("any-block!",
       {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH});
    ts("any-list!", {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH});
    ts("any-object!", {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT});
    ts("any-function!", {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE});
    ts("any-string!", {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF});
    ts("any-point!", {TYPE_POINT2D, TYPE_POINT3D});
    ts("number!", {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT});
    ts("series!", {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH,
                   TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_BINARY, TYPE_VECTOR,
                   TYPE_IMAGE});
    ts("scalar!", {TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_PAIR, TYPE_PERCENT, TYPE_TUPLE, TYPE_TIME,
                   TYPE_DATE, TYPE_MONEY, TYPE_POINT2D, TYPE_POINT3D});
}

// Datatype words for the ids that have no registered datatype yet.
inline void define_missing_type_words() {
    struct Named {
        const char* name;
        uint32_t id;
    };
    static const Named list[] = {
        {"map!", TYPE_MAP},         {"hash!", TYPE_HASH},       {"date!", TYPE_DATE},
        {"time!", TYPE_TIME},       {"money!", TYPE_MONEY},     {"tuple!", TYPE_TUPLE},
        {"pair!", TYPE_PAIR},       {"bitset!", TYPE_BITSET},   {"binary!", TYPE_BINARY},
        {"percent!", TYPE_PERCENT}, {"port!", TYPE_PORT},       {"vector!", TYPE_VECTOR},
        {"image!", TYPE_IMAGE},     {"routine!", TYPE_ROUTINE}, {"issue!", TYPE_ISSUE},
        {"url!", TYPE_URL},         {"file!", TYPE_FILE},       {"tag!", TYPE_TAG},
        {"email!", TYPE_EMAIL},     {"ref!", TYPE_REF}};
    for (const Named& n : list) {
        if (n.id <= datatype::highest_type_id && datatype::names[n.id].name) continue;
        set_global(n.name, datatype::cell(n.id));
    }
}

// A native! or action! value from its number and specification text,
// defined as a global word.
inline void define_callable(const char* name, uint32_t type, uint32_t number, const char* argument_text) {
    Cell* pair = block::push_only(2);
    Cell* spec = stack::push(load(argument_text));
    block::cells_append(pair, spec);
    Cell n = int_cell(int32_t(number));
    block::cells_append(pair, &n);
    Cell* made = stack::push(none::cell());
    (void)native::make(made, pair, type);
    set_global(name, *made);
    stack::pop(3);
}

// An op! made from the global word's value, defined as a global word.
inline void define_op(const char* op_name, const char* source_name) {
    Cell w = word::load(source_name);
    Cell* src = stack::push(*context::get_word(&w));
    Cell* made = stack::push(none::cell());
    (void)native::op_make(made, src, TYPE_OP);
    set_global(op_name, *made);
    stack::pop(2);
}

// Brings the runtime, error values, the natives table and the interpreter up
// once, and defines the global words the tests use.
inline void boot_interpreter() {
    static bool booted = false;
    if (booted) return;
    booted = true;
    boot_runtime();
    boot(BootLevel::language);
    define_type_words();
    define_missing_type_words();
    define_typesets();
    set_global("none", none::cell());
    set_global("true", logic::cell(true));
    set_global("false", logic::cell(false));
    for (uint32_t n = 1; n <= natives::NATIVE_COUNT; ++n)
        define_callable(natives::NAMES[n - 1], TYPE_NATIVE, n, natives::SPECS[n - 1]);
    define_callable("add", TYPE_ACTION, ACT_ADD, "[value1 value2]");
    define_callable("subtract", TYPE_ACTION, ACT_SUBTRACT, "[value1 value2]");
    define_callable("multiply", TYPE_ACTION, ACT_MULTIPLY, "[value1 value2]");
    define_callable("divide", TYPE_ACTION, ACT_DIVIDE, "[value1 value2]");
    define_callable("next", TYPE_ACTION, ACT_NEXT, "[series]");
    define_callable("copy", TYPE_ACTION, ACT_COPY, "[value /part length /deep /types kind]");
    define_callable("append", TYPE_ACTION, ACT_APPEND, "[series value /part length /only /dup count]");
    define_callable("length?", TYPE_ACTION, ACT_LENGTH_Q, "[series]");
    define_callable("head", TYPE_ACTION, ACT_HEAD, "[series]");
    define_callable("tail", TYPE_ACTION, ACT_TAIL, "[series]");
    define_callable("tail?", TYPE_ACTION, ACT_TAIL_Q, "[series]");
    define_callable("pick", TYPE_ACTION, ACT_PICK, "[series index]");
    define_op("+", "add");
    define_op("-", "subtract");
    define_op("*", "multiply");
    define_op("/", "divide");
    define_op("=", "equal?");
    define_op("<", "lesser?");
    // Collections run whenever the allocator asks (at every allocation in a
    // KIV_GC_TORTURE build), so the natives' values must stay reachable.
    memory::collection_enabled = true;
}

class NativesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { boot_interpreter(); }
    void SetUp() override {
        boot_interpreter();
        stack::reset_all();
        cycles::reset();
        held_values = Cell{TYPE_NONE, 0, 0, 0};  // what hold() kept for the test before
    }
    void TearDown() override {
        stack::reset_all();
        cycles::reset();
    }
};

// ---- Running code -------------------------------------------------------------------------

// Evaluates the code text (a block) at the top level and returns its value
// (kept with hold()). A non-local exit that reaches the top level fails the
// test.
inline Cell run(const char* text) {
    Cell* slot = stack::push(code(text));
    uint32_t c = interpreter::eval(slot, false);
    if (c != 0) {
        ADD_FAILURE() << "unwind code " << std::hex << c << " reached the top level";
        stack::reset_all();
        return unset::cell();
    }
    Cell v = *stack::top_cell();
    stack::reset_all();
    return hold(v);
}

// The molded value of the code's result (flat).
inline std::string run_mold(const char* text) {
    Cell v = run(text);
    Cell* keep = stack::push(v);
    std::string s = mold_text(*keep, false, false, true);
    stack::reset_all();
    return s;
}

// Runs code expected to raise the error category/id; returns the formed
// error text ("" when the error value could not be formed).
inline std::string run_error(const char* text, const char* category, const char* id) {
    std::string formed;
    try {
        run(text);
        ADD_FAILURE() << "expected error " << category << " " << id << " from " << text;
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.category, category) << text;
        EXPECT_EQ(e.id, id) << text;
        stack::reset_all();
        formed = raised_text(e);
    }
    stack::reset_all();
    cycles::reset();
    return formed;
}

// Calls native `number` directly, as compiled code does, under a native
// frame: `args` from the argument base on (fixed arguments, then every
// refinement argument cell), `refs` one position per refinement (-1 absent,
// missing trailing entries absent). The unwind code goes to *code_out (a
// non-zero code with no code_out fails the test); the result is returned.
inline Cell call_native(uint32_t number, std::initializer_list<Cell> args,
                        std::initializer_list<int32_t> refs = {}, bool check = false,
                        uint32_t* code_out = nullptr) {
    int32_t positions[16];
    for (int32_t& p : positions) p = -1;
    int i = 0;
    for (int32_t r : refs) positions[i++] = r;
    // The arguments are held on the data stack while the name is interned.
    Cell* held = stack::top;
    for (const Cell& a : args) stack::push(a);
    uint32_t count = uint32_t(stack::top - held);
    Cell name = word::load(natives::NAMES[number - 1]);
    Cell* base = stack::mark_native(&name);
    for (uint32_t k = 0; k < count; ++k) stack::push(held[k]);
    stack::Frame* mine = stack::ctop();
    uint32_t c = 0;
    try {
        c = natives::natives_table[number - 1](check, positions);
    } catch (...) {
        stack::catch_at(mine);
        throw;
    }
    if (code_out) *code_out = c;
    if (c) {
        if (!code_out) ADD_FAILURE() << "unwind code " << std::hex << c;
        Cell v = *stack::arg_base;
        return hold(v);
    }
    Cell result = *base;
    stack::unwind_drop();
    stack::top = held;  // unwind_drop leaves the top at the caller's argument base
    return hold(result);
}

}  // namespace kiv::test
