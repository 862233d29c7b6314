// Shared set-up for the interpreter and control-native tests: the natives
// and a few actions and operators bound to their global words, and helpers
// that evaluate text (read by the real lexer, test::load_all).
//
//   EXPECT_EQ(eval_mold("1 + 2 * 3"), "9");
//   expect_eval_error("undefined-word", "script", "no-value");
#pragma once

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/path.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "test_support.h"

namespace kiv::test {

// A block of the values of the text (the text holds the block's contents),
// read by the real lexer and kept reachable until the next test (see hold()).
inline Cell code(const char* text) {
    return load_all(text);
}

// The makers below return values kept with hold().
// A function! from its spec and body texts (block contents).
inline Cell make_func(const char* spec, const char* body) {
    Cell* saved = stack::top;
    Cell* s = stack::push(code(spec));
    Cell* b = stack::push(code(body));
    uint32_t flags = function::validate(s);
    function::init_context(s, b, 0, 0, 0, flags);
    Cell f = *(stack::top - 1);
    stack::top = saved;
    return hold(f);
}

// A native! or action! value from a spec text (block contents) and number.
inline Cell make_builtin(uint32_t type, const char* spec, uint32_t number) {
    Cell* saved = stack::top;
    Cell* pair = stack::push(none::cell());
    block::make_at(pair, 2);
    Cell* s = stack::push(code(spec));
    Cell n = int_cell(int32_t(number));
    block::cells_append(pair, s);
    block::cells_append(pair, &n);
    Cell* proto = stack::push(datatype::cell(type));
    (void)native::make(proto, pair, type);
    Cell v = *proto;
    stack::top = saved;
    return hold(v);
}

// An op! made from a native!, action!, function! or routine! value.
inline Cell make_op(const Cell& source) {
    Cell* saved = stack::top;
    Cell* proto = stack::push(datatype::cell(TYPE_OP));
    Cell* src = stack::push(source);
    (void)native::op_make(proto, src, TYPE_OP);
    Cell v = *proto;
    stack::top = saved;
    return hold(v);
}

// A routine! calling a C++ entry with its argument cells.
inline Cell make_routine(const char* spec, routine::Fn fn, const char* name) {
    Cell s = code(spec);
    uint32_t id = routine::register_fn(fn, name);
    Cell* saved = stack::top;
    Cell r = *routine::push(&s, nullptr, id, 0, true);
    stack::top = saved;
    return hold(r);
}

namespace interp_detail {

inline int32_t int_arg(const Cell* c) {
    return int32_t(c->w2);
}
inline Unwind lt(Cell* a) {
    *a = logic::cell(int_arg(a) < int_arg(a + 1));
    return UNWIND_NONE;
}
inline Unwind gt(Cell* a) {
    *a = logic::cell(int_arg(a) > int_arg(a + 1));
    return UNWIND_NONE;
}
inline Unwind le(Cell* a) {
    *a = logic::cell(int_arg(a) <= int_arg(a + 1));
    return UNWIND_NONE;
}
inline Unwind eq(Cell* a) {
    Cell x = a[0], y = a[1];
    *a = logic::cell(actions::compare(&x, &y, COMP_EQUAL));
    return UNWIND_NONE;
}
inline Unwind record(Cell* a) {
    // Appends its argument to the global block `log`.
    Cell log = global_value("log");
    Cell v = a[0];
    block::cells_append(&log, &v);
    return UNWIND_NONE;
}

// Minimal exits with the stack contract of the try/exit natives: enough to
// drive the loops and functions here.
inline Unwind t_break(bool, const int32_t* r) {
    return stack::throw_break(r[0] >= 0, false);
}
inline Unwind t_continue(bool, const int32_t*) {
    return stack::throw_break(false, true);
}
inline Unwind t_return(bool, const int32_t*) {
    return stack::throw_exit(true, false);
}
inline Unwind t_exit(bool, const int32_t*) {
    return stack::throw_exit(false, false);
}

}  // namespace interp_detail

// The minimal runtime plus the natives table, the interpreter and the
// global words the tests use.
inline void boot_interpreter() {
    static bool booted = false;
    boot_runtime();
    if (booted) return;
    booted = true;
    boot(BootLevel::language);
    for (uint32_t t = 1; t <= datatype::highest_type_id; ++t)
        if (datatype::names[t].name) set_global(datatype::names[t].name, datatype::cell(t));
    Cell all = typeset::default_set();
    typeset::set_bit(&all, TYPE_UNSET);
    set_global("any-type!", all);
    Cell series = typeset::empty();
    for (uint32_t t = 1; t <= datatype::highest_type_id; ++t)
        if (is_series(t)) typeset::set_bit(&series, t);
    set_global("series!", series);
    set_global("any-series!", series);
    set_global("any-word!", typeset::of_types({TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD,
                                               TYPE_REFINEMENT, TYPE_ISSUE}));
    set_global("any-block!", typeset::of_types({TYPE_BLOCK, TYPE_PAREN, TYPE_HASH, TYPE_PATH, TYPE_LIT_PATH,
                                                TYPE_SET_PATH, TYPE_GET_PATH}));
    set_global("any-list!", typeset::of_types({TYPE_BLOCK, TYPE_PAREN, TYPE_HASH}));
    set_global("any-path!", typeset::of_types({TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}));
    set_global("any-string!",
               typeset::of_types({TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}));
    set_global("number!", typeset::of_types({TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}));
    set_global("scalar!", typeset::of_types({TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_CHAR, TYPE_PAIR,
                                             TYPE_TUPLE, TYPE_TIME, TYPE_DATE, TYPE_MONEY}));
    set_global("any-object!", typeset::of_types({TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}));
    set_global("any-function!",
               typeset::of_types({TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE}));
    set_global("any-point!", typeset::of_types({TYPE_POINT2D, TYPE_POINT3D}));
    set_global("true", logic::cell(true));
    set_global("false", logic::cell(false));
    set_global("none", none::cell());

    for (uint32_t n = 1; n <= natives::NATIVE_COUNT; ++n) {
        // The argument text is one block; the reader takes block contents.
        std::string spec = natives::SPECS[n - 1];
        spec = spec.substr(1, spec.size() - 2);
        set_global(natives::NAMES[n - 1], make_builtin(TYPE_NATIVE, spec.c_str(), n));
    }
    using namespace interp_detail;
    natives::natives_table[natives::N_BREAK - 1] = t_break;
    natives::natives_table[natives::N_CONTINUE - 1] = t_continue;
    natives::natives_table[natives::N_RETURN - 1] = t_return;
    natives::natives_table[natives::N_EXIT - 1] = t_exit;

    struct ActionDef {
        const char* name;
        const char* spec;
        uint32_t slot;
    };
    const ActionDef actions_list[] = {
        {"add", "value1 value2", ACT_ADD},
        {"subtract", "value1 value2", ACT_SUBTRACT},
        {"multiply", "value1 value2", ACT_MULTIPLY},
        {"divide", "value1 value2", ACT_DIVIDE},
        {"even?", "number [number! char!]", ACT_EVEN_Q},
        {"next", "series [series!]", ACT_NEXT},
        {"head", "series [series!]", ACT_HEAD},
        {"index?", "series [series!]", ACT_INDEX_Q},
        {"length?", "series [series!]", ACT_LENGTH_Q},
        {"pick", "series index", ACT_PICK},
        {"append", "series [series!] value [any-type!] /part length /only /dup count", ACT_APPEND},
        {"copy", "value /part length /deep /types kind", ACT_COPY},
    };
    for (const ActionDef& a : actions_list) set_global(a.name, make_builtin(TYPE_ACTION, a.spec, a.slot));
    set_global("+", make_op(global_value("add")));
    set_global("-", make_op(global_value("subtract")));
    set_global("*", make_op(global_value("multiply")));
    set_global("<", make_op(make_routine("a b", lt, "test-lt")));
    set_global(">", make_op(make_routine("a b", gt, "test-gt")));
    set_global("<=", make_op(make_routine("a b", le, "test-le")));
    set_global("=", make_op(make_routine("a [any-type!] b [any-type!]", eq, "test-eq")));
    set_global("record", make_routine("value [any-type!]", record, "test-record"));
}

class InterpTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() { boot_interpreter(); }
    void SetUp() override {
        boot_interpreter();
        RuntimeTest::SetUp();
        reset_log();
    }
    void TearDown() override {
        interpreter::restore_trace(interpreter::TraceState{false, 0, nullptr, 0});
        RuntimeTest::TearDown();
    }

