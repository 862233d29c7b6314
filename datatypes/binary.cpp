// binary! actions: conversion to bytes, the hex mold, comparison, the
// bitwise actions, append/insert/change and trim. The other series actions
// come from string! and series!.
#include "datatypes/binary.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "runtime/stack.h"
#include "runtime/base_codecs.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kiv::binary {

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFFFFull;

// The bytes of a binary from its (clamped) index. Valid until the next
// allocation.
struct Bytes {
    uint8_t* p;
    uint32_t count;
};
Bytes bytes_of(Cell* bin) {
    SeriesBuffer* b = buffer_of(series_node(bin));
    uint32_t total = b->byte_count();
    if (bin->w1 > total) bin->w1 = total;
    return Bytes{b->head_ptr() + bin->w1, total - bin->w1};
}

// The UTF-8 bytes of a string-like value from its index.
void append_utf8(Cell* str, int32_t limit, std::vector<uint8_t>& out) {
    Cell s = *str;
    int32_t length = -1;
    const uint8_t* p = unicode::to_utf8(&s, &length);
    uint32_t n = uint32_t(length);
    if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
    out.insert(out.end(), p, p + n);
}

void append_cut(std::vector<uint8_t>& out, const uint8_t* p, uint32_t n, int32_t limit) {
    if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
    out.insert(out.end(), p, p + n);
}

[[noreturn]] void bad_to_arg(const Cell& value) {
    fire({"script", "bad-to-arg"}, datatype::cell(TYPE_BINARY), value);
}

[[noreturn]] void too_big() {
    fire({"internal", "no-memory"});
}

// Grows the buffer so that `extra` more bytes fit after its tail (to twice
// the needed size). Returns the buffer to use.
SeriesBuffer* room_for(SeriesBuffer* b, uint64_t extra) {
    uint64_t need = uint64_t(b->byte_count()) + extra;
    if (need > MAX_BYTES) too_big();
    if (uint64_t(b->tail) + extra <= b->data_end()) return b;
    return memory::expand_series_copy(
        b, std::min<uint64_t>(std::max<uint64_t>(need, 2ull * b->size), MAX_BYTES));
}

// Writes `bytes` `dup` times from `at`.
void write_repeated(uint8_t* at, const std::vector<uint8_t>& bytes, uint32_t dup) {
    size_t n = bytes.size();
    if (n == 0) return;  // an empty vector's data may be null
    for (uint32_t k = 0; k < dup; ++k) std::memcpy(at + k * n, bytes.data(), n);
}

uint64_t checked_total(size_t size, int32_t dup) {
    uint64_t total = uint64_t(size) * uint32_t(dup);
    if (total > MAX_BYTES) too_big();
    return total;
}

}  // namespace

Cell* push_bytes(const uint8_t* bytes, uint32_t count) {
    Cell* c = stack::push_slot();
    *c = Cell{TYPE_NONE, 0, 0, 0};
    memory::CollectionPause pause;
    Off node = memory::alloc_bytes(std::max(count, 1u));
    SeriesBuffer* b = buffer_of(node);
    if (count) std::memcpy(b->head_ptr(), bytes, count);
    b->tail = b->head + count;
    *c = Cell{TYPE_BINARY, 0, node, 0};
    return c;
}

Cell* push_room(uint32_t count, uint8_t*& bytes) {
    Cell* c = stack::push_slot();
    *c = Cell{TYPE_NONE, 0, 0, 0};
    Off node = memory::alloc_bytes(std::max(count, 1u));
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head + count;
    bytes = b->head_ptr();
    *c = Cell{TYPE_BINARY, 0, node, 0};
    return c;
}

void cut(Cell* bin, uint32_t count) {
    SeriesBuffer* b = buffer_of(series_node(bin));
    if (count < b->byte_count()) b->tail = b->head + count;
}

const uint8_t* bytes_at(Cell* bin, uint32_t& count) {
    Bytes b = bytes_of(bin);
    count = b.count;
    return b.p;
}

