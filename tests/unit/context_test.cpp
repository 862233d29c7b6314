// Contexts: creation, lookup and addition, the global context's growth,
// function contexts with values on the data stack, object contexts, deep
// binding and the checks on word indexes.
#include "datatypes/context.h"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/fixed_words.h"
#include "datatypes/block.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/cycles.h"
#include "runtime/root.h"
#include "test_support.h"

namespace kiv {
namespace {

class ContextTest : public test::RuntimeTest {};

// ---- A small reader for blocks of words --------------------------------------------------
// Tokens: name, name:, 'name, :name, /name, #name, [...], (...), a/b/c
// (a path of words), digits (integer!). Every word is unbound.
struct Reader {
    const char* p;

    static bool delimiter(char c) { return !c || c == ' ' || c == '\n' || std::strchr("[]()", c); }

    Cell word_of(const std::string& t) {
        uint32_t type = TYPE_WORD;
        std::string n = t;
        if (n[0] == '\'')
            type = TYPE_LIT_WORD, n = n.substr(1);
        else if (n[0] == ':')
            type = TYPE_GET_WORD, n = n.substr(1);
        else if (n[0] == '/')
            type = TYPE_REFINEMENT, n = n.substr(1);
        else if (n[0] == '#')
            type = TYPE_ISSUE, n = n.substr(1);
        else if (n.back() == ':')
            type = TYPE_SET_WORD, n.pop_back();
        return word::unbound(symbol::make(n.c_str()), type);
    }

    // Each value waits on the data stack until it is appended: the append
    // may allocate, and so collect.
    void values(Cell* blk, char close) {
        for (;;) {
            while (*p == ' ' || *p == '\n') ++p;
            if (*p == close) {
                if (close) ++p;
                return;
            }
            Cell* slot = stack::push(none::cell());
            one(slot);
            block::cells_append(blk, slot);
            stack::pop(1);
        }
    }

