#include "library/serialize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/lexer_values.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "evaluator/literal_table.h"
#include "evaluator/natives.h"
#include "platform/image.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/lz.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

// The compact layout, byte by byte.
//
// Stream after the 8-byte header: varint record count, varint payload size,
// with the symbol flag the symbol table (varint count N, varint string-area
// size S, N int32 offsets into the area, the area: UTF-8 names each ended by
// NUL), then the records until the payload size is used.
//
// varint: unsigned LEB128, at most 5 bytes. zigzag: a signed value v as the
// varint of (v shl 1) xor (v sar 31). int32: four bytes, little-endian.
//
// Record: prefix bytes (0xC0 new line, 0xC1 by reference, 0xC4 assignment,
// boot mode only), then a header byte h:
//   0x00-0x7F  type id h and 0x3F (63: a varint id follows); bit 6 "alt"
//   0x80-0xBF  integer! h - 0x80        0xC2 / 0xC3  true / false
//   0xFF       a copy of the value at the path that follows
// then the payload of the type (see Encoder::body and Decoder::typed). A path
// is a varint count k (1..65536) and k varint positions: the first a
// top-level value of this decode, each next one a slot inside the value
// reached (a cell of a block or map, a value of a word's or object's
// context, a cell of a native's spec).

namespace kiv::kivbin {

namespace {

constexpr uint8_t NEW_LINE = 0xC0;
constexpr uint8_t BY_REF = 0xC1;
constexpr uint8_t TRUE_BYTE = 0xC2;
constexpr uint8_t FALSE_BYTE = 0xC3;
constexpr uint8_t ASSIGN = 0xC4;
constexpr uint8_t COPY_AT = 0xFF;
constexpr uint8_t ALT = 0x40;
constexpr uint32_t MAX_PATH = 65536;
// Nesting beyond this is refused, so that hostile input cannot exhaust the
// machine stack of the recursive reader and writer.
constexpr uint32_t MAX_DEPTH = 2000;

// The fixed-width record header word.
constexpr uint32_t FIXED_BY_REF = 1u << 19;
constexpr uint32_t FIXED_MONEY_NEGATIVE = 1u << 22;
constexpr uint32_t FIXED_COMPLEMENT = 1u << 23;
constexpr uint32_t FIXED_HOOKS = 1u << 24;
constexpr uint32_t FIXED_GLOBAL = 1u << 25;
constexpr uint32_t FIXED_CTX_KIND_SHIFT = 26;
constexpr uint32_t FIXED_CTX_SELF = 1u << 28;
constexpr uint32_t FIXED_CTX_ON_STACK = 1u << 29;
constexpr uint32_t FIXED_CTX_VALUES = 1u << 30;
constexpr uint32_t FIXED_NEW_LINE = 1u << 31;
constexpr uint32_t FIXED_REF = 255;  // the first word of a reference record

// Context flags byte of a context! record.
constexpr uint8_t CTX_KIND_MASK = 3;
constexpr uint8_t CTX_ON_STACK = 4;
constexpr uint8_t CTX_SELF = 8;
constexpr uint8_t CTX_VALUES = 16;

bool refused(uint32_t t) {
    switch (t) {
        case TYPE_ROUTINE:
        case TYPE_TRIPLE:
        case TYPE_HANDLE:
        case TYPE_PORT:
        case TYPE_EVENT:
            return true;
        default:
            return false;
    }
}

bool unit_series(uint32_t t) {
    return is_any_string(t) || t == TYPE_BINARY || t == TYPE_VECTOR;
}

// The element types and sizes a vector! can have: the reader accepts no other.
bool vector_shape_ok(uint32_t elem_type, uint32_t unit) {
    switch (elem_type) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            return unit == 1 || unit == 2 || unit == 4;
        case TYPE_FLOAT:
            return unit == 4 || unit == 8;
        case TYPE_PERCENT:
            return unit == 8;
        default:
            return false;
    }
}

// 32-bit code points (a ucs-4 string, a char! vector) must be Unicode.
bool code_points_ok(const uint8_t* src, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t cp;
        std::memcpy(&cp, src + 4 * uint64_t(i), 4);
        if (cp > 0x10FFFF) return false;
    }
    return true;
}

// ---- What a decoded scalar must satisfy --------------------------------------------------
// Every action may rely on these, so a record that breaks one is refused.

// A datatype id names a registered type that a value can have.
bool datatype_id_ok(uint32_t id) {
    return id != 0 && id < TYPE_ID_LIMIT && id != TYPE_SERIES && datatype::names[id].name != nullptr;
}

// A money! amount is 22 decimal digits, two a byte.
bool money_ok(const Cell& v) {
    uint8_t b[12];
    std::memcpy(b, &v.w1, 12);
    for (int k = 1; k < 12; ++k)
        if ((b[k] >> 4) > 9 || (b[k] & 15) > 9) return false;
    return true;
}

// A date names a day of its month; without a time its time and zone are
// zero, with one the local time of day lies in [0, 86400).
bool date_ok(const Cell& v) {
    namespace lv = lexer::values;
    static constexpr uint8_t DAYS[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const uint32_t month = lv::date_month(v.w1), day = lv::date_day(v.w1);
    if (month < 1 || month > 12 || day < 1 || day > DAYS[month - 1]) return false;
    if (month == 2 && day == 29 && !lv::leap_year(lv::date_year(v.w1))) return false;
    if (!(v.w1 & lv::date_bits::TIME_FLAG)) return (v.w1 & lv::date_bits::ZONE_MASK) == 0 && !v.w2 && !v.w3;
    const double local = v.get_f64() + date::zone_offset(v.w1);
    return local >= 0 && local < 86400;
}

// A time is a finite number of seconds.
bool number_ok(const Cell& v, uint32_t t) {
    return t != TYPE_TIME || std::isfinite(v.get_f64());
}

[[noreturn]] void no_codec(uint32_t type) {
    fire({"access", "no-codec"}, Cell{TYPE_DATATYPE, type, 0, 0});
}

// ---- Layouts -----------------------------------------------------------------------------
//
// Each layout is a writer (CompactOut, FixedOut) and a reader (CompactIn,
// FixedIn) of the fields records are made of. The encoder and the decoder
// are templates over them: every datatype has one case in Encoder<Out> and
// one in Decoder<In>, and where the layouts store a field differently the
// layout's primitive says how.

// The bytes of an encoding being made.
struct ByteOut {
    std::vector<uint8_t> out;

    void byte(uint8_t b) { out.push_back(b); }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            out.push_back(uint8_t(v | 0x80));
            v >>= 7;
        }
        out.push_back(uint8_t(v));
    }
    void zigzag(int32_t v) { varint((uint32_t(v) << 1) ^ uint32_t(v >> 31)); }
    void int32(uint32_t v) {
        for (int k = 0; k < 4; ++k) out.push_back(uint8_t(v >> (8 * k)));
    }
    void bytes(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
};

// The compact layout: varints, a header byte per record with the type's
// alt flag; the new-line and by-reference marks are prefix bytes.
struct CompactOut : ByteOut {
    static constexpr bool FIXED = false;

    void header(uint32_t type, bool alt = false) {
        if (type > 62) {
            byte(uint8_t(63 | (alt ? ALT : 0)));
            varint(type);
        } else {
            byte(uint8_t(type | (alt ? ALT : 0)));
        }
    }
    // Opens a record of `type`: `alt` is the type's flag here (`bits` are
    // the same flag in the fixed layout).
    void open(uint32_t type, uint32_t /*nl*/, bool alt = false, uint32_t /*bits*/ = 0, bool by_ref = false) {
        if (by_ref) byte(BY_REF);
        header(type, alt);
    }
    void new_line() { byte(NEW_LINE); }
    void index(uint32_t v) { varint(v); }
    void sign(int32_t v) { zigzag(v); }
    void path(const std::vector<uint32_t>& p) {
        varint(uint32_t(p.size()));
        for (uint32_t i : p) varint(i);
    }
    // A series' or image's head index: present only when not 0 (alt says so).
    void head_index(uint32_t i) {
        if (i) varint(i);
    }
    // A global word's index is not written: it is found again by name.
    void global_index(uint32_t) {}
    void pad() {}
    // Integers 0..63 and logic values take one byte.
    bool immediate(const Cell* c) {
        if (c->type() == TYPE_LOGIC) {
            byte(c->w1 ? TRUE_BYTE : FALSE_BYTE);
            return true;
        }
        if (c->type() == TYPE_INTEGER && int32_t(c->w2) >= 0 && int32_t(c->w2) <= 63) {
            byte(uint8_t(0x80 + c->w2));
            return true;
        }
        return false;
    }
    // A float!, time! or percent!: a whole value (a percent in hundredths)
    // as alt and a zigzag, any other as its two words.
    void number(const Cell* c, uint32_t t, uint32_t nl) {
        const double v = c->get_f64();
        if (t == TYPE_PERCENT) {
            if (v >= -21474836.0 && v <= 21474836.0) {
                const int32_t i = int32_t(v * 100 + (v < 0 ? -0.5 : 0.5));
                if (i / 100.0 == v && !(i == 0 && std::signbit(v))) {
                    header(t, true);
                    zigzag(i);
                    return;
                }
            }
        } else if (v >= -2147483000.0 && v <= 2147483000.0) {
            const int32_t i = int32_t(v);
            if (double(i) == v && !(i == 0 && std::signbit(v))) {
                header(t, true);
                zigzag(i);
                return;
            }
        }
        open(t, nl);
        int32(c->w2);
        int32(c->w3);
    }
    // Up to 12 bytes of a cell (typeset, tuple), after their count when
    // `counted`.
    void short_run(const uint8_t* b, uint32_t n, bool counted) {
        if (counted) byte(uint8_t(n));
        bytes(b, n);
    }
    // The time of a date that has one.
    void date_time(const Cell* c, bool timed) {
        if (timed) {
            int32(c->w2);
            int32(c->w3);
        }
    }
    void context_flags(uint8_t flags) {
        header(TYPE_CONTEXT);
        byte(flags);
    }
    void image_size(uint32_t width, uint32_t height) {
        varint(width);
        varint(height);
    }
    // The units of a string, binary or vector (`elem`: a vector's element type).
    void units(uint32_t t, const SeriesBuffer* b, uint32_t elem) {
        const uint32_t shift = unit_shift(b->unit());
        if (t == TYPE_BINARY) {
            varint(b->byte_count());
        } else if (t == TYPE_VECTOR) {
            byte(uint8_t(elem << 2 | shift));
            varint(b->byte_count() >> shift);
        } else {
            varint((b->byte_count() >> shift) << 2 | shift);
        }
        bytes(b->head_ptr(), b->byte_count());
    }
};