void gather(Cell* value, int32_t part, bool only, bool formed, std::vector<uint8_t>& out) {
    uint32_t t = value->type();
    switch (t) {
        case TYPE_CHAR: {
            if (value->w2 > 0x10FFFF) fire({"script", "invalid-char"}, *value);
            uint8_t buf[4];
            int n = unicode::encode_utf8_char(value->w2, buf);
            append_cut(out, buf, uint32_t(n), part);
            return;
        }
        case TYPE_INTEGER: {
            int32_t v = int32_t(value->w2);
            if (v < -128 || v > 255) fire({"script", "invalid-arg"}, *value);
            uint8_t b = uint8_t(v);
            append_cut(out, &b, 1, part);
            return;
        }
        case TYPE_BINARY: {
            Cell b = *value;
            Bytes src = bytes_of(&b);
            append_cut(out, src.p, src.count, part);
            return;
        }
        case TYPE_TUPLE: {
            uint8_t tb[12];
            tuple::get_bytes(value, tb);
            append_cut(out, tb, tuple::length(value), part);
            return;
        }
        default:
            break;
    }
    if (is_any_string(t)) {
        append_utf8(value, part, out);
        return;
    }
    if (is_any_list(t)) {
        // Each element is copied out first: forming one may allocate and
        // move the block's buffer.
        stack::TopMark mark;
        Cell* blk = stack::push(*value);
        Cell* item = stack::push_slot();
        *item = Cell{TYPE_NONE, 0, 0, 0};
        uint32_t i = std::min(blk->w1, series::buffer_length(blk));
        uint32_t end = series::buffer_length(blk);
        if (!only && part >= 0) end = uint32_t(std::min<int64_t>(int64_t(i) + part, end));
        size_t start = out.size();
        for (; i < end && i < series::buffer_length(blk); ++i) {
            std::memcpy(static_cast<void*>(item), series::buffer(blk)->head_ptr() + size_t(i) * sizeof(Cell),
                        sizeof(Cell));
            if (only && part >= 0) {
                int64_t left = int64_t(part) - int64_t(out.size() - start);
                if (left <= 0) break;
                gather(item, int32_t(left), false, formed, out);
            } else {
                gather(item, -1, false, formed, out);
            }
        }
        return;
    }
    if (!formed) bad_to_arg(*value);
    stack::TopMark mark;
    append_utf8(string::push_formed(*value), part, out);
}

Cell* push_encoded(Cell* value, uint32_t base) {
    std::vector<uint8_t> in;
    gather(value, -1, false, false, in);
    uint64_t room = base_codecs::encode_room(base, in.size());
    if (room > MAX_BYTES) fire({"script", "too-long"});
    std::vector<uint8_t> text(size_t(room) + 1);
    uint32_t n = base_codecs::encode(base, in.data(), uint32_t(in.size()), text.data());
    Cell* out = string::push_new(n);
    string::append_latin1(out, reinterpret_cast<const char*>(text.data()), n);
    return out;
}

Cell* push_decoded(Cell* text, uint32_t base) {
    Cell t = *text;
    uint32_t count = string::length(&t);
    SeriesBuffer* b = string::buffer(&t);
    uint32_t unit = b->unit();
    std::vector<uint8_t> out(size_t(base_codecs::decode_room(base, count)) + 1);
    base_codecs::Decoded d = base_codecs::decode(base, string::head(&t), count, unit, out.data());
    if (!d.ok) return nullptr;
    return push_bytes(out.data(), d.bytes);
}

// ---- to --------------------------------------------------------------------------------------

