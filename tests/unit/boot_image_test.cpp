// The boot image: what the executable's image binds and keeps, the records
// only boot mode reads, and damaged images, which must end start-up with a
// failure status instead of a crash or a silent success.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "boot/startup.h"
#include "datatypes/action_dispatch.h"
#include "datatypes/call_layout.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "evaluator/literal_table.h"
#include "evaluator/natives.h"
#include "library/image.h"
#include "library/library.h"
#include "library/serialize.h"
#include "runtime/lz.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "test_support.h"

namespace kiv {
namespace {

using Bytes = std::vector<uint8_t>;

class BootImage : public test::RuntimeTest {
  protected:
    // Decodes in boot mode, keeping the executable's literal table in force;
    // returns the root position of the first value decoded.
    static uint32_t boot_decode(const Bytes& b, uint32_t* count) {
        return kivbin::load_boot(b.data(), uint32_t(b.size()), true, count);
    }
};

// The literals of the executable's image from `at`: file!/block! pairs.
std::vector<std::string> module_names() {
    std::vector<std::string> names;
    const Cell* cell = literal_table::at(0);
    for (uint32_t i = 0; cell[i].type() == TYPE_FILE; i += 2) {
        EXPECT_EQ(cell[i + 1].type(), TYPE_BLOCK) << i;
        names.push_back(library::to_utf8(cell[i]));
        cell = literal_table::at(0);  // to_utf8 allocates
    }
    return names;
}

TEST_F(BootImage, BindsEveryBuiltinAndKeepsTheModulesAsLiterals) {
    ASSERT_GT(library::BOOT_IMAGE_SIZE, 8u);
    EXPECT_EQ(std::memcmp(library::BOOT_IMAGE, "KIVBIN\x01\x05", 8), 0);  // version 1, compact, symbols
    for (uint32_t n = 1; n <= natives::NATIVE_COUNT; ++n) {
        const Cell v = test::global_value(natives::NAMES[n - 1]);
        EXPECT_EQ(v.type(), TYPE_NATIVE) << natives::NAMES[n - 1];
        EXPECT_EQ(v.w1, n) << natives::NAMES[n - 1];
    }
    for (uint32_t s = 1; s <= ACTION_COUNT; ++s) {
        if (!actions::slot_name(s)[0]) continue;
        const Cell v = test::global_value(actions::slot_name(s));
        EXPECT_EQ(v.type(), TYPE_ACTION) << actions::slot_name(s);
        EXPECT_EQ(v.w1, s) << actions::slot_name(s);
    }
    EXPECT_EQ(test::global_value("integer!").type(), TYPE_DATATYPE);
    EXPECT_EQ(test::global_value("any-type!").type(), TYPE_TYPESET);
    // Literal 0 is the first module's name: the assignments took no slot.
    const std::vector<std::string> names = module_names();
    ASSERT_FALSE(names.empty());
    EXPECT_NE(std::find(names.begin(), names.end(), "library/base.kiv"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "library/operators.kiv"), names.end());
}

// The image carries the own call layout of every native and action (start-up
// computes none), and a damaged table is refused.
TEST_F(BootImage, CarriesTheLayoutOfEveryBuiltin) {
    const Cell* found = library::find_boot_literal(TYPE_ISSUE, "layouts", nullptr);
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(found->type(), TYPE_BINARY);
    const SeriesBuffer* b = buffer_of(found->w2);
    const Bytes table(b->head_ptr(), b->head_ptr() + b->byte_count());
    std::vector<bool> seen[2] = {std::vector<bool>(natives::NATIVE_COUNT + 1), std::vector<bool>(ACTION_COUNT + 1)};
    for (size_t at = 0; at + 9 <= table.size();) {
        uint32_t number, length;
        std::memcpy(&number, &table[at + 1], 4);
        std::memcpy(&length, &table[at + 5], 4);
        const uint32_t kind = table[at];
        ASSERT_LE(kind, 1u);
        ASSERT_LT(number, seen[kind].size());
        seen[kind][number] = true;
        at += 9 + length;
    }
    for (uint32_t n = 1; n <= natives::NATIVE_COUNT; ++n) EXPECT_TRUE(seen[0][n]) << natives::NAMES[n - 1];
    for (uint32_t s = 1; s <= ACTION_COUNT; ++s) {
        if (actions::slot_name(s)[0]) {
            EXPECT_TRUE(seen[1][s]) << actions::slot_name(s);
        }
    }
    // Cut short, or with a record longer than the table: refused.
    EXPECT_FALSE(interpreter::spec::take_own_layouts(table.data(), 5));
    Bytes longer = table;
    const uint32_t huge = 0x7FFFFFFF;
    std::memcpy(&longer[5], &huge, 4);
    EXPECT_FALSE(interpreter::spec::take_own_layouts(longer.data(), uint32_t(longer.size())));
    // The whole table, as start-up takes it: every record fits what it holds.
    EXPECT_TRUE(interpreter::spec::take_own_layouts(table.data(), uint32_t(table.size())));
}

// Bytes of a compact buffer with the symbol table {"a"} and these records.
Bytes with_symbol_a(std::initializer_list<uint8_t> records, uint8_t version = 1) {
    Bytes b(18 + records.size());
    const uint8_t head[18] = {'K', 'I', 'V', 'B', 'I', 'N', version, 5, 1, uint8_t(records.size()),
                              1,   2,   0,   0,   0,   0,   'a',     0};
    std::memcpy(b.data(), head, sizeof head);
    std::copy(records.begin(), records.end(), b.begin() + 18);
    return b;
}

// Boot mode: assignments into a context named by root position, words bound
// the same way (index -1: found by name), and copies of a value at a path.
TEST_F(BootImage, BootModeRecords) {
    const uint8_t obj = TYPE_OBJECT, ctx = TYPE_CONTEXT, word_alt = TYPE_WORD | 0x40;
    // [object [a: 1]], then a/in-o: 5 (not kept), the word a bound in o at
    // index 0, the word a found by name, and a copy of literal 0.
    const Bytes b = with_symbol_a({obj, 0, ctx, 2 | 16, 1, 0, 0x81,               //
                                   0xC4, word_alt, 0, 0, 0, 0x85,                 //
                                   word_alt, 0, 0, 0,                             //
                                   0xC0, word_alt, 0, 0, 1,                       //
                                   0xFF, 1, 0});
    const bool collecting = memory::collection_enabled;
    uint32_t count = 0;
    const uint32_t at = boot_decode(b, &count);
    EXPECT_EQ(memory::collection_enabled, collecting);
    ASSERT_EQ(count, 4u);
    const Cell o = *root::at(at), w = *root::at(at + 1), found = *root::at(at + 2), copy = *root::at(at + 3);
    ASSERT_EQ(o.type(), TYPE_OBJECT);
    EXPECT_EQ(test::mold_text(*context::values_at(o.w1, 0)), "5");
    EXPECT_EQ(w.type(), TYPE_WORD);
    EXPECT_EQ(w.w1, o.w1);
    EXPECT_EQ(w.w3, 0u);
    EXPECT_EQ(found.w1, o.w1);
    EXPECT_EQ(found.w3, 0u);
    EXPECT_TRUE(found.new_line());
    EXPECT_EQ(copy.type(), TYPE_OBJECT);
    EXPECT_EQ(copy.w1, o.w1);

    // The same records are refused outside boot mode.
    Cell* target = stack::push(Cell{TYPE_NONE, 0, 0, 0});
    block::make_at(target, 4);
    test::expect_error([&] { kivbin::decode(b.data(), uint32_t(b.size()), target, kivbin::LOAD); }, "script",
                       "kb-invalid-record");
}

// The fixed-width layout in boot mode: words carry the root position of
// their context's holder (0xFFFFFFFF: global) and bit 25 makes an
// assignment.
TEST_F(BootImage, FixedWidthBootRecords) {
    std::vector<uint32_t> words = {
        TYPE_OBJECT, 0, TYPE_CONTEXT | 2u << 26 | 1u << 30, 1, 0, TYPE_INTEGER, 1,  // o: object [a: 1]
        TYPE_WORD | 1u << 25, 0, 0, 0xFFFFFFFFu, TYPE_INTEGER, 7,                   // o/a: 7
        TYPE_WORD, 0, 0, 0,                                                        // a in o
        TYPE_WORD, 0, 0xFFFFFFFFu, 0,                                              // a, global
    };
    Bytes b = {'K', 'I', 'V', 'B', 'I', 'N', 1, 4};
    auto word = [&b](uint32_t w) {
        for (int k = 0; k < 4; ++k) b.push_back(uint8_t(w >> (8 * k)));
    };
    word(4);
    word(uint32_t(words.size() * 4));
    word(1);  // one symbol, "a", in an area of 8 bytes
    word(8);
    word(0);
    const uint8_t area[8] = {'a'};
    b.insert(b.end(), area, area + 8);
    for (uint32_t w : words) word(w);
    uint32_t count = 0;
    const uint32_t at = boot_decode(b, &count);
    ASSERT_EQ(count, 3u);
    const Cell o = *root::at(at), bound = *root::at(at + 1), global = *root::at(at + 2);
    ASSERT_EQ(o.type(), TYPE_OBJECT);
    EXPECT_EQ(test::mold_text(*context::values_at(o.w1, 0)), "7");
    EXPECT_EQ(bound.w1, o.w1);
    EXPECT_EQ(global.w1, context::global());
    // A root position past the values decoded so far is refused.
    b[b.size() - 8] = 9;
    test::expect_error([&] { boot_decode(b, nullptr); }, "script", "kb-invalid-record");
}

// Damaged images raise errors, and leave the collector and the literal
// table as they were.
TEST_F(BootImage, DamagedImagesAreRefused) {
    const Bytes good(library::BOOT_IMAGE, library::BOOT_IMAGE + library::BOOT_IMAGE_SIZE);
    const uint8_t obj = TYPE_OBJECT, ctx = TYPE_CONTEXT, word_alt = TYPE_WORD | 0x40;
    Bytes bad_magic = good;
    bad_magic[1] = 'X';
    Bytes packed(good.begin(), good.begin() + 8);
    const Bytes stream = lz::compress(good.data() + 8, good.size() - 8);
    packed.insert(packed.end(), stream.begin(), stream.end());
    packed[7] |= kivbin::FLAG_COMPRESSED;
    Bytes corrupt = packed;  // the first block's length becomes 0
    std::memset(corrupt.data() + 16, 0, 4);
    const struct {
        Bytes bytes;
        const char* id;
    } cases[] = {
        {Bytes{}, "invalid-data"},
        {Bytes(good.begin(), good.begin() + 5), "invalid-data"},
        {bad_magic, "invalid-data"},
        {corrupt, "invalid-data"},
        {Bytes(good.begin(), good.begin() + good.size() / 3), "kb-invalid-record"},
        {Bytes(good.begin(), good.end() - 1), "kb-invalid-record"},
        {with_symbol_a({word_alt, 0, 5, 0}), "kb-invalid-record"},                           // no root value 5
        {with_symbol_a({0x81, word_alt, 0, 0, 0}), "kb-invalid-record"},                     // an integer holds no context
        {with_symbol_a({obj, 0, ctx, 2, 1, 0, word_alt, 0, 0, 2}), "kb-invalid-record"},     // index 1 of 1 word
        {with_symbol_a({obj, 0, ctx, 2, 0, 0xC4, word_alt, 0, 0, 1, 0x81}), "kb-invalid-record"},  // a not in o
        {with_symbol_a({0xC4, 0x80 + 1, 0x81}), "kb-invalid-record"},                        // assigning to an integer
        {with_symbol_a({0xFF, 1, 3}), "kb-invalid-record"},                                  // a copy of nothing
    };
    const Off base = literal_table::base;
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(i++);
        memory::collection_enabled = true;
        test::expect_error([&] { boot_decode(c.bytes, nullptr); }, "script", c.id);
        EXPECT_TRUE(memory::collection_enabled);
        EXPECT_EQ(literal_table::base, base);
    }
    // The compressed form of the sound image is read.
    uint32_t count = 0;
    boot_decode(packed, &count);
    EXPECT_GT(count, 0u);
}

// Start-up with a damaged image ends the process with the error's report
// and a failure status.
[[noreturn]] void start_with(const uint8_t* bytes, uint32_t size) {
    library::use_image(bytes, size);
    char name[] = "kiv", cli[] = "--cli";
    char* argv[] = {name, cli, nullptr};
    entry(2, argv);
}

TEST(BootImageDeathTest, DamagedImageEndsStartUpWithFailure) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static const uint8_t cut[] = {'K', 'I', 'V', 'B', 'I', 'N', 1, 5, 1, 9, 0, 0};
    static const uint8_t not_kivbin[] = {'K', 'i', 'v', ' ', '[', ']'};
    EXPECT_EXIT(start_with(cut, sizeof cut), testing::ExitedWithCode(254), "Script Error");
    EXPECT_EXIT(start_with(not_kivbin, sizeof not_kivbin), testing::ExitedWithCode(254), "Script Error");
}

}  // namespace
}  // namespace kiv