// The fixed-width layout: 32-bit words, a header word per record holding
// the type, its flags and the new-line and by-reference bits.
struct FixedOut : ByteOut {
    static constexpr bool FIXED = true;

    void open(uint32_t type, uint32_t nl, bool /*alt*/ = false, uint32_t bits = 0, bool by_ref = false) {
        int32(type | nl | bits | (by_ref ? FIXED_BY_REF : 0));
    }
    void new_line() {}
    void index(uint32_t v) { int32(v); }
    void sign(int32_t v) { int32(uint32_t(v)); }
    void path(const std::vector<uint32_t>& p) {
        int32(FIXED_REF);
        int32(uint32_t(p.size()));
        for (uint32_t i : p) int32(i);
    }
    void head_index(uint32_t i) { int32(i); }
    void global_index(uint32_t i) { int32(i); }
    void pad() {
        while (out.size() % 4) out.push_back(0);
    }
    bool immediate(const Cell*) { return false; }
    // The float's record starts at a multiple of 8 bytes, after zero
    // padding words; its high word first.
    void number(const Cell* c, uint32_t t, uint32_t nl) {
        while (out.size() % 8) int32(0);
        open(t, nl);
        int32(c->w3);
        int32(c->w2);
    }
    // Always the cell's 12 bytes (a tuple's length is in the header word).
    void short_run(const uint8_t* b, uint32_t, bool) { bytes(b, 12); }
    void date_time(const Cell* c, bool) {
        int32(c->w3);
        int32(c->w2);
    }
    void context_flags(uint8_t flags) {
        uint32_t h = TYPE_CONTEXT | uint32_t(flags & CTX_KIND_MASK) << FIXED_CTX_KIND_SHIFT;
        if (flags & CTX_SELF) h |= FIXED_CTX_SELF;
        if (flags & CTX_ON_STACK) h |= FIXED_CTX_ON_STACK;
        if (flags & CTX_VALUES) h |= FIXED_CTX_VALUES;
        int32(h);
    }
    void image_size(uint32_t width, uint32_t height) { int32(width | height << 16); }
    void units(uint32_t t, const SeriesBuffer* b, uint32_t elem) {
        int32(b->byte_count() / b->unit());
        if (t == TYPE_VECTOR) int32(elem);
        bytes(b->head_ptr(), b->byte_count());
        pad();
    }
};

// ---- Encoder -----------------------------------------------------------------------------

template <class Out>
class Encoder : public Out {
  public:
    using Out::byte;
    using Out::bytes;
    using Out::context_flags;
    using Out::date_time;
    using Out::global_index;
    using Out::head_index;
    using Out::image_size;
    using Out::immediate;
    using Out::index;
    using Out::int32;
    using Out::new_line;
    using Out::number;
    using Out::open;
    using Out::out;
    using Out::pad;
    using Out::path;
    using Out::short_run;
    using Out::sign;
    using Out::units;
    using Out::varint;

    std::vector<uint8_t> names;
    std::vector<uint32_t> offsets;

    // A boot-mode assignment (compact layout): the word (global), then its
    // value; it takes no position, so paths skip it.
    void assignment(const Cell* w, const Cell* v) {
        if (!is_all_word(w->type()) || w->type() == TYPE_ISSUE) fire({"script", "invalid-arg"}, *w);
        byte(ASSIGN);
        this->header(TYPE_WORD);
        varint(symbol_index(w->w2));
        if (v->new_line()) byte(NEW_LINE);
        body(v);
    }

    void record(const Cell* c) {
        if (c->new_line()) new_line();
        body(c);
        ++counter_;
    }

  private:
    // The table index of a symbol, added with its name when first met.
    uint32_t symbol_index(uint32_t id) {
        auto [it, added] = symbols_.try_emplace(id, uint32_t(offsets.size()));
        if (added) {
            offsets.push_back(uint32_t(names.size()));
            const char* name = symbol::name(id);
            names.insert(names.end(), name, name + std::strlen(name) + 1);
        }
        return it->second;
    }
    // The first time a node is met: its path is the positions down to here.
    const std::vector<uint32_t>* seen(Off node) {
        auto it = paths_.find(node);
        return it == paths_.end() ? nullptr : &it->second;
    }
    void enter(Off node) {
        if (stack_.size() >= MAX_DEPTH) fire({"internal", "too-deep"});
        stack_.push_back(counter_);
        counter_ = 0;
        if (node) paths_.emplace(node, stack_);
    }
    void leave() {
        counter_ = stack_.back();
        stack_.pop_back();
    }
    std::vector<uint32_t> with_counter() const {
        std::vector<uint32_t> p = stack_;
        p.push_back(counter_);
        return p;
    }

    // A series: its head index, then by reference its path, else its
    // records (block-like) or its units.
    void series(const Cell* c, uint32_t t, uint32_t nl) {
        const Off node = c->w2;
        const SeriesBuffer* b = buffer_of(node);
        const auto* p = seen(node);
        open(t, nl, c->w1 != 0, is_any_block(t) ? 0 : b->unit() << 8, p);
        head_index(c->w1);
        if (p) {
            path(*p);
            return;
        }
        if (is_any_block(t)) {
            const uint32_t n = b->byte_count() / sizeof(Cell);
            index(n);
            enter(node);
            for (uint32_t i = 0; i < n; ++i) record(buffer_of(node)->head_cell() + i);
            leave();
            return;
        }
        paths_.emplace(node, with_counter());
        units(t, b, c->w3);
    }

    // A removed entry of a map keeps its key, its value cell's header 0:
    // only live entries are written.
    void map(const Cell* c, uint32_t nl) {
        const Off pairs = c->w2;
        const auto* p = seen(pairs);
        open(TYPE_MAP, nl, false, 0, p);
        if (p) {
            path(*p);
            return;
        }
        const uint32_t n = buffer_of(pairs)->byte_count() / sizeof(Cell);
        uint32_t live = 0;
        for (uint32_t i = 0; i + 1 < n; i += 2)
            live += buffer_of(pairs)->head_cell()[i + 1].header != 0 ? 2 : 0;
        index(live);
        enter(pairs);
        for (uint32_t i = 0; i + 1 < n; i += 2) {
            if (buffer_of(pairs)->head_cell()[i + 1].header == 0) continue;
            record(buffer_of(pairs)->head_cell() + i);
            record(buffer_of(pairs)->head_cell() + i + 1);
        }
        leave();
    }

    // A bitset: its bytes; complemented is the type's flag.
    void bitset(const Cell* c, uint32_t nl) {
        const Off node = c->w2;
        const SeriesBuffer* b = buffer_of(node);
        const bool complemented = b->flags & series_flag::COMPLEMENT;
        const auto* p = seen(node);
        open(TYPE_BITSET, nl, complemented, complemented ? FIXED_COMPLEMENT : 0, p);
        if (p) {
            path(*p);
            return;
        }
        paths_.emplace(node, with_counter());
        index(b->byte_count());
        bytes(b->head_ptr(), b->byte_count());
        pad();
    }

    // An error: its catalog code, then its six fields after code, type and
    // id. Its context enters the reference table like a series, so paths
    // reach into those fields (index 0 is arg1). Met again, it is written
    // by reference: an error that holds itself would otherwise never end.
    void error(const Cell* c, uint32_t nl) {
        const Off ctx = c->w1;
        const Cell code = *error::field(c, error::FIELD_CODE);
        if (code.type() != TYPE_INTEGER || int32_t(code.w2) < 0) no_codec(TYPE_ERROR);
        const auto* p = seen(ctx);
        open(TYPE_ERROR, nl, false, 0, p);
        if (p) {
            path(*p);
            return;
        }
        index(code.w2);
        enter(ctx);
        for (uint32_t f = error::FIELD_ARG1; f <= error::FIELD_STACK; ++f)
            record(error::field(c, error::Field(f)));
        leave();
    }

    // A context: its flags, its words, and its values unless all unset.
    void context_record(Off ctx) {
        const Cell* cc = context::cell(ctx);
        const uint32_t n = context::word_count(ctx);
        bool values = false;
        if (!context::on_stack(ctx))
            for (uint32_t i = 0; i < n && !values; ++i)
                values = context::values_at(ctx, i)->type() != TYPE_UNSET;
        uint8_t flags = uint8_t(context::kind(ctx) & CTX_KIND_MASK);
        if (context::on_stack(ctx)) flags |= CTX_ON_STACK;
        if (cc->header & header::HAS_SELF) flags |= CTX_SELF;
        if (values) flags |= CTX_VALUES;
        context_flags(flags);
        index(n);
        for (uint32_t i = 0; i < n; ++i) index(symbol_index(context::word_at(ctx, i)->w2));
        if (values)
            for (uint32_t i = 0; i < n; ++i) record(context::values_at(ctx, i));
    }

    // The hook indexes of an object's on-set data (-1: no such hook).
    static int32_t hook_index(const Cell* c, uint32_t k) {
        return int32_t(buffer_of(c->w3)->head_cell()[k].w2) >> 16;
    }

    // An object: its class id, its hook indexes when it has hooks (the
    // type's flag), then its context one level down.
    void object(const Cell* c, uint32_t nl) {
        const Off ctx = object::context_of(c);
        const auto* p = seen(ctx);
        const bool hooks = !p && c->w3 != 0;
        open(TYPE_OBJECT, nl, hooks, hooks ? FIXED_HOOKS : 0, p);
        if (p) {
            path(*p);
            return;
        }
        sign(int32_t(c->w2));
        if (hooks) {
            sign(hook_index(c, 0));
            sign(hook_index(c, 1));
        }
        enter(ctx);
        context_record(ctx);
        leave();
    }