    // Reads one value into `out`, a data-stack cell.
    void one(Cell* out) {
        if (*p == '[' || *p == '(') {
            char close = *p == '[' ? ']' : ')';
            ++p;
            block::make_at(out, 4);
            values(out, close);
            if (close == ')') out->set_type(TYPE_PAREN);
            return;
        }
        const char* start = p;
        while (!delimiter(*p)) ++p;
        std::string t(start, p);
        if (std::isdigit(static_cast<unsigned char>(t[0]))) {
            *out = test::int_cell(std::atoi(t.c_str()));
            return;
        }
        size_t slash = t.find('/', 1);
        if (t[0] != '/' && slash != std::string::npos) {
            block::make_at(out, 4);
            out->set_type(TYPE_PATH);
            size_t from = 0;
            for (;;) {
                size_t to = t.find('/', from);
                Cell w = word_of(t.substr(from, to == std::string::npos ? std::string::npos : to - from));
                block::cells_append(out, &w);
                if (to == std::string::npos) break;
                from = to + 1;
            }
            return;
        }
        *out = word_of(t);
    }
};

// A block of the words of the text, kept reachable until the next test.
Cell load(const char* text) {
    Reader r{text};
    Cell* slot = stack::push(none::cell());
    block::make_at(slot, 8);
    r.values(slot, 0);
    Cell b = *slot;
    stack::pop(1);
    return test::hold(b);
}

Cell* at(const Cell& blk, uint32_t i) {
    return buffer_of(blk.w2)->head_cell() + i;
}

uint32_t sym(const char* name) {
    return symbol::make(name);
}

// Keeps a context reachable until the next test; returns it.
Off held(Off ctx) {
    test::hold(Cell{TYPE_OBJECT, ctx, 0, 0});
    return ctx;
}

// A context with the given words, values in a series.
Off heap_context(std::initializer_list<const char*> names, uint32_t kind = context::KIND_OBJECT,
                 bool self = false) {
    Off ctx = held(context::create(uint32_t(names.size()), false, self, 0, kind));
    for (const char* n : names) {
        Cell w = word::unbound(sym(n));
        context::find_or_add_word(ctx, &w);
    }
    return ctx;
}

Cell bound(Off ctx, const char* name, uint32_t type = TYPE_WORD) {
    Cell w = word::unbound(sym(name), type);
    EXPECT_GE(context::bind_word(ctx, &w), 0) << name;
    return w;
}

// ---- Creation and lookup --------------------------------------------------------------------

TEST_F(ContextTest, CreateWithZeroSlotsIsUsable) {
    Off ctx = held(context::create(0, false, false, 0, context::KIND_OBJECT));
    EXPECT_EQ(context::cell(ctx)->type(), uint32_t(TYPE_CONTEXT));
    EXPECT_EQ(context::self_cell(ctx)->type(), uint32_t(TYPE_UNSET));
    EXPECT_EQ(context::kind(ctx), uint32_t(context::KIND_OBJECT));
    EXPECT_FALSE(context::on_stack(ctx));
    EXPECT_EQ(context::word_count(ctx), 0u);
    Cell w = word::unbound(sym("only-one"));
    Cell v = test::int_cell(5);
    context::put_word(ctx, &w, &v);
    context::put_word(ctx, &w, &v);  // same symbol: no second word
    Cell w2 = word::unbound(sym("second-one"));
    Cell v2 = test::int_cell(6);
    context::put_word(ctx, &w2, &v2);
    EXPECT_EQ(context::word_count(ctx), 2u);
    Cell b = bound(ctx, "SECOND-ONE");
    EXPECT_EQ(context::get_word(&b)->w2, 6u);
}

TEST_F(ContextTest, HeaderCarriesKindStackAndSelfBits) {
    Off f = held(context::create(3, true, false, 0, context::KIND_FUNCTION));
    EXPECT_TRUE(context::on_stack(f));
    EXPECT_FALSE(context::has_self(f));
    EXPECT_EQ(context::kind(f), uint32_t(context::KIND_FUNCTION));
    EXPECT_EQ(context::cell(f)->w2, 0u);
    Off o = held(context::create(3, false, true, 0, context::KIND_OBJECT));
    EXPECT_TRUE(context::has_self(o));
    EXPECT_EQ(context::cell(o)->header & 0xFFu, uint32_t(TYPE_CONTEXT));
    EXPECT_EQ(context::cell(o)->header & header::CONTEXT_KIND_MASK, 2u << header::CONTEXT_KIND_SHIFT);
}

TEST_F(ContextTest, LookupIsCaseInsensitiveOnlyWhenAsked) {
    Off ctx = heap_context({"Alpha"});
    uint32_t lower = sym("alpha");
    EXPECT_EQ(context::find_word(ctx, lower, true), 0);
    EXPECT_EQ(context::find_word(ctx, lower, false), -1);
    int32_t out = -5;
    EXPECT_EQ(context::find_word_at(ctx, sym("beta"), true, &out), -1);
    EXPECT_EQ(out, 1);
    // find_word_at adds the word but no value slot.
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(series::count(context::cell(ctx)->w2), 1u);
    Cell* w = context::word_at(ctx, 1);
    EXPECT_EQ(w->type(), uint32_t(TYPE_WORD));
    EXPECT_EQ(w->w1, ctx);
    EXPECT_EQ(w->w3, 1u);
}

TEST_F(ContextTest, AddWordOnlyAddsAbsentSymbols) {
    Off ctx = heap_context({"gamma"});
    Cell w = word::unbound(sym("GAMMA"));
    Cell v = test::int_cell(9);
    EXPECT_EQ(context::add_word(ctx, &w, &v), nullptr);
    Cell d = word::unbound(sym("delta"));
    Cell* slot = context::add_word(ctx, &d, &v);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->w2, 9u);
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(series::count(context::cell(ctx)->w2), 2u);
}

TEST_F(ContextTest, CollectSetWordsAddsOnlySetWordsFromTheIndex) {
    Off ctx = heap_context({"kept"});
    Cell spec = load("skipped: x kept: fresh: 'lit /ref fresh:");
    spec.w1 = 1;
    EXPECT_TRUE(context::collect_set_words(ctx, &spec));
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(context::find_word(ctx, sym("skipped"), true), -1);
    EXPECT_EQ(context::find_word(ctx, sym("fresh"), true), 1);
    EXPECT_FALSE(context::collect_set_words(ctx, &spec));  // nothing new
    spec.w1 = 100;                                         // past the tail: clamped, nothing read
    EXPECT_FALSE(context::collect_set_words(ctx, &spec));
}

// ---- The global context -----------------------------------------------------------------------

TEST_F(ContextTest, GlobalContextGrowsPastItsInitialRoom) {
    Off g = context::global();
    uint32_t before = context::word_count(g);
    const int n = 6000;
    std::vector<Cell> words;
    for (int i = 0; i < n; ++i) {
        Cell w = word::load(("global-" + std::to_string(i)).c_str());
        Cell v = test::int_cell(i * 3);
        EXPECT_EQ(context::set_word(&w, &v).code, UNWIND_NONE);
        words.push_back(w);
    }
    EXPECT_EQ(context::word_count(g), before + n);
    EXPECT_GT(context::word_count(g), context::GLOBAL_ROOM);
    EXPECT_EQ(series::count(context::cell(g)->w2), context::word_count(g));
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(context::get_word(&words[i])->w2, uint32_t(i * 3)) << i;
        Cell again = word::load(("global-" + std::to_string(i)).c_str());
        ASSERT_EQ(again.w3, words[i].w3);
    }
}

