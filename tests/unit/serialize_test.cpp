// The serialization format's compact layout: round trips of every value the
// lexer makes, shared series, cycles and object-bound words; the byte forms
// the layout fixes; and hostile buffers refused with kb-invalid-record.
#include "library/serialize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/error.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/lexer_values.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "interp_support.h"
#include "platform/image.h"
#include "runtime/collector.h"
#include "runtime/externals.h"
#include "runtime/lz.h"
#include "test_support.h"

namespace kiv {
namespace {

using Bytes = std::vector<uint8_t>;

class Serialize : public test::RuntimeTest {
  protected:
    static void SetUpTestSuite() {
        test::boot_runtime();
        lexer::init();
    }
};

// The values of a text, as a block on the data stack.
Cell* load(const std::string& text) {
    Cell* s = stack::push(none::cell());
    string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), s, string::ENC_UTF8);
    Cell* out = stack::push(none::cell());
    uint32_t used = 0;
    lexer::load(out, s, -1, lexer::Options{}, &used);
    return out;
}

Bytes bytes_of(const Cell* bin) {
    const SeriesBuffer* b = buffer_of(bin->w2);
    return Bytes(b->head_ptr(), b->head_ptr() + b->byte_count());
}

// The layout the round-trip tests write: compact, or fixed-width.
bool fixed_layout = false;

Bytes encode(const Cell* v, bool symbols = true) {
    Cell* out = stack::push(none::cell());
    if (fixed_layout) {
        kivbin::encode(v, out, symbols);
    } else {
        kivbin::encode_cp(v, out, symbols);
    }
    return bytes_of(out);
}

// Decodes into a new block on the data stack.
Cell* decode(const Bytes& b) {
    Cell* target = stack::push(none::cell());
    block::make_at(target, 4);
    kivbin::decode(b.data(), uint32_t(b.size()), target, kivbin::LOAD);
    return target;
}

Cell first(const Cell* blk) {
    return *buffer_of(blk->w2)->head_cell();
}

bool block_like(uint32_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_MAP || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}

// Two values are the same tree: same headers and payloads; series compared
// by content (units and bytes, or cells in turn); words by symbol, and
// global words stay global.
bool same_tree(const Cell& a, const Cell& b, int depth = 0) {
    const uint32_t t = a.type();
    if (a.header != b.header || depth > 50) return false;
    if (block_like(t) || t == TYPE_HASH) {
        if (t != TYPE_MAP && a.w1 != b.w1) return false;
        if (t == TYPE_HASH && !b.w3) return false;
        const SeriesBuffer *x = buffer_of(a.w2), *y = buffer_of(b.w2);
        if (x->byte_count() != y->byte_count()) return false;
        for (uint32_t i = 0; i < x->byte_count() / 16; ++i)
            if (!same_tree(buffer_of(a.w2)->head_cell()[i], buffer_of(b.w2)->head_cell()[i], depth + 1))
                return false;
        return true;
    }
    if (t == TYPE_BINARY || (t >= TYPE_STRING && t <= TYPE_URL) || t == TYPE_TAG || t == TYPE_EMAIL ||
        t == TYPE_REF || t == TYPE_VECTOR) {
        if (t == TYPE_VECTOR && a.w3 != b.w3) return false;
        const SeriesBuffer *x = buffer_of(a.w2), *y = buffer_of(b.w2);
        return a.w1 == b.w1 && x->unit() == y->unit() && x->byte_count() == y->byte_count() &&
               std::memcmp(x->head_ptr(), y->head_ptr(), x->byte_count()) == 0;
    }
    if (t >= TYPE_WORD && t <= TYPE_ISSUE) {
        const bool ga = a.w1 == context::global(), gb = b.w1 == context::global();
        return a.w2 == b.w2 && ga == gb;
    }
    return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

// Round trips run in both layouts.
class SerializeBoth : public Serialize, public testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        Serialize::SetUp();
        fixed_layout = GetParam();
    }
    void TearDown() override {
        fixed_layout = false;
        Serialize::TearDown();
    }
};
INSTANTIATE_TEST_SUITE_P(Layouts, SerializeBoth, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& i) { return i.param ? "Fixed" : "Compact"; });

// The records of a value encoded without a symbol table (after the two counts).
Bytes records(const Cell* v) {
    const Bytes b = encode(v, false);
    EXPECT_EQ(b[7], kivbin::FLAG_COMPACT);
    return Bytes(b.begin() + 10, b.end());
}