    // A function: the sizes of its spec block and body (the fixed layout
    // has only the first), its context's words, then the spec block and the
    // body, one level down (paths reach them as index 0 and 1 of the
    // function). Its context node identifies it.
    void function(const Cell* c, uint32_t nl) {
        const Off ctx = c->w1;
        const Cell spec = function::spec_of(c);
        const Cell body = function::body_of(c);
        if (body.type() != TYPE_BLOCK) no_codec(TYPE_FUNCTION);
        const auto* p = seen(ctx);
        open(TYPE_FUNCTION, nl, false, 0, p);
        if (p) {
            path(*p);
            return;
        }
        index(buffer_of(spec.w2)->byte_count() / sizeof(Cell));
        if (!Out::FIXED) index(buffer_of(body.w2)->byte_count() / sizeof(Cell));
        enter(ctx);
        context_record(ctx);
        record(&spec);
        record(&body);
        leave();
    }

    // An image: its size, then its pixels (straight BGRA words). Its
    // record node identifies it; an empty image has none and is never shared.
    void image(const Cell* c, uint32_t nl) {
        const Off node = c->w2;
        const auto* p = node ? seen(node) : nullptr;
        open(TYPE_IMAGE, nl, c->w1 != 0, 0, p);
        head_index(c->w1);
        if (p) {
            path(*p);
            return;
        }
        if (node) paths_.emplace(node, with_counter());
        image_size(os_image::width(c), os_image::height(c));
        const uint32_t* px = os_image::pixels(c, false);
        const uint64_t count = os_image::pixel_count(c);
        for (uint64_t i = 0; px && i < count; ++i) int32(px[i]);
    }

    // An op: the record of what it wraps, at the op's own position (the
    // fixed header word names the wrapped type).
    void op(const Cell* c, uint32_t nl) {
        const Cell source = native::op_source(c);
        if (source.type() == TYPE_ROUTINE) no_codec(TYPE_ROUTINE);
        open(TYPE_OP, nl, false, source.type() << 16);
        body(&source);
    }

    // The owner of a context that a bound word may name: an object or a
    // function in its self cell; anything else has no codec.
    static Cell word_owner(Off ctx, uint32_t t) {
        const Cell owner = *context::self_cell(ctx);
        const uint32_t k = context::kind(ctx);
        if (k == context::KIND_OBJECT && owner.type() == TYPE_OBJECT && owner.w1 == ctx) return owner;
        if (k == context::KIND_FUNCTION && owner.type() == TYPE_FUNCTION && owner.w1 == ctx) return owner;
        no_codec(t);
    }

    // A word: its symbol; bound elsewhere than the global context (the
    // type's flag), its index there and the owner of that context, inline
    // the first time.
    void word(const Cell* c, uint32_t t, uint32_t nl) {
        const Off ctx = c->w1;
        const uint32_t sym = symbol_index(c->w2);
        if (t == TYPE_ISSUE || ctx == 0 || context::kind(ctx) == context::KIND_GLOBAL) {
            open(t, nl, false, t == TYPE_ISSUE ? 0 : FIXED_GLOBAL);
            index(sym);
            if (t != TYPE_ISSUE) global_index(c->w3);
            return;
        }
        const Cell owner = word_owner(ctx, t);
        int32_t at = int32_t(c->w3);
        if (at < 0) at = context::find_word(ctx, c->w2, true);
        if (at < 0) no_codec(t);
        const auto* p = seen(ctx);
        open(t, nl, true, 0, p);
        index(sym);
        sign(at);
        if (p) {
            path(*p);
            return;
        }
        // The owner inline; its path is this word's position.
        if (owner.type() == TYPE_FUNCTION) {
            function(&owner, 0);
        } else {
            object(&owner, 0);
        }
    }

    // A native or action: its number, then its argument block as a block
    // record, its cells one level down.
    void native(const Cell* c, uint32_t t, uint32_t nl) {
        open(t, nl);
        index(c->w1);
        const Off spec = c->w2;
        open(TYPE_BLOCK, 0);
        head_index(0);
        const uint32_t n = buffer_of(spec)->byte_count() / sizeof(Cell);
        index(n);
        enter(0);
        for (uint32_t i = 0; i < n; ++i) record(buffer_of(spec)->head_cell() + i);
        leave();
    }

    void body(const Cell* c) {
        const uint32_t t = c->type();
        if (refused(t)) no_codec(t);
        if (immediate(c)) return;
        const uint32_t nl = c->new_line() ? FIXED_NEW_LINE : 0;
        switch (t) {
            case TYPE_UNSET:
            case TYPE_NONE:
                open(t, nl);
                return;
            case TYPE_DATATYPE:
            case TYPE_LOGIC:
                open(t, nl);
                index(c->w1);
                return;
            case TYPE_CHAR:
                open(t, nl);
                index(c->w2);
                return;
            case TYPE_INTEGER:
                open(t, nl);
                sign(int32_t(c->w2));
                return;
            case TYPE_PAIR:
                open(t, nl);
                sign(int32_t(c->w2));
                sign(int32_t(c->w3));
                return;
            case TYPE_POINT2D:
                open(t, nl);
                int32(c->w1);
                int32(c->w2);
                return;
            case TYPE_POINT3D:
                open(t, nl);
                int32(c->w1);
                int32(c->w2);
                int32(c->w3);
                return;
            case TYPE_FLOAT:
            case TYPE_TIME:
            case TYPE_PERCENT:
                number(c, t, nl);
                return;
            case TYPE_TYPESET: {
                // Without its trailing zero bytes.
                uint8_t bits[12];
                std::memcpy(bits, &c->w1, 12);
                uint8_t n = 12;
                while (n && !bits[n - 1]) --n;
                open(t, nl);
                short_run(bits, n, true);
                return;
            }
            case TYPE_TUPLE: {
                // The flag (and the count) unless its length is 3.
                const uint32_t n = (c->header & header::TUPLE_LENGTH_MASK) >> header::TUPLE_LENGTH_SHIFT;
                uint8_t b[12];
                std::memcpy(b, &c->w1, 12);
                open(t, nl, n != 3, n << 8);
                short_run(b, n, n != 3);
                return;
            }
            case TYPE_MONEY: {
                const bool negative = c->header & header::MONEY_SIGN;
                uint8_t b[12];
                std::memcpy(b, &c->w1, 12);
                open(t, nl, negative, negative ? FIXED_MONEY_NEGATIVE : 0);
                bytes(b, 12);
                return;
            }
            case TYPE_DATE: {
                const bool timed = c->w1 & lexer::values::date_bits::TIME_FLAG;
                open(t, nl, timed);
                int32(c->w1);
                date_time(c, timed);
                return;
            }
            case TYPE_ISSUE:
            case TYPE_WORD:
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT:
                word(c, t, nl);
                return;
            case TYPE_MAP:
                map(c, nl);
                return;
            case TYPE_BITSET:
                bitset(c, nl);
                return;
            case TYPE_OBJECT:
                object(c, nl);
                return;
            case TYPE_ERROR:
                error(c, nl);
                return;
            case TYPE_NATIVE:
            case TYPE_ACTION:
                native(c, t, nl);
                return;
            case TYPE_FUNCTION:
                function(c, nl);
                return;
            case TYPE_OP:
                op(c, nl);
                return;
            case TYPE_IMAGE:
                image(c, nl);
                return;
            default:
                if (is_any_block(t) || unit_series(t)) {
                    series(c, t, nl);
                    return;
                }
                no_codec(t);
        }
    }

    std::unordered_map<uint32_t, uint32_t> symbols_;  // symbol id -> table index
    std::unordered_map<Off, std::vector<uint32_t>> paths_;
    std::vector<uint32_t> stack_;
    uint32_t counter_ = 0;
};

void put_varint(std::vector<uint8_t>& o, uint32_t v) {
    while (v >= 0x80) {
        o.push_back(uint8_t(v | 0x80));
        v >>= 7;
    }
    o.push_back(uint8_t(v));
}

// ---- Decoder -----------------------------------------------------------------------------

// The bytes being read: every read is bounded by the end of the payload. A
// malformed record raises kb-invalid-record with the 1-based position where
// reading failed; a read past the end fails at the first missing byte.
class ByteIn {
  public:
    ByteIn(const uint8_t* data, size_t size, size_t base)
        : data_(data), end_(size), pos_(base), header_base_(8 - base) {}

  protected:
    [[noreturn]] void fail() { fail_at(pos_); }
    [[noreturn]] void fail_at(size_t at) {
        fire({"script", "kb-invalid-record"}, Cell{TYPE_INTEGER, 0, uint32_t(at + header_base_ + 1), 0});
    }
    // Fails unless n more bytes are there.
    void need(uint64_t n) {
        if (n > end_ - pos_) fail_at(end_);
    }
    uint8_t read_byte() {
        need(1);
        return data_[pos_++];
    }
    // Most varints are one or two bytes: those are read inline.
    [[gnu::always_inline]] uint32_t read_varint() {
        if (end_ - pos_ >= 2) [[likely]] {
            const uint32_t b0 = data_[pos_];
            if (b0 < 0x80) {
                ++pos_;
                return b0;
            }
            const uint32_t b1 = data_[pos_ + 1];
            if (b1 < 0x80) {
                pos_ += 2;
                return (b0 & 0x7F) | (b1 << 7);
            }
        } else if (pos_ < end_ && data_[pos_] < 0x80) {
            return data_[pos_++];
        }
        return read_long_varint();
    }
    [[gnu::noinline]] uint32_t read_long_varint() {
        uint32_t v = 0;
        for (int k = 0; k < 5; ++k) {
            const uint8_t b = read_byte();
            if (k == 4 && b >= 0x10) fail();
            v |= uint32_t(b & 0x7F) << (7 * k);
            if (!(b & 0x80)) return v;
        }
        fail();
    }
    int32_t read_zigzag() {
        const uint32_t u = read_varint();
        return int32_t((u >> 1) ^ (0u - (u & 1)));
    }
    uint32_t read_int32() {
        need(4);
        uint32_t v;
        std::memcpy(&v, data_ + pos_, 4);
        pos_ += 4;
        return v;
    }
    const uint8_t* read_bytes(uint64_t n) {
        need(n);
        const uint8_t* p = data_ + pos_;
        pos_ += size_t(n);
        return p;
    }

    const uint8_t* data_;
    size_t end_;
    size_t pos_;
    size_t header_base_;
};

// A record's header, from either layout.
struct Head {
    uint32_t type;
    bool alt;  // compact: the header's alt flag
    bool by_ref;
    uint32_t nl;    // the new-line bit of the value's cell header
    uint32_t word;  // fixed: the header word
};

class CompactIn : public ByteIn {
  public:
    using ByteIn::ByteIn;
    static constexpr bool FIXED = false;
    // The fewest bytes a record takes.
    static constexpr uint32_t MIN_RECORD = 1;