    // Empties the global block `log` that `record` appends to.
    static void reset_log() {
        Cell* slot = stack::push(none::cell());
        block::make_at(slot, 8);
        set_global("log", *slot);
        stack::pop(1);
    }
    static std::string log_text() { return mold_text(global_value("log")); }

    // Evaluates the text as a block at the top level; returns the value
    // (kept with hold()).
    static Cell eval_text(const char* text, uint32_t* code_out = nullptr) {
        Cell* held = stack::push(code(text));  // the code stays reachable for the collector
        Cell* slot = stack::top;
        uint32_t code = interpreter::eval(held, false);
        if (code_out) *code_out = code;
        Cell v = code ? none::cell() : *slot;
        stack::reset_all();
        return hold(v);
    }
    // The molded value, "code N" for an unwind code, the error text for an error.
    static std::string eval_mold(const char* text) {
        uint32_t c = 0;
        Cell v;
        try {
            v = eval_text(text, &c);
        } catch (const RaisedError& e) {
            stack::reset_all();
            cycles::reset();
            return raised_text(e);
        }
        if (c) return "code " + std::to_string(c);
        return mold_text(v);
    }
    // Expects the evaluation to raise the error; returns it.
    static RaisedError eval_error(const char* text, const char* category, const char* id) {
        RaisedError e = expect_error([&] { eval_text(text); }, category, id);
        stack::reset_all();
        cycles::reset();
        return e;
    }
};

}  // namespace kiv::test