TEST_P(SerializeBoth, EveryLexedValueRoundTrips) {
    const char* texts[] = {
        "[0 63 64 -1 2147483647 -2147483648]",
        "[1.0 0.5 -0.0 1.5e300 -2.25 50% 12.5% 0.1% 3:04:05 -1:00 0:00:00.5]",
        "[1-Jan-2000 29-Feb-2024/10:30:00+2:00 1-Jan-1900/0:00-5:30]",
        "[#\"a\" #\"^(1F600)\" #\"^@\" 1x2 -3x-4 (1.5, 2.5) (1, 2, 3)]",
        "[1.2.3 1.2.3.4.5.6.7.8.9.10.11.12 $1.50 -$2 EUR$3.25]",
        "[none true false #issue word set: 'lit :get /ref]",
        "[\"str\" \"ça\" \"😀 wide\" %file.txt http://x.y/z <tag a=1> a@b.c]",
        "[[nested [deep [deeper]]] (paren) a/b/c 'a/b :a/b a/b: []]",
        "[\n a\n b c\n]",
    };
    // A map, with keys and values of several kinds.
    Cell* pairs = load("[k: 1 \"s\" [2] 3 #\"c\"]");
    Cell* map = stack::push(none::cell());
    // A copy of the six cells: making the map allocates, which may move the
    // block's buffer (the values stay reachable through `pairs`).
    Cell kv[6];
    std::memcpy(kv, buffer_of(first(pairs).w2)->head_cell(), sizeof kv);
    ASSERT_TRUE(lexer::values::make_map(map, kv, 6));
    EXPECT_TRUE(same_tree(first(decode(encode(map))), *map));
    for (const char* text : texts) {
        try {
            Cell* v = load(text);
            const Cell original = first(v);
            const Cell back = first(decode(encode(&original)));
            EXPECT_TRUE(same_tree(back, original)) << text;
        } catch (const RaisedError& e) {
            ADD_FAILURE() << text << ": " << raised_text(e);
        }
    }
}

TEST_P(SerializeBoth, ScalarsWithoutLiterals) {
    for (const Cell& c : {Cell{TYPE_UNSET, 0, 0, 0}, Cell{TYPE_DATATYPE, TYPE_BLOCK, 0, 0}}) {
        const Cell back = first(decode(encode(&c)));
        EXPECT_EQ(back.type(), c.type());
        EXPECT_EQ(back.w1, c.w1);
    }
    Cell* bin = stack::push(none::cell());
    lexer::values::make_binary(bin, 3);
    SeriesBuffer* b = buffer_of(bin->w2);
    std::memcpy(b->head_ptr(), "\x00\xFF\x10", 3);
    b->tail = b->head + 3;
    bin->w1 = 1;
    const Cell back = first(decode(encode(bin)));
    EXPECT_EQ(back.type(), TYPE_BINARY);
    EXPECT_EQ(back.w1, 1u);
    EXPECT_EQ(bytes_of(&back), (Bytes{0x00, 0xFF, 0x10}));
}

// The byte forms: small integers in one byte, floats in integer form when
// exact, negative zero in full, and a string written once then referenced.
TEST_F(Serialize, CompactForms) {
    const Cell ints[] = {test::int_cell(0), test::int_cell(63), test::int_cell(64), test::int_cell(-1)};
    EXPECT_EQ(records((&ints[0])), (Bytes{0x80}));
    EXPECT_EQ(records((&ints[1])), (Bytes{0xBF}));
    EXPECT_EQ(records((&ints[2])), (Bytes{TYPE_INTEGER, 0x80, 0x01}));
    EXPECT_EQ(records((&ints[3])), (Bytes{TYPE_INTEGER, 0x01}));
    const Cell one = test::float_cell(1.0), half = test::float_cell(0.5), zero = test::float_cell(-0.0);
    EXPECT_EQ(records((&one)), (Bytes{TYPE_FLOAT | 0x40, 0x02}));
    EXPECT_EQ(records((&half)).size(), 9u);
    EXPECT_EQ(records((&zero)).size(), 9u);
    EXPECT_TRUE(std::signbit(first(decode(encode(&zero))).get_f64()));
}

// bitset! keeps its bytes and complement flag; hash! gets a new table over
// its values; both are shared when met twice.
TEST_P(SerializeBoth, BitsetsAndHashes) {
    Cell* bits = stack::push(none::cell());
    bitset::make_at(bits, 3, 0);
    std::memcpy(buffer_of(bits->w2)->head_ptr(), "\x81\x00\x7F", 3);
    buffer_of(bits->w2)->flags |= series_flag::COMPLEMENT;
    Cell* h = load("[a 1 \"x\" b]");
    hash::index_block(h);
    h->w1 = 1;
    Cell* list = load("[]");
    Cell l = first(list);
    for (const Cell* v : {bits, h, bits, h}) block::cells_append(&l, v);
    const Cell back = first(decode(encode(&l)));
    const Cell* c = buffer_of(back.w2)->head_cell();
    ASSERT_EQ(c[0].type(), TYPE_BITSET);
    EXPECT_EQ(Bytes(buffer_of(c[0].w2)->head_ptr(), buffer_of(c[0].w2)->tail_ptr()),
              (Bytes{0x81, 0x00, 0x7F}));
    EXPECT_TRUE(buffer_of(c[0].w2)->flags & series_flag::COMPLEMENT);
    EXPECT_TRUE(bitset::test_bit(&c[0], 100));  // past the bytes: the flag
    ASSERT_EQ(c[1].type(), TYPE_HASH);
    EXPECT_NE(c[1].w3, 0u);
    EXPECT_EQ(c[1].w1, 1u);
    EXPECT_EQ(c[2].w2, c[0].w2);
    EXPECT_EQ(c[3].w2, c[1].w2);
    EXPECT_EQ(c[3].w3, c[1].w3);
    EXPECT_TRUE(same_tree(c[1], *h));
}