  protected:
    uint32_t read_index() { return read_varint(); }
    int32_t read_signed() { return read_zigzag(); }
    // The type's flag: compact alt (`bit`: where the fixed layout keeps it).
    static bool flag(const Head& h, uint32_t /*bit*/) { return h.alt; }
    uint32_t read_head_index(const Head& h) { return h.alt ? read_varint() : 0; }
    // A float!, time! or percent!: alt a whole value (a percent in
    // hundredths), else the two words.
    void read_number(const Head& h, Cell* v) {
        if (h.alt) {
            const int32_t i = read_zigzag();
            v->set_f64(h.type == TYPE_PERCENT ? i / 100.0 : double(i));
        } else {
            v->w2 = read_int32();
            v->w3 = read_int32();
        }
    }
    // Up to 12 bytes: a count byte first when `counted`, else `n` of them.
    uint32_t read_short_run(uint8_t out[12], bool counted, uint32_t n) {
        if (counted) n = read_byte();
        if (n > 12) fail();
        std::memcpy(out, read_bytes(n), n);
        return n;
    }
    uint32_t tuple_length(const Head& h) { return h.alt ? read_byte() : 3; }
    // A date's time: present when the date word says so, and alt must agree.
    void read_date_time(const Head& h, Cell* v) {
        const bool timed = v->w1 & lexer::values::date_bits::TIME_FLAG;
        if (timed != h.alt) fail();
        if (timed) {
            v->w2 = read_int32();
            v->w3 = read_int32();
        }
    }
    uint8_t read_context_flags() {
        if (read_byte() != TYPE_CONTEXT) fail();
        return read_byte();
    }
    void read_image_size(uint32_t* width, uint32_t* height) {
        *width = read_varint();
        *height = read_varint();
    }
    // The unit count and size of a string, binary or vector (and a
    // vector's element type).
    void read_unit_shape(const Head& h, uint32_t* n, uint32_t* unit, uint32_t* elem) {
        if (h.type == TYPE_BINARY) {
            *unit = 1;
            *n = read_varint();
        } else if (h.type == TYPE_VECTOR) {
            const uint8_t shape = read_byte();
            *unit = 1u << (shape & 3);
            *elem = shape >> 2;
            *n = read_varint();
        } else {
            const uint32_t code = read_varint();
            if ((code & 3) == 3) fail();
            *unit = 1u << (code & 3);
            *n = code >> 2;
        }
    }
    void skip_pad(uint64_t) {}
    std::vector<uint32_t> read_path() {
        const uint32_t k = read_varint();
        if (k < 1 || k > MAX_PATH) fail();
        std::vector<uint32_t> p(k);
        for (uint32_t& i : p) i = read_varint();
        return p;
    }
};

class FixedIn : public ByteIn {
  public:
    using ByteIn::ByteIn;
    static constexpr bool FIXED = true;
    static constexpr uint32_t MIN_RECORD = 4;

  protected:
    uint32_t read_index() { return read_int32(); }
    int32_t read_signed() { return int32_t(read_int32()); }
    static bool flag(const Head& h, uint32_t bit) { return h.word & bit; }
    uint32_t read_head_index(const Head&) { return read_int32(); }
    void read_number(const Head&, Cell* v) {
        v->w3 = read_int32();
        v->w2 = read_int32();
    }
    uint32_t read_short_run(uint8_t out[12], bool, uint32_t n) {
        std::memcpy(out, read_bytes(12), 12);
        return n;
    }
    uint32_t tuple_length(const Head& h) { return (h.word >> 8) & 0xFF; }
    void read_date_time(const Head&, Cell* v) {
        v->w3 = read_int32();
        v->w2 = read_int32();
    }
    uint8_t read_context_flags() {
        const uint32_t h = read_int32();
        if ((h & 0xFF) != TYPE_CONTEXT) fail();
        return uint8_t(((h >> FIXED_CTX_KIND_SHIFT) & CTX_KIND_MASK) | (h & FIXED_CTX_SELF ? CTX_SELF : 0) |
                       (h & FIXED_CTX_ON_STACK ? CTX_ON_STACK : 0) | (h & FIXED_CTX_VALUES ? CTX_VALUES : 0));
    }
    void read_image_size(uint32_t* width, uint32_t* height) {
        const uint32_t size = read_int32();
        *width = size & 0xFFFF;
        *height = size >> 16;
    }
    void read_unit_shape(const Head& h, uint32_t* n, uint32_t* unit, uint32_t* elem) {
        *unit = h.type == TYPE_BINARY ? 1 : (h.word >> 8) & 0xFF;
        *n = read_int32();
        if (h.type == TYPE_VECTOR) *elem = read_int32();
    }
    // The zero bytes after `bytes` of data up to a word boundary.
    void skip_pad(uint64_t bytes) { read_bytes((4 - bytes % 4) % 4); }
    std::vector<uint32_t> read_path() {
        if (read_int32() != FIXED_REF) fail();
        const uint32_t k = read_int32();
        if (k < 1 || k > MAX_PATH) fail();
        std::vector<uint32_t> p(k);
        for (uint32_t& i : p) i = read_int32();
        return p;
    }
};

// Where a decoded value goes: appended to a block, into a context's value
// slot, or into a data-stack cell.
struct Slot {
    enum Kind { APPEND, CONTEXT, STACK } kind;
    Off node;  // the block or the context
    uint32_t index;
    Cell* cell;
};

template <class In>
class Decoder : public In {
    using In::data_;
    using In::end_;
    using In::fail;
    using In::flag;
    using In::need;
    using In::pos_;
    using In::read_byte;
    using In::read_bytes;
    using In::read_context_flags;
    using In::read_date_time;
    using In::read_head_index;
    using In::read_image_size;
    using In::read_index;
    using In::read_int32;
    using In::read_number;
    using In::read_path;
    using In::read_short_run;
    using In::read_signed;
    using In::read_unit_shape;
    using In::read_varint;
    using In::skip_pad;
    using In::tuple_length;
    static constexpr bool FIXED = In::FIXED;

  public:
    Decoder(const uint8_t* data, size_t size, size_t base, Mode mode, const Cell* target)
        : In(data, size, base), mode_(mode), target_(*target) {
        base_count_ = count_of(target_.w2);
    }

    void run() {
        read_index();  // the record count: not needed
        const uint32_t payload = read_index();
        if (symbols_flag_) read_symbol_table();
        if (payload > end_ - pos_) fail();
        const size_t stop = pos_ + payload;
        end_ = stop;
        while (pos_ < stop) decode_record(Slot{Slot::APPEND, target_.w2, 0, nullptr}, 0);
    }

    bool symbols_flag_ = false;

  private:
    static uint32_t count_of(Off node) { return buffer_of(node)->byte_count() / sizeof(Cell); }

    // A count of items that each take at least `unit` bytes: it may be
    // larger than the bytes left (the reading then fails where the bytes
    // end), so what is made for them holds at most what the bytes can.
    uint32_t read_count() {
        const uint32_t n = read_index();
        if (n > 0x7FFFFFFF) fail();
        return n;
    }
    uint32_t room_for(uint32_t n, uint32_t unit) const {
        return uint32_t(std::min<uint64_t>(n, (end_ - pos_) / unit));
    }

    void read_symbol_table() {
        sym_count_ = read_count();
        const uint32_t area = read_index();
        offsets_at_ = pos_;
        read_bytes(uint64_t(sym_count_) * 4);
        if (area > 0x7FFFFFFF) fail();
        area_at_ = pos_;
        area_size_ = area;
        read_bytes(area);
        if (area && data_[area_at_ + area - 1] != 0) fail();
        sym_ids_.assign(sym_count_, 0);
        global_words_.assign(sym_count_, Cell{0, 0, 0, 0});
    }
    uint32_t read_symbol() { return symbol_at(read_symbol_index()); }
    uint32_t read_symbol_index() {
        const uint32_t i = read_index();
        if (i >= sym_count_) fail();
        return i;
    }
    // The word bound in the global context for a symbol of the table: made
    // once per symbol (finding a global word is a hash lookup), then copied.
    Cell global_word(uint32_t i) {
        Cell& cached = global_words_[i];
        if (!cached.header) word::make_at(symbol_at(i), &cached);
        return cached;
    }
    uint32_t symbol_at(uint32_t i) {
        if (!sym_ids_[i]) {
            uint32_t off;
            std::memcpy(&off, data_ + offsets_at_ + size_t(i) * 4, 4);
            if (off >= area_size_) fail();
            const uint8_t* name = data_ + area_at_ + off;
            const size_t len = std::strlen(reinterpret_cast<const char*>(name));
            if (len == 0) fail();
            // A name must be well-formed UTF-8 (NUL-ended, so the decoder
            // stops at the end).
            for (const uint8_t* q = name; *q;) {
                int32_t cp;
                q = unicode::fast_decode_utf8_char(q, &cp);
                if (cp < 0) fail();
            }
            sym_ids_[i] = symbol::make_from_utf8(name, uint32_t(len));
        }
        return sym_ids_[i];
    }

