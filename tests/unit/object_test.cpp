// object!: construction, copies, class ids, paths, hooks, reflection, mold.
#include <string>
#include <vector>

#include "block_builder.h"
#include "object_test_support.h"

namespace kiv::test {
namespace {

// Tests may replace the interpreter's call points: each test gets back the
// ones it found.
class ObjTest : public ObjectTest {
  protected:
    void SetUp() override {
        ObjectTest::SetUp();
        saved_runner = object::hook_runner;
        saved_evaluator = object::block_evaluator;
    }
    void TearDown() override {
        object::hook_runner = saved_runner;
        object::block_evaluator = saved_evaluator;
        ObjectTest::TearDown();
    }

  private:
    object::HookRunner saved_runner = nullptr;
    object::BlockEvaluator saved_evaluator = nullptr;
};

std::string flat(const Cell& v) {
    return mold_text(v, false, false, true);
}

// A global word set to a value (so that paths can start from it).
Cell global_word(const char* name, const Cell& value) {
    Cell w = word::load(name);
    EXPECT_EQ(context::set_word(&w, &value).code, UNWIND_NONE);
    return w;
}

Cell path_of(const char* text) {
    Cell p = read(text);
    p.set_type(TYPE_PATH);
    return p;
}

Cell get_path(const char* text) {
    Cell p = path_of(text);
    Cell r = none::cell();
    EXPECT_EQ(runtime::eval_path(&p, nullptr, &r), UNWIND_NONE);
    return r;
}

void set_path(const char* text, const Cell& value) {
    Cell p = path_of(text);
    Cell v = value;
    Cell r = none::cell();
    EXPECT_EQ(runtime::eval_path(&p, &v, &r), UNWIND_NONE);
}

// ---- Construction and mold ---------------------------------------------------------------

TEST_F(ObjTest, MakeFromBlockSetsTheFieldsInOrder) {
    Cell obj = make_object(read("[a: 1 b: \"x\" c: 'w d: e: [1 2]]"));
    ASSERT_EQ(obj.type(), TYPE_OBJECT);
    EXPECT_EQ(object::word_count(&obj), 5u);
    EXPECT_EQ(mold_text(field_of(obj, "a")), "1");
    EXPECT_EQ(mold_text(field_of(obj, "b")), "\"x\"");
    EXPECT_EQ(mold_text(field_of(obj, "c")), "w");
    EXPECT_EQ(mold_text(field_of(obj, "d")), "[1 2]");
    EXPECT_EQ(mold_text(field_of(obj, "e")), "[1 2]");
    // self is the object itself.
    EXPECT_EQ(context::self_cell(obj.w1)->w1, obj.w1);
    EXPECT_EQ(context::self_cell(obj.w1)->type(), TYPE_OBJECT);
}

TEST_F(ObjTest, MoldLayouts) {
    Cell inner = make_object(read("[b: 2]"));
    struct Case {
        const char* spec;
        bool only, flat;
        const char* expected;
    };
    const Case cases[] = {
        {"[a: 1 b: \"x\" c: 'w]", false, false, "make object! [\n    a: 1\n    b: \"x\"\n    c: 'w\n]"},
        {"[a: 1 b: \"x\" c: 'w]", false, true, "make object! [a: 1 b: \"x\" c: 'w]"},
        {"[a: 1 b: \"x\" c: 'w]", true, false, "a: 1\nb: \"x\"\nc: 'w"},
        {"[a: 1 b: \"x\" c: 'w]", true, true, "a: 1 b: \"x\" c: 'w"},
        {"[]", false, false, "make object! []"},
        {"[a: [1 2]]", false, false, "make object! [\n    a: [1 2]\n]"},
        {"[a: 1 o: :extra-0]", false, false,
         "make object! [\n    a: 1\n    o: make object! [\n        b: 2\n    ]\n]"},
        {"[a: 1 o: :extra-0]", false, true, "make object! [a: 1 o: make object! [b: 2]]"},
    };
    for (const Case& c : cases) {
        Cell obj = make_object(read(c.spec, {inner}));
        EXPECT_EQ(mold_text(obj, c.only, false, c.flat), c.expected) << c.spec;
    }
}

TEST_F(ObjTest, FormWritesFieldsOnLinesWithMoldedValues) {
    Cell obj = make_object(read("[a: 1 b: \"x\" c: 'w]"));
    EXPECT_EQ(form_text(obj), "a: 1\nb: \"x\"\nc: 'w");
    EXPECT_EQ(form_text(make_object(read("[]"))), "");
}

TEST_F(ObjTest, MoldPartStopsAtTheLimit) {
    Cell obj = make_object(read("[alpha: 1 beta: 2 gamma: 3]"));
    EXPECT_EQ(mold_text(obj, false, false, true, 20), "make object! [alpha:");
    EXPECT_EQ(mold_text(obj, false, false, true, 0), "");
}

TEST_F(ObjTest, MoldOfAnObjectContainingItselfTerminates) {
    Cell obj = make_object(read("[a: 1 me: #(none)]"));
    Cell me = word::load("me");
    Cell* slot = object::select_word(&obj, &me);
    *slot = obj;
    EXPECT_EQ(flat(obj), "make object! [a: 1 me: make object! [...]]");
    EXPECT_EQ(form_text(obj), "a: 1\nme: make object! [...]");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(ObjTest, HookFieldsAreMoldedOnlyWithAll) {
    Cell fn = make_function("[word old new]", "[]");
    Cell obj = make_object(read("[a: 1 on-change*: :extra-0]", {fn}));
    EXPECT_EQ(flat(obj), "make object! [a: 1]");
    std::string all = mold_text(obj, false, true, true);
    EXPECT_EQ(all, "make object! [a: 1 on-change*: " + mold_text(fn, false, true, true) + "]");
}

TEST_F(ObjTest, MakeWithABadSpecIsAMalconstructError) {
    Cell proto = type_cell(TYPE_OBJECT);
    RaisedError e = expect_error(
        [&] {
            run_action(ACT_MAKE, {proto, int_cell(3)});
        },
        "syntax", "malconstruct");
    EXPECT_EQ(e.args[0].w2, 3u);
}

TEST_F(ObjTest, EveryObjectWithoutPrototypeGetsANewClassId) {
    Cell a = make_object(read("[x: 1]"));
    Cell b = make_object(read("[x: 1]"));
    EXPECT_NE(object::class_of(&a), object::class_of(&b));
    EXPECT_GT(object::class_of(&a), object::ERROR_CLASS);
}

TEST_F(ObjTest, PrototypeKeepsItsClassUnlessWordsAreAdded) {
    Cell proto = make_object(read("[x: 1 y: 2]"));
    Cell same = make_object(read("[x: 10]"), &proto);
    Cell more = make_object(read("[z: 3]"), &proto);
    EXPECT_EQ(object::class_of(&same), object::class_of(&proto));
    EXPECT_NE(object::class_of(&more), object::class_of(&proto));
    EXPECT_EQ(flat(same), "make object! [x: 10 y: 2]");
    EXPECT_EQ(flat(more), "make object! [x: 1 y: 2 z: 3]");
    // The prototype is unchanged.
    EXPECT_EQ(flat(proto), "make object! [x: 1 y: 2]");
    // Its class through reflect.
    EXPECT_EQ(mold_text(reflect_of(same, "class")), std::to_string(object::class_of(&proto)));
}

TEST_F(ObjTest, MakeFromPrototypeCopiesItsSeries) {
    Cell proto = make_object(read("[b: [1 2] s: \"ab\" n: 5]"));
    Cell obj = make_object(read("[n: 6]"), &proto);
    EXPECT_NE(field_of(obj, "b").w2, field_of(proto, "b").w2);
    EXPECT_NE(field_of(obj, "s").w2, field_of(proto, "s").w2);
    EXPECT_EQ(mold_text(field_of(obj, "b")), "[1 2]");
    EXPECT_EQ(mold_text(field_of(obj, "n")), "6");
}

TEST_F(ObjTest, MakeFromAnotherObjectExtends) {
    Cell proto = make_object(read("[x: 1]"));
    Cell source = make_object(read("[y: [2] x: 5]"));
    Cell obj = make_object(source, &proto);
    EXPECT_EQ(flat(obj), "make object! [x: 5 y: [2]]");
    EXPECT_NE(object::class_of(&obj), object::class_of(&proto));
    EXPECT_NE(field_of(obj, "y").w2, field_of(source, "y").w2);  // series copied
    Cell onto_same = make_object(make_object(read("[x: 7]")), &proto);
    EXPECT_EQ(object::class_of(&onto_same), object::class_of(&proto));
}

TEST_F(ObjTest, CopySharesSeriesUnlessDeep) {
    Cell inner = make_object(read("[k: [9]]"));
    Cell obj = make_object(read("[b: [1] o: :extra-0]", {inner}));
    Cell shallow = call("copy", {obj});
    Cell deep = call("copy/deep", {obj});
    EXPECT_NE(shallow.w1, obj.w1);
    EXPECT_EQ(object::class_of(&shallow), object::class_of(&obj));
    EXPECT_EQ(field_of(shallow, "b").w2, field_of(obj, "b").w2);
    EXPECT_EQ(field_of(shallow, "o").w1, inner.w1);
    EXPECT_NE(field_of(deep, "b").w2, field_of(obj, "b").w2);
    Cell deep_inner = field_of(deep, "o");
    EXPECT_NE(deep_inner.w1, inner.w1);
    EXPECT_NE(field_of(deep_inner, "k").w2, field_of(inner, "k").w2);
    EXPECT_EQ(flat(deep), flat(obj));
}

TEST_F(ObjTest, DeepCopyOfASelfContainingObjectIsRefused) {
    Cell obj = make_object(read("[me: #(none)]"));
    Cell me = word::load("me");
    *object::select_word(&obj, &me) = obj;
    expect_error([&] { call("copy/deep", {obj}); }, "internal", "no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(ObjTest, CopyPartIsRefused) {
    Cell obj = make_object(read("[a: 1]"));
    RaisedError e = expect_error(
        [&] {
            call("copy/part", {obj, int_cell(1)});
        },
        "script", "invalid-refine-arg");
    EXPECT_EQ(mold_text(e.args[0]), "part");
}

TEST_F(ObjTest, CopyRebuildsFunctionsForTheNewObject) {
    Cell fn = make_function("[]", "[a]");
    Cell obj = make_object(read("[a: 1 f: :extra-0]", {fn}));
    Cell cp = call("copy", {obj});
    Cell f1 = field_of(obj, "f");
    Cell f2 = field_of(cp, "f");
    ASSERT_EQ(f2.type(), TYPE_FUNCTION);
    EXPECT_NE(f2.w3, f1.w3);  // a function of its own
    Cell body = function::body_of(&f2);
    Cell a = *block::cells_head(&body);
    EXPECT_EQ(a.w1, cp.w1);  // its body reads the copy's field
    EXPECT_EQ(mold_text(f2), mold_text(f1));
}

TEST_F(ObjTest, ConstructStoresValuesWithoutEvaluation) {
    Cell spec = read("[a: b: 1 c: none d: true e: f 'g h: (1) i:]");
    Cell obj = *object::construct(&spec, nullptr, false);
    EXPECT_EQ(flat(obj), "make object! [a: 1 b: 1 c: none d: true e: 'f h: (1) i: none]");
    Cell only = *object::construct(&spec, nullptr, true);
    EXPECT_EQ(flat(only), "make object! [a: 1 b: 1 c: 'none d: 'true e: 'f h: (1) i: none]");
    Cell spec2 = read("[a: 5 z: 6]");
    Cell ext = *object::construct(&spec2, &obj, false);
    EXPECT_EQ(flat(ext), "make object! [a: 5 b: 1 c: none d: true e: 'f h: (1) i: none z: 6]");
    EXPECT_NE(object::class_of(&ext), object::class_of(&obj));
    Cell spec3 = read("[a: 7]");
    Cell same = *object::construct(&spec3, &obj, false);
    EXPECT_EQ(object::class_of(&same), object::class_of(&obj));
}

// ---- Paths, select, put ----------------------------------------------------------------

TEST_F(ObjTest, PathsReadAndSetFields) {
    Cell inner = make_object(read("[x: 1]"));
    Cell obj = make_object(read("[a: 1 in: :extra-0]", {inner}));
    global_word("po", obj);
    EXPECT_EQ(mold_text(get_path("[po a]")), "1");
    EXPECT_EQ(mold_text(get_path("[po in x]")), "1");
    set_path("[po a]", int_cell(42));
    set_path("[po in x]", int_cell(7));
    EXPECT_EQ(mold_text(field_of(obj, "a")), "42");
    EXPECT_EQ(mold_text(field_of(inner, "x")), "7");
    // Case-insensitive lookup.
    EXPECT_EQ(mold_text(get_path("[po A]")), "42");
}

TEST_F(ObjTest, PathErrorsNameThePathAndTheElement) {
    Cell obj = make_object(read("[a: 1 u: #(none)]"));
    Cell u = word::load("u");
    *object::select_word(&obj, &u) = unset::cell();
    global_word("pe", obj);
    struct Case {
        const char* path;
        const char* id;
        const char* element;
    };
    const Case cases[] = {
        {"[pe missing]", "invalid-path", "missing"},
        {"[pe u]", "invalid-path", "u"},
        {"[pe missing x]", "unset-path", "missing"},
        {"[pe u x]", "unset-path", "u"},
        {"[pe 1]", "invalid-path", "1"},
        {"[pe \"a\"]", "invalid-path", "\"a\""},
    };
    for (const Case& c : cases) {
        RaisedError e = expect_error([&] { get_path(c.path); }, "script", c.id);
        ASSERT_EQ(e.arg_count, 2) << c.path;
        EXPECT_EQ(mold_text(e.args[1]), c.element) << c.path;
        EXPECT_EQ(e.args[0].type(), TYPE_PATH) << c.path;
    }
    expect_error([&] { set_path("[pe self]", int_cell(1)); }, "script", "invalid-path");
    expect_error([&] { set_path("[pe nothere]", int_cell(1)); }, "script", "invalid-path");
}

TEST_F(ObjTest, OptionalAccessAtThePathEndGivesUnset) {
    Cell obj = make_object(read("[a: 1]"));
    Cell missing = word::load("missing");
    Cell* r =
        object::eval_path(&obj, &missing, nullptr, nullptr, nullptr, nullptr, 1, false, true, true, false).cell;
    EXPECT_EQ(r->type(), TYPE_UNSET);
}

TEST_F(ObjTest, SelectAndPutTakeWordsOnly) {
    Cell obj = make_object(read("[a: 1]"));
    EXPECT_EQ(mold_text(call("select", {obj, word::load("a")})), "1");
    EXPECT_EQ(mold_text(call("select", {obj, word::load("zz")})), "none");
    RaisedError e = expect_error([&] { call("select", {obj, int_cell(1)}); }, "script", "invalid-type");
    EXPECT_EQ(mold_text(e.args[0]), "integer!");
    call("put", {obj, word::load("a"), int_cell(5)});
    EXPECT_EQ(mold_text(field_of(obj, "a")), "5");
    e = expect_error([&] { call("put", {obj, read("\"a\""), int_cell(5)}); }, "script", "invalid-key-type");
    EXPECT_EQ(mold_text(e.args[0]), "string!");
}

// ---- Hooks -----------------------------------------------------------------------------

struct HookCall {
    std::string frame;
    std::vector<std::string> args;
    uint32_t pushed;  // cells from the argument base to the top
    Off object_ctx;
    Off word_ctx;  // binding of the word argument
};
std::vector<HookCall> hook_calls;

// The stand-in for the interpreter: records each call.
Unwind record_hook(const Cell* /*function*/, Off object_ctx) {
    HookCall c;
    const stack::Frame* f = stack::ctop();
    c.frame = f ? std::string(symbol::name_view(f->symbol())) : "";
    c.pushed = uint32_t(stack::top - stack::arg_base);
    c.object_ctx = object_ctx;
    // Copy the arguments out first: molding runs actions on the stack.
    std::vector<Cell> args(stack::arg_base, stack::arg_base + (c.pushed < 3 ? c.pushed : 3));
    c.word_ctx = args.empty() ? 0 : args[0].w1;
    for (const Cell& a : args) c.args.push_back(mold_text(a));
    hook_calls.push_back(c);
    return UNWIND_NONE;
}

class HookTest : public ObjTest {
  protected:
    void SetUp() override {
        ObjTest::SetUp();
        hook_calls.clear();
        object::hook_runner = &record_hook;
    }
};

TEST_F(HookTest, OnChangeIsCalledForEachAssignmentInOrder) {
    Cell fn = make_function("[word old new]", "[]");
    Cell obj = make_object(read("[a: 1 b: 2 on-change*: :extra-0]", {fn}));
    EXPECT_TRUE(hook_calls.empty());  // construction reports nothing
    EXPECT_NE(obj.w3, 0u);
    global_word("ho", obj);
    set_path("[ho a]", int_cell(10));
    Cell b = word::load("b");
    b.w1 = obj.w1;
    b.w3 = uint32_t(object::find_word(&obj, &b));
    Cell twenty = int_cell(20);
    EXPECT_EQ(context::set_word(&b, &twenty).code, UNWIND_NONE);
    set_path("[ho a]", int_cell(10));  // the same value again is still reported
    call("put", {obj, word::load("b"), int_cell(30)});
    ASSERT_EQ(hook_calls.size(), 4u);
    const std::vector<std::vector<std::string>> expected = {
        {"a", "1", "10"}, {"b", "2", "20"}, {"a", "10", "10"}, {"b", "20", "30"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(hook_calls[i].frame, "on-change*");
        EXPECT_EQ(hook_calls[i].args, expected[i]) << i;
        EXPECT_EQ(hook_calls[i].pushed, 3u);  // no locals
        EXPECT_EQ(hook_calls[i].object_ctx, obj.w1);
        EXPECT_EQ(hook_calls[i].word_ctx, obj.w1);
    }
    // The hook runs after the store.
    EXPECT_EQ(mold_text(field_of(obj, "b")), "30");
    EXPECT_EQ(stack::frame_count(), 0u);
}

TEST_F(HookTest, QuietSetDoesNotNotify) {
    Cell fn = make_function("[word old new]", "[]");
    Cell obj = make_object(read("[a: 1 on-change*: :extra-0]", {fn}));
    Cell a = word::load("a");
    a.w1 = obj.w1;
    a.w3 = uint32_t(object::find_word(&obj, &a));
    Cell v = int_cell(3);
    EXPECT_EQ(context::set_in(&a, &v, obj.w1, false).code, UNWIND_NONE);
    EXPECT_TRUE(hook_calls.empty());
    EXPECT_EQ(mold_text(field_of(obj, "a")), "3");
}

TEST_F(HookTest, StackEntryPointsTakeOldAndNewFromTheStack) {
    Cell fn = make_function("[word old new]", "[]");
    Cell obj = make_object(read("[a: 1 on-change*: :extra-0]", {fn}));
    Cell a = word::load("a");  // a global word: the hook gets the object's own
    stack::push(int_cell(5));
    stack::push(int_cell(6));
    EXPECT_EQ(object::on_set_from_stack(&obj, &a), UNWIND_NONE);
    EXPECT_EQ(object::set_on_stack_top(obj.w1, &a), UNWIND_NONE);
    stack::push(int_cell(9));
    stack::push(none::cell());
    EXPECT_EQ(object::on_set_word(&obj, &a), UNWIND_NONE);
    ASSERT_EQ(hook_calls.size(), 3u);
    EXPECT_EQ(hook_calls[0].args, (std::vector<std::string>{"a", "5", "6"}));
    EXPECT_EQ(hook_calls[1].args, (std::vector<std::string>{"a", "5", "6"}));
    EXPECT_EQ(hook_calls[2].args, (std::vector<std::string>{"a", "1", "9"}));
    for (const HookCall& c : hook_calls) EXPECT_EQ(c.word_ctx, obj.w1);
}

TEST_F(HookTest, AReplacedHookIsPickedUpWithItsLocals) {
    Cell fn = make_function("[word old new]", "[]");
    Cell obj = make_object(read("[a: 1 on-change*: :extra-0]", {fn}));
    global_word("hr", obj);
    Cell with_locals = make_function("[word old new /local x y]", "[]");
    Cell hook = word::load("on-change*");
    *object::select_word(&obj, &hook) = with_locals;
    set_path("[hr a]", int_cell(2));
    ASSERT_EQ(hook_calls.size(), 1u);
    EXPECT_EQ(hook_calls[0].pushed, 6u);  // word old new, then /local false, x none, y none
    set_path("[hr a]", int_cell(3));
    ASSERT_EQ(hook_calls.size(), 2u);
    EXPECT_EQ(hook_calls[1].pushed, 6u);
    // Something other than a function! in the hook field is refused when a field is set.
    *object::select_word(&obj, &hook) = int_cell(1);
    RaisedError e = expect_error([&] { set_path("[hr a]", int_cell(4)); }, "script", "invalid-obj-evt");
    EXPECT_EQ(mold_text(e.args[0]), "1");
}

TEST_F(HookTest, AHookFieldMustHoldAFunctionAtConstruction) {
    RaisedError e =
        expect_error([&] { make_object(read("[a: 1 on-change*: 5]")); }, "script", "bad-field-set");
    EXPECT_EQ(mold_text(e.args[0]), "on-change*");
    EXPECT_EQ(mold_text(e.args[1]), "integer!");
}

TEST_F(HookTest, SetManySkipsTheHookFieldsAndNotifiesTheOthers) {
    Cell fn = make_function("[word old new]", "[]");
    Cell obj = make_object(read("[a: 1 on-change*: :extra-0 b: 2]", {fn}));
    Cell values = read("[10 20 30]");
    EXPECT_EQ(object::set_many(&obj, &values, false, false, false), UNWIND_NONE);
    EXPECT_EQ(field_of(obj, "on-change*").type(), TYPE_FUNCTION);
    EXPECT_EQ(mold_text(field_of(obj, "a")), "10");
    EXPECT_EQ(mold_text(field_of(obj, "b")), "30");
    ASSERT_EQ(hook_calls.size(), 2u);
    EXPECT_EQ(hook_calls[0].args, (std::vector<std::string>{"a", "1", "10"}));
    EXPECT_EQ(hook_calls[1].args, (std::vector<std::string>{"b", "2", "30"}));
}

TEST_F(HookTest, OnDeepChangeGetsSevenArguments) {
    Cell fn = make_function("[owner word target action new index part]", "[]");
    Cell obj = make_object(read("[list: [1 2] on-deep-change*: :extra-0]", {fn}));
    Cell w = word::load("list");
    Cell target = field_of(obj, "list");
    Cell action = word::load("appended");
    Cell nv = int_cell(3);
    EXPECT_EQ(object::on_deep_change(&obj, &w, &target, &action, &nv, 2, 1), UNWIND_NONE);
    ASSERT_EQ(hook_calls.size(), 1u);
    EXPECT_EQ(hook_calls[0].frame, "on-deep-change*");
    EXPECT_EQ(hook_calls[0].pushed, 7u);
    EXPECT_EQ(hook_calls[0].args[1], "list");
    EXPECT_EQ(hook_calls[0].args[2], "[1 2]");
    // No change hook: setting a field reports nothing.
    global_word("hd", obj);
    set_path("[hd list]", int_cell(0));
    EXPECT_EQ(hook_calls.size(), 1u);
    // An owner without hook data is refused.
    Cell plain = make_object(read("[x: 1]"));
    RaisedError e = expect_error([&] { (void)object::on_deep_change(&plain, &w, &target, &action, nullptr, 0, 0); },
                                 "script", "invalid-obj-evt");
    EXPECT_EQ(e.args[0].w1, plain.w1);
}

TEST_F(ObjTest, HookWithoutAnInterpreterIsNotDone) {
    object::hook_runner = nullptr;
    Cell fn = make_function("[word old new]", "[]");
    Cell obj = make_object(read("[a: 1 on-change*: :extra-0]", {fn}));
    global_word("hn", obj);
    expect_error([&] { set_path("[hn a]", int_cell(2)); }, "internal", "not-done");
}

// ---- set, reflect, modify, compare -------------------------------------------------------

TEST_F(ObjTest, SetManySpreadsBlocksAndObjects) {
    struct Case {
        const char* value;
        bool any, only, some;
        const char* expected;
    };
    const Case cases[] = {
        {"[7 8 9]", false, false, false, "make object! [a: 7 b: 8 c: 9]"},
        {"[7]", false, false, false, "make object! [a: 7 b: none c: none]"},
        {"[none 8 none]", false, false, true, "make object! [a: 1 b: 8 c: 3]"},
        {"[7 8]", false, true, false, "make object! [a: [7 8] b: [7 8] c: [7 8]]"},
        {"5", false, false, false, "make object! [a: 5 b: 5 c: 5]"},
    };
    for (const Case& c : cases) {
        Cell obj = make_object(read("[a: 1 b: 2 c: 3]"));
        Cell v = read(c.value);
        if (c.value == std::string("[none 8 none]")) {
            v = read("[#(none) 8 #(none)]");
        }
        EXPECT_EQ(object::set_many(&obj, &v, c.any, c.only, c.some), UNWIND_NONE);
        EXPECT_EQ(flat(obj), c.expected) << c.value;
    }
    // By name from an object.
    Cell obj = make_object(read("[a: 1 b: 2 c: 3]"));
    Cell src = make_object(read("[c: 30 x: 0 A: 10]"));
    EXPECT_EQ(object::set_many(&obj, &src, false, false, false), UNWIND_NONE);
    EXPECT_EQ(flat(obj), "make object! [a: 10 b: 2 c: 30]");
    // Unset values are refused unless /any.
    Cell with_unset = read("[1 #(unset)]");
    RaisedError e = expect_error([&] { (void)object::set_many(&obj, &with_unset, false, false, false); }, "script",
                                 "need-value");
    EXPECT_EQ(mold_text(e.args[0]), "b");
    EXPECT_EQ(flat(obj), "make object! [a: 10 b: 2 c: 30]");  // nothing assigned
    EXPECT_EQ(object::set_many(&obj, &with_unset, true, false, false), UNWIND_NONE);
    EXPECT_EQ(field_of(obj, "b").type(), TYPE_UNSET);
}

TEST_F(ObjTest, ReflectFields) {
    Cell obj = make_object(read("[a: 1 w: 'x p: #(none)]"));
    Cell p = word::load("p");
    *object::select_word(&obj, &p) = path_of("[q r]");
    EXPECT_EQ(mold_text(reflect_of(obj, "words")), "[a w p]");
    EXPECT_EQ(mold_text(reflect_of(obj, "values")), "[1 x q/r]");
    EXPECT_EQ(mold_text(reflect_of(obj, "body")), "[\n    a: 1\n    w: 'x\n    p: 'q/r\n]");
    EXPECT_EQ(mold_text(reflect_of(obj, "events?")), "false");
    EXPECT_EQ(mold_text(reflect_of(obj, "owner")), "false");
    expect_error([&] { reflect_of(obj, "spec"); }, "internal", "not-done");
    Cell body = reflect_of(obj, "words");
    EXPECT_EQ(block::cells_head(&body)->w1, obj.w1);  // words bound to the object
}

TEST_F(ObjTest, ChangedTracksAssignmentsUntilCleared) {
    Cell obj = make_object(read("[a: 1 b: 2 c: 3]"));
    EXPECT_EQ(mold_text(reflect_of(obj, "changed")), "[]");  // marks cleared after construction
    global_word("ch", obj);
    set_path("[ch b]", int_cell(5));
    EXPECT_EQ(mold_text(reflect_of(obj, "changed")), "[b]");
    call("put", {obj, word::load("c"), int_cell(6)});
    EXPECT_EQ(mold_text(reflect_of(obj, "changed")), "[b c]");
    Cell changed = word::load("changed");
    run_action(ACT_MODIFY, {obj, changed, none::cell()});
    EXPECT_EQ(mold_text(reflect_of(obj, "changed")), "[]");
    RaisedError e = expect_error(
        [&] {
            run_action(ACT_MODIFY, {obj, changed, int_cell(1)});
        },
        "script", "invalid-arg");
    EXPECT_EQ(mold_text(e.args[0]), "1");
}

TEST_F(ObjTest, CompareByWordsAndValues) {
    Cell a = make_object(read("[x: 1 y: \"s\"]"));
    Cell b = make_object(read("[x: 1 y: \"S\"]"));
    Cell c = make_object(read("[x: 2 y: \"s\"]"));
    Cell d = make_object(read("[x: 1]"));
    Cell e = make_object(read("[z: 1 y: \"s\"]"));
    EXPECT_TRUE(actions::compare(&a, &b, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &c, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &d, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &e, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &b, COMP_SAME));
    EXPECT_TRUE(actions::compare(&a, &a, COMP_SAME));
    Cell one = int_cell(1);
    EXPECT_FALSE(actions::compare(&a, &one, COMP_EQUAL));
    EXPECT_LT(object::compare(&a, &c, COMP_SORT), 0);
    EXPECT_GT(object::compare(&a, &d, COMP_SORT), 0);
    // Self-containing objects compare without looping.
    Cell s1 = make_object(read("[me: #(none)]"));
    Cell s2 = make_object(read("[me: #(none)]"));
    Cell me = word::load("me");
    *object::select_word(&s1, &me) = s1;
    *object::select_word(&s2, &me) = s2;
    EXPECT_TRUE(actions::compare(&s1, &s2, COMP_EQUAL));
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(ObjTest, HelpersFindWordsAndOwners) {
    Cell obj = make_object(read("[alpha: 1 beta: 2]"));
    Cell beta = word::load("BETA");
    EXPECT_EQ(object::find_word(&obj, &beta), 1);
    Cell zeta = word::load("zeta");
    EXPECT_EQ(object::find_word(&obj, &zeta), -1);
    EXPECT_EQ(object::select_word(&obj, &zeta)->type(), TYPE_NONE);
    EXPECT_EQ(object::word_count(&obj), 2u);
    EXPECT_EQ(mold_text(*object::first_word(&obj)), "alpha");
    Cell holder = make_object(read("[o: :extra-0]", {obj}));
    EXPECT_TRUE(object::is_owner_q(holder.w1, 0, obj.w1));
    EXPECT_FALSE(object::is_owner_q(holder.w1, 0, holder.w1));
    Cell w = global_word("hh", obj);
    EXPECT_TRUE(object::same_object_q(&w, obj.w1));
    EXPECT_FALSE(object::same_object_q(&w, holder.w1));
}

TEST_F(ObjTest, PushContextFillsAnEmptyValuesSeries) {
    Off ctx = context::create(3, false, true, 0, context::KIND_OBJECT);
    for (const char* n : {"p", "q"}) {
        Cell w = word::unbound(symbol::make(n));
        int32_t added = -1;
        context::find_word_at(ctx, w.w2, true, &added);
    }
    Cell obj = *object::push_context(ctx, 77);
    EXPECT_EQ(series::count(context::cell(ctx)->w2), 2u);
    EXPECT_EQ(object::class_of(&obj), 77);
    EXPECT_EQ(context::self_cell(ctx)->w1, ctx);
    EXPECT_EQ(flat(obj), "make object! [p: unset q: unset]");
}

}  // namespace
}  // namespace kiv::test