TEST_P(SerializeBoth, SharedSeriesAndCycles) {
    // A block holding one string twice: the second time a reference.
    Cell* blk = load("[\"shared\"]");
    Cell str = *buffer_of(first(blk).w2)->head_cell();
    Cell inner = first(blk);
    block::cells_append(&inner, &str);
    const Bytes b = encode(&inner);
    const std::string text(b.begin(), b.end());
    EXPECT_EQ(text.find("shared"), text.rfind("shared"));  // the characters once
    const Cell back = first(decode(b));
    const Cell* cells = buffer_of(back.w2)->head_cell();
    EXPECT_EQ(cells[0].w2, cells[1].w2);
    EXPECT_NE(cells[0].w2, str.w2);

    // A block that holds itself, at a position.
    Cell* self = load("[a b]");
    Cell s = first(self);
    Cell at = s;
    at.w1 = 1;
    block::cells_append(&s, &at);
    const Cell cyc = first(decode(encode(&s)));
    const Cell* c = buffer_of(cyc.w2)->head_cell();
    EXPECT_EQ(c[2].type(), TYPE_BLOCK);
    EXPECT_EQ(c[2].w2, cyc.w2);
    EXPECT_EQ(c[2].w1, 1u);
}

TEST_P(SerializeBoth, ObjectsAndTheirWords) {
    // o: object [a: 1 b: [a]] with `a` in b bound to o, and [o o/b-word].
    Cell* holder = stack::push(none::cell());
    const Off ctx = context::create(2, false, true, 0, context::KIND_OBJECT);
    const Cell obj = object::cell(ctx, 7, 0);
    *context::self_cell(ctx) = obj;
    *holder = obj;
    Cell* body = load("[a]");
    Cell inner = first(body);
    const Cell one = test::int_cell(1);
    const Cell wa = word::unbound(symbol::make("a")), wb = word::unbound(symbol::make("b"));
    context::add_word(ctx, &wa, &one);
    context::add_word(ctx, &wb, &inner);
    context::bind(&inner, ctx, false);
    Cell* outer = load("[]");
    Cell list = first(outer);
    block::cells_append(&list, &obj);
    Cell bound_a = *buffer_of(inner.w2)->head_cell();
    block::cells_append(&list, &bound_a);

    const Cell back = first(decode(encode(&list)));
    const Cell* cells = buffer_of(back.w2)->head_cell();
    ASSERT_EQ(cells[0].type(), TYPE_OBJECT);
    EXPECT_EQ(int32_t(cells[0].w2), 7);
    const Off nctx = cells[0].w1;
    EXPECT_NE(nctx, ctx);
    EXPECT_EQ(test::mold_text(*context::values_at(nctx, 0)), "1");
    cells = buffer_of(back.w2)->head_cell();  // molding allocates: re-read
    // The word after the object, and the word inside b, share its context.
    EXPECT_EQ(cells[1].w1, nctx);
    EXPECT_EQ(cells[1].w3, 0u);
    const Cell nb = *context::values_at(nctx, 1);
    EXPECT_EQ(buffer_of(nb.w2)->head_cell()->w1, nctx);

    // A word met before its object carries the object inline.
    Cell* lone = load("[]");
    Cell l = first(lone);
    block::cells_append(&l, &bound_a);
    const Cell w = *buffer_of(first(decode(encode(&l))).w2)->head_cell();
    EXPECT_EQ(w.type(), TYPE_WORD);
    EXPECT_EQ(context::kind(w.w1), uint32_t(context::KIND_OBJECT));
    EXPECT_EQ(test::mold_text(*context::values_at(w.w1, 0)), "1");
}

// Images hold pixel buffers outside the arena until a collection releases
// them: each test drops its images and collects before it ends.
struct ReleaseImages {
    Cell* const top = stack::top;
    ~ReleaseImages() {
        stack::top = top;
        collector::collect();
    }
};