    // The value a path leads to (a copy).
    Cell resolve(const std::vector<uint32_t>& p) {
        const uint32_t first = p[0];
        if (first >= count_of(target_.w2) - base_count_) fail();
        Cell v = buffer_of(target_.w2)->head_cell()[base_count_ + first];
        for (size_t k = 1; k < p.size(); ++k) {
            const uint32_t i = p[k];
            const uint32_t t = v.type();
            if (is_any_block(t) || t == TYPE_MAP) {
                if (i >= count_of(v.w2)) fail();
                v = buffer_of(v.w2)->head_cell()[i];
            } else if (t == TYPE_NATIVE || t == TYPE_ACTION) {
                if (i >= count_of(v.w2)) fail();
                v = buffer_of(v.w2)->head_cell()[i];
            } else if (t == TYPE_ERROR) {
                if (i > error::FIELD_STACK - error::FIELD_ARG1) fail();
                v = *context::values_at(v.w1, error::FIELD_ARG1 + i);
            } else if (t == TYPE_FUNCTION || (t == TYPE_OP && native::op_source_type(&v) == TYPE_FUNCTION)) {
                v = function_slot(v, i);
            } else if (word::bindable_type(t) || t == TYPE_OBJECT) {
                const Off ctx = v.w1;
                if (!ctx || context::kind(ctx) == context::KIND_GLOBAL) fail();
                if (context::kind(ctx) == context::KIND_FUNCTION) {
                    // A function's words lead to the function itself.
                    const Cell fn = *context::self_cell(ctx);
                    if (fn.type() != TYPE_FUNCTION || fn.w1 != ctx) fail();
                    v = function_slot(fn, i);
                    continue;
                }
                if (context::on_stack(ctx)) fail();
                if (i >= context::word_count(ctx)) fail();
                v = *context::values_at(ctx, i);
            } else {
                fail();
            }
        }
        return v;
    }
    // The object or function a by-reference record names: the path may
    // lead to a word that first carried it inline, or to an op that wraps it.
    Cell owner_at(const std::vector<uint32_t>& p) {
        Cell v = resolve(p);
        if (v.type() == TYPE_OP && native::op_source_type(&v) == TYPE_FUNCTION) return native::op_source(&v);
        if (word::bindable_type(v.type()) && v.w1 && context::kind(v.w1) != context::KIND_GLOBAL) {
            const Cell owner = *context::self_cell(v.w1);
            if ((owner.type() == TYPE_OBJECT || owner.type() == TYPE_FUNCTION) && owner.w1 == v.w1)
                return owner;
            fail();
        }
        return v;
    }

    // Index 0 of a function is its spec, 1 its body (none while the body is
    // being read, which no path may pass through). A function is placed
    // only once its spec is read, so no path reaches a spec being read.
    Cell function_slot(const Cell& fn, uint32_t i) {
        if (i == 0) return function::spec_of(&fn);
        if (i == 1) {
            const Cell body = function::body_of(&fn);
            if (body.type() != TYPE_BLOCK) fail();
            return body;
        }
        fail();
    }

    // Stores the value where the slot says; returns where it now lies
    // (valid until the next allocation).
    // A new value's series is reachable from nothing until placed: it is
    // held on the data stack while the append may allocate.
    Cell* place(const Slot& s, const Cell& v) {
        switch (s.kind) {
            case Slot::APPEND: {
                // A block is made with room for its count of records (unless
                // the count is more than the input could hold): while there
                // is room the append cannot allocate, and the value is
                // written straight to the tail.
                SeriesBuffer* b = buffer_of(s.node);
                if (uint64_t(b->tail) + sizeof(Cell) <= b->data_end()) {
                    const Cell value = v;
                    Cell* at = b->tail_cell();
                    *at = value;
                    b->tail += sizeof(Cell);
                    return at;
                }
                const Cell blk{TYPE_BLOCK, 0, s.node, 0};
                Cell* held = stack::push(v);
                Cell* at = block::cells_append(&blk, held);
                stack::pop(1);
                return at;
            }
            case Slot::CONTEXT:
                return copy_cell(&v, context::values_at(s.node, s.index));
            default:
                return copy_cell(&v, s.cell);
        }
    }

    // One record: its header (compact: prefix bytes and a header byte, which
    // may hold the whole value; fixed: a header word after any padding
    // words), then its payload.
    void decode_record(const Slot& slot, uint32_t depth) {
        if (depth > MAX_DEPTH) fail();
        Head h{0, false, false, 0, 0};
        bool assign = false;
        if constexpr (FIXED) {
            h.word = read_int32();
            while ((h.word & 0xFF) == 0) {
                // Padding may end the payload, never a record inside a value.
                if (pos_ >= end_ && depth == 0) return;
                h.word = read_int32();
            }
            h.type = h.word & 0xFF;
            h.nl = (h.word & FIXED_NEW_LINE) ? header::NEW_LINE : 0;
            h.by_ref = h.word & FIXED_BY_REF;
        } else {
            uint8_t b = read_byte();
            for (;; b = read_byte()) {
                if (b == NEW_LINE) {
                    h.nl = header::NEW_LINE;
                } else if (b == BY_REF) {
                    h.by_ref = true;
                } else if (b == ASSIGN) {
                    if (mode_ != BOOT) fail();
                    assign = true;
                } else {
                    break;
                }
            }
            if (b >= 0x80) {
                if (h.by_ref || assign) fail();
                Cell v;
                if (b <= 0xBF) {
                    v = Cell{TYPE_INTEGER, 0, uint32_t(b - 0x80), 0};
                } else if (b == TRUE_BYTE || b == FALSE_BYTE) {
                    v = Cell{TYPE_LOGIC, b == TRUE_BYTE ? 1u : 0u, 0, 0};
                } else if (b == COPY_AT) {
                    v = resolve(read_path());
                    v.clear_new_line();
                } else {
                    fail();
                }
                v.header |= h.nl;
                place(slot, v);
                return;
            }
            h.type = b & 0x3F;
            h.alt = b & ALT;
            if (h.type == 63) h.type = read_varint();
        }
        const uint32_t t = h.type;
        if (t == 0 || t >= TYPE_ID_LIMIT || t == TYPE_SYMBOL || t == TYPE_SERIES || t == TYPE_CONTEXT) fail();
        if (refused(t)) no_codec(t);
        if (assign) {
            if (!is_all_word(t)) fail();
            assignment(t, h.alt, depth);
            return;
        }
        // Only what may be shared can be given by reference.
        if (h.by_ref && !(series_kind(t) || word::bindable_type(t) || t == TYPE_OBJECT || t == TYPE_ERROR))
            fail();
        typed(slot, h, depth);
    }

    // Boot mode, fixed-width: symbol index, root position of the value that
    // holds the context (0xFFFFFFFF: the global context) and index there
    // (-1: found by name). Bit 25 makes it an assignment: the record of the
    // value follows, and neither record is kept.
    void fixed_boot_word(const Slot& slot, uint32_t t, uint32_t h, uint32_t nl, uint32_t depth) {
        if (h & FIXED_BY_REF) fail();
        const uint32_t sym = read_symbol();
        const uint32_t at = read_int32();
        const int32_t index = int32_t(read_int32());
        Cell w;
        if (at == 0xFFFFFFFFu) {
            word::make_at(sym, &w);
            w.header = t | nl;
        } else {
            w = bound_at(sym, t, nl, at, index);
        }
        if (!(h & FIXED_GLOBAL)) {
            place(slot, w);
            return;
        }
        if (context::on_stack(w.w1)) fail();
        assign_next(w, depth);
    }

    // Boot mode: the next record is the value the word is set to; neither
    // is kept.
    void assign_next(const Cell& w, uint32_t depth) {
        Cell* held = stack::push(w);
        Cell* value = stack::push_slot();
        decode_record(Slot{Slot::STACK, 0, 0, value}, depth + 1);
        (void)context::set_word(held, value);  // global: no change hook
        stack::pop(2);
    }

    // Boot mode: a word, then the value it is set to; neither is kept.
    // The word is bound in the global context, or with alt in the context
    // of a root value (boot_word); a function's context has no slots to set.
    void assignment(uint32_t type, bool alt, uint32_t depth) {
        const uint32_t sym = read_symbol();
        Cell w;
        if (alt) {
            w = boot_word(sym, type, 0);
            if (context::on_stack(w.w1)) fail();
        } else {
            word::make_at(sym, &w);
            w.set_type(type);
        }
        assign_next(w, depth);
    }

    // Boot mode: a word bound in the context of the root value at a
    // position (from the first value of this decode), with its index there
    // or -1 to look its symbol up.
    Cell boot_word(uint32_t sym, uint32_t type, uint32_t nl) {
        const uint32_t at = read_index();
        const int32_t index = read_signed();
        return bound_at(sym, type, nl, at, index);
    }
    Cell bound_at(uint32_t sym, uint32_t type, uint32_t nl, uint32_t at, int32_t index) {
        if (at >= count_of(target_.w2) - base_count_) fail();
        Cell holder = buffer_of(target_.w2)->head_cell()[base_count_ + at];
        if (holder.type() == TYPE_OP && native::op_source_type(&holder) == TYPE_FUNCTION)
            holder = native::op_source(&holder);
        const uint32_t ht = holder.type();
        if (ht != TYPE_OBJECT && ht != TYPE_ERROR && ht != TYPE_FUNCTION) fail();
        const Off ctx = holder.w1;
        if (!ctx || context::kind(ctx) == context::KIND_GLOBAL) fail();
        int32_t i = index;
        if (i == -1) i = context::find_word(ctx, sym, true);
        if (i < 0 || uint32_t(i) >= context::word_count(ctx)) fail();
        return Cell{type | nl, ctx, sym, uint32_t(i)};
    }

