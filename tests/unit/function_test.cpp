// function!, routine!, native!, action! and op! values: specification
// checks, local words, contexts and binding, reflection, mold and compare.
#include "datatypes/function.h"

#include <string>
#include <vector>

#include "datatypes/native.h"
#include "datatypes/typeset.h"
#include "runtime/arena.h"
#include "test_support.h"

namespace kiv::test {
namespace {

class FunctionTest : public RuntimeTest {
  protected:
    static void SetUpTestSuite() {
        boot_runtime();
        define_type_words();
        set_global("number!", typeset::of_types({TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}));
        set_global("five", int_cell(5));
    }

    static Cell make_function(const char* spec_and_body) {
        return run_action(ACT_MAKE, {type_cell(TYPE_FUNCTION), load(spec_and_body)});
    }
    static Cell make_value(uint32_t type, const Cell& spec) {
        return run_action(ACT_MAKE, {type_cell(type), spec});
    }
    static Cell reflect(const Cell& v, const char* field) {
        return run_action(ACT_REFLECT, {v, word::load(field)});
    }
    static std::string validate_error(const char* spec) {
        Cell s = load(spec);
        try {
            function::validate(&s);
        } catch (const RaisedError& e) {
            return e.id;
        }
        return "";
    }
    // Names of the words of a function's context, in order.
    static std::string context_words(const Cell& fn) {
        std::string out;
        for (uint32_t i = 0; i < context::word_count(fn.w1); ++i) {
            if (i) out += ' ';
            out += std::string(symbol::name_view(context::word_at(fn.w1, i)->w2));
        }
        return out;
    }
};

// ---- Specifications --------------------------------------------------------------------

TEST_F(FunctionTest, ValidSpecs) {
    const std::vector<const char*> specs = {
        "[]",
        "[a b]",
        "[\"doc\" a [integer!] \"arg doc\" b [block! string!]]",
        "[a [number!] :b 'c]",
        "[a /ref b \"doc\" /other /local x y]",
        "[[trace] a]",
        "[[no-trace catch] \"doc\"]",
        "[a return: [integer!]]",
        "[a return: [integer!] \"result doc\" /local x]",
        "[a /ref return: [block!]]",
        "[a [integer!] \"doc\" b]",
        "[/local]",
        "[/ref :a 'b]",
    };
    for (const char* s : specs) EXPECT_EQ(validate_error(s), "") << s;
}

TEST_F(FunctionTest, InvalidSpecs) {
    struct Case {
        const char* spec;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"[1]", "bad-func-def"},
        {"[a 1]", "bad-func-def"},
        {"[a \"doc\" [integer!]]", "bad-func-def"},   // doc string before the type block
        {"[a [integer!] [block!]]", "bad-func-def"},  // a block that is no type block
        {"[/local x :y]", "bad-func-def"},            // only plain words after /local
        {"[/local x 'y]", "bad-func-def"},
        {"[a return: [integer!] b]", "bad-func-def"},  // argument after return:
        {"[foo: [integer!]]", "bad-func-def"},         // the only set-word is return:
        {"[return: integer!]", "bad-func-def"},        // return: needs a block
        {"[return:]", "bad-func-def"},
        {"[return: [integer!] return: [block!]]", "bad-func-def"},
        {"[return: [integer!] [block!]]", "bad-func-def"},
        {"[/local x return: [integer!]]", "bad-func-def"},
        {"[/local x /ref]", "bad-func-def"},              // refinement after /local
        {"[a return: [integer!] /ref]", "bad-func-def"},  // refinement after return:
        {"[/ref 1]", "bad-func-def"},
        {"[/ref [integer!]]", "bad-func-def"},
        {"[[trace 1] a]", "bad-func-def"},  // attribute block of words only
        {"[a [no-such-type!]]", "no-value"},
        {"[a [five]]", "invalid-type-spec"},
        {"[a b a]", "dup-vars"},
        {"[a /A]", "dup-vars"},  // names are case-insensitive
        {"[a /local b A]", "dup-vars"},
        {"[/local local]", "dup-vars"},
    };
    for (const Case& c : cases) EXPECT_EQ(validate_error(c.spec), c.error) << c.spec;
    // The error names the whole specification.
    Cell s = load("[a 1]");
    RaisedError e = expect_error([&] { function::validate(&s); }, "script", "bad-func-def");
    EXPECT_EQ(e.args[0].type(), uint32_t(TYPE_BLOCK));
    EXPECT_EQ(e.args[0].w2, s.w2);
}

TEST_F(FunctionTest, ValidateStartsAtTheIndex) {
    Cell s = load("[1 a b]");
    s.w1 = 1;
    EXPECT_NO_THROW(function::validate(&s));
}

TEST_F(FunctionTest, AttributeFlags) {
    struct Case {
        const char* block;
        int32_t flags;
    };
    const std::vector<Case> cases = {
        {"[]", 0},
        {"[trace]", int32_t(header::FUNC_TRACE)},
        {"[no-trace]", int32_t(header::FUNC_NO_TRACE)},
        {"[catch TRACE throw]", int32_t(header::FUNC_TRACE)},
        {"[trace \"x\"]", -1},
    };
    for (const Case& c : cases) {
        Cell b = load(c.block);
        EXPECT_EQ(function::attributes(&b), c.flags) << c.block;
    }
    Cell fn = make_function("[[[trace] a] [a]]");
    EXPECT_NE(fn.header & header::FUNC_TRACE, 0u);
    EXPECT_EQ(fn.header & header::FUNC_NO_TRACE, 0u);
}

TEST_F(FunctionTest, CountLocals) {
    struct Case {
        const char* spec;
        int32_t count;
        int32_t required;
    };
    const std::vector<Case> cases = {
        {"[a /local x y]", 3, 3},      {"[a b]", 0, -1}, {"[/local]", 1, 1}, {"[a /local x \"doc\" y]", 3, 3},
        {"[a /ref b /local x]", 2, 2},
    };
    for (const Case& c : cases) {
        Cell s = load(c.spec);
        EXPECT_EQ(function::count_locals(s.w2, 0, false), c.count) << c.spec;
        EXPECT_EQ(function::count_locals(s.w2, 0, true), c.required) << c.spec;
    }
    // Counting starts at the given cell.
    Cell s = load("[/local x y]");
    EXPECT_EQ(function::count_locals(s.w2, 1, true), -1);
}

TEST_F(FunctionTest, PushAbsentRefinement) {
    Cell* before = stack::top;
    function::push_absent_refinement(1);
    ASSERT_EQ(stack::top - before, 1);
    EXPECT_EQ(before[0].type(), uint32_t(TYPE_LOGIC));
    EXPECT_EQ(before[0].w1, 0u);
    function::push_absent_refinement(3);
    ASSERT_EQ(stack::top - before, 4);
    EXPECT_EQ(before[1].type(), uint32_t(TYPE_LOGIC));
    EXPECT_EQ(before[2].type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(before[3].type(), uint32_t(TYPE_NONE));
    function::push_absent_refinement(0);
    EXPECT_EQ(stack::top - before, 4);
}

// ---- Local words of `function` ----------------------------------------------------------------

TEST_F(FunctionTest, CollectLocals) {
    struct Case {
        const char* spec;
        const char* body;
        const char* new_spec;
        const char* added;
    };
    const std::vector<Case> cases = {
        {"[a]", "[x: 1 foreach [a b] s [c: a] repeat i 10 [] remove-each y z []]", "[a /local x b c i y]",
         "[x b c i y]"},
        {"[]", "[x: 1 x: 2 X: 3]", "[/local x]", "[x]"},
        {"[a /local b]", "[b: 1 c: 2]", "[a /local b c]", "[c]"},
        {"[a]", "[(x: 1) [y: [z: 2]]]", "[a /local x y z]", "[x y z]"},
        {"[a]", "[foreach k: s [] repeat :q 3 [] foreach [m :n 'o] s []]", "[a /local k m n o]", "[k m n o]"},
        {"[a]", "[map-each v s [] print x]", "[a]", "[]"},
        {"[a /extern g h]", "[g: 1 h: 2 k: 3]", "[a /local k]", "[k]"},
        {"[a /extern g /local z]", "[g: 1 k: 2]", "[a /local z k]", "[z k]"},
        {"[]", "[local: 1]", "[/local]", "[]"},
        {"[:a 'b /r c]", "[a: b: c: r: d: 1]", "[:a 'b /r c /local d]", "[d]"},
        // Type blocks do not hide their words.
        {"[a \"doc\" [integer!]]", "[integer!: 1]", "[a \"doc\" [integer!] /local integer!]", "[integer!]"},
    };
    for (const Case& c : cases) {
        Cell* spec = stack::push(load(c.spec));
        Cell body = load(c.body);
        Cell* added = function::collect_locals(spec, &body);
        EXPECT_EQ(stack::top, added + 1);
        Cell result = *added;
        Cell new_spec = *spec;
        EXPECT_EQ(mold_text(result), c.added) << c.spec << " " << c.body;
        EXPECT_EQ(mold_text(new_spec), c.new_spec) << c.spec << " " << c.body;
        stack::reset_all();
    }
}

TEST_F(FunctionTest, CollectLocalsExternErrors) {
    Cell* spec = stack::push(load("[a 5 /extern g]"));
    Cell body = load("[x: 1]");
    RaisedError e = expect_error([&] { function::collect_locals(spec, &body); }, "script", "bad-func-extern");
    EXPECT_EQ(e.args[0].w2, 5u);
    stack::reset_all();
    // Without /extern other values are left alone.
    spec = stack::push(load("[a 5]"));
    Cell* added = function::collect_locals(spec, &body);
    EXPECT_EQ(mold_text(*added), "[x]");
}

TEST_F(FunctionTest, CollectLocalsInACyclicBody) {
    Cell* spec = stack::push(load("[]"));
    Cell* body = stack::push(load("[x: 1]"));
    block::cells_append(body, body);  // the body holds itself
    Cell* added = function::collect_locals(spec, body);
    EXPECT_EQ(mold_text(*added), "[x]");
    EXPECT_EQ(cycles::depth(), 0u);
}

// ---- Making functions, contexts and binding ------------------------------------------------

TEST_F(FunctionTest, MakeBuildsContextAndBindsACopyOfTheBody) {
    Cell original = load("[[a b /r c /local d] [d: a + b (c) [r]]]");
    Cell orig_body = *block::cells_at(&original, 1);
    Cell fn = make_value(TYPE_FUNCTION, original);
    ASSERT_EQ(fn.type(), uint32_t(TYPE_FUNCTION));
    EXPECT_EQ(context_words(fn), "a b r c local d");
    // The context: function kind, values on the stack, no call active.
    Cell ctx = *context::cell(fn.w1);
    EXPECT_EQ(ctx.type(), uint32_t(TYPE_CONTEXT));
    EXPECT_NE(ctx.header & header::STACK_VALUES, 0u);
    EXPECT_EQ(context::kind(fn.w1), uint32_t(context::KIND_FUNCTION));
    EXPECT_EQ(ctx.w2, 0u);
    // The self cell holds the function.
    Cell self = *context::self_cell(fn.w1);
    EXPECT_EQ(self.type(), uint32_t(TYPE_FUNCTION));
    EXPECT_EQ(self.w3, fn.w3);
    // The five-cell series.
    EXPECT_EQ(series::count(fn.w3), function::SERIES_CELLS);
    EXPECT_EQ(function::series_cell(&fn, 1)->type(), uint32_t(TYPE_UNSET));
    // The code cell: none until the first call looks for a compact form.
    EXPECT_EQ(function::series_cell(&fn, 2)->type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(function::series_cell(&fn, 4)->type(), uint32_t(TYPE_UNSET));

    Cell body = function::body_of(&fn);
    ASSERT_EQ(body.type(), uint32_t(TYPE_BLOCK));
    EXPECT_NE(body.w2, orig_body.w2);
    Cell d = *block::cells_at(&body, 0);
    Cell a = *block::cells_at(&body, 1);
    Cell plus = *block::cells_at(&body, 2);
    EXPECT_EQ(d.w1, fn.w1);
    EXPECT_EQ(d.w3, 5u);
    EXPECT_EQ(a.w1, fn.w1);
    EXPECT_EQ(a.w3, 0u);
    EXPECT_EQ(plus.w1, context::global());  // words the context lacks keep their binding
    // Nested blocks and parens are copies, bound too; the original stays global.
    Cell paren = *block::cells_at(&body, 4);
    Cell orig_paren = *block::cells_at(&orig_body, 4);
    EXPECT_NE(paren.w2, orig_paren.w2);
    EXPECT_EQ(block::cells_at(&paren, 0)->w1, fn.w1);
    EXPECT_EQ(block::cells_at(&orig_paren, 0)->w1, context::global());
    Cell inner = *block::cells_at(&body, 5);
    EXPECT_EQ(block::cells_at(&inner, 0)->w3, 2u);  // r
    EXPECT_EQ(block::cells_at(&orig_body, 0)->w1, context::global());
}

TEST_F(FunctionTest, LocalWordsReadTheDataStackWhileRunning) {
    Cell fn = make_value(TYPE_FUNCTION, load("[[a b /local c] [a b c]]"));
    Cell body = function::body_of(&fn);
    Cell wa = *block::cells_at(&body, 0);
    Cell wc = *block::cells_at(&body, 2);
    // Not running: the words have no values.
    expect_error([&] { context::get(&wa, wa.w1); }, "script", "not-in-context");
    // A call: arguments, then /local as an absent refinement and its words.
    Cell* args = stack::push(int_cell(10));
    stack::push(int_cell(20));
    function::push_absent_refinement(function::count_locals(fn.w2, 0, true));
    EXPECT_EQ(stack::top - args, 4);
    context::cell(fn.w1)->w2 = arena::off(args);
    EXPECT_EQ(context::get(&wa, wa.w1)->w2, 10u);
    EXPECT_EQ(context::get(&wc, wc.w1)->type(), uint32_t(TYPE_NONE));
    Cell v = int_cell(7);
    EXPECT_EQ(context::set_word(&wc, &v).code, UNWIND_NONE);
    EXPECT_EQ(args[3].w2, 7u);
    context::cell(fn.w1)->w2 = 0;
}

TEST_F(FunctionTest, MakeErrors) {
    struct Case {
        const char* arg;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"[[a]]", "bad-func-def"},    {"[[a] 5]", "bad-func-def"}, {"[5 [a]]", "bad-func-def"},
        {"[[1] []]", "bad-func-def"}, {"[]", "bad-func-def"},      {"[[a a] []]", "dup-vars"},
    };
    for (const Case& c : cases) {
        Cell arg = load(c.arg);
        try {
            make_value(TYPE_FUNCTION, arg);
            ADD_FAILURE() << c.arg;
        } catch (const RaisedError& e) {
            EXPECT_EQ(e.id, c.error) << c.arg;
        }
    }
    RaisedError e = expect_error([&] { make_value(TYPE_FUNCTION, int_cell(3)); }, "script", "bad-func-def");
    EXPECT_EQ(e.args[0].w2, 3u);
    // Extra values after the body are ignored.
    EXPECT_EQ(make_value(TYPE_FUNCTION, load("[[a] [a] 1 2]")).type(), uint32_t(TYPE_FUNCTION));
}

TEST_F(FunctionTest, InitContextVariants) {
    Cell spec = load("[x [integer!] y \"doc\"]");
    spec.w1 = 2;  // from y on: its spec is copied from its index
    Cell body = load("[y]");
    Cell* before = stack::top;
    Off ctx = function::init_context(&spec, &body, 0, 3, 42, 0);
    ASSERT_EQ(stack::top, before + 1);
    Cell fn = *before;
    EXPECT_EQ(fn.w1, ctx);
    EXPECT_NE(fn.w2, spec.w2);
    EXPECT_EQ(mold_text(function::spec_of(&fn)), "[y \"doc\"]");
    EXPECT_EQ(context_words(fn), "y");
    EXPECT_EQ(function::series_cell(&fn, function::CELL_CODE)->w2, 3u);
    EXPECT_EQ(function::series_cell(&fn, function::CELL_EXTRA)->w2, 42u);

    // No body: none, molded as such.
    Cell s2 = load("[a]");
    function::init_context(&s2, nullptr, 0, 0, 0, 0);
    Cell nobody = *(stack::top - 1);
    EXPECT_EQ(function::body_of(&nobody).type(), uint32_t(TYPE_NONE));
    EXPECT_EQ(mold_text(nobody), "func [a] none");

    // A given context is used as it is and the body is not bound to it.
    Cell b3 = load("[a]");
    function::init_context(&s2, &b3, nobody.w1, 0, 0, 0);
    Cell shared = *(stack::top - 1);
    EXPECT_EQ(shared.w1, nobody.w1);
    EXPECT_EQ(block::cells_at(&*function::series_cell(&shared, 0), 0)->w1, context::global());

    // An index past the tail is clamped.
    Cell s4 = load("[a]");
    s4.w1 = 9;
    function::init_context(&s4, nullptr, 0, 0, 0, 0);
    EXPECT_EQ(mold_text(function::spec_of(stack::top - 1)), "[]");
}

TEST_F(FunctionTest, ReflectFormMold) {
    Cell fn = make_function("[[a [integer!] /r \"doc\" /local d] [d: a * 2]]");
    EXPECT_EQ(mold_text(fn), "func [a [integer!] /r \"doc\" /local d][d: a * 2]");
    EXPECT_EQ(form_text(fn), "?function?");
    EXPECT_EQ(mold_text(reflect(fn, "spec")), "[a [integer!] /r \"doc\" /local d]");
    EXPECT_EQ(mold_text(reflect(fn, "body")), "[d: a * 2]");
    EXPECT_EQ(mold_text(reflect(fn, "WORDS")), "[a r local d]");
    Cell words = reflect(fn, "words");
    EXPECT_EQ(block::cells_at(&words, 0)->type(), uint32_t(TYPE_WORD));
    EXPECT_EQ(block::cells_at(&words, 1)->type(), uint32_t(TYPE_WORD));  // the refinement as a word
    expect_error([&] { reflect(fn, "values"); }, "internal", "not-done");
    EXPECT_EQ(mold_text(fn, false, false, false, 8), "func [a ");
}

TEST_F(FunctionTest, Compare) {
    Cell f = make_function("[[a] [a]]");
    Cell g = make_function("[[a] [a]]");
    Cell f2 = f;
    EXPECT_TRUE(actions::compare(&f, &f2, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(&f, &f2, COMP_SAME));
    EXPECT_FALSE(actions::compare(&f, &g, COMP_EQUAL));  // same text, another function
    EXPECT_TRUE(actions::compare(&f, &g, COMP_NOT_EQUAL));
    int32_t order = actions::compare_value(&f, &g, COMP_SORT);
    EXPECT_EQ(order, f.w3 < g.w3 ? -1 : 1);
    EXPECT_EQ(actions::compare_value(&g, &f, COMP_SORT), -order);
    expect_error([&] { actions::compare(&f, &g, COMP_LESSER); }, "script", "invalid-compare");
    Cell i = int_cell(1);
    EXPECT_FALSE(actions::compare(&f, &i, COMP_EQUAL));
}

// ---- Routines --------------------------------------------------------------------------------------

Unwind add_two(Cell* args) {
    args[0] = int_cell(int32_t(args[0].w2 + args[1].w2));
    return UNWIND_NONE;
}
Unwind other_fn(Cell*) {
    return UNWIND_NONE;
}

TEST_F(FunctionTest, RoutineRegistry) {
    uint32_t id = routine::register_fn(add_two, "add-two");
    EXPECT_GE(id, 1u);
    EXPECT_EQ(routine::register_fn(add_two, "again"), id);
    uint32_t other = routine::register_fn(other_fn, "other");
    EXPECT_NE(other, id);
    EXPECT_EQ(routine::lookup(id), &add_two);
    EXPECT_STREQ(routine::name(id), "add-two");
    EXPECT_EQ(routine::lookup(0), nullptr);
    EXPECT_EQ(routine::lookup(routine::count() + 1), nullptr);
    EXPECT_STREQ(routine::name(999), "");
    Cell args[2] = {int_cell(2), int_cell(40)};
    EXPECT_EQ(routine::lookup(id)(args), UNWIND_NONE);
    EXPECT_EQ(args[0].w2, 42u);
}

TEST_F(FunctionTest, RoutineValues) {
    uint32_t id = routine::register_fn(add_two, "add-two");
    Cell spec = load("[a [integer!] b [integer!] return: [integer!]]");
    Cell body = load("[a + b]");
    Cell r = hold(*routine::push(&spec, &body, id, 9, true));
    EXPECT_EQ(r.type(), uint32_t(TYPE_ROUTINE));
    EXPECT_EQ(routine::get_arity(&r), 2u);
    EXPECT_NE(r.header & header::ROUTINE_DIRECT, 0u);
    EXPECT_EQ(routine::code_of(&r), id);
    EXPECT_EQ(function::series_cell(&r, function::CELL_EXTRA)->w2, 9u);
    EXPECT_EQ(mold_text(r), "routine [a [integer!] b [integer!] return: [integer!]][a + b]");
    EXPECT_EQ(form_text(r), "?routine?");
    EXPECT_EQ(mold_text(reflect(r, "spec")), "[a [integer!] b [integer!] return: [integer!]]");
    EXPECT_EQ(mold_text(reflect(r, "body")), "[a + b]");
    Cell none_body = none::cell();
    Cell plain = hold(*routine::push(&spec, &none_body, id, 0, false));
    EXPECT_EQ(plain.header & header::ROUTINE_DIRECT, 0u);
    EXPECT_EQ(mold_text(plain), "routine [a [integer!] b [integer!] return: [integer!]] none");
    EXPECT_FALSE(actions::compare(&r, &plain, COMP_EQUAL));
    Cell r2 = r;
    EXPECT_TRUE(actions::compare(&r, &r2, COMP_EQUAL));
    // A routine has no make of its own.
    expect_error([&] { make_value(TYPE_ROUTINE, load("[[a] [a]]")); }, "script", "expect-arg");
    // The arity field has five bits.
    std::string many = "[";
    for (int i = 0; i < 32; ++i) many += "w" + std::to_string(i) + " ";
    many += "]";
    Cell big = load(many.c_str());
    expect_error([&] { routine::push(&big, &body, id, 0, false); }, "script", "bad-func-def");
}

// ---- native! and action! ---------------------------------------------------------------------------

TEST_F(FunctionTest, MakeNativeAndAction) {
    struct Case {
        uint32_t type;
        const char* arg;
        bool ok;
    };
    const std::vector<Case> cases = {
        {TYPE_NATIVE, "[[value1 value2] 1]", true},
        {TYPE_NATIVE, "[[value1 value2] 120]", true},
        {TYPE_NATIVE, "[14 [spec body]]", true},  // the boot image's order
        {TYPE_NATIVE, "[[a] 0]", false},
        {TYPE_NATIVE, "[[a] 121]", false},
        {TYPE_NATIVE, "[[a] -1]", false},
        {TYPE_ACTION, "[[a] 62]", true},
        {TYPE_ACTION, "[[a] 63]", false},
        {TYPE_ACTION, "[[a] 0]", false},
        {TYPE_NATIVE, "[[a]]", false},
        {TYPE_NATIVE, "[[a] 1 2]", false},
        {TYPE_NATIVE, "[[a] \"x\"]", false},
        {TYPE_NATIVE, "[1 2]", false},
        {TYPE_NATIVE, "[]", false},
    };
    for (const Case& c : cases) {
        Cell arg = load(c.arg);
        if (c.ok) {
            Cell v = make_value(c.type, arg);
            EXPECT_EQ(v.type(), c.type) << c.arg;
        } else {
            try {
                make_value(c.type, arg);
                ADD_FAILURE() << c.arg;
            } catch (const RaisedError& e) {
                EXPECT_EQ(e.id, "bad-make-arg") << c.arg;
                EXPECT_EQ(e.args[0].w1, c.type) << c.arg;
            }
        }
    }
    expect_error([&] { make_value(TYPE_NATIVE, int_cell(1)); }, "script", "bad-make-arg");
}

TEST_F(FunctionTest, NativeLayoutReflectAndMold) {
    Cell spec = load("[\"Adds\" value1 [number!] value2 [number!] /r]");
    Cell arg = load("[[] 25]");
    *block::cells_at(&arg, 0) = spec;
    Cell n = make_value(TYPE_NATIVE, arg);
    EXPECT_EQ(n.w1, 25u);
    EXPECT_EQ(n.w2, spec.w2);
    ASSERT_EQ(series::count(n.w3), 2u);
    Cell ctx = *buffer_of(n.w3)->head_cell();
    EXPECT_EQ(ctx.type(), uint32_t(TYPE_CONTEXT));
    EXPECT_NE(ctx.header & header::STACK_VALUES, 0u);
    EXPECT_EQ((ctx.header & header::CONTEXT_KIND_MASK) >> header::CONTEXT_KIND_SHIFT, 1u);
    EXPECT_EQ((buffer_of(n.w3)->head_cell() + 1)->type(), uint32_t(TYPE_NONE));

    EXPECT_EQ(mold_text(n), "make native! [[\"Adds\" value1 [number!] value2 [number!] /r]]");
    EXPECT_EQ(form_text(n), "?native?");
    EXPECT_EQ(mold_text(reflect(n, "spec")), "[\"Adds\" value1 [number!] value2 [number!] /r]");
    Cell body = reflect(n, "body");
    EXPECT_EQ(body.type(), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(body.w2, 25u);
    expect_error([&] { reflect(n, "words"); }, "internal", "not-done");

    Cell a = make_value(TYPE_ACTION, load("[[series value /part length] 25]"));
    EXPECT_EQ(mold_text(a), "make action! [[series value /part length]]");
    EXPECT_EQ(form_text(a), "?action?");
    EXPECT_EQ(reflect(a, "body").w2, 25u);
    EXPECT_EQ(mold_text(reflect(a, "spec")), "[series value /part length]");
}

TEST_F(FunctionTest, NativeSpecFromItsIndex) {
    Cell spec = load("[\"skipped\" a b]");
    spec.w1 = 1;
    Cell arg = load("[[] 3]");
    *block::cells_at(&arg, 0) = spec;
    Cell n = make_value(TYPE_NATIVE, arg);
    EXPECT_EQ(mold_text(reflect(n, "spec")), "[a b]");
}

TEST_F(FunctionTest, NativeCompare) {
    Cell n1 = make_value(TYPE_NATIVE, load("[[a] 3]"));
    Cell n1b = make_value(TYPE_NATIVE, load("[[b c] 3]"));
    Cell n2 = make_value(TYPE_NATIVE, load("[[a] 10]"));
    Cell a3 = make_value(TYPE_ACTION, load("[[a] 3]"));
    EXPECT_TRUE(actions::compare(&n1, &n1b, COMP_EQUAL));  // the same entry
    EXPECT_TRUE(actions::compare(&n1, &n1b, COMP_SAME));
    EXPECT_FALSE(actions::compare(&n1, &n2, COMP_EQUAL));
    EXPECT_EQ(actions::compare_value(&n1, &n2, COMP_SORT), -1);
    EXPECT_EQ(actions::action_for<ACT_COMPARE>(&n2)(&n2, &n1, COMP_SORT), 1);
    EXPECT_EQ(actions::action_for<ACT_COMPARE>(&n1)(&n1, &a3, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_FALSE(actions::compare(&n1, &a3, COMP_EQUAL));
    expect_error([&] { actions::compare(&n1, &n2, COMP_GREATER); }, "script", "invalid-compare");
}

// ---- op! ------------------------------------------------------------------------------------------------

TEST_F(FunctionTest, OpSpecCheck) {
    struct Case {
        const char* spec;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"[a b]", true},
        {"[\"doc\" a [integer!] \"x\" b [integer!]]", true},
        {"[a b /local c d]", true},
        {"[a b return: [integer!]]", true},
        {"[a b /extern c]", true},
        {"[a 'b]", true},
        {"[a :b]", true},
        {"['a b]", false},
        {"[:a b]", false},
        {"[a]", false},
        {"[a b c]", false},
        {"[a b /ref]", false},
        {"[a /local b]", false},
        {"[]", false},
    };
    for (const Case& c : cases) {
        Cell s = load(c.spec);
        EXPECT_EQ(native::spec_two_args(s.w2), c.ok) << c.spec;
    }
}

TEST_F(FunctionTest, OpFromNativeAndAction) {
    Cell n = make_value(TYPE_NATIVE, load("[[value1 value2] 25]"));
    Cell op = make_value(TYPE_OP, n);
    EXPECT_EQ(op.type(), uint32_t(TYPE_OP));
    EXPECT_EQ(native::op_source_type(&op), uint32_t(TYPE_NATIVE));
    EXPECT_EQ(op.w1, n.w1);
    EXPECT_EQ(op.w2, n.w2);
    EXPECT_EQ(op.w3, n.w3);
    EXPECT_EQ(mold_text(op), "make op! [[value1 value2]]");
    EXPECT_EQ(form_text(op), "?op?");
    Cell body = reflect(op, "body");
    EXPECT_EQ(body.type(), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(body.w2, 25u);
    EXPECT_EQ(mold_text(reflect(op, "spec")), "[value1 value2]");
    Cell src = native::op_source(&op);
    EXPECT_EQ(src.type(), uint32_t(TYPE_NATIVE));
    EXPECT_EQ(src.w1, n.w1);

    Cell a = make_value(TYPE_ACTION, load("[[value1 value2] 11]"));
    Cell aop = make_value(TYPE_OP, a);
    EXPECT_EQ(native::op_source_type(&aop), uint32_t(TYPE_ACTION));
    EXPECT_EQ(reflect(aop, "body").w2, 11u);

    Cell n1 = make_value(TYPE_NATIVE, load("[[a] 25]"));
    RaisedError e = expect_error([&] { make_value(TYPE_OP, n1); }, "script", "bad-op-spec");
    EXPECT_EQ(e.arg_count, 0);
}

TEST_F(FunctionTest, OpFromFunction) {
    Cell fn = make_function("[[a b /local c] [c: a b]]");
    Cell op = make_value(TYPE_OP, fn);
    EXPECT_EQ(native::op_source_type(&op), uint32_t(TYPE_FUNCTION));
    EXPECT_EQ(op.w3, fn.w3);
    // The function stays reachable from the op through its own series.
    Cell kept = *function::series_cell(&fn, function::CELL_OP_SOURCE);
    EXPECT_EQ(kept.type(), uint32_t(TYPE_FUNCTION));
    EXPECT_EQ(kept.w3, fn.w3);
    EXPECT_EQ(mold_text(op), "make op! func [a b /local c][c: a b]");
    EXPECT_EQ(mold_text(reflect(op, "body")), "[c: a b]");
    EXPECT_EQ(mold_text(reflect(op, "spec")), "[a b /local c]");
    EXPECT_EQ(native::op_source(&op).type(), uint32_t(TYPE_FUNCTION));
    // The <anon> frame of the mold is gone afterwards.
    EXPECT_EQ(stack::frame_count(), 0u);

    Cell lit = make_function("[['a b] [a]]");
    expect_error([&] { make_value(TYPE_OP, lit); }, "script", "bad-op-spec");
    Cell three = make_function("[[a b c] [a]]");
    expect_error([&] { make_value(TYPE_OP, three); }, "script", "bad-op-spec");
}

TEST_F(FunctionTest, OpFromRoutineKeepsItsFlags) {
    uint32_t id = routine::register_fn(add_two, "add-two");
    Cell spec = load("[a [integer!] b [integer!]]");
    Cell body = load("[]");
    Cell r = *routine::push(&spec, &body, id, 0, true);
    Cell op = make_value(TYPE_OP, r);
    EXPECT_EQ(native::op_source_type(&op), uint32_t(TYPE_ROUTINE));
    EXPECT_EQ(routine::get_arity(&op), 2u);
    EXPECT_NE(op.header & header::ROUTINE_DIRECT, 0u);
    EXPECT_EQ(mold_text(op), "make op! [[a [integer!] b [integer!]]]");
    EXPECT_EQ(function::series_cell(&r, function::CELL_OP_SOURCE)->type(), uint32_t(TYPE_ROUTINE));
    Cell src = native::op_source(&op);
    EXPECT_EQ(src.header, r.header);
}

TEST_F(FunctionTest, OpFromOtherTypes) {
    RaisedError e = expect_error([&] { make_value(TYPE_OP, int_cell(1)); }, "script", "invalid-type");
    EXPECT_EQ(e.args[0].type(), uint32_t(TYPE_DATATYPE));
    EXPECT_EQ(e.args[0].w1, uint32_t(TYPE_INTEGER));
    Cell n = make_value(TYPE_NATIVE, load("[[value1 value2] 25]"));
    Cell op = make_value(TYPE_OP, n);
    e = expect_error([&] { make_value(TYPE_OP, op); }, "script", "invalid-type");
    EXPECT_EQ(e.args[0].w1, uint32_t(TYPE_OP));
}

TEST_F(FunctionTest, OpCompare) {
    Cell n = make_value(TYPE_NATIVE, load("[[value1 value2] 25]"));
    Cell m = make_value(TYPE_NATIVE, load("[[value1 value2] 26]"));
    Cell o1 = make_value(TYPE_OP, n);
    Cell o1b = make_value(TYPE_OP, n);
    Cell o2 = make_value(TYPE_OP, m);
    EXPECT_TRUE(actions::compare(&o1, &o1b, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&o1, &o2, COMP_EQUAL));
    EXPECT_EQ(actions::compare_value(&o1, &o2, COMP_SORT), -1);
    EXPECT_FALSE(actions::compare(&o1, &n, COMP_EQUAL));  // an op is not its native
}

}  // namespace
}  // namespace kiv::test