// An image's size and pixels come back; the same image twice is one image,
// an empty one stays empty.
TEST_P(SerializeBoth, Images) {
    ReleaseImages release;
    Cell* img = image::push_new(3, 2);
    uint32_t* px = os_image::pixels(img, true);
    for (uint32_t i = 0; i < 6; ++i) px[i] = 0xFF000000u | i * 0x010203u;
    Cell* empty = image::push_new(0, 4);
    Cell* blk = load("[]");
    Cell list = first(blk);
    Cell at = *img;
    at.w1 = 2;
    block::cells_append(&list, img);
    block::cells_append(&list, &at);
    block::cells_append(&list, empty);
    const Cell back = first(decode(encode(&list)));
    const Cell a = buffer_of(back.w2)->head_cell()[0], b = buffer_of(back.w2)->head_cell()[1],
               e = buffer_of(back.w2)->head_cell()[2];
    ASSERT_EQ(a.type(), TYPE_IMAGE);
    EXPECT_EQ(os_image::width(&a), 3u);
    EXPECT_EQ(os_image::height(&a), 2u);
    EXPECT_NE(a.w2, img->w2);
    EXPECT_EQ(b.w2, a.w2);  // shared
    EXPECT_EQ(b.w1, 2u);
    const uint32_t* got = os_image::pixels(&a, false);
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(got[i], 0xFF000000u | i * 0x010203u) << i;
    EXPECT_EQ(e.type(), TYPE_IMAGE);
    EXPECT_EQ(os_image::pixel_count(&e), 0u);
    // Pixels missing from the input, and a side above 65535.
    const Bytes sound = encode(img);
    for (size_t cut = sound.size() - 4; cut < sound.size(); ++cut)
        test::expect_error([&] { decode(Bytes(sound.begin(), sound.begin() + cut)); }, "script",
                           "kb-invalid-record");
    if (!fixed_layout)
        test::expect_error(
            [&] {
                decode(Bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 5, TYPE_IMAGE, 0x80, 0x80, 0x04, 0});
            },
            "script", "kb-invalid-record");
}

// Decoded images are released with their values: the registry of their
// pixel buffers does not grow with the number of decodes.
TEST_F(Serialize, DecodedImagesAreReleased) {
    ReleaseImages release;
    Cell* img = image::push_new(4, 4);
    const Bytes b = encode(img);
    Cell* const top = stack::top;
    collector::collect();
    const uint32_t before = externals::live_count();
    for (int i = 0; i < 200; ++i) {
        decode(b);
        stack::top = top;
    }
    collector::collect();
    EXPECT_LE(externals::live_count(), before + 2);
}

// A vector of every element type and size, with a head index, round-trips;
// the same vector twice comes back as one vector.
TEST_P(SerializeBoth, Vectors) {
    const struct {
        uint32_t elem_type, unit;
    } shapes[] = {{TYPE_CHAR, 1},  {TYPE_CHAR, 2},  {TYPE_CHAR, 4},    {TYPE_INTEGER, 1}, {TYPE_INTEGER, 2},
                  {TYPE_INTEGER, 4}, {TYPE_FLOAT, 4}, {TYPE_FLOAT, 8}, {TYPE_PERCENT, 8}};
    for (const auto& s : shapes) {
        for (uint32_t n : {0u, 3u}) {
            Cell* v = stack::push(none::cell());
            vector::make_at(v, n, s.unit, s.elem_type);
            SeriesBuffer* b = buffer_of(v->w2);
            // Distinct low bytes, zero high bytes: valid for every element type.
            for (uint32_t i = 0; i < n * s.unit; ++i) b->head_ptr()[i] = i % s.unit >= 2 ? 0 : uint8_t(i * 7 + 1);
            b->tail = b->head + n * s.unit;
            v->w1 = n ? 1 : 0;
            try {
                const Cell back = first(decode(encode(v)));
                EXPECT_TRUE(same_tree(back, *v)) << s.elem_type << " " << s.unit << " " << n;
            } catch (const RaisedError& e) {
                ADD_FAILURE() << s.elem_type << " " << s.unit << " " << n << ": " << raised_text(e);
            }
        }
    }
    Cell* v = stack::push(none::cell());
    vector::make_at(v, 2, 4, TYPE_INTEGER);
    buffer_of(v->w2)->tail = buffer_of(v->w2)->head + 8;
    Cell* blk = load("[]");
    Cell bl = first(blk);
    block::cells_append(&bl, v);
    block::cells_append(&bl, v);
    const Cell back = first(decode(encode(&bl)));
    const Cell* cells = buffer_of(back.w2)->head_cell();
    EXPECT_EQ(cells[0].type(), TYPE_VECTOR);
    EXPECT_EQ(cells[0].w2, cells[1].w2);
}

// An error comes back with its code, type, id and fields; an error that
// holds itself comes back holding itself.
TEST_P(SerializeBoth, Errors) {
    Cell* args = load("[\"text\" [1 2] x/y]");
    // Copied out first: making the error allocates, which may move the block.
    Cell three[3];
    std::memcpy(three, buffer_of(first(args).w2)->head_cell(), sizeof three);
    Cell* err = stack::push(error::create_named("script", "invalid-arg", three, 3));
    const Cell back = first(decode(encode(err)));
    ASSERT_EQ(back.type(), TYPE_ERROR);
    EXPECT_NE(back.w1, err->w1);
    EXPECT_EQ(test::mold_text(back), test::mold_text(*err));
    EXPECT_EQ(error::get_id(&back), error::get_id(err));
    for (uint32_t f = error::FIELD_CODE; f <= error::FIELD_STACK; ++f)
        EXPECT_TRUE(same_tree(*error::field(&back, error::Field(f)), *error::field(err, error::Field(f)))) << f;

    *error::field(err, error::FIELD_ARG2) = *err;
    const Cell loop = first(decode(encode(err)));
    ASSERT_EQ(loop.type(), TYPE_ERROR);
    EXPECT_EQ(error::field(&loop, error::FIELD_ARG2)->w1, loop.w1);
}