    // The payload of a record of type h.type, the same for both layouts but
    // for the fields the layout's reader gives. Every value is checked
    // against what its type's actions rely on before it is placed.
    void typed(const Slot& slot, const Head& h, uint32_t depth) {
        const uint32_t t = h.type;
        const uint32_t nl = h.nl;
        Cell v{t, 0, 0, 0};
        switch (t) {
            case TYPE_DATATYPE:
                v.w1 = read_index();
                if (!datatype_id_ok(v.w1)) fail();
                break;
            case TYPE_UNSET:
            case TYPE_NONE:
                break;
            case TYPE_LOGIC:
                if constexpr (!FIXED) fail();  // only as 0xC2 / 0xC3
                v.w1 = read_int32() != 0;
                break;
            case TYPE_INTEGER:
                v.w2 = uint32_t(read_signed());
                break;
            case TYPE_CHAR:
                v.w2 = read_index();
                if (v.w2 > 0x10FFFF) fail();
                break;
            case TYPE_PAIR:
                v.w2 = uint32_t(read_signed());
                v.w3 = uint32_t(read_signed());
                break;
            case TYPE_POINT2D:
                v.w1 = read_int32();
                v.w2 = read_int32();
                break;
            case TYPE_POINT3D:
                v.w1 = read_int32();
                v.w2 = read_int32();
                v.w3 = read_int32();
                break;
            case TYPE_FLOAT:
            case TYPE_TIME:
            case TYPE_PERCENT:
                read_number(h, &v);
                if (!number_ok(v, t)) fail();
                break;
            case TYPE_DATE:
                v.w1 = read_int32();
                read_date_time(h, &v);
                if (!date_ok(v)) fail();
                break;
            case TYPE_TYPESET: {
                uint8_t bits[12] = {};
                read_short_run(bits, true, 12);  // any bits: a typeset may name types to come
                std::memcpy(&v.w1, bits, 12);
                break;
            }
            case TYPE_TUPLE: {
                const uint32_t n = tuple_length(h);
                if (n < 1 || n > 12) fail();
                uint8_t b[12] = {};
                read_short_run(b, false, n);
                lexer::values::make_tuple(&v, b, n);
                break;
            }
            case TYPE_MONEY:
                std::memcpy(&v.w1, read_bytes(12), 12);
                if (!money_ok(v)) fail();
                if (flag(h, FIXED_MONEY_NEGATIVE)) v.header |= header::MONEY_SIGN;
                break;
            case TYPE_ISSUE:
                if (h.alt) fail();
                v = Cell{TYPE_ISSUE, context::global(), read_symbol(), 0xFFFFFFFFu};
                break;
            case TYPE_WORD:
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT:
                if constexpr (FIXED) {
                    if (mode_ == BOOT) {
                        fixed_boot_word(slot, t, h.word, nl, depth);
                        return;
                    }
                    read_word(slot, t, h.word & FIXED_GLOBAL, h.by_ref, nl, depth);
                } else {
                    read_word(slot, t, !h.alt, h.by_ref, nl, depth);
                }
                return;
            case TYPE_OBJECT:
                read_object(slot, h.by_ref, nl, depth, nullptr, flag(h, FIXED_HOOKS));
                return;
            case TYPE_ERROR:
                read_error(slot, h.by_ref, nl, depth);
                return;
            case TYPE_MAP:
                read_map(slot, h.by_ref, nl, depth);
                return;
            case TYPE_BITSET:
                read_bitset(slot, flag(h, FIXED_COMPLEMENT), h.by_ref, nl);
                return;
            case TYPE_NATIVE:
            case TYPE_ACTION:
                if (h.by_ref) fail();
                read_native(slot, t, nl, depth);
                return;
            case TYPE_FUNCTION:
                read_function(slot, h.by_ref, nl, depth);
                return;
            case TYPE_OP:
                // Fixed: bits 16-23 name the wrapped type (which overlaps the
                // by-reference bit); an op is never given by reference.
                if (h.by_ref && !FIXED) fail();
                read_op(slot, nl, depth, FIXED ? (h.word >> 16) & 0xFF : 0);
                return;
            case TYPE_IMAGE:
                read_image(slot, read_head_index(h), h.by_ref, nl);
                return;
            default:
                if (is_any_block(t) || unit_series(t)) {
                    read_series(slot, h, depth);
                    return;
                }
                fail();
        }
        v.header |= nl;
        place(slot, v);
    }

    // A series: its head index, then by reference its path, else its
    // records (block-like) or its units.
    void read_series(const Slot& slot, const Head& h, uint32_t depth) {
        const uint32_t t = h.type;
        const uint32_t index = read_head_index(h);
        Cell v;
        if (h.by_ref) {
            v = shared_series(t);
        } else if (is_any_block(t)) {
            read_block(slot, t, read_count(), index, h.nl, depth);
            return;
        } else {
            uint32_t n = 0, unit = 1, elem = 0;
            read_unit_shape(h, &n, &unit, &elem);
            if (t == TYPE_VECTOR ? !vector_shape_ok(elem, unit) : unit != 1 && unit != 2 && unit != 4) fail();
            const uint64_t bytes = uint64_t(n) * unit;
            const uint8_t* src = read_bytes(bytes);
            skip_pad(bytes);
            if (unit == 4 && (t != TYPE_VECTOR || elem == TYPE_CHAR) && !code_points_ok(src, n)) fail();
            if (t == TYPE_VECTOR) {
                read_vector(&v, src, n, unit, elem);
            } else {
                v = Cell{t, 0, new_units(t, src, n, unit), 0};
            }
        }
        place_series(slot, v, t, index, h.nl);
    }

    // A series met before, by its path: of the same class as the record's
    // type, and a hash! only where the record says hash! (the hash index
    // travels with the cell).
    Cell shared_series(uint32_t t) {
        Cell v = resolve(read_path());
        const uint32_t found = v.type();
        if (!((is_any_block(found) && is_any_block(t)) || (is_any_string(found) && is_any_string(t)) ||
              found == t))
            fail();
        if ((t == TYPE_HASH) != (found == TYPE_HASH) || (t == TYPE_HASH && !v.w3)) fail();
        return v;
    }

    // A new block-like series of n records, placed before its contents so
    // that paths inside may reach it.
    void read_block(const Slot& slot, uint32_t t, uint32_t n, uint32_t index, uint32_t nl, uint32_t depth) {
        Cell v;
        block::make_at(&v, int32_t(std::max(1u, room_for(n, In::MIN_RECORD))));
        place(slot, Cell{t | nl, 0, series_node(&v), 0});
        const Off node = series_node(&v);
        // A hash! gets its (empty) table before its contents are read, so
        // that a record inside naming it (by reference or as a copy) carries
        // the table too; the contents are indexed once they are all read.
        if (t == TYPE_HASH) index_hash(slot);
        for (uint32_t i = 0; i < n; ++i) decode_record(Slot{Slot::APPEND, node, 0, nullptr}, depth + 1);
        if (index > n) fail();
        set_index(slot, index);
        if (t == TYPE_HASH) hashtable::put_all(locate_last(slot)->w3, 0, 1);
    }

    // A new binary! (unit 1) or string buffer of n units copied from src
    // (already checked to lie in the input).
    static Off new_units(uint32_t t, const uint8_t* src, uint32_t n, uint32_t unit) {
        const Off node = t == TYPE_BINARY ? memory::alloc_bytes(n) : memory::alloc_codepoints(n, unit);
        SeriesBuffer* b = buffer_of(node);
        std::memcpy(b->head_ptr(), src, size_t(n) * unit);
        b->tail = b->head + n * unit;
        return node;
    }

    // Places a non-block series at its index, which must lie within it.
    void place_series(const Slot& slot, Cell v, uint32_t t, uint32_t index, uint32_t nl) {
        const SeriesBuffer* b = buffer_of(series_node(&v));
        if (index > (b->byte_count() >> unit_shift(b->unit()))) fail();
        set_series_index(&v, index);
        v.header = t | nl;
        place(slot, v);
    }

    // Where the value placed through the slot lies now; `position` is the
    // block position an appended value took.
    static Cell* locate(const Slot& slot, uint32_t position) {
        if (slot.kind == Slot::APPEND) return buffer_of(slot.node)->head_cell() + position;
        if (slot.kind == Slot::CONTEXT) return context::values_at(slot.node, slot.index);
        return slot.cell;
    }
    uint32_t next_position(const Slot& slot) { return slot.kind == Slot::APPEND ? count_of(slot.node) : 0; }

    // Sets the index of the series value just placed.
    void set_index(const Slot& slot, uint32_t index) {
        Cell* at = slot.kind == Slot::APPEND ? buffer_of(slot.node)->tail_cell() - 1 : locate(slot, 0);
        at->w1 = index;
    }

    // A word placed before its owner's context was made.
    struct Pending {
        Slot slot;
        uint32_t position;
    };

    void read_word(const Slot& slot, uint32_t t, bool global, bool by_ref, uint32_t nl, uint32_t depth) {
        const uint32_t sym_index = read_symbol_index();
        if (global) {
            if (FIXED) read_int32();  // the index in the global context: found again by name
            if (by_ref) fail();
            Cell w = global_word(sym_index);
            w.header = t | nl;
            place(slot, w);
            return;
        }
        const uint32_t sym = symbol_at(sym_index);
        if (mode_ == BOOT && !FIXED) {
            if (by_ref) fail();
            place(slot, boot_word(sym, t, nl));
            return;
        }
        const int32_t index = read_signed();
        if (by_ref) {
            const Cell owner = owner_at(read_path());
            const uint32_t ot = owner.type();
            if (ot != TYPE_OBJECT && ot != TYPE_FUNCTION) fail();
            const Off ctx = owner.w1;
            if (!ctx) fail();
            const uint32_t kind = context::kind(ctx);
            if (kind != context::KIND_OBJECT && kind != context::KIND_FUNCTION) fail();
            if (kind == context::KIND_FUNCTION && ot == TYPE_OBJECT) fail();
            if (index < 0 || uint32_t(index) >= context::word_count(ctx)) fail();
            place(slot, Cell{t | nl, ctx, sym, uint32_t(index)});
            return;
        }
        // The owner follows inline. The word is placed first and bound as
        // soon as the owner's context exists, so that paths inside the
        // owner may lead through it.
        const uint32_t position = next_position(slot);
        place(slot, Cell{t | nl, 0, sym, uint32_t(index)});
        uint32_t owner_type;
        bool hooks = false;
        if constexpr (FIXED) {
            const uint32_t h = read_int32();
            owner_type = h & 0xFF;
            hooks = h & FIXED_HOOKS;
        } else {
            const uint8_t h = read_byte();
            owner_type = h & 0x3F;
            hooks = h & ALT;
            if (h >= 0x80) fail();
        }
        Cell* owner = stack::push_slot();
        const Pending pending{slot, position};
        if (owner_type == TYPE_OBJECT) {
            read_object(Slot{Slot::STACK, 0, 0, owner}, false, 0, depth + 1, &pending, hooks);
        } else if (owner_type == TYPE_FUNCTION) {
            read_function(Slot{Slot::STACK, 0, 0, owner}, false, 0, depth + 1, &pending);
        } else {
            fail();
        }
        stack::pop(1);
    }

    std::vector<uint32_t> function_context_words() {
        const uint8_t flags = read_context_flags();
        if ((flags & CTX_KIND_MASK) != context::KIND_FUNCTION || !(flags & CTX_ON_STACK)) fail();
        const uint32_t n = read_count();
        std::vector<uint32_t> syms;
        syms.reserve(room_for(n, In::MIN_RECORD));
        for (uint32_t i = 0; i < n; ++i) syms.push_back(read_symbol());
        return syms;
    }

    // Runs a rebuilding step (a spec check, an op's making) whose own
    // errors mean malformed input: they become kb-invalid-record, with the
    // stacks as they were.
    template <class Step>
    void or_invalid(Step&& step) {
        const stack::Marks marks;
        try {
            step();
        } catch (const RaisedError&) {
            marks.restore();
            fail();
        }
    }