TEST_F(ContextTest, CaseVariantsShareOneGlobalSlot) {
    Cell a = word::load("Shared-Slot");
    Cell b = word::load("shared-slot");
    EXPECT_NE(a.w2, b.w2);  // each keeps its own letter case
    EXPECT_EQ(a.w3, b.w3);
    EXPECT_EQ(a.w1, b.w1);
    Cell v = test::int_cell(41);
    EXPECT_EQ(context::set_word(&b, &v).code, UNWIND_NONE);
    EXPECT_EQ(context::get_word(&a)->w2, 41u);
    // An exact-lookup global of a third variant shares the slot too.
    Cell c = word::make_global(symbol::make("SHARED-SLOT"));
    EXPECT_EQ(c.w3, a.w3);
    EXPECT_EQ(context::get_word(&c)->w2, 41u);
    EXPECT_EQ(context::global_value_at(symbol::make("sHaReD-sLoT"))->w2, 41u);
}

TEST_F(ContextTest, GlobalValueHelpers) {
    Cell w = word::load("helper-global");
    Cell v = test::int_cell(12);
    EXPECT_EQ(context::set_word(&w, &v).code, UNWIND_NONE);
    Cell out;
    context::get_global_into(w.w2, &out);
    EXPECT_EQ(out.w2, 12u);
    // A stack context is replaced by the global context.
    Off f = held(context::create(1, true, false, 0, context::KIND_FUNCTION));
    EXPECT_EQ(context::get_word_value(w.w2, f)->w2, 12u);
    test::expect_error([&] { context::global_value_at(sym("never-made-global")); }, "script", "no-value");
    // get_global_into makes the word global (unset) when it is absent.
    uint32_t fresh = sym("made-by-get-into");
    context::get_global_into(fresh, &out);
    EXPECT_EQ(out.type(), uint32_t(TYPE_UNSET));
    EXPECT_GE(context::find_word(context::global(), fresh, false), 0);
}

// ---- Function and object contexts ----------------------------------------------------------------

TEST_F(ContextTest, MakeCollectsTheWordsOfASpecification) {
    Cell spec = load("a \"doc\" b: 'c :d /e f [g] A /E");
    // A string cell in its spec: use a real string! value (made on the data
    // stack first: the allocation may move the word block's buffer).
    Cell* text = stack::push(none::cell());
    string::make_at(text, 4);
    *at(spec, 1) = *text;
    stack::pop(1);
    Off ctx = held(context::make(&spec, true, false, context::KIND_FUNCTION));
    EXPECT_TRUE(context::on_stack(ctx));
    const char* expected[] = {"a", "c", "d", "e", "f"};
    ASSERT_EQ(context::word_count(ctx), 5u);
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(symbol::name_view(context::word_at(ctx, i)->w2), expected[i]);
        EXPECT_EQ(context::word_at(ctx, i)->w3, i);
    }
    // With values in a series, one unset value per word.
    spec.w1 = 3;  // words are still collected from the head
    Off heap = held(context::make(&spec, false, false, context::KIND_FUNCTION));
    EXPECT_EQ(context::word_count(heap), 5u);
    EXPECT_EQ(series::count(context::cell(heap)->w2), 5u);
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(context::values_at(heap, i)->type(), uint32_t(TYPE_UNSET));
}