// A vector record whose element type or size is not one a vector can have,
// or whose elements run past the input, is refused.
TEST_F(Serialize, HostileVectors) {
    const uint8_t shape_ok = uint8_t(TYPE_INTEGER << 2 | 2);
    const Bytes cases[] = {
        {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_VECTOR, uint8_t(TYPE_BLOCK << 2 | 2), 0},
        {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_VECTOR, uint8_t(TYPE_PERCENT << 2 | 2), 0},
        {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_VECTOR, uint8_t(TYPE_INTEGER << 2 | 3), 0},
        {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_VECTOR, shape_ok, 2, 1, 0, 0, 0},
        {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_VECTOR, shape_ok, 0xFF, 0xFF, 0xFF, 0xFF, 0x07},
        {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_VECTOR, uint8_t(TYPE_CHAR << 2 | 2), 1, 0, 0, 0x11, 0},
    };
    for (const Bytes& b : cases) test::expect_error([&] { decode(b); }, "script", "kb-invalid-record");
}

// An error record whose code names no catalog entry, or a path past its
// six fields, is refused.
TEST_F(Serialize, HostileErrors) {
    const Bytes cases[] = {
        {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_ERROR, 0xC7, 0x07},
        {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_ERROR, 0x81, 0x80, 0x80, 0x80, 0x08},
        {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_ERROR, 0xAC, 0x02, TYPE_NONE},
    };
    for (const Bytes& b : cases) test::expect_error([&] { decode(b); }, "script", "kb-invalid-record");
}

TEST_F(Serialize, RefusedTypes) {
    const Cell h{TYPE_HANDLE, 0, 0, 0};
    test::expect_error([&] { encode(&h); }, "access", "no-codec");
    // A handle! record in a buffer.
    Bytes b = {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, TYPE_HANDLE};
    test::expect_error([&] { decode(b); }, "access", "no-codec");
}

TEST_F(Serialize, CompressedBuffers) {
    Cell* v = load("[\"" + std::string(300, 'x') + "\" 1 2 3]");
    const Cell original = first(v);
    const Bytes plain = encode(&original);
    const Bytes packed = lz::compress(plain.data() + 8, plain.size() - 8);
    Bytes b = plain;
    b.resize(8 + packed.size());
    std::copy(packed.begin(), packed.end(), b.begin() + 8);
    b[7] |= kivbin::FLAG_COMPRESSED;
    EXPECT_TRUE(same_tree(first(decode(b)), original));
    b[20] ^= 0x55;
    test::expect_error([&] { decode(b); }, "script", "invalid-data");
}

// Hostile buffers: every one raises kb-invalid-record (or invalid-data for
// a bad magic) and never reads outside the buffer.
// The fixed-width layout: a float's record is aligned by padding words, and
// damaged buffers are refused too.
TEST_F(Serialize, FixedWidthForms) {
    fixed_layout = true;
    Cell* v = load("[1 2.5]");
    const Cell blk = first(v);
    const Bytes b = encode(&blk, false);
    fixed_layout = false;
    EXPECT_EQ(b[7], 0);  // fixed-width, no symbol table
    auto word = [&](size_t i) {
        uint32_t w;
        std::memcpy(&w, b.data() + 16 + 4 * i, 4);
        return w;
    };
    EXPECT_EQ(word(0), uint32_t(TYPE_BLOCK));
    EXPECT_EQ(word(2), 2u);  // the count
    EXPECT_EQ(word(3), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(word(5), 0u);  // padding: the float's record starts at byte 24
    EXPECT_EQ(word(6), uint32_t(TYPE_FLOAT));
    EXPECT_TRUE(same_tree(first(decode(b)), blk));
    test::expect_error(
        [&] {
            decode(Bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 0, 1, 0});
        },
        "script", "invalid-data");
    for (size_t cut = 16; cut < b.size(); cut += 4) {
        SCOPED_TRACE(cut);
        Bytes part(b.begin(), b.begin() + cut);
        test::expect_error([&] { decode(part); }, "script", "kb-invalid-record");
    }
    // Padding words may end the payload, not a block or map still owed a record.
    const std::vector<uint32_t> owed[] = {{TYPE_BLOCK, 0, 2, TYPE_INTEGER, 1, 0},
                                          {TYPE_MAP, 2, TYPE_INTEGER, 1, 0}};
    for (const auto& rec : owed) {
        Bytes p = {'K', 'I', 'V', 'B', 'I', 'N', 2, 0};
        auto put = [&p](uint32_t w) {
            for (int k = 0; k < 4; ++k) p.push_back(uint8_t(w >> (8 * k)));
        };
        put(1);
        put(uint32_t(rec.size() * 4));
        for (uint32_t w : rec) put(w);
        test::expect_error([&] { decode(p); }, "script", "kb-invalid-record");
    }
}