    // The spec block or body of a function: a block! record with no prefix but
    // new-line and by-reference.
    void function_block(Cell* into, uint32_t depth) {
        size_t at = pos_;
        if constexpr (FIXED) {
            if (end_ - at < 4) fail();
            if ((data_[at] & 0xFF) != TYPE_BLOCK) fail();
        } else {
            while (at < end_ && (data_[at] == NEW_LINE || data_[at] == BY_REF)) ++at;
            if (at >= end_ || data_[at] >= 0x80 || (data_[at] & 0x3F) != TYPE_BLOCK) fail();
        }
        decode_record(Slot{Slot::STACK, 0, 0, into}, depth + 1);
        if (into->type() != TYPE_BLOCK) fail();
    }

    // A function is rebuilt from its spec block, checked as `func`
    // checks it and must give the words of the record's context, in order;
    // the function is placed before its body is read, so that the body's
    // words may name it.
    void read_function(const Slot& slot, bool by_ref, uint32_t nl, uint32_t depth,
                       const Pending* pending = nullptr) {
        if (by_ref) {
            Cell v = owner_at(read_path());
            if (v.type() != TYPE_FUNCTION) fail();
            v.header = (v.header & ~header::NEW_LINE) | nl;
            place(slot, v);
            return;
        }
        read_size();              // the spec block's cell count
        if (!FIXED) read_size();  // the body's
        const std::vector<uint32_t> syms = function_context_words();
        Cell* spec = stack::push_slot();
        function_block(spec, depth);
        spec->w1 = 0;
        uint32_t flags = 0;
        or_invalid([&] { flags = function::validate(spec); });
        Cell fn;
        {
            memory::CollectionPause pause;
            Off ctx = 0;
            or_invalid([&] { ctx = context::make(spec, true, false, context::KIND_FUNCTION); });
            const uint32_t n = context::word_count(ctx);
            if (n != syms.size()) fail();
            for (uint32_t i = 0; i < n; ++i)
                if (context::word_at(ctx, i)->w2 != syms[i]) fail();
            const Off series = memory::alloc_cells(function::SERIES_CELLS);
            SeriesBuffer* s = buffer_of(series);
            Cell* c = s->head_cell();
            c[function::CELL_BODY] = none::cell();
            for (uint32_t k = 1; k < function::SERIES_CELLS; ++k) c[k] = Cell{TYPE_UNSET, 0, 0, 0};
            s->tail = s->head + function::SERIES_CELLS * sizeof(Cell);
            fn = Cell{TYPE_FUNCTION | (flags & (header::FUNC_TRACE | header::FUNC_NO_TRACE)), ctx, spec->w2,
                      series};
            *context::self_cell(ctx) = fn;
            *spec = fn;  // roots the context, spec and series
        }
        Cell placed = fn;
        placed.header |= nl;
        place(slot, placed);
        if (pending) {
            Cell* word = locate(pending->slot, pending->position);
            if (word->w3 >= syms.size()) fail();
            word->w1 = fn.w1;
        }
        Cell* body = stack::push_slot();
        function_block(body, depth);
        *function::series_cell(&fn, function::CELL_BODY) = *body;
        stack::pop(2);
    }

    // An image of at most 65535 x 65535 pixels, all of them present in the
    // input before the image is made.
    void read_image(const Slot& slot, uint32_t index, bool by_ref, uint32_t nl) {
        Cell v;
        if (by_ref) {
            v = resolve(read_path());
            if (v.type() != TYPE_IMAGE) fail();
        } else {
            uint32_t width, height;
            read_image_size(&width, &height);
            if (width > 0xFFFF || height > 0xFFFF || !os_image::fits(width, height)) fail();
            const uint64_t bytes = uint64_t(width) * height * 4;
            const uint8_t* src = read_bytes(bytes);
            Cell* made = image::push_new(width, height);
            if (uint32_t* px = os_image::pixels(made, true)) std::memcpy(px, src, size_t(bytes));
            v = *made;
            stack::pop(1);
        }
        if (index > os_image::pixel_count(&v)) fail();
        v.w1 = index;
        v.header = TYPE_IMAGE | nl;
        place(slot, v);
    }

    // An op: the record of a native, action or function that takes two
    // arguments, at the op's position. In the fixed layout the header
    // names the wrapped type.
    // The wrapped value is decoded into the op's own place (paths from
    // inside it lead there) and then turned into the op.
    void read_op(const Slot& slot, uint32_t nl, uint32_t depth, uint32_t fixed_source) {
        const uint32_t position = next_position(slot);
        decode_record(slot, depth + 1);
        if (slot.kind == Slot::APPEND && count_of(slot.node) != position + 1) fail();
        Cell* source = stack::push(*locate(slot, position));
        const uint32_t st = source->type();
        if (st != TYPE_NATIVE && st != TYPE_ACTION && st != TYPE_FUNCTION) fail();
        if (FIXED && st != fixed_source) fail();
        source->clear_new_line();
        Cell* op = stack::push_slot();
        or_invalid([&] { (void)native::op_make(op, source, TYPE_OP); });  // writes *op
        Cell v = *op;
        v.header |= nl;
        *locate(slot, position) = v;
        stack::pop(2);
    }

    // An error is made from its code (which must name a catalog entry) and
    // placed before its fields are read, so paths inside reach it.
    void read_error(const Slot& slot, bool by_ref, uint32_t nl, uint32_t depth) {
        if (by_ref) {
            Cell v = resolve(read_path());
            if (v.type() != TYPE_ERROR) fail();
            v.header = (v.header & ~header::NEW_LINE) | nl;
            place(slot, v);
            return;
        }
        const uint32_t code = read_index();
        Cell* held = stack::push(Cell{TYPE_NONE, 0, 0, 0});
        if (code > 0x7FFFFFFF || !error::from_code(held, int32_t(code))) {
            stack::pop(1);
            fail();
        }
        Cell placed = *held;
        placed.header |= nl;
        place(slot, placed);
        stack::pop(1);
        const Off ctx = placed.w1;
        for (uint32_t f = error::FIELD_ARG1; f <= error::FIELD_STACK; ++f)
            decode_record(Slot{Slot::CONTEXT, ctx, f, nullptr}, depth + 1);
    }

    void read_object(const Slot& slot, bool by_ref, uint32_t nl, uint32_t depth,
                     const Pending* pending = nullptr, bool hooks = false) {
        if (by_ref) {
            Cell v = owner_at(read_path());
            if (v.type() != TYPE_OBJECT) fail();
            v.header = (v.header & ~header::NEW_LINE) | nl;
            place(slot, v);
            return;
        }
        const int32_t class_id = read_signed();
        int32_t hook[2] = {-1, -1};
        if (hooks) {
            hook[0] = read_signed();
            hook[1] = read_signed();
        }
        const uint8_t flags = read_context_flags();
        if ((flags & CTX_KIND_MASK) != context::KIND_OBJECT || (flags & CTX_ON_STACK)) fail();
        const uint32_t n = read_count();
        std::vector<uint32_t> syms;
        syms.reserve(room_for(n, In::MIN_RECORD));
        for (uint32_t i = 0; i < n; ++i) syms.push_back(read_symbol());
        for (int32_t k : hook)
            if (k < -1 || k >= int32_t(n)) fail();
        if (hooks && hook[0] < 0 && hook[1] < 0) fail();
        // The hook data is made with the object, so every copy of the cell
        // carries it; the hook functions' specs are left unknown, so the
        // first call counts their locals.
        Cell* held = stack::push_slot();
        if (hooks) *held = Cell{TYPE_BLOCK, 0, object::make_on_set_data(0, 0, hook[0], hook[1], 0, 0), 0};
        const Off on_set = hooks ? held->w2 : 0;
        const Off ctx = context::create(n, false, true, 0, context::KIND_OBJECT);
        const Cell obj = object::cell(ctx, class_id, on_set);
        *context::self_cell(ctx) = obj;
        stack::pop(1);
        Cell placed = obj;
        placed.header |= nl;
        place(slot, placed);
        const Cell unset{TYPE_UNSET, 0, 0, 0};
        for (uint32_t s : syms) {
            const Cell w = word::unbound(s);
            if (!context::add_word(ctx, &w, &unset)) fail();  // a name twice
        }
        if (pending) {
            Cell* word = locate(pending->slot, pending->position);
            if (word->w3 >= n) fail();
            word->w1 = ctx;
        }
        if ((flags & CTX_VALUES))
            for (uint32_t i = 0; i < n; ++i) decode_record(Slot{Slot::CONTEXT, ctx, i, nullptr}, depth + 1);
        // An on-deep-change* hook makes the object the owner of its series.
        if (hook[1] >= 0 && object::ownership_bind_set) {
            const Cell self = *context::self_cell(ctx);
            object::ownership_bind_set(&self, nullptr);
        }
    }

    void read_bitset(const Slot& slot, bool complemented, bool by_ref, uint32_t nl) {
        Cell v;
        if (by_ref) {
            v = resolve(read_path());
            if (v.type() != TYPE_BITSET) fail();
        } else {
            const uint32_t n = read_count();
            if (uint64_t(n) * 8 > uint64_t(bitset::MAX_BIT) + 1) fail();
            const uint8_t* src = read_bytes(n);
            skip_pad(n);
            bitset::make_at(&v, n, 0);
            SeriesBuffer* b = buffer_of(v.w2);
            std::memcpy(b->head_ptr(), src, n);
            b->tail = b->head + n;
            if (complemented) b->flags |= series_flag::COMPLEMENT;
        }
        v.header = TYPE_BITSET | nl;
        place(slot, v);
    }

    // A hash! gets its table once its values are in.
    void index_hash(const Slot& slot) {
        Cell* held = stack::push(*locate_last(slot));
        hash::index_block(held);
        *locate_last(slot) = *held;
        stack::pop(1);
    }
    static Cell* locate_last(const Slot& slot) {
        return slot.kind == Slot::APPEND ? buffer_of(slot.node)->tail_cell() - 1 : locate(slot, 0);
    }