namespace {

void big_endian(uint64_t v, int bytes, std::vector<uint8_t>& out) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

Outcome to(Cell* proto, Cell* spec, uint32_t /*type*/) {
    stack::TopMark mark;
    std::vector<uint8_t> bytes;
    uint32_t t = spec->type();
    switch (t) {
        case TYPE_INTEGER:
            big_endian(spec->w2, 4, bytes);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            big_endian(spec->get_u64(), 8, bytes);
            break;
        case TYPE_ISSUE: {
            // The issue's name read as base-16 text.
            Off node = symbol::ensure_string(spec->w2);
            SeriesBuffer* b = buffer_of(node);
            uint32_t unit = b->unit();
            uint32_t count = b->byte_count() >> unit_shift(unit);
            base_codecs::Decoded d = base_codecs::decode(16, b->head_ptr(), count, unit, nullptr);
            if (!d.ok) fire({"script", "invalid-data"}, *spec);
            bytes.resize(d.bytes);
            b = buffer_of(node);
            base_codecs::decode(16, b->head_ptr(), count, unit, bytes.data());
            break;
        }
        case TYPE_BITSET: {
            SeriesBuffer* b = buffer_of(spec->w2);
            bytes.assign(b->head_ptr(), b->tail_ptr());
            break;
        }
        case TYPE_IMAGE:
            fire({"internal", "not-done"});
        default:
            if (t == TYPE_CHAR || t == TYPE_BINARY || t == TYPE_TUPLE || is_any_string(t) ||
                is_any_list(t)) {
                gather(spec, -1, false, false, bytes);
                break;
            }
            bad_to_arg(*spec);
    }
    Cell* out = push_bytes(bytes.data(), uint32_t(bytes.size()));
    *proto = *out;
    return proto;
}

// ---- form / mold -----------------------------------------------------------------------------

namespace {

// The hex text of the bytes from the index: "#{" and "}" unless `only`;
// from 31 bytes on (unless `flat`) the digits start on a line of their own
// one level deeper than `indent`, 64 digits a line, and the "}" stands on a
// line of its own at `indent`, whatever the length. Stops once a /part
// budget is used up.
int32_t form_body(Cell* value, Cell* out, bool only, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell v = *value;
    Bytes src = bytes_of(&v);
    std::string text;
    int64_t left = budget;
    bool lines = src.count >= 31 && !flat;
    auto new_line = [&](int32_t level) {
        text.push_back('\n');
        left -= 1;
        if (level > 0) {
            text.append(size_t(level) * 4, ' ');
            left -= int64_t(level) * 4;
        }
    };
    if (!only) {
        text += "#{";
        left -= 2;
    }
    if (lines) new_line(indent + 1);
    text.reserve(text.size() + size_t(src.count) * 2 + src.count / 32 * (5 + 4 * size_t(indent + 1)) + 8);
    bool stopped = false;
    for (uint32_t i = 0; i < src.count; ++i) {
        text.push_back(base_codecs::HEX_UPPER[src.p[i] >> 4]);
        text.push_back(base_codecs::HEX_UPPER[src.p[i] & 15]);
        left -= 2;
        if (lines && (i + 1) % 32 == 0 && i + 1 < src.count) new_line(indent + 1);
        if (part && left <= 0) {
            stopped = true;
            break;
        }
    }
    if (!stopped) {
        if (lines) new_line(indent);
        if (!only) {
            text.push_back('}');
            left -= 1;
        }
    }
    string::append_latin1(out, text.data(), uint32_t(text.size()));
    return int32_t(std::clamp<int64_t>(left, INT32_MIN, INT32_MAX));
}

}  // namespace

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    return form_body(value, out, false, false, part, budget, 0);
}

int32_t mold(Cell* value, Cell* out, bool only, bool /*all*/, bool flat, Cell* part, int32_t budget,
             int32_t indent) {
    return form_body(value, out, only, flat, part, budget, indent);
}

// ---- compare ---------------------------------------------------------------------------------

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_BINARY) return NOT_COMPARABLE;
    Cell a = *value, b = *other;
    Bytes x = bytes_of(&a), y = bytes_of(&b);
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (a.w2 == b.w2 && a.w1 == b.w1 && (equality || op == COMP_SAME)) return 0;
    if (op == COMP_SAME) return -1;
    if (x.count != y.count && equality) return 1;
    uint32_t n = std::min(x.count, y.count);
    if (n) {
        int r = std::memcmp(x.p, y.p, n);
        if (r) return r < 0 ? -1 : 1;
    }
    return (x.count > y.count) - (x.count < y.count);
}