TEST_F(Serialize, HostileBuffersAreRefused) {
    auto buf = [](std::initializer_list<uint8_t> rest, uint8_t flags = 1) {
        Bytes b(8 + rest.size());
        std::memcpy(b.data(), "KIVBIN\x02", 7);
        b[7] = flags;
        std::copy(rest.begin(), rest.end(), b.begin() + 8);
        return b;
    };
    test::expect_error([&] { decode(Bytes{'K', 'I', 'V'}); }, "script", "invalid-data");
    test::expect_error(
        [&] {
            decode(Bytes{'K', 'I', 'X', 'B', 'I', 'N', 2, 1, 1, 0});
        },
        "script", "invalid-data");
    const Bytes bad[] = {
        buf({1, 5, 0}),                                            // type id 0
        buf({1, 3, 63, 0xC8, 0x01}),                               // type id 200 after 63
        buf({1, 2, TYPE_SYMBOL}),                                  // a type with no payload rule
        buf({1, 9, TYPE_BLOCK}),                                   // payload size past the input
        buf({1, 3, TYPE_BLOCK, 0x80, 0x01}),                       // count past the input
        buf({1, 6, TYPE_INTEGER, 0xFF, 0xFF, 0xFF, 0xFF, 0x10}),   // a varint's fifth byte too large
        buf({1, 2, TYPE_WORD, 0}),                                 // a word without a symbol table
        buf({1, 4, 1, 0, TYPE_WORD, 1}, 5),                        // symbol index past the table
        buf({1, 4, 1, 2, 0, 0, 0, 0, 'a', 'b', TYPE_WORD, 0}, 5),  // string area not NUL-ended
        buf({1, 4, 1, 2, 9, 0, 0, 0, 'a', 0, TYPE_WORD, 0}, 5),    // offset past the area
        buf({1, 4, 1, 2, 0, 0, 0, 0, 0xFF, 0, TYPE_WORD, 0}, 5),   // a name that is not UTF-8
        buf({1, 4, 0xC1, TYPE_BLOCK, 1, 5}),                       // a path to nothing
        buf({1, 3, 0xC1, TYPE_BLOCK, 0}),                          // a path of length 0
        buf({1, 3, 0xC4, TYPE_WORD, 0}),                           // an assignment outside boot mode
        buf({1, 3, TYPE_CHAR, 0x80, 0x80}),                        // cut varint
        buf({1, 3, TYPE_STRING, 0x07, 0}),                         // unit code 3
        buf({1, 6, TYPE_STRING, 0x06, 0, 0, 0x11, 0}),             // a code point above 0x10FFFF
        buf({1, 2, TYPE_TUPLE | 0x40, 13}),                        // tuple length 13
        buf({1, 2, TYPE_TYPESET, 13}),                             // typeset length 13
        buf({1, 5, TYPE_DATE | 0x40, 0, 0x11, 0, 0}),              // time flag clear with alt set
        buf({1, 1, 0xC5}),                                         // reserved header byte
        buf({1, 3, 0xC1, 0x80 + 1, 0}),                            // by reference on an integer
        buf({1, 4, TYPE_NATIVE, 0x7F, TYPE_BLOCK, 0}),             // native number out of range
        buf({1, 3, TYPE_BLOCK | 0x40, 9, 0}),                      // head index past the block
    };
    int i = 0;
    for (const Bytes& b : bad) {
        SCOPED_TRACE(i++);
        test::expect_error([&] { decode(b); }, "script", "kb-invalid-record");
    }
    // Every cut of a sound buffer.
    Cell* v = load("[a \"b\" [c 1.5] 1-Jan-2000/1:00 $3 (1, 2)]");
    const Cell original = first(v);
    const Bytes sound = encode(&original);
    for (size_t cut = 8; cut < sound.size(); ++cut) {
        SCOPED_TRACE(cut);
        const Bytes part(sound.begin(), sound.begin() + cut);
        test::expect_error([&] { decode(part); }, "script", "kb-invalid-record");
    }
}