TEST_F(ContextTest, StackContextValuesLiveOnTheDataStack) {
    Cell spec = load("x y");
    Off ctx = held(context::make(&spec, true, false, context::KIND_FUNCTION));
    Cell x = bound(ctx, "x"), y = bound(ctx, "y");
    // Not running: reading and setting fail.
    test::expect_error([&] { context::get_word(&x); }, "script", "not-in-context");
    Cell v = test::int_cell(7);
    test::expect_error([&] { (void)context::set_word(&y, &v); }, "script", "not-defined");
    test::expect_error([&] { word::get_local(ctx, 0); }, "script", "not-defined");
    // A call: the arguments on the data stack, the context pointing at them.
    Cell* args = stack::push(test::int_cell(100));
    stack::push(test::int_cell(200));
    context::cell(ctx)->w2 = arena::off(args);
    EXPECT_EQ(context::get_word(&x)->w2, 100u);
    EXPECT_EQ(context::get_word(&y), args + 1);
    EXPECT_EQ(context::set_word(&y, &v).code, UNWIND_NONE);
    EXPECT_EQ(args[1].w2, 7u);
    EXPECT_EQ(word::get_local(ctx, 0)->w2, 100u);
    // Index-based helpers.
    stack::push(test::int_cell(55));
    context::set_in_index(ctx, 0);
    EXPECT_EQ(args[0].w2, 55u);
    context::cell(ctx)->w2 = 0;
    stack::pop(stack::index_of(stack::top) - stack::index_of(args));
}

TEST_F(ContextTest, ObjectContextMarksSetWordsAndNotifiesTheOwner) {
    Off ctx = heap_context({"field", "other"}, context::KIND_OBJECT, true);
    Cell f = bound(ctx, "field");
    Cell v = test::int_cell(3);
    EXPECT_EQ(context::set_word(&f, &v).code, UNWIND_NONE);
    EXPECT_NE(context::word_at(ctx, 0)->header & header::WORD_SET, 0u);
    EXPECT_EQ(context::word_at(ctx, 1)->header & header::WORD_SET, 0u);
    EXPECT_EQ(context::word_at(ctx, 0)->type(), uint32_t(TYPE_WORD));

    // The owner reports changes when its self cell has on-set data.
    static std::vector<std::pair<int32_t, int32_t>> seen;
    seen.clear();
    context::SetNotify saved = context::on_set_notify;
    context::on_set_notify = [](Cell*, const Cell*, Cell* old_value, const Cell* new_value) {
        seen.emplace_back(int32_t(old_value->w2), int32_t(new_value->w2));
        return UNWIND_NONE;
    };
    *context::self_cell(ctx) = Cell{TYPE_OBJECT, ctx, 0, 1};
    Cell* top = stack::top;
    Cell nv = test::int_cell(4);
    EXPECT_EQ(context::set_word(&f, &nv).code, UNWIND_NONE);
    EXPECT_EQ(stack::top, top);
    Cell o = bound(ctx, "other");
    EXPECT_EQ(context::set_in(&o, &nv, ctx, false).code, UNWIND_NONE);  // notify off
    context::on_set_notify = saved;
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::make_pair(3, 4));
    EXPECT_EQ(context::get_word(&f)->w2, 4u);
}

TEST_F(ContextTest, IndexHelpersOfHeapContexts) {
    Off ctx = heap_context({"h0", "h1"}, context::KIND_OBJECT);
    stack::push(test::int_cell(10));
    context::set_in_index(ctx, 1);
    EXPECT_EQ(context::values_at(ctx, 1)->w2, 10u);
    EXPECT_NE(context::word_at(ctx, 1)->header & header::WORD_SET, 0u);
    stack::push(test::int_cell(11));
    Cell* top = stack::top;
    context::replace_in_index(ctx, 1);
    EXPECT_EQ(stack::top, top + 1);
    EXPECT_EQ(stack::top_cell()->w2, 10u);  // the old value pushed
    EXPECT_EQ(context::values_at(ctx, 1)->w2, 11u);
    *stack::arg_base = test::int_cell(12);
    EXPECT_EQ(context::set_from_base(ctx, 0), stack::arg_base);
    EXPECT_EQ(context::values_at(ctx, 0)->w2, 12u);
    test::expect_error([&] { context::set_in_index(ctx, 7); }, "script", "not-in-context");
    // word_for_symbol: the context's own word, else the global one.
    EXPECT_EQ(context::word_for_symbol(ctx, sym("h1")).w1, ctx);
    EXPECT_EQ(context::word_for_symbol(ctx, sym("not-here")).w1, context::global());
}

