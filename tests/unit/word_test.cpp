// Word values: molds and forms, make/to conversions, comparison codes,
// index?, the issue! type, the stack helpers, the fixed words and the caller
// word of error reports.
#include "datatypes/word.h"

#include <string>
#include <vector>

#include "datatypes/fixed_words.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "runtime/root.h"
#include "test_support.h"

namespace kiv {
namespace {

class WordTest : public test::RuntimeTest {};

Cell named(const char* name, uint32_t type = TYPE_WORD) {
    return word::unbound(symbol::make(name), type);
}

Cell text(const char* s) {
    Cell c;
    string::make_at(&c, 8);
    string::concatenate_literal(&c, s);
    return c;
}

Cell convert(uint32_t slot, uint32_t type, const Cell& spec) {
    return test::run_action(slot, {test::type_cell(type), spec});
}

// A stand-in for the lexer's single-value load: one word per blank-separated
// token ("" -> unset, several tokens -> none, digits -> integer!).
void fake_load_single(const uint8_t* utf8, uint32_t length, Cell* result) {
    std::string s(reinterpret_cast<const char*>(utf8), length);
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ') ++j;
        if (j > i) tokens.push_back(s.substr(i, j - i));
        i = j;
    }
    if (tokens.empty()) {
        *result = Cell{TYPE_UNSET, 0, 0, 0};
    } else if (tokens.size() > 1) {
        *result = none::cell();
    } else if (std::isdigit(static_cast<unsigned char>(tokens[0][0]))) {
        *result = test::int_cell(std::atoi(tokens[0].c_str()));
    } else {
        *result = word::unbound(symbol::make(tokens[0].c_str()));
    }
}

struct LexerHook {
    word::LoadSingle saved = word::load_single;
    LexerHook() { word::load_single = &fake_load_single; }
    ~LexerHook() { word::load_single = saved; }
};

// ---- mold and form ---------------------------------------------------------------------------

TEST_F(WordTest, MoldsAndFormsOfEveryWordType) {
    struct Case {
        uint32_t type;
        const char* mold;
    } cases[] = {
        {TYPE_WORD, "abc"},      {TYPE_SET_WORD, "abc:"},   {TYPE_LIT_WORD, "'abc"},
        {TYPE_GET_WORD, ":abc"}, {TYPE_REFINEMENT, "/abc"}, {TYPE_ISSUE, "#abc"},
    };
    for (const Case& c : cases) {
        Cell w = named("abc", c.type);
        EXPECT_EQ(test::mold_text(w), c.mold) << c.type;
        EXPECT_EQ(test::form_text(w), "abc") << c.type;
    }
}

TEST_F(WordTest, MoldKeepsTheLetterCaseAndWideCharacters) {
    EXPECT_EQ(test::mold_text(named("MixedCase", TYPE_SET_WORD)), "MixedCase:");
    EXPECT_EQ(test::mold_text(named("\xE2\x82\xAC"
                                    "uro",
                                    TYPE_LIT_WORD)),
              "'\xE2\x82\xAC"
              "uro");
}

TEST_F(WordTest, MoldReturnsTheBudgetLessWhatItWrote) {
    struct Case {
        uint32_t type;
        int32_t used;
    } cases[] = {{TYPE_WORD, 4},     {TYPE_SET_WORD, 5},   {TYPE_LIT_WORD, 5},
                 {TYPE_GET_WORD, 5}, {TYPE_REFINEMENT, 5}, {TYPE_ISSUE, 5}};
    for (const Case& c : cases) {
        Cell w = named("four", c.type);
        Cell* out = string::push_new(8);
        int32_t left = actions::mold(&w, out, false, false, false, nullptr, 100, 0);
        EXPECT_EQ(left, 100 - c.used) << c.type;
        stack::pop(1);
    }
    EXPECT_EQ(test::mold_text(named("truncated", TYPE_SET_WORD), false, false, false, 4), "trun");
}

// ---- make and to -----------------------------------------------------------------------------

TEST_F(WordTest, ConversionBetweenWordTypesKeepsSymbolAndBinding) {
    Cell lit = word::load("bound-lit");
    lit.set_type(TYPE_LIT_WORD);
    for (uint32_t slot : {uint32_t(ACT_TO), uint32_t(ACT_MAKE)}) {
        Cell r = convert(slot, TYPE_SET_WORD, lit);
        EXPECT_EQ(r.type(), uint32_t(TYPE_SET_WORD));
        EXPECT_EQ(r.w1, lit.w1);
        EXPECT_EQ(r.w2, lit.w2);
        EXPECT_EQ(r.w3, lit.w3);
        EXPECT_EQ(test::mold_text(r), "bound-lit:");
    }
    Cell g = convert(ACT_TO, TYPE_GET_WORD, named("plain"));
    EXPECT_EQ(test::mold_text(g), ":plain");
    EXPECT_EQ(test::mold_text(convert(ACT_TO, TYPE_REFINEMENT, named("opt"))), "/opt");
}

TEST_F(WordTest, ObjectSetMarkDoesNotTravelWithConversions) {
    Cell w = named("marked");
    w.header |= header::WORD_SET;
    Cell r = convert(ACT_TO, TYPE_WORD, w);
    EXPECT_EQ(r.header, uint32_t(TYPE_WORD));
}

TEST_F(WordTest, LogicAndDatatypeGiveTheirWords) {
    Cell t = convert(ACT_TO, TYPE_WORD, logic::cell(true));
    EXPECT_EQ(test::mold_text(t), "true");
    EXPECT_EQ(t.w1, context::global());
    EXPECT_EQ(t.w2, fixed::sym[fixed::SYM_TRUE]);
    EXPECT_EQ(test::mold_text(convert(ACT_TO, TYPE_WORD, logic::cell(false))), "false");
    Cell i = convert(ACT_TO, TYPE_WORD, test::type_cell(TYPE_INTEGER));
    EXPECT_EQ(i.type(), uint32_t(TYPE_WORD));
    EXPECT_EQ(test::mold_text(i), "integer!");
    EXPECT_EQ(i.w1, context::global());
    EXPECT_EQ(test::mold_text(convert(ACT_TO, TYPE_LIT_WORD, test::type_cell(TYPE_BLOCK))), "'block!");
}

TEST_F(WordTest, RefinementAndIssueBecomeGlobalWordsWhenTheNameScans) {
    // The word layer's own name check, without the lexer's scanner.
    struct NoScanner {
        word::ScanType saved = word::scan_type;
        NoScanner() { word::scan_type = nullptr; }
        ~NoScanner() { word::scan_type = saved; }
    } no_scanner;
    Cell gw = word::load("scan-me");
    Cell r = convert(ACT_TO, TYPE_WORD, named("scan-me", TYPE_REFINEMENT));
    EXPECT_EQ(r.type(), uint32_t(TYPE_WORD));
    EXPECT_EQ(r.w1, context::global());
    EXPECT_EQ(r.w3, gw.w3);
    // Not a global symbol: stays unbound.
    Cell u = convert(ACT_TO, TYPE_WORD, named("never-global-ref", TYPE_REFINEMENT));
    EXPECT_EQ(u.w1, 0u);
    Cell is = convert(ACT_TO, TYPE_SET_WORD, named("scan-me", TYPE_ISSUE));
    EXPECT_EQ(test::mold_text(is), "scan-me:");
    // Names that would not read back as words.
    for (const char* bad : {"1abc", "", "a b", "-5", "x:y", "'q"}) {
        test::expect_error([&] { convert(ACT_TO, TYPE_WORD, named(bad, TYPE_REFINEMENT)); }, "script",
                           "bad-to-arg");
    }
}

TEST_F(WordTest, OtherTypesAreRefused) {
    for (const Cell& spec : {test::int_cell(3), none::cell(), test::float_cell(1.5)}) {
        RaisedError e = test::expect_error([&] { convert(ACT_TO, TYPE_WORD, spec); }, "script", "bad-to-arg");
        EXPECT_EQ(e.args[0].type(), uint32_t(TYPE_DATATYPE));
        EXPECT_EQ(e.args[0].w1, uint32_t(TYPE_WORD));
        EXPECT_EQ(e.args[1].type(), spec.type());
    }
}

TEST_F(WordTest, TextLoadsAsOneWordOrRaisesInvalidChars) {
    LexerHook hook;
    Cell w = convert(ACT_TO, TYPE_WORD, text("from-text"));
    EXPECT_EQ(w.type(), uint32_t(TYPE_WORD));
    EXPECT_EQ(symbol::name_view(w.w2), "from-text");
    Cell c = convert(ACT_TO, TYPE_SET_WORD, test::char_cell('q'));
    EXPECT_EQ(test::mold_text(c), "q:");
    Cell at_index = text("skip me");
    at_index.w1 = 5;
    EXPECT_EQ(test::mold_text(convert(ACT_TO, TYPE_WORD, at_index)), "me");
    for (const char* bad : {"two words", "", "42"})
        test::expect_error([&] { convert(ACT_TO, TYPE_WORD, text(bad)); }, "script", "invalid-chars");
}

// ---- compare -----------------------------------------------------------------------------------

TEST_F(WordTest, CompareCodes) {
    Off ctx = context::create(2, false, false, 0, context::KIND_OBJECT);
    Cell key = named("Key");
    context::find_or_add_word(ctx, &key);
    Cell wk = named("Key");  // word, unbound
    Cell wk_bound = wk;
    context::bind_word(ctx, &wk_bound);     // word, bound
    Cell lk = named("key", TYPE_LIT_WORD);  // lit-word, other case
    Cell lK = named("Key", TYPE_LIT_WORD);  // lit-word, same case
    Cell sk = named("Key", TYPE_SET_WORD);
    Cell other = named("other");
    struct Case {
        const Cell* a;
        const Cell* b;
        int32_t op;
        int32_t expected;
    } cases[] = {
        {&wk, &lk, COMP_EQUAL, 0},
        {&wk, &lk, COMP_NOT_EQUAL, 0},
        {&wk, &other, COMP_EQUAL, 1},
        {&wk, &lk, COMP_FIND, 0},
        {&wk, &lk, COMP_STRICT_EQUAL, 1},
        {&wk, &lK, COMP_STRICT_EQUAL, 1},
        {&wk, &wk_bound, COMP_STRICT_EQUAL, 0},
        {&wk, &wk_bound, COMP_SAME, 1},
        {&wk_bound, &wk_bound, COMP_SAME, 0},
        {&wk, &lK, COMP_EQUAL_10, 0},
        {&lK, &wk, COMP_EQUAL_10, 0},
        {&wk, &lk, COMP_EQUAL_10, 1},
        {&wk, &sk, COMP_EQUAL_10, 1},
        {&wk, &lk, COMP_EQUAL_11, 0},
        {&wk, &sk, COMP_EQUAL_11, 1},
        {&sk, &sk, COMP_EQUAL_11, 0},
    };
    for (const Case& c : cases) {
        Cell a = *c.a, b = *c.b;
        EXPECT_EQ(word::compare(&a, &b, c.op), c.expected)
            << test::mold_text(a) << " " << test::mold_text(b) << " op " << c.op;
    }
    // Orderings go through the names.
    Cell apple = named("apple"), Banana = named("Banana");
    EXPECT_LT(word::compare(&apple, &Banana, COMP_LESSER), 0);
    EXPECT_GT(word::compare(&Banana, &apple, COMP_GREATER), 0);
    EXPECT_TRUE(actions::compare(&apple, &Banana, COMP_LESSER));
    // Not comparable: a non-word, or an issue against a word.
    Cell i = test::int_cell(1), iss = named("Key", TYPE_ISSUE);
    EXPECT_EQ(word::compare(&wk, &i, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(word::compare(&wk, &iss, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_value(&iss, &wk, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_value(&iss, &iss, COMP_EQUAL), 0);
    EXPECT_FALSE(actions::compare(&wk, &i, COMP_EQUAL));
}

// ---- index? ------------------------------------------------------------------------------------

TEST_F(WordTest, IndexOfAWord) {
    Cell unbound = named("nowhere");
    EXPECT_EQ(test::run_action(ACT_INDEX_Q, {unbound}).type(), uint32_t(TYPE_NONE));
    Off ctx = context::create(2, false, false, 0, context::KIND_OBJECT);
    Cell a = named("first-w"), b = named("second-w");
    context::find_or_add_word(ctx, &a);
    context::find_or_add_word(ctx, &b);
    context::bind_word(ctx, &a);
    context::bind_word(ctx, &b);
    EXPECT_EQ(test::run_action(ACT_INDEX_Q, {a}).w2, 1u);
    b.set_type(TYPE_GET_WORD);
    EXPECT_EQ(test::run_action(ACT_INDEX_Q, {b}).w2, 2u);
    b.set_type(TYPE_REFINEMENT);
    test::expect_error([&] { test::run_action(ACT_INDEX_Q, {b}); }, "script", "expect-arg");
}

// ---- issue! --------------------------------------------------------------------------------------

TEST_F(WordTest, IssueMake) {
    Cell i = convert(ACT_TO, TYPE_ISSUE, text("abc-1"));
    EXPECT_EQ(i.type(), uint32_t(TYPE_ISSUE));
    EXPECT_EQ(i.w1, context::global());
    EXPECT_EQ(word::index_of(&i), -1);
    EXPECT_EQ(test::mold_text(i), "#abc-1");
    Cell at_index = text("xx123");
    at_index.w1 = 2;
    EXPECT_EQ(test::mold_text(convert(ACT_MAKE, TYPE_ISSUE, at_index)), "#123");
    EXPECT_EQ(test::mold_text(convert(ACT_TO, TYPE_ISSUE, test::char_cell('z'))), "#z");
    Cell sw = word::load("issue-src");
    sw.set_type(TYPE_SET_WORD);
    Cell from_word = convert(ACT_MAKE, TYPE_ISSUE, sw);
    EXPECT_EQ(from_word.w2, sw.w2);
    EXPECT_EQ(from_word.w3, sw.w3);
    EXPECT_EQ(test::mold_text(convert(ACT_TO, TYPE_ISSUE, logic::cell(true))), "#true");
    // Text that would not read back as this issue is refused.
    for (const char* bad : {"a b", "", "x[y", "tab\there"})
        test::expect_error([&] { convert(ACT_TO, TYPE_ISSUE, text(bad)); }, "script", "bad-to-arg");
    test::expect_error([&] { convert(ACT_TO, TYPE_ISSUE, test::int_cell(1)); }, "script", "bad-to-arg");
}

TEST_F(WordTest, IssueHelpers) {
    Cell* top = stack::top;
    Cell* pushed = issue::load("pushed-issue");
    EXPECT_EQ(stack::top, top + 1);
    EXPECT_EQ(test::mold_text(*pushed), "#pushed-issue");
    Cell blk;
    block::make_at(&blk, 2);
    issue::make_in(&blk, "in-block");
    EXPECT_EQ(test::mold_text(blk), "[#in-block]");
    uint32_t n = root::count();
    root::recording = true;
    issue::load("recorded-issue");
    root::recording = false;
    EXPECT_EQ(root::count(), n + 1);
    EXPECT_EQ(test::mold_text(*root::at(n)), "#recorded-issue");
    Cell w = named("retyped");
    EXPECT_EQ(issue::push(&w)->type(), uint32_t(TYPE_ISSUE));
}

// ---- Helpers -------------------------------------------------------------------------------------

TEST_F(WordTest, LoadKeepsLetterCaseAndSharesTheSlot) {
    Cell a = word::load("Keep-Case");
    Cell b = word::load("keep-case");
    EXPECT_EQ(symbol::name_view(b.w2), "keep-case");
    EXPECT_EQ(a.w3, b.w3);
    EXPECT_EQ(test::mold_text(b), "keep-case");
    // make_at binds case-insensitively, in place.
    Cell c;
    word::make_at(symbol::make("KEEP-CASE"), &c);
    EXPECT_EQ(c.type(), uint32_t(TYPE_WORD));
    EXPECT_EQ(c.w3, a.w3);
    EXPECT_EQ(symbol::name_view(c.w2), "KEEP-CASE");
}

TEST_F(WordTest, RecordingKeepsCopiesInTheRootBlock) {
    uint32_t n = root::count();
    word::load("not-recorded");
    EXPECT_EQ(root::count(), n);
    root::recording = true;
    Cell w = word::load("recorded-word");
    Cell g = word::make_global(symbol::make("recorded-global"));
    root::recording = false;
    ASSERT_EQ(root::count(), n + 2);
    EXPECT_EQ(root::at(n)->w2, w.w2);
    EXPECT_EQ(root::at(n + 1)->w2, g.w2);
    // Refinement values are always kept there, unbound.
    Cell r = refinement::load("kept-ref");
    EXPECT_EQ(r.w1, 0u);
    EXPECT_EQ(r.type(), uint32_t(TYPE_REFINEMENT));
    EXPECT_EQ(root::count(), n + 3);
    EXPECT_EQ(test::mold_text(*root::at(n + 2)), "/kept-ref");
}

TEST_F(WordTest, SubtypeFamiliesRetype) {
    Cell blk;
    block::make_at(&blk, 4);
    lit_word::load_in("fam-a", &blk);
    set_word::load_in("fam-b", &blk);
    get_word::load_in("fam-c", &blk);
    refinement::load_in("fam-d", &blk);
    EXPECT_EQ(test::mold_text(blk), "['fam-a fam-b: :fam-c /fam-d]");
    EXPECT_EQ(lit_word::load("fam-e").type(), uint32_t(TYPE_LIT_WORD));
    EXPECT_EQ(set_word::load("fam-e").type(), uint32_t(TYPE_SET_WORD));
    Cell w = word::load("fam-e");
    EXPECT_EQ(get_word::push(&w)->type(), uint32_t(TYPE_GET_WORD));
    EXPECT_EQ(w.type(), uint32_t(TYPE_WORD));  // the source stays as it was
}

TEST_F(WordTest, CheckedSetAndGet) {
    Cell w = word::load("checked-var");
    // The interpreter's set-word step: word in the result slot, value after it.
    *stack::arg_base = w;
    stack::top = stack::arg_base + 1;
    stack::push(Cell{TYPE_UNSET, 0, 0, 0});
    RaisedError e = test::expect_error([] { (void)word::set_checked(); }, "script", "need-value");
    EXPECT_EQ(e.args[0].w2, w.w2);
    test::expect_error([&] { word::get_checked(&w); }, "script", "no-value");
    stack::arg_base[1] = test::int_cell(31);
    Outcome set = word::set_checked();
    EXPECT_EQ(set.code, UNWIND_NONE);
    Cell* r = set.cell;
    EXPECT_EQ(r, stack::arg_base);
    EXPECT_EQ(r->w2, 31u);
    EXPECT_EQ(word::get_checked(&w)->w2, 31u);
    EXPECT_EQ(word::push_value(&w)->w2, 31u);
    Cell target;
    EXPECT_EQ(word::store_checked(&target)->w2, 31u);
    stack::reset_all();
    // get on the result slot, and get-word's pushing get.
    *stack::arg_base = w;
    stack::top = stack::arg_base + 1;
    EXPECT_EQ(get_word::get()->w2, 31u);
    EXPECT_EQ(stack::top, stack::arg_base + 2);
    EXPECT_EQ(word::get()->w2, 31u);
}

TEST_F(WordTest, PushNameSharesTheSymbolsNameString) {
    Cell w = word::load("shared-name");
    Cell* s = word::push_name(&w);
    EXPECT_EQ(s->type(), uint32_t(TYPE_STRING));
    EXPECT_EQ(s->w1, 0u);
    EXPECT_EQ(s->w2, symbol::ensure_string(w.w2));
    EXPECT_EQ(test::string_text(*s), "shared-name");
    EXPECT_EQ(word::get_symbol(&w)->w2, s->w2);
}

// ---- Fixed words --------------------------------------------------------------------------------

TEST_F(WordTest, FixedWordsAreInternedOnce) {
    EXPECT_EQ(fixed::sym[fixed::SYM_CODE], fixed::sym[fixed::SYM_CODE_2]);
    EXPECT_EQ(fixed::symbol_words[fixed::SW_COLLECT].w2, fixed::symbol_words[fixed::SW_COLLECT_2].w2);
    EXPECT_EQ(fixed::symbol_words[fixed::SW_COLLECT].w3, fixed::symbol_words[fixed::SW_COLLECT_2].w3);
    EXPECT_EQ(fixed::words[fixed::W_TYPE].w2, fixed::sym[fixed::SYM_TYPE]);
    EXPECT_EQ(fixed::words[fixed::W_CAT_THROW].w2, fixed::words[fixed::W_THROW].w2);
    for (uint32_t i = 0; i < fixed::SYMBOL_COUNT; ++i)
        EXPECT_EQ(symbol::name_view(fixed::sym[i]), fixed::SYMBOL_NAMES[i]) << i;
    for (uint32_t i = 0; i < fixed::WORD_COUNT; ++i) {
        const Cell& w = fixed::words[i];
        EXPECT_EQ(w.type(), uint32_t(TYPE_WORD)) << i;
        EXPECT_EQ(w.w1, context::global()) << i;
        EXPECT_EQ(symbol::name_view(w.w2), fixed::WORD_NAMES[i]) << i;
    }
    for (uint32_t i = 0; i < fixed::SYMBOL_WORD_COUNT; ++i)
        EXPECT_EQ(fixed::symbol_words[i].w2, fixed::sym[fixed::SYMBOL_WORD_SOURCES[i]]) << i;
    for (uint32_t i = 0; i < fixed::REFINEMENT_COUNT; ++i) {
        EXPECT_EQ(fixed::refinements[i].type(), uint32_t(TYPE_REFINEMENT));
        EXPECT_EQ(fixed::refinements[i].w1, 0u);
        EXPECT_EQ(test::mold_text(fixed::refinements[i]), std::string("/") + fixed::REFINEMENT_NAMES[i]);
    }
    EXPECT_EQ(test::mold_text(fixed::refinement_block), "[/local /extern /compare /part /skip /with]");
    EXPECT_EQ(stack::body_symbol, fixed::words[fixed::W_BODY].w2);
    EXPECT_EQ(stack::anon_symbol, fixed::words[fixed::W_ANON].w2);
}

TEST_F(WordTest, DatatypeRecordsHoldTheirNameWords) {
    for (uint32_t t = 1; t <= datatype::highest_type_id; ++t) {
        const datatype::NameRecord& rec = datatype::names[t];
        if (!rec.name) continue;
        EXPECT_EQ(rec.word.type(), uint32_t(TYPE_WORD)) << rec.name;
        EXPECT_EQ(rec.word.w1, context::global()) << rec.name;
        EXPECT_EQ(symbol::name_view(rec.word.w2), rec.name);
    }
}

// ---- The caller word of error reports ----------------------------------------------------------

TEST_F(WordTest, ExpectArgNamesTheCallerAndTheFirstArgument) {
    Cell fn = word::load("my-caller");
    stack::mark_native(&fn);
    Cell w = named("no-append-here");
    RaisedError e = test::expect_error([&] { actions::get_action(&w, ACT_APPEND); }, "script", "expect-arg");
    stack::reset_all();
    EXPECT_EQ(e.args[0].type(), uint32_t(TYPE_WORD));
    EXPECT_EQ(symbol::name_view(e.args[0].w2), "my-caller");
    EXPECT_EQ(e.args[1].w1, uint32_t(TYPE_WORD));
    EXPECT_EQ(symbol::name_view(e.args[2].w2), "series");
    // With no named frame the caller is <not-found>.
    RaisedError f = test::expect_error([&] { actions::get_action(&w, ACT_APPEND); }, "script", "expect-arg");
    EXPECT_EQ(symbol::name_view(f.args[0].w2), "<not-found>");
}

TEST_F(WordTest, CallerWordComesFromTheFramesBinding) {
    Off ctx = context::create(1, false, false, 0, context::KIND_OBJECT);
    Cell local = named("local-fn");
    context::find_or_add_word(ctx, &local);
    context::bind_word(ctx, &local);
    stack::mark_native(&local);
    Cell body = fixed::words[fixed::W_BODY];
    stack::mark_func_on_stack(&body, 0);  // skipped
    Cell caller = word::caller();
    stack::reset_all();
    EXPECT_EQ(caller.w1, ctx);
    EXPECT_EQ(caller.w2, local.w2);
    // A binding without the symbol gives the global word.
    Off empty = context::create(1, false, false, 0, context::KIND_OBJECT);
    Cell stray{TYPE_WORD, empty, symbol::make("stray-fn"), 0};
    stack::mark_native(&stray);
    caller = word::caller();
    stack::reset_all();
    EXPECT_EQ(caller.w1, context::global());
    EXPECT_EQ(symbol::name_view(caller.w2), "stray-fn");
}

}  // namespace
}  // namespace kiv