// Values that break their type's rules are refused where they are read, so
// that no action meets them.
TEST_F(Serialize, ValuesBreakingTheirTypeAreRefused) {
    auto buf = [](std::initializer_list<uint8_t> rest) {
        Bytes b = {'K', 'I', 'V', 'B', 'I', 'N', 2, 1};
        b.insert(b.end(), rest);
        return b;
    };
    const Bytes bad[] = {
        buf({1, 2, TYPE_DATATYPE, 55}),                                   // a datatype id with no type
        buf({1, 2, TYPE_DATATYPE, 56}),                                   // the same
        buf({1, 13, TYPE_MONEY, 0, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),  // money digits not decimal
        buf({1, 5, TYPE_DATE, 0x00, 0x2F, 0xA0, 0x0F}),                   // 30 February
        buf({1, 5, TYPE_DATE, 0x84, 0x10, 0xA0, 0x0F}),                   // a zone without a time
        buf({1, 13, TYPE_DATE | 0x40, 0x80, 0x10, 0xA1, 0x0F, 0, 0, 0, 0, 0, 0xF9, 0xF5, 0x40}),  // 25:00
        buf({1, 9, TYPE_TIME, 0, 0, 0, 0, 0, 0, 0xF0, 0x7F}),  // an infinite time
    };
    int i = 0;
    for (const Bytes& b : bad) {
        SCOPED_TRACE(i++);
        test::expect_error([&] { decode(b); }, "script", "kb-invalid-record");
    }
}

// A reference record must name a hash! exactly where the series met first
// was one (the cell carries the hash table), in both layouts.
TEST_F(Serialize, SharedSeriesKeepTheirHashKind) {
    Cell* v = load("[[1]]");
    Cell outer = first(v);
    Cell inner = *buffer_of(outer.w2)->head_cell();
    block::cells_append(&outer, &inner);  // [[1] <the same block>]
    for (bool fixed : {false, true}) {
        SCOPED_TRACE(fixed);
        Cell* out = stack::push(none::cell());
        if (fixed) {
            kivbin::encode(&outer, out, false);
        } else {
            kivbin::encode_cp(&outer, out, false);
        }
        Bytes b = bytes_of(out);
        bool patched = false;
        if (fixed) {
            for (size_t i = 8; i + 4 <= b.size() && !patched; i += 4) {
                uint32_t w;
                std::memcpy(&w, &b[i], 4);
                if ((w & 0xFF) == TYPE_BLOCK && (w & (1u << 19))) b[i] = TYPE_HASH, patched = true;
            }
        } else {
            for (size_t i = 8; i + 1 < b.size() && !patched; ++i)
                if (b[i] == 0xC1 && b[i + 1] == TYPE_BLOCK) b[i + 1] = TYPE_HASH, patched = true;
        }
        ASSERT_TRUE(patched);
        test::expect_error([&] { decode(b); }, "script", "kb-invalid-record");
    }
}

// Functions, ops and the words bound to a function's context, with the
// interpreter up, so that what comes back can be called.
class SerializeCode : public test::InterpTest, public testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        test::InterpTest::SetUp();
        fixed_layout = GetParam();
    }
    void TearDown() override {
        fixed_layout = false;
        test::InterpTest::TearDown();
    }
    // Decodes into a block kept with hold().
    static Cell round_trip(const Cell& v) {
        const Cell held = test::hold(v);
        try {
            return test::hold(first(decode(encode(&held))));
        } catch (const RaisedError& e) {
            ADD_FAILURE() << raised_text(e);
            throw;
        }
    }
};
INSTANTIATE_TEST_SUITE_P(Layouts, SerializeCode, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& i) { return i.param ? "Fixed" : "Compact"; });

Cell cell_at(const Cell& blk, uint32_t i) {
    return buffer_of(blk.w2)->head_cell()[i];
}

TEST_P(SerializeCode, FunctionsComeBackCallable) {
    // [f f] with f: func [a b /local c] [c: a + b c * 2]: one function, twice.
    const Cell f = test::make_func("a b /local c", "c: a + b c * 2");
    Cell list = test::hold(test::code(""));
    block::cells_append(&list, &f);
    block::cells_append(&list, &f);
    const Cell back = round_trip(list);
    const Cell g = cell_at(back, 0);
    ASSERT_EQ(g.type(), TYPE_FUNCTION);
    EXPECT_NE(g.w1, f.w1);
    EXPECT_EQ(cell_at(back, 1).w1, g.w1);  // shared, not copied
    EXPECT_EQ(context::self_cell(g.w1)->w2, g.w2);
    // The body's words are bound to the new function's context.
    const Cell body = function::body_of(&g);
    EXPECT_EQ(cell_at(body, 0).w1, g.w1);
    EXPECT_EQ(test::mold_text(g), test::mold_text(f));
    test::set_global("g", g);
    EXPECT_EQ(eval_mold("g 1 2"), "6");
}

TEST_P(SerializeCode, RecursiveFunctionsAndBoundWords) {
    // A function whose body holds the function itself, and a lone word of
    // its body: the word brings the function inline, the body refers back.
    const Cell f = test::make_func("n", "n * 3");
    Cell body = function::body_of(&f);
    block::cells_append(&body, &f);
    const Cell word_n = cell_at(function::body_of(&f), 0);
    ASSERT_EQ(word_n.w1, f.w1);
    Cell list = test::hold(test::code(""));
    block::cells_append(&list, &word_n);
    block::cells_append(&list, &f);
    const Cell back = round_trip(list);
    const Cell w = cell_at(back, 0);
    const Cell g = cell_at(back, 1);
    ASSERT_EQ(g.type(), TYPE_FUNCTION);
    EXPECT_EQ(w.type(), TYPE_WORD);
    EXPECT_EQ(w.w1, g.w1);
    EXPECT_EQ(w.w3, 0u);
    const Cell gbody = function::body_of(&g);
    EXPECT_EQ(cell_at(gbody, 3).type(), TYPE_FUNCTION);
    EXPECT_EQ(cell_at(gbody, 3).w1, g.w1);  // the cycle stays a cycle
    EXPECT_EQ(cell_at(gbody, 0).w1, g.w1);
}