    void read_map(const Slot& slot, bool by_ref, uint32_t nl, uint32_t depth) {
        if (by_ref) {
            Cell v = resolve(read_path());
            if (v.type() != TYPE_MAP) fail();
            v.header = TYPE_MAP | nl;
            place(slot, v);
            return;
        }
        const uint32_t n = read_count();
        if (n % 2) fail();
        // The pairs are decoded into a block that then becomes the map's
        // pair block; the keys are checked and normalised as a map stores
        // them, and the table is made over all of them at once.
        Cell* pairs = stack::push_slot();
        block::make_at(pairs, int32_t(std::max(2u, room_for(n, In::MIN_RECORD))));
        const Off node = pairs->w2;
        for (uint32_t i = 0; i < n; ++i) decode_record(Slot{Slot::APPEND, node, 0, nullptr}, depth + 1);
        for (uint32_t i = 0; i < n; i += 2) {
            Cell* key = stack::push(buffer_of(node)->head_cell()[i]);
            if (!map::key_type(key->type())) fail();
            map::normalize_key(key, nullptr);
            key->clear_new_line();
            Cell* cells = buffer_of(node)->head_cell();
            cells[i] = *key;
            cells[i + 1].clear_new_line();
            stack::pop(1);
        }
        Cell* result = stack::push_slot();
        map::make_at(result, node, 0, 0);
        Cell v = *result;
        v.header |= nl;
        place(slot, v);
        stack::pop(2);
    }

    void read_native(const Slot& slot, uint32_t t, uint32_t nl, uint32_t depth) {
        const uint32_t number = read_index();
        const uint32_t limit = t == TYPE_NATIVE ? natives::NATIVE_COUNT : native::ACTION_LIMIT;
        if (number < 1 || number > limit) fail();
        Cell* spec = stack::push_slot();
        decode_record(Slot{Slot::STACK, 0, 0, spec}, depth + 1);
        if (spec->type() != TYPE_BLOCK) fail();
        if (mode_ == BOOT) {
            // The boot image defines the built-ins: the value is made from
            // its number and its spec.
            Cell* pair = stack::push_slot();
            block::make_at(pair, 2);
            const Cell n{TYPE_INTEGER, 0, number, 0};
            block::cells_append(pair, &n);
            block::cells_append(pair, spec);
            Cell* made = stack::push(datatype::cell(t));
            or_invalid([&] { (void)native::make(made, pair, t); });  // writes *made
            Cell v = *made;
            v.header |= nl;
            place(slot, v);
            stack::pop(3);
            return;
        }
        // In load mode the argument block is read (and checked) but the
        // value is the one the system holds for that number: its entry and
        // block are its own.
        const Off global = context::global();
        const uint32_t words = context::word_count(global);
        for (uint32_t i = 0; i < words; ++i) {
            const Cell* value = context::values_at(global, i);
            if (value->type() == t && value->w1 == number) {
                Cell v = *value;
                v.header = (v.header & ~header::NEW_LINE) | nl;
                place(slot, v);
                stack::pop(1);
                return;
            }
        }
        fail();
    }

    // A new vector! of n elements copied from src (already checked to lie
    // in the input). The source is the decoder's own copy, so it does not
    // move when the allocation collects.
    static void read_vector(Cell* v, const uint8_t* src, uint32_t n, uint32_t unit, uint32_t elem_type) {
        vector::make_at(v, n, unit, elem_type);
        SeriesBuffer* b = buffer_of(v->w2);
        std::memcpy(b->head_ptr(), src, size_t(n) * unit);
        b->tail = b->head + n * unit;
    }

    // A size that must fit the bytes left.
    uint32_t read_size() {
        const uint32_t n = read_index();
        if (n > 0x7FFFFFFF || n > end_ - pos_) fail();
        return n;
    }

    Mode mode_;
    Cell target_;
    uint32_t base_count_ = 0;
    uint32_t sym_count_ = 0;
    size_t offsets_at_ = 0, area_at_ = 0;
    uint32_t area_size_ = 0;
    std::vector<uint32_t> sym_ids_;
    std::vector<Cell> global_words_;
};

// The header and records as a new binary in `out`.
Cell* finish(const std::vector<uint8_t>& head, const std::vector<uint8_t>& records, Cell* out) {
    const uint64_t total = head.size() + records.size();
    if (total > 0x7FFFFFFF) fire({"internal", "no-memory"});
    lexer::values::make_binary(out, uint32_t(total));
    SeriesBuffer* b = buffer_of(out->w2);
    std::memcpy(b->head_ptr(), head.data(), head.size());
    if (!records.empty()) std::memcpy(b->head_ptr() + head.size(), records.data(), records.size());
    b->tail = b->head + uint32_t(total);
    return out;
}

}  // namespace

bool series_kind(uint32_t t) {
    return is_any_block(t) || is_any_string(t) || t == TYPE_VECTOR || t == TYPE_BINARY || t == TYPE_IMAGE ||
           t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE ||
           t == TYPE_BITSET || t == TYPE_MAP;
}

Cell* encode_cp(const Cell* value, Cell* out, bool symbols) {
    Encoder<CompactOut> e;
    const Cell v = *value;
    e.record(&v);
    const bool table = symbols || !e.offsets.empty();
    std::vector<uint8_t> head = {'K', 'I', 'V', 'B',
                                 'I', 'N', 2,   uint8_t(FLAG_COMPACT | (table ? FLAG_SYMBOLS : 0))};
    put_varint(head, 1);
    put_varint(head, uint32_t(e.out.size()));
    if (table) {
        put_varint(head, uint32_t(e.offsets.size()));
        put_varint(head, uint32_t(e.names.size()));
        for (uint32_t off : e.offsets)
            for (int k = 0; k < 4; ++k) head.push_back(uint8_t(off >> (8 * k)));
        head.insert(head.end(), e.names.begin(), e.names.end());
    }
    return finish(head, e.out, out);
}

Cell* encode(const Cell* value, Cell* out, bool symbols) {
    Encoder<FixedOut> e;
    const Cell v = *value;
    e.record(&v);
    const bool table = symbols || !e.offsets.empty();
    std::vector<uint8_t> head = {'K', 'I', 'V', 'B', 'I', 'N', 2, uint8_t(table ? FLAG_SYMBOLS : 0)};
    auto word = [&head](uint32_t w) {
        for (int k = 0; k < 4; ++k) head.push_back(uint8_t(w >> (8 * k)));
    };
    word(1);
    word(uint32_t(e.out.size()));
    if (table) {
        // Each name padded with zero bytes to a multiple of 8.
        std::vector<uint8_t> area;
        std::vector<uint32_t> offsets;
        for (size_t i = 0; i < e.offsets.size(); ++i) {
            offsets.push_back(uint32_t(area.size()));
            const char* name = reinterpret_cast<const char*>(e.names.data() + e.offsets[i]);
            area.insert(area.end(), name, name + std::strlen(name) + 1);
            while (area.size() % 8) area.push_back(0);
        }
        word(uint32_t(offsets.size()));
        word(uint32_t(area.size()));
        for (uint32_t off : offsets) word(off);
        head.insert(head.end(), area.begin(), area.end());
    }
    return finish(head, e.out, out);
}

namespace {

// `in_place`: the buffer does not move while decoding (static data), so an
// uncompressed one is read where it lies.
void decode_buffer(const uint8_t* buffer, uint32_t length, const Cell* target, Mode mode, bool in_place) {
    if (length < 8 || std::memcmp(buffer, "KIVBIN", 6) != 0) fire({"script", "invalid-data"});
    const uint8_t flags = buffer[7];
    std::vector<uint8_t> data;
    const uint8_t* bytes = buffer;
    size_t size = length;
    size_t base = 8;
    if (flags & FLAG_COMPRESSED) {
        if (!lz::decompress(buffer + 8, length - 8, &data, MAX_DECOMPRESSED))
            fire({"script", "invalid-data"});
        bytes = data.data();
        size = data.size();
        base = 0;
    } else if (!in_place) {
        data.assign(buffer, buffer + length);
        bytes = data.data();
    }
    if (!(flags & FLAG_COMPACT) && size - base < 8) fire({"script", "invalid-data"});
    Cell* const top = stack::top;
    if (flags & FLAG_COMPACT) {
        Decoder<CompactIn> d(bytes, size, base, mode, target);
        d.symbols_flag_ = flags & FLAG_SYMBOLS;
        d.run();
    } else {
        Decoder<FixedIn> d(bytes, size, base, mode, target);
        d.symbols_flag_ = flags & FLAG_SYMBOLS;
        d.run();
    }
    stack::top = top;
}

}  // namespace

void decode(const uint8_t* buffer, uint32_t length, const Cell* target, Mode mode) {
    decode_buffer(buffer, length, target, mode, false);
}

Cell* encode_boot(const Cell* assignments, const Cell* literals, Cell* out) {
    Encoder<CompactOut> e;
    const uint32_t pairs = block::cells_length(assignments) / 2;
    for (uint32_t i = 0; i < pairs; ++i) {
        const Cell w = *block::cells_at(assignments, assignments->w1 + 2 * i);
        const Cell v = *block::cells_at(assignments, assignments->w1 + 2 * i + 1);
        e.assignment(&w, &v);
    }
    const uint32_t n = block::cells_length(literals);
    for (uint32_t i = 0; i < n; ++i) {
        const Cell v = *block::cells_at(literals, literals->w1 + i);
        e.record(&v);
    }
    std::vector<uint8_t> head = {'K', 'I', 'V', 'B', 'I', 'N', 1, uint8_t(FLAG_COMPACT | FLAG_SYMBOLS)};
    put_varint(head, pairs + n);
    put_varint(head, uint32_t(e.out.size()));
    put_varint(head, uint32_t(e.offsets.size()));
    put_varint(head, uint32_t(e.names.size()));
    for (uint32_t off : e.offsets)
        for (int k = 0; k < 4; ++k) head.push_back(uint8_t(off >> (8 * k)));
    head.insert(head.end(), e.names.begin(), e.names.end());
    return finish(head, e.out, out);
}

uint32_t load_boot(const uint8_t* image, uint32_t size, bool keep_literals, uint32_t* count) {
    // The collector stays off for the decode (and comes back as it was on
    // every way out).
    struct Restore {
        bool collecting = memory::collection_enabled;
        Off saved_base = literal_table::base;
        bool keep;
        ~Restore() {
            memory::collection_enabled = collecting;
            if (keep) literal_table::set_base(saved_base);
        }
    } restore{.keep = keep_literals};
    memory::collection_enabled = false;
    const uint32_t first = root::count();
    decode_buffer(image, size, &root::block, BOOT, true);
    const uint32_t total = root::count();
    if (count) *count = total - first;
    literal_table::set_base(buffer_of(root::block.w2)->data_start() + first * uint32_t(sizeof(Cell)));
    return first;
}

}  // namespace kiv::kivbin
