// error!: the catalog object, errors made from codes, words, bodies and
// strings, their formed text, their mold, and fire carrying the value.
#include <string>
#include <vector>

#include "object_test_support.h"
#include "runtime/error_catalog.h"

namespace kiv::test {
namespace {

namespace cat = error_catalog;

class ErrorValueTest : public ObjectTest {
  protected:
    void TearDown() override {
        error::trace_level = nullptr;
        error::form_frame_words = nullptr;
        error::current_position = nullptr;
        ObjectTest::TearDown();
    }
};

Cell make_error(const Cell& spec) {
    return run_action(ACT_MAKE, {type_cell(TYPE_ERROR), spec});
}

std::string field_text(const Cell& err, error::Field f) {
    return mold_text(*error::field(&err, f));
}

// An error as fire builds it, kept reachable until the next test.
Cell named(const char* category, const char* id, std::vector<Cell> args = {}) {
    return hold(error::create_named(category, id, args.data(), int(args.size())));
}

// ---- The catalog --------------------------------------------------------------------------

TEST_F(ErrorValueTest, CatalogObjectMirrorsTheCatalogTable) {
    Cell catalog = error::catalog();
    ASSERT_EQ(catalog.type(), TYPE_OBJECT);
    ASSERT_EQ(object::word_count(&catalog), uint32_t(cat::CATEGORY_COUNT));
    for (int c = 0; c < cat::CATEGORY_COUNT; ++c) {
        const cat::CategoryEntry& e = cat::category(c);
        EXPECT_EQ(mold_text(*object::word_at(&catalog, uint32_t(c))), e.name);
        Cell category = *context::values_at(catalog.w1, uint32_t(c));
        ASSERT_EQ(category.type(), TYPE_OBJECT) << e.name;
        ASSERT_EQ(object::word_count(&category), uint32_t(e.id_count) + 2) << e.name;
        EXPECT_EQ(mold_text(field_of(category, "code")), std::to_string(e.code));
        EXPECT_EQ(form_text(field_of(category, "type")), e.type_text);
        for (int i = 0; i < e.id_count; ++i)
            EXPECT_EQ(mold_text(*object::word_at(&category, uint32_t(i) + 2)), e.ids[i].name);
    }
    EXPECT_EQ(error::build_catalog().w1, catalog.w1);  // built once
    Cell script = field_of(catalog, "script");
    EXPECT_EQ(mold_text(field_of(script, "no-value")), "[:arg1 \"has no value\"]");
    Cell op_spec = field_of(script, "bad-op-spec");
    EXPECT_EQ(op_spec.type(), TYPE_STRING);
    EXPECT_EQ(form_text(op_spec),
              "making an op! requires a function with only 2 arguments and no lit/get-word on left argument");
    EXPECT_EQ(mold_text(field_of(field_of(catalog, "user"), "message")), "arg1");
    EXPECT_EQ(mold_text(field_of(field_of(catalog, "internal"), "bad-path")), "[\"bad path:\" arg1]");
}

// ---- make error! ----------------------------------------------------------------------------

TEST_F(ErrorValueTest, MakeFromCodes) {
    struct Case {
        int32_t code;
        const char* type;
        const char* id;
    };
    const Case cases[] = {
        {302, "script", "not-defined"}, {0, "throw", "break"},
        {100, "note", "no-load"},       {400, "math", "zero-divide"},
        {514, "access", "invalid-cmd"}, {800, "user", "message"},
        {909, "internal", "not-done"},  {393, "script", "kb-invalid-record"},
    };
    for (const Case& c : cases) {
        Cell e = make_error(int_cell(c.code));
        ASSERT_EQ(e.type(), TYPE_ERROR);
        EXPECT_EQ(object::class_of(&e), object::ERROR_CLASS);
        EXPECT_EQ(e.w3, 0u);
        EXPECT_EQ(field_text(e, error::FIELD_CODE), std::to_string(c.code));
        EXPECT_EQ(field_text(e, error::FIELD_TYPE), c.type);
        EXPECT_EQ(field_text(e, error::FIELD_ID), c.id);
        EXPECT_EQ(field_text(e, error::FIELD_ARG1), "none");
        // type and id are the catalog's words, bound to the catalog and the category.
        EXPECT_EQ(error::field(&e, error::FIELD_TYPE)->w1, error::catalog().w1);
    }
    for (int32_t bad : {399, -1, 101, 600, 700, 1000, 914, 2147483647}) {
        RaisedError r = expect_error([&] { make_error(int_cell(bad)); }, "script", "out-of-range");
        EXPECT_EQ(r.args[0].w2, uint32_t(bad));
    }
}

TEST_F(ErrorValueTest, MakeFromCategoryAndIdWords) {
    Cell e = make_error(read("[script no-value]"));
    EXPECT_EQ(field_text(e, error::FIELD_CODE), "300");
    EXPECT_EQ(field_text(e, error::FIELD_ID), "no-value");
    Cell upper = make_error(read("[Math Overflow]"));
    EXPECT_EQ(field_text(upper, error::FIELD_CODE), "401");
    struct Bad {
        const char* spec;
        const char* category;
        const char* id;
        const char* arg1;
    };
    const Bad bad[] = {
        {"[nope no-value]", "script", "invalid-spec-field", "type"},
        {"[script]", "script", "invalid-spec-field", "id"},
        {"[script nope]", "script", "invalid-spec-field", "id"},
        {"[script type]", "script", "invalid-spec-field", "id"},
        {"[script 5]", "script", "invalid-arg", "5"},
        {"[5 script]", "internal", "invalid-error", nullptr},
        {"[]", "internal", "invalid-error", nullptr},
    };
    for (const Bad& b : bad) {
        RaisedError r = expect_error([&] { make_error(read(b.spec)); }, b.category, b.id);
        if (b.arg1) {
            ASSERT_GE(r.arg_count, 1) << b.spec;
            EXPECT_EQ(mold_text(r.args[0]), b.arg1) << b.spec;
        }
    }
}

TEST_F(ErrorValueTest, MakeFromABodyEvaluatesIt) {
    Cell e = make_error(read("[type: 'math id: 'positive arg1: 7]"));
    EXPECT_EQ(field_text(e, error::FIELD_CODE), "402");
    EXPECT_EQ(field_text(e, error::FIELD_ARG1), "7");
    RaisedError r =
        expect_error([&] { make_error(read("[type: 'nope id: 'x]")); }, "script", "invalid-spec-field");
    EXPECT_EQ(mold_text(r.args[0]), "type");
    r = expect_error([&] { make_error(read("[type: 'math id: 'nope]")); }, "script", "invalid-spec-field");
    EXPECT_EQ(mold_text(r.args[0]), "id");
}

TEST_F(ErrorValueTest, MakeFromAStringIsAUserMessage) {
    Cell e = make_error(read("\"boom\""));
    EXPECT_EQ(field_text(e, error::FIELD_TYPE), "user");
    EXPECT_EQ(field_text(e, error::FIELD_ID), "message");
    EXPECT_EQ(field_text(e, error::FIELD_CODE), "800");
    EXPECT_EQ(field_text(e, error::FIELD_ARG1), "\"boom\"");
    EXPECT_EQ(form_text(e), "*** User Error: boom\n*** Where: ???\n*** Near : none");
}

TEST_F(ErrorValueTest, MakeFromOtherValuesIsRefused) {
    RaisedError r = expect_error([&] { make_error(float_cell(1.5)); }, "script", "bad-make-arg");
    EXPECT_EQ(mold_text(r.args[0]), "error!");
    EXPECT_EQ(mold_text(r.args[1]), "1.5");
}

TEST_F(ErrorValueTest, NearIsTheInterpreterPosition) {
    error::current_position = [] { return read("[x: 1 + y]"); };
    Cell e = make_error(int_cell(300));
    EXPECT_EQ(field_text(e, error::FIELD_NEAR), "[x: 1 + y]");
}

// ---- form -------------------------------------------------------------------------------------

TEST_F(ErrorValueTest, FormEachCategoryWithItsArguments) {
    struct Case {
        const char* category;
        const char* id;
        std::vector<Cell> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"throw", "break", {}, "*** Throw Error: no loop to break"},
        {"throw", "throw", {int_cell(5)}, "*** Throw Error: no catch for throw: 5"},
        {"note", "no-load", {word::load("x")}, "*** note: cannot load:  x"},
        {"syntax",
         "invalid",
         {read("\"block\""), read("\"a\""), read("\"[1 a\"")},
         "*** Syntax Error: block invalid a at [1 a"},
        {"syntax",
         "malconstruct",
         {read("[1 2]")},
         "*** Syntax Error: 1 2 invalid construction spec at none"},
        {"script", "no-value", {word::load("foo")}, "*** Script Error: foo has no value"},
        {"script",
         "expect-arg",
         {word::load("append"), type_cell(TYPE_FLOAT), word::load("series")},
         "*** Script Error: append does not allow float! for its series argument"},
        {"script", "invalid-arg", {read("\"s\"")}, "*** Script Error: invalid argument: \"s\""},
        {"script", "invalid-arg", {read("[a\nb]")}, "*** Script Error: invalid argument: [a b]"},
        {"script", "not-same-type", {}, "*** Script Error: values must be of the same type"},
        {"math", "zero-divide", {}, "*** Math Error: attempt to divide by zero"},
        {"access", "cannot-open", {read("\"f.txt\"")}, "*** Access Error: cannot open: \"f.txt\""},
        {"user", "message", {read("\"custom text\"")}, "*** User Error: custom text"},
        {"internal", "no-cycle", {}, "*** Internal Error: circular reference not allowed"},
        {"internal", "bad-path", {word::load("p")}, "*** Internal Error: bad path: p"},
    };
    for (const Case& c : cases) {
        Cell e = named(c.category, c.id, c.args);
        ASSERT_EQ(e.type(), TYPE_ERROR) << c.id;
        EXPECT_EQ(form_text(e), std::string(c.message) + "\n*** Where: ???\n*** Near : none") << c.id;
    }
}

TEST_F(ErrorValueTest, ArgumentsAreCutAtEightyCharacters) {
    std::string long_text(200, 'a');
    Cell s = read(("\"" + long_text + "\"").c_str());
    Cell e = named("script", "invalid-arg", {s});
    // A long string molds between braces.
    std::string expected =
        "*** Script Error: invalid argument: {" + std::string(79, 'a') + "\n*** Where: ???";
    EXPECT_EQ(form_text(e).substr(0, expected.size()), expected);
    // Formed (syntax) arguments are cut the same way.
    Cell syn = named("syntax", "bad-header", {s});
    EXPECT_NE(form_text(syn).find("valid: " + std::string(80, 'a') + "\n"), std::string::npos);
}

TEST_F(ErrorValueTest, WhereAndNearLines) {
    Cell e = named("math", "overflow");
    Cell where = word::load("fn-name");
    error::set_where(&e, &where);
    Cell later = word::load("other");
    error::set_where(&e, &later);  // only while none
    *error::field(&e, error::FIELD_NEAR) =
        read("[some very long code here that goes on and on for ever and ever]");
    std::string code = "some very long code here that goes on and on for ever and ever";
    EXPECT_EQ(form_text(e), "*** Math Error: math or number overflow\n*** Where: fn-name\n*** Near : " +
                                code.substr(0, 40));
    *error::field(&e, error::FIELD_WHERE) = read("\"a place\"");
    *error::field(&e, error::FIELD_NEAR) = read("[x\n y]");
    EXPECT_EQ(form_text(e), "*** Math Error: math or number overflow\n*** Where: a place\n*** Near : x y");
    *error::field(&e, error::FIELD_WHERE) = int_cell(3);
    EXPECT_NE(form_text(e).find("*** Where: ???\n"), std::string::npos);
}

TEST_F(ErrorValueTest, StackLineOnlyWhenTracing) {
    Cell e = named("math", "overflow");
    *error::field(&e, error::FIELD_STACK) = read("[f g]");
    std::string plain = form_text(e);
    EXPECT_EQ(plain.find("Stack"), std::string::npos);
    error::trace_level = [] { return int32_t(1); };
    EXPECT_EQ(form_text(e), plain + "\n*** Stack: f g");
    *error::field(&e, error::FIELD_STACK) = int_cell(4);
    error::form_frame_words = [](int32_t level, int32_t position, Cell* out, int32_t budget) {
        std::string t = "frames " + std::to_string(level) + " " + std::to_string(position);
        string::concatenate_literal(out, t.c_str());
        return budget - int32_t(t.size());
    };
    EXPECT_EQ(form_text(e), plain + "\n*** Stack: frames 1 4");
    error::trace_level = [] { return int32_t(0); };
    EXPECT_EQ(form_text(e), plain);
}

TEST_F(ErrorValueTest, FilesLine) {
    Cell e = named("math", "overflow");
    std::string plain = form_text(e);
    *error::field(&e, error::FIELD_FILES) = read("[\"a.kiv\" \"b.kiv\"]");
    EXPECT_EQ(form_text(e), plain + "\n*** Files: \"a.kiv\" \"b.kiv\"");
}

TEST_F(ErrorValueTest, UnknownTypeOrIdFormsAsInternalInvalidError) {
    Cell e = named("math", "overflow");
    *error::field(&e, error::FIELD_TYPE) = word::load("bogus");
    EXPECT_EQ(form_text(e).rfind("*** Internal Error: invalid error object field value: bogus\n*** Where", 0),
              0u);
    Cell f = named("math", "overflow");
    *error::field(&f, error::FIELD_ID) = word::load("nothing");
    EXPECT_EQ(
        form_text(f).rfind("*** Internal Error: invalid error object field value: nothing\n*** Where", 0),
        0u);
    Cell g = named("nocategory", "noid");
    EXPECT_EQ(
        form_text(g).rfind("*** Internal Error: invalid error object field value: nocategory\n*** Where", 0),
        0u);
}

TEST_F(ErrorValueTest, FormPartLimitsTheText) {
    Cell e = named("math", "overflow");
    EXPECT_EQ(form_text(e, 15), "*** Math Error:");
}

// ---- mold and paths ----------------------------------------------------------------------------

TEST_F(ErrorValueTest, MoldWritesTheFields) {
    Cell e = named("script", "no-value", {word::load("foo")});
    EXPECT_EQ(mold_text(e),
              "make error! [\n    code: 300\n    type: 'script\n    id: 'no-value\n    arg1: 'foo\n"
              "    arg2: none\n    arg3: none\n    near: none\n    where: none\n    stack: none\n"
              "    files: none\n]");
    EXPECT_EQ(mold_text(e, false, false, true),
              "make error! [code: 300 type: 'script id: 'no-value arg1: 'foo arg2: none arg3: none "
              "near: none where: none stack: none files: none]");
}

TEST_F(ErrorValueTest, PathsAndCopies) {
    Cell e = named("math", "positive");
    Cell id = word::load("id");
    Cell* r = error::eval_path(&e, &id, nullptr, nullptr, nullptr, nullptr, 1, false, false, true, false).cell;
    EXPECT_EQ(mold_text(*r), "positive");
    Cell a1 = word::load("arg1");
    Cell v = int_cell(9);
    (void)error::eval_path(&e, &a1, &v, nullptr, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(field_text(e, error::FIELD_ARG1), "9");
    Cell cp = run_action(ACT_COPY, {e}, {-1, -1, -1});
    EXPECT_EQ(cp.type(), TYPE_ERROR);
    EXPECT_NE(cp.w1, e.w1);
    EXPECT_EQ(form_text(cp), form_text(e));
    Cell other = named("math", "positive");
    Cell one = int_cell(1);
    EXPECT_EQ(error::compare(&e, &one, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_NE(error::compare(&e, &other, COMP_EQUAL), 0);  // arg1 differs
    *error::field(&other, error::FIELD_ARG1) = int_cell(9);
    EXPECT_EQ(error::compare(&e, &other, COMP_EQUAL), 0);
}

// ---- fire --------------------------------------------------------------------------------------

TEST_F(ErrorValueTest, FireUnwindsToATryFrameCarryingTheErrorValue) {
    stack::push(int_cell(1));
    stack::mark_try(nullptr);
    stack::Frame* try_frame = stack::ctop();
    stack::mark_native(nullptr);
    stack::push(int_cell(2));
    uint32_t frames = stack::frame_count();
    Cell caught = none::cell();
    try {
        fire({"script", "no-value"}, word::load("missing-word"));
    } catch (const RaisedError& e) {
        // The stacks are as they were at the fire point.
        EXPECT_EQ(stack::frame_count(), frames);
        caught = e.value;
        EXPECT_EQ(e.category, "script");
        EXPECT_EQ(e.id, "no-value");
        stack::catch_at(try_frame);
    }
    EXPECT_EQ(stack::frame_count(), 0u);
    EXPECT_EQ(stack::arg_base, stack::bottom);
    EXPECT_EQ(stack::top, stack::bottom + 1);
    ASSERT_EQ(caught.type(), TYPE_ERROR);
    EXPECT_EQ(field_text(caught, error::FIELD_CODE), "300");
    EXPECT_EQ(field_text(caught, error::FIELD_ARG1), "missing-word");
    EXPECT_EQ(field_text(caught, error::FIELD_STACK), std::to_string(frames));
    EXPECT_EQ(form_text(caught).substr(0, 44), "*** Script Error: missing-word has no value\n");
}

TEST_F(ErrorValueTest, RaisedTextFormsWithOrWithoutAValue) {
    try {
        fire({"math", "zero-divide"});
    } catch (const RaisedError& e) {
        EXPECT_EQ(raised_text(e),
                  "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none");
    }
    RaisedError bare{"script", "no-value", {int_cell(5)}, 1};
    EXPECT_EQ(raised_text(bare), "*** Script Error: 5 has no value");
    RaisedError unknown{"foo", "bar", {}, 0};
    EXPECT_EQ(raised_text(unknown), "*** Internal Error: invalid error: foo bar");
}

TEST_F(ErrorValueTest, GetCallArgumentNamesTheNthSpecWord) {
    Cell fn = make_function("[\"doc\" a [integer!] :b /ref c return: [integer!]]", "[]");
    Cell name = word::load("my-fn");
    EXPECT_EQ(context::set_word(&name, &fn).code, UNWIND_NONE);
    stack::mark_native(&name);
    EXPECT_EQ(mold_text(error::get_call_argument(0)), "a");
    EXPECT_EQ(mold_text(error::get_call_argument(1)), "b");
    EXPECT_EQ(mold_text(error::get_call_argument(2)), "ref");
    EXPECT_EQ(mold_text(error::get_call_argument(3)), "c");
    EXPECT_EQ(mold_text(error::get_call_argument(4)), "<anon>");
    EXPECT_EQ(error::get_call_argument(0).type(), TYPE_WORD);
    stack::mark_native(nullptr);
    EXPECT_EQ(mold_text(error::get_call_argument(0)), "<anon>");
    Cell not_fn = word::load("not-a-function");
    Cell v = int_cell(1);
    EXPECT_EQ(context::set_word(&not_fn, &v).code, UNWIND_NONE);
    stack::mark_native(&not_fn);
    EXPECT_EQ(mold_text(error::get_call_argument(0)), "<anon>");
}

TEST_F(ErrorValueTest, CaptureStackTurnsThePositionIntoABlock) {
    Cell e = named("math", "overflow");
    *error::field(&e, error::FIELD_STACK) = int_cell(2);
    error::collect_frame_words = [](int32_t level, Cell* blk, int32_t position) {
        Cell w = word::load("frame");
        block::cells_append(blk, &w);
        Cell n = int_cell(level * 10 + position);
        block::cells_append(blk, &n);
    };
    error::source_files = [] { return read("[\"main.kiv\"]"); };
    error::capture_stack(&e);
    error::collect_frame_words = nullptr;
    error::source_files = nullptr;
    EXPECT_EQ(field_text(e, error::FIELD_STACK), "[frame 12]");
    EXPECT_EQ(field_text(e, error::FIELD_FILES), "[\"main.kiv\"]");
}

}  // namespace
}  // namespace kiv::test