TEST_P(SerializeCode, OpsWrapWhatTheyWrapped) {
    const Cell times = test::make_op(test::make_func("a b", "a * 10 + b"));
    Cell list = test::hold(test::code(""));
    block::cells_append(&list, &times);
    const Cell plus = test::global_value("+");
    block::cells_append(&list, &plus);
    const Cell back = round_trip(list);
    const Cell op = cell_at(back, 0);
    ASSERT_EQ(op.type(), TYPE_OP);
    EXPECT_EQ(native::op_source_type(&op), uint32_t(TYPE_FUNCTION));
    test::set_global("**", cell_at(back, 0));
    test::set_global("plus", cell_at(back, 1));
    EXPECT_EQ(eval_mold("2 ** 3"), "23");
    EXPECT_EQ(eval_mold("2 plus 3"), "5");
    // An op over a routine is refused.
    const Cell lt = test::global_value("<");
    test::expect_error([&] { encode(&lt); }, "access", "no-codec");
}

TEST_P(SerializeCode, ObjectHooksSurvive) {
    // o: object [a: 1 on-change*: func [word old new] [record new]]
    Cell* holder = stack::push(none::cell());
    const Off ctx = context::create(2, false, true, 0, context::KIND_OBJECT);
    *holder = object::cell(ctx, 3, 0);
    *context::self_cell(ctx) = *holder;
    const Cell one = test::int_cell(1);
    const Cell hook = test::make_func("word old new", "record new");
    const Cell wa = word::unbound(symbol::make("a")), wh = word::unbound(symbol::make("on-change*"));
    context::add_word(ctx, &wa, &one);
    context::add_word(ctx, &wh, &hook);
    object::init_hooks(holder);
    ASSERT_NE(holder->w3, 0u);
    const Cell o = round_trip(*holder);
    ASSERT_EQ(o.type(), TYPE_OBJECT);
    ASSERT_NE(o.w3, 0u);
    EXPECT_EQ(context::self_cell(o.w1)->w3, o.w3);
    test::set_global("o", o);
    eval_mold("o/a: 5");
    EXPECT_EQ(log_text(), "[5]");
}

// A function record whose spec does not give the words of its context, or
// whose parts are not blocks, is refused.
TEST_F(Serialize, HostileFunctions) {
    auto buf = [](std::initializer_list<uint8_t> rest) {
        Bytes b = {'K', 'I', 'V', 'B', 'I', 'N', 2, 5, 1, 0};
        // One symbol "a".
        const Bytes table = {1, 2, 0, 0, 0, 0, 'a', 0};
        b.insert(b.end(), table.begin(), table.end());
        b.insert(b.end(), rest.begin(), rest.end());
        b[9] = uint8_t(rest.size());
        return b;
    };
    const uint8_t fn = TYPE_FUNCTION, ctx = TYPE_CONTEXT, blk = TYPE_BLOCK;
    const Bytes bad[] = {
        buf({fn, 1, 0, ctx, 5, 1, 0, blk, 0, blk, 0}),                 // context word missing from the spec
        buf({fn, 1, 0, ctx, 5, 0, blk, 1, TYPE_WORD, 0, blk, 0}),      // spec word missing from the context
        buf({fn, 0, 0, ctx, 2, 0, blk, 0, blk, 0}),                    // an object context
        buf({fn, 0, 0, ctx, 5, 0, TYPE_STRING, 0, blk, 0}),            // a spec that is not a block
        buf({fn, 0, 0, ctx, 5, 0, blk, 0, TYPE_NONE}),                 // a body that is not a block
        buf({fn, 0, 0, ctx, 5, 0, 0xC1, blk, 1, 0, blk, 0}),           // a spec at a path to nothing
        buf({fn, 0x7F, 0, ctx, 5, 0, blk, 0, blk, 0}),                 // a spec size past the input
        buf({TYPE_OP, 0x80 + 1}),                                      // an op over an integer
        buf({TYPE_WORD | 0x40, 0, 0, TYPE_BLOCK, 0}),                  // a bound word's owner not a context holder
        buf({TYPE_OBJECT | 0x40, 0, 4, 0, ctx, 2, 0}),                 // a hook index past the context
    };
    int i = 0;
    for (const Bytes& b : bad) {
        SCOPED_TRACE(i++);
        test::expect_error([&] { decode(b); }, "script", "kb-invalid-record");
    }
}

}  // namespace
}  // namespace kiv