// ---- bitwise ---------------------------------------------------------------------------------

namespace {

// and~ / or~ / xor~: a new binary as long as the longer operand; past the
// shorter one, and~ gives zeros and the others copy the longer one's bytes.
void bitwise(int32_t op) {
    Cell* base = stack::arg_base;
    Cell* arg2 = base + 1;
    if (arg2->type() != TYPE_BINARY) fire({"script", "invalid-arg"}, *arg2);
    Cell a = *base, b = *arg2;
    uint32_t la = bytes_of(&a).count, lb = bytes_of(&b).count;
    uint32_t n = std::max(la, lb);
    std::vector<uint8_t> r(n);
    Bytes x = bytes_of(&a), y = bytes_of(&b);
    for (uint32_t i = 0; i < n; ++i) {
        bool both = i < la && i < lb;
        uint8_t p = i < la ? x.p[i] : 0, q = i < lb ? y.p[i] : 0;
        switch (op) {
            case OP_AND:
                r[i] = both ? uint8_t(p & q) : 0;
                break;
            case OP_OR:
                r[i] = uint8_t(p | q);
                break;
            default:
                r[i] = uint8_t(p ^ q);
        }
    }
    stack::TopMark mark;
    Cell* out = push_bytes(r.data(), n);
    *base = *out;
}

void and_t() {
    bitwise(OP_AND);
}
void or_t() {
    bitwise(OP_OR);
}
void xor_t() {
    bitwise(OP_XOR);
}

Cell* complement(Cell* value) {
    Bytes b = bytes_of(value);
    for (uint32_t i = 0; i < b.count; ++i) b.p[i] = uint8_t(~b.p[i]);
    return value;
}

}  // namespace

// ---- append / insert / change ------------------------------------------------------------------

namespace {

// The position and length of a series, read again after anything that may
// have run code (an owner's change handler).
struct Place {
    uint32_t at;
    uint32_t total;
};
Place place_of(Cell* series, bool append) {
    uint32_t total = series::buffer_length(series);
    if (series->w1 > total) series->w1 = total;
    return Place{append ? total : series->w1, total};
}

}  // namespace

Unwind insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    if (dup < 1) dup = 1;
    std::vector<uint8_t> bytes;
    gather(value, part, only, false, bytes);
    Place pl = place_of(series, append);
    if (bytes.empty()) {
        if (append) series->w1 = 0;
        return UNWIND_NONE;
    }
    uint64_t written = checked_total(bytes.size(), dup);
    bool owned;
    if (Unwind code = series::notify_owner(series, append ? ownership::OwnerEvent::APPEND : ownership::OwnerEvent::INSERT, value, pl.at, 0, &owned)) return code;
    pl = place_of(series, append);
    uint32_t at = pl.at, total = pl.total;
    SeriesBuffer* b = room_for(buffer_of(series->w2), written);
    uint8_t* p = b->head_ptr() + at;
    std::memmove(p + written, p, total - at);
    write_repeated(p, bytes, uint32_t(dup));
    b->tail += uint32_t(written);
    if (owned) {
        if (Unwind code = series::notify_owner(series, append ? ownership::OwnerEvent::APPENDED : ownership::OwnerEvent::INSERTED, value, at, uint32_t(written), nullptr)) return code;
    }
    series->w1 = append ? 0 : at + uint32_t(written);
    return UNWIND_NONE;
}

Unwind change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    if (dup < 1) dup = 1;
    std::vector<uint8_t> bytes;
    gather(value, -1, only, true, bytes);
    uint64_t written = checked_total(bytes.size(), dup);
    Place pl = place_of(series, false);
    if (uint64_t(pl.total) + written > MAX_BYTES) too_big();
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGE, value, pl.at, 0, &owned)) return code;
    pl = place_of(series, false);
    uint32_t at = pl.at, total = pl.total;
    uint32_t rest = total - at;
    uint32_t replaced =
        part >= 0 ? std::min<uint32_t>(uint32_t(part), rest) : uint32_t(std::min<uint64_t>(written, rest));
    uint64_t new_len = uint64_t(total) - replaced + written;
    SeriesBuffer* b = buffer_of(series->w2);
    if (written > replaced) b = room_for(b, written - replaced);
    uint8_t* p = b->head_ptr() + at;
    std::memmove(p + written, p + replaced, rest - replaced);
    write_repeated(p, bytes, uint32_t(dup));
    b->tail = b->head + uint32_t(new_len);
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGED, value, at, uint32_t(written), nullptr)) return code;
    }
    series->w1 = at + uint32_t(written);
    return UNWIND_NONE;
}