TEST_F(ContextTest, CloneCopiesWordsInOrderAndRepointsThem) {
    Off ctx = heap_context({"c1", "c2", "c3"}, context::KIND_OBJECT, true);
    Cell holder{TYPE_OBJECT, ctx, 0, 0};
    Off copy = held(context::clone(&holder, context::KIND_OBJECT));
    EXPECT_NE(copy, ctx);
    EXPECT_EQ(holder.w1, copy);
    EXPECT_TRUE(context::has_self(copy));
    ASSERT_EQ(context::word_count(copy), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(context::word_at(copy, i)->w2, context::word_at(ctx, i)->w2);
        EXPECT_EQ(context::word_at(copy, i)->w1, copy);
        EXPECT_EQ(context::word_at(ctx, i)->w1, ctx);
    }
    // The copies are independent.
    Cell w = word::unbound(sym("c4"));
    context::find_or_add_word(copy, &w);
    EXPECT_EQ(context::word_count(copy), 4u);
    EXPECT_EQ(context::word_count(ctx), 3u);
    EXPECT_EQ(context::find_word(ctx, sym("c4"), true), -1);
}

// ---- Binding -----------------------------------------------------------------------------------

TEST_F(ContextTest, BindReachesNestedBlocksParensAndPaths) {
    Off ctx = heap_context({"a", "b", "c"});
    Cell blk = load("a [b (c) [[a]] b/c] 'a :b c: /a #a q 5");
    context::bind(&blk, ctx, false);
    auto check = [&](const Cell* w, const char* name) {
        EXPECT_EQ(w->w1, ctx) << name;
        EXPECT_EQ(int32_t(w->w3), context::find_word(ctx, sym(name), true)) << name;
    };
    check(at(blk, 0), "a");
    Cell inner = *at(blk, 1);
    check(at(inner, 0), "b");
    check(at(*at(inner, 1), 0), "c");
    check(at(*at(*at(inner, 2), 0), 0), "a");
    Cell path = *at(inner, 3);
    check(at(path, 0), "b");
    check(at(path, 1), "c");
    for (uint32_t i = 2; i <= 5; ++i) check(at(blk, i), i == 3 ? "b" : i == 4 ? "c" : "a");
    EXPECT_EQ(at(blk, 6)->w1, 0u);  // issue! is left alone
    EXPECT_EQ(at(blk, 7)->w1, 0u);  // not in the context: unchanged
}

TEST_F(ContextTest, RebindingMovesOnlyTheWordsTheNewContextHas) {
    Off first = heap_context({"r1", "r2"});
    Off second = heap_context({"other", "R2"});
    Cell blk = load("r1 [r2]");
    context::bind(&blk, first, false);
    context::bind(&blk, second, false);
    EXPECT_EQ(at(blk, 0)->w1, first);
    Cell* r2 = at(*at(blk, 1), 0);
    EXPECT_EQ(r2->w1, second);
    EXPECT_EQ(r2->w3, 1u);
}

TEST_F(ContextTest, SelfFlagTurnsOnlyPlainSelfIntoTheSelfReference) {
    Off ctx = heap_context({"x"}, context::KIND_OBJECT, true);
    Cell blk = load("self self: :self x [self]");
    context::bind(&blk, ctx, true);
    EXPECT_EQ(at(blk, 0)->w1, ctx);
    EXPECT_EQ(word::index_of(at(blk, 0)), -1);
    EXPECT_EQ(at(blk, 1)->w1, 0u);  // bound by lookup: the context has no self word
    EXPECT_EQ(at(blk, 2)->w1, 0u);
    Cell* nested = at(*at(blk, 4), 0);
    EXPECT_EQ(nested->w1, ctx);
    // Reading the self reference gives the self cell.
    *context::self_cell(ctx) = Cell{TYPE_OBJECT, ctx, 0, 0};
    Cell s = *at(blk, 0);
    EXPECT_EQ(context::get_word(&s), context::self_cell(ctx));
    // Without the flag, self is bound by lookup like any word.
    Cell again = load("self");
    context::bind(&again, ctx, false);
    EXPECT_EQ(at(again, 0)->w1, 0u);
    EXPECT_EQ(fixed::sym[fixed::SYM_SELF], symbol::make("self"));
}

