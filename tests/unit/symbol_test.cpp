// Symbols: interning with ASCII-case aliases, name strings, comparison and
// growth of the symbol table.
#include "datatypes/symbol.h"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/word.h"
#include "runtime/hashtable.h"
#include "test_support.h"

namespace kiv {
namespace {

class SymbolTest : public test::RuntimeTest {};

uint32_t unit_of_name(uint32_t id) {
    return buffer_of(symbol::ensure_string(id))->unit();
}

TEST_F(SymbolTest, CaseVariantsGetTheirOwnIdsAndShareTheFirstAsCanonical) {
    uint32_t first = symbol::make("Zfoo");
    uint32_t lower = symbol::make("zfoo");
    uint32_t upper = symbol::make("ZFOO");
    EXPECT_NE(first, lower);
    EXPECT_NE(first, upper);
    EXPECT_NE(lower, upper);
    EXPECT_EQ(symbol::get_alias(first), -1);
    EXPECT_EQ(symbol::get_alias(lower), int32_t(first));
    EXPECT_EQ(symbol::get_alias(upper), int32_t(first));  // the first-interned variant, not the latest
    for (uint32_t id : {first, lower, upper}) EXPECT_EQ(symbol::resolve(id), first);
    EXPECT_EQ(hashtable::canonical_symbol(upper), first);
    EXPECT_EQ(symbol::name_view(upper), "ZFOO");
}

TEST_F(SymbolTest, InterningAgainReturnsTheSameIdAndAddsNothing) {
    uint32_t id = symbol::make("twice-interned");
    uint32_t n = symbol::count();
    EXPECT_EQ(symbol::make("twice-interned"), id);
    EXPECT_EQ(symbol::make_from_utf8("twice-interned"), id);
    EXPECT_EQ(symbol::count(), n);
}

TEST_F(SymbolTest, AnyCaseInterningFindsAnyVariantOrAddsWithoutAlias) {
    uint32_t bar = symbol::make("Anybar");
    uint32_t n = symbol::count();
    EXPECT_EQ(symbol::make_any_case("ANYBAR"), bar);
    EXPECT_EQ(symbol::count(), n);
    uint32_t qux = symbol::make_any_case("ANYQUX");
    EXPECT_EQ(symbol::count(), n + 1);
    EXPECT_EQ(symbol::get_alias(qux), -1);
    EXPECT_EQ(symbol::name_view(qux), "ANYQUX");
    // A later default interning of a variant takes it as its twin.
    EXPECT_EQ(symbol::get_alias(symbol::make("anyqux")), int32_t(qux));
}

TEST_F(SymbolTest, NonAsciiLettersAreNotFolded) {
    uint32_t a = symbol::make("\xC3\x84rger");  // Ärger
    uint32_t b = symbol::make("\xC3\xA4rger");  // ärger
    EXPECT_NE(a, b);
    EXPECT_EQ(symbol::get_alias(b), -1);
    EXPECT_EQ(symbol::resolve(b), b);
}

TEST_F(SymbolTest, EmptyNameIsASymbol) {
    uint32_t id = symbol::make("");
    EXPECT_TRUE(symbol::valid(id));
    EXPECT_EQ(symbol::name_length(id), 0u);
    EXPECT_EQ(symbol::name(id)[0], '\0');
    EXPECT_EQ(series::count(symbol::ensure_string(id)), 0u);
    EXPECT_EQ(symbol::make_from_utf8(nullptr, 0), id);
}

TEST_F(SymbolTest, UntwinnedSymbolHasAliasMinusOneAndResolvesToItself) {
    uint32_t id = symbol::make("solitary-name");
    EXPECT_EQ(symbol::get_alias(id), -1);
    EXPECT_EQ(symbol::resolve(id), id);
}

TEST_F(SymbolTest, NameStringIsBuiltOnceWithTheNarrowestUnit) {
    struct Case {
        const char* name;
        uint32_t unit;
        uint32_t chars;
    } cases[] = {
        {"plain", 1, 5},
        {"caf\xC3\xA9", 1, 4},             // é fits one byte
        {"\xE2\x82\xAC-sign", 2, 6},       // € needs two
        {"smile-\xF0\x9F\x98\x80", 4, 7},  // U+1F600 needs four
    };
    for (const Case& c : cases) {
        uint32_t id = symbol::make(c.name);
        EXPECT_EQ(symbol::cell(id)->w2, 0u) << c.name;  // lazily made
        Off node = symbol::ensure_string(id);
        EXPECT_NE(node, 0u);
        EXPECT_EQ(symbol::ensure_string(id), node) << "made once";
        EXPECT_EQ(symbol::get(id)->w2, node);
        EXPECT_EQ(unit_of_name(id), c.unit) << c.name;
        EXPECT_EQ(series::count(node), c.chars) << c.name;
        EXPECT_EQ(test::string_text(Cell{TYPE_STRING, 0, node, 0}), c.name);
    }
}

TEST_F(SymbolTest, NameCstringIsTerminatedWithoutChangingTheLength) {
    uint32_t id = symbol::make("terminated");
    const uint8_t* p = symbol::name_cstring(id);
    EXPECT_STREQ(reinterpret_cast<const char*>(p), "terminated");
    EXPECT_EQ(series::count(symbol::ensure_string(id)), 10u);
    // A name exactly filling its 16-byte buffer still gets its terminator.
    uint32_t full = symbol::make("sixteen-chars-xx");
    const uint8_t* q = symbol::name_cstring(full);
    EXPECT_STREQ(reinterpret_cast<const char*>(q), "sixteen-chars-xx");
    EXPECT_EQ(series::count(symbol::ensure_string(full)), 16u);
}

TEST_F(SymbolTest, InvalidUtf8IsInternedButItsNameStringRaises) {
    const uint8_t bad[] = {'x', 0xFF, 'y'};
    uint32_t id = symbol::make_from_utf8(bad, 3);
    EXPECT_EQ(symbol::make_from_utf8(bad, 3), id);
    EXPECT_EQ(symbol::name_length(id), 3u);
    test::expect_error([&] { symbol::ensure_string(id); }, "access", "invalid-utf8");
    EXPECT_EQ(symbol::cell(id)->w2, 0u);
}

TEST_F(SymbolTest, FromStringTakesTheTextFromItsIndexInAnyWidth) {
    uint32_t hello = symbol::make("hello-str");
    // The strings live in data-stack cells: interning allocates.
    Cell* s = test::root_slot();
    string::make_at(s, 8);
    string::concatenate_literal(s, "xyhello-str");
    s->w1 = 2;
    EXPECT_EQ(symbol::make_from_string(s), hello);
    // A wide string interns its UTF-8 form.
    uint32_t euro = symbol::make(
        "\xE2\x82\xAC"
        "x");
    Cell* w = test::root_slot();
    string::make_at_width(w, 4, 2);
    SeriesBuffer* b = string::append_char(buffer_of(w->w2), 0x20AC);
    string::append_char(b, 'x');
    EXPECT_EQ(symbol::make_from_string(w), euro);
    // Index past the tail: the empty name.
    s->w1 = 50;
    EXPECT_EQ(symbol::make_from_string(s), symbol::make(""));
}

TEST_F(SymbolTest, CompareGoesThroughTheNames) {
    Cell a = *symbol::cell(symbol::make("CmpName"));
    Cell b = *symbol::cell(symbol::make("cmpname"));
    Cell c = *symbol::cell(symbol::make("cmpnamf"));
    EXPECT_EQ(symbol::compare(&a, &b, COMP_EQUAL), 0);
    EXPECT_NE(symbol::compare(&a, &b, COMP_STRICT_EQUAL), 0);
    EXPECT_LT(symbol::compare(&b, &c, COMP_LESSER), 0);
    EXPECT_GT(symbol::compare(&c, &a, COMP_GREATER), 0);
    Cell i = test::int_cell(1);
    EXPECT_EQ(symbol::compare(&a, &i, COMP_EQUAL), NOT_COMPARABLE);
    // Comparing built the name strings in the table itself (not in copies).
    EXPECT_NE(symbol::cell(symbol::make("CmpName"))->w2, 0u);
}

TEST_F(SymbolTest, TableGrowsPastItsInitialRoomAndKeepsEveryId) {
    std::vector<uint32_t> ids;
    uint32_t before = symbol::count();
    for (int i = 0; i < 9000; ++i) ids.push_back(symbol::make(("grow-" + std::to_string(i)).c_str()));
    EXPECT_EQ(symbol::count(), before + 9000);
    EXPECT_GT(symbol::count(), symbol::TABLE_ROOM);
    for (int i = 0; i < 9000; ++i) {
        std::string n = "grow-" + std::to_string(i);
        ASSERT_EQ(symbol::name_view(ids[i]), n);
        ASSERT_EQ(symbol::make(n.c_str()), ids[i]);
    }
    // Case variants still find their twin after the index was rebuilt.
    EXPECT_EQ(symbol::get_alias(symbol::make("GROW-17")), int32_t(ids[17]));
}

TEST_F(SymbolTest, BadIdsAreRefusedNotRead) {
    uint32_t past = symbol::count() + 1;
    EXPECT_FALSE(symbol::valid(0));
    EXPECT_FALSE(symbol::valid(past));
    test::expect_error([&] { symbol::name(past); }, "script", "out-of-range");
    test::expect_error([&] { symbol::ensure_string(0); }, "script", "out-of-range");
    EXPECT_EQ(symbol::resolve(past), past);
}

TEST_F(SymbolTest, AnyTypeTestIgnoresCase) {
    Cell w = word::unbound(symbol::make("ANY-TYPE!"));
    EXPECT_TRUE(symbol::is_any_type(&w));
    Cell v = word::unbound(symbol::make("any-value!"));
    EXPECT_FALSE(symbol::is_any_type(&v));
}

TEST_F(SymbolTest, SymbolTypeOnlyCompares) {
    for (uint32_t slot = 1; slot <= ACTION_COUNT; ++slot) {
        if (slot == ACT_COMPARE)
            EXPECT_NE(datatype::lookup(TYPE_SYMBOL, slot), nullptr);
        else
            EXPECT_EQ(datatype::lookup(TYPE_SYMBOL, slot), nullptr) << slot;
    }
}

}  // namespace
}  // namespace kiv