// ---- trim ------------------------------------------------------------------------------------

Unwind trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    if (auto_ || lines) fire({"internal", "not-done"});
    // The set of bytes to drop.
    bool drop[256] = {};
    if (with) {
        uint32_t t = with->type();
        if (t == TYPE_CHAR || t == TYPE_INTEGER) {
            if (with->w2 < 256) drop[with->w2] = true;
        } else if (is_any_string(t) || t == TYPE_BINARY) {
            Cell w = *with;
            SeriesBuffer* wb = buffer_of(w.w2);
            uint32_t unit = t == TYPE_BINARY ? 1 : wb->unit();
            uint32_t count = wb->byte_count() >> unit_shift(unit);
            for (uint32_t i = std::min(w.w1, count); i < count; ++i) {
                uint32_t c = string::get_char(wb->head_ptr() + size_t(i) * unit, unit);
                if (c < 256) drop[c] = true;
            }
        } else {
            fire({"script", "invalid-arg"}, *with);
        }
    } else {
        drop[0] = true;
    }
    Bytes b = bytes_of(series);
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::TRIM, nullptr, series->w1, b.count, &owned)) return code;
    b = bytes_of(series);
    uint32_t kept;
    if (all || with) {
        kept = 0;
        for (uint32_t i = 0; i < b.count; ++i)
            if (!drop[b.p[i]]) b.p[kept++] = b.p[i];
    } else {
        uint32_t s = 0, e = b.count;
        if (!(tail && !head))
            while (s < e && b.p[s] == 0) ++s;
        if (!(head && !tail))
            while (e > s && b.p[e - 1] == 0) --e;
        std::memmove(b.p, b.p + s, e - s);
        kept = e - s;
    }
    SeriesBuffer* buf = buffer_of(series->w2);
    buf->tail = buf->head + series->w1 + kept;
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::TRIMMED, nullptr, series->w1, 0, nullptr)) return code;
    }
    return UNWIND_NONE;
}

// ---- registration ----------------------------------------------------------------------------

void init() {
    datatype::Registration r = datatype::blank(TYPE_BINARY, TYPE_STRING, "binary!");
    r.set<ACT_TO>(to);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_AND_T>(no_unwind<and_t>);
    r.set<ACT_COMPLEMENT>(complement);
    r.set<ACT_OR_T>(no_unwind<or_t>);
    r.set<ACT_XOR_T>(no_unwind<xor_t>);
    r.set<ACT_APPEND>(insert);
    r.set<ACT_INSERT>(insert);
    r.set<ACT_CHANGE>(change);
    r.set<ACT_TRIM>(trim);
    // make is string!'s (a size gives room, anything else goes through to);
    // reverse is series!'s, byte by byte.
    for (uint32_t slot :
         {ACT_MAKE, ACT_RANDOM, ACT_REFLECT, ACT_EVAL_PATH, ACT_AT,      ACT_BACK,     ACT_CLEAR,
          ACT_COPY, ACT_FIND,   ACT_HEAD,    ACT_HEAD_Q,    ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE,
          ACT_NEXT, ACT_PICK,   ACT_POKE,    ACT_REMOVE,    ACT_REVERSE, ACT_SELECT,   ACT_SORT,
          ACT_SKIP, ACT_SWAP,   ACT_TAIL,    ACT_TAIL_Q,    ACT_TAKE,    ACT_MODIFY})
        r.inherit(slot);
    datatype::register_type(r);
}

}  // namespace kiv::binary