TEST_F(ContextTest, BindingACyclicBlockTerminates) {
    Off ctx = heap_context({"loop-word"});
    Cell blk = load("loop-word");
    block::cells_append(&blk, &blk);  // the block holds itself
    Cell inner = load("[loop-word]");
    Cell first = *at(inner, 0);  // a copy: the append may move inner's buffer
    block::cells_append(&first, &inner);
    block::cells_append(&blk, &inner);
    context::bind(&blk, ctx, false);
    EXPECT_EQ(at(blk, 0)->w1, ctx);
    EXPECT_EQ(at(*at(inner, 0), 0)->w1, ctx);
    EXPECT_EQ(cycles::depth(), 0u);
}

// ---- Reading and setting -------------------------------------------------------------------------

TEST_F(ContextTest, UnresolvedIndexIsResolvedOnFirstSetAndKept) {
    Off ctx = heap_context({"late"});
    Cell w = word::unbound(sym("late"));
    w.w1 = ctx;  // bound, index unknown
    test::expect_error([&] { context::get_word(&w); }, "script", "no-value");
    Cell v = test::int_cell(8);
    EXPECT_EQ(context::set_word(&w, &v).code, UNWIND_NONE);
    EXPECT_EQ(w.w3, 0u);
    EXPECT_EQ(context::get_word(&w)->w2, 8u);
    // A symbol the context lacks is added by the set.
    Cell n = word::unbound(sym("added-by-set"));
    n.w1 = ctx;
    EXPECT_EQ(context::set_word(&n, &v).code, UNWIND_NONE);
    EXPECT_EQ(n.w3, 1u);
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(context::values_at(ctx, 1)->w2, 8u);
}

TEST_F(ContextTest, BogusIndexesRaiseInsteadOfReadingOutOfBounds) {
    Off heap = heap_context({"only"});
    Cell spec = load("p q");
    Off stk = held(context::make(&spec, true, false, context::KIND_FUNCTION));
    Cell* args = stack::push(test::int_cell(1));
    stack::push(test::int_cell(2));
    context::cell(stk)->w2 = arena::off(args);
    Cell v = test::int_cell(3);
    for (Off ctx : {heap, stk}) {
        for (uint32_t index : {2u, 1000u, 0x7FFFFFFFu}) {
            Cell w{TYPE_WORD, ctx, sym("only"), index};
            test::expect_error([&] { context::get_word(&w); }, "script", "not-in-context");
            test::expect_error([&] { (void)context::set_word(&w, &v); }, "script", "not-in-context");
            test::expect_error([&] { context::set_integer(&w, 5); }, "script", "not-in-context");
            test::expect_error([&] { word::get_local(ctx, index); }, "script", "not-in-context");
        }
    }
    EXPECT_EQ(args[0].w2, 1u);
    EXPECT_EQ(args[1].w2, 2u);
    context::cell(stk)->w2 = 0;
    // An unbound word is not read either.
    Cell u{TYPE_WORD, 0, sym("only"), 0};
    test::expect_error([&] { context::get_word(&u); }, "script", "not-defined");
    test::expect_error([&] { (void)context::set_word(&u, &v); }, "script", "not-defined");
}

TEST_F(ContextTest, SetIntegerResolvesExactlyAndKeepsTheIndex) {
    Off ctx = heap_context({"counter"});
    Cell w{TYPE_WORD, ctx, sym("counter"), 0xFFFFFFFFu};
    EXPECT_EQ(context::set_integer(&w, 77), 77);
    EXPECT_EQ(w.w3, 0u);
    EXPECT_EQ(context::values_at(ctx, 0)->type(), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(context::values_at(ctx, 0)->w2, 77u);
    Cell missing{TYPE_WORD, ctx, sym("COUNTER"), 0xFFFFFFFFu};  // exact lookup: another case
    test::expect_error([&] { context::set_integer(&missing, 1); }, "script", "no-value");
}

}  // namespace
}  // namespace kiv
