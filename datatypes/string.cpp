// string! storage helpers: cells, single characters, concatenation, loaders
// and the small text helpers every form and mold writes through.
#include "datatypes/string.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/stack.h"
#include "runtime/case_fold.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/lowlevel.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kiv::string {

namespace {

[[noreturn]] void no_memory() {
    fire({"internal", "no-memory"});
}

inline uint32_t checked_unit(const SeriesBuffer* buf) {
    uint32_t u = buf->unit();
    if (u != 1 && u != 2 && u != 4) bad_unit();
    return u;
}

// Makes room for `extra` more bytes at the tail: expands to twice the used
// bytes plus the extra when short. Returns the buffer to use.
SeriesBuffer* room_at_tail(SeriesBuffer* buf, uint64_t extra) {
    if (uint64_t(buf->tail) + extra <= buf->data_end()) return buf;
    uint64_t need = uint64_t(buf->tail - buf->head) + extra;
    if (need > 0x7FFFFFFFull) no_memory();
    return memory::expand_series_copy(buf, 2 * need);
}

// Widens for a code point that needs `need` bytes per unit.
SeriesBuffer* widen_for(SeriesBuffer* buf, uint32_t need) {
    uint32_t unit = checked_unit(buf);
    if (need <= unit) return buf;
    return widen_to(buf, unit, need);
}

// The node and index a source or target is read at: a symbol! reads its name
// string from the head (the string is made on first use).
struct View {
    Off node;
    uint32_t index;
};

Off symbol_string(Cell* sym) {
    if (!sym->w2) {
        // The symbol keeps its UTF-8 name in word 3 (NUL after the tail).
        SeriesBuffer* names = buffer_of(sym->w3);
        // load_utf8_new pauses collection for its one allocation, so neither
        // the name bytes nor the symbol cell move before the node is stored.
        Off node = unicode::load_utf8_new(names->head_ptr(), names->byte_count());
        sym->w2 = node;
    }
    return sym->w2;
}

View view_of(Cell* v) {
    if (v->type() == TYPE_SYMBOL) return View{symbol_string(v), 0};
    return View{v->w2, v->w1};
}

inline uint32_t units_of(const SeriesBuffer* b) {
    return (b->tail - b->head) >> unit_shift(b->unit());
}

}  // namespace

void bad_unit() {
    lowlevel::quit(101, lowlevel::caller_address());
}

// ---- The first helpers ------------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t count) {
    Off node = memory::alloc_narrow(std::max(count, 1u));
    cell->header = TYPE_STRING;
    cell->w1 = 0;
    cell->w2 = node;
    cell->w3 = 0;
    return cell;
}

SeriesBuffer* append_char(SeriesBuffer* buf, uint32_t cp) {
    uint32_t unit = buf->unit();
    if (unit == 1 ? cp >= 0x80 : (unit == 2 && cp >= 0x10000)) {
        buf = widen_to(buf, unit, append_unit(cp));
        unit = buf->unit();
    }
    if (buf->tail + unit > buf->data_end()) {
        Off node = buf->node;
        Off at = series::reserve_tail(buf, unit);
        buf = buffer_of(node);
        set_char(arena::ptr(at), unit, cp);
        return buf;
    }
    set_char(buf->tail_ptr(), unit, cp);
    buf->tail += unit;
    return buf;
}

void append_latin1(Cell* str, const char* bytes, uint32_t count) {
    if (count == 0) return;
    auto* src = reinterpret_cast<const uint8_t*>(bytes);
    SeriesBuffer* buf = buffer(str);
    if (buf->unit() == 1 && uint64_t(buf->tail) + count <= buf->data_end()) {
        // Narrow text with room (formed numbers and the like): copied byte by
        // byte into the free space past the tail, kept only when no byte
        // needs the wider unit.
        uint8_t* d = buf->tail_ptr();
        uint32_t i = 0;
        for (; i < count && src[i] < 0x80; ++i) d[i] = src[i];
        if (i == count) {
            buf->tail += count;
            return;
        }
    }
    uint32_t unit = checked_unit(buf);
    bool high = false;
    if (unit == 1)
        for (uint32_t i = 0; i < count && !high; ++i) high = src[i] >= 0x80;
    uint32_t target_unit = high ? 2 : unit;
    uint64_t need = uint64_t(count) * target_unit;
    bool grows = high || uint64_t(buf->tail) + need > buf->data_end();
    std::vector<uint8_t> saved;
    if (grows && arena::contains(src)) {
        // The bytes live in a series buffer that growing may move.
        saved.assign(src, src + count);
        src = saved.data();
    }
    if (high) buf = widen_to(buf, 1, 2);
    buf = room_at_tail(buf, need);
    uint8_t* d = buf->tail_ptr();
    if (target_unit == 1) {
        std::memcpy(d, src, count);
    } else {
        for (uint32_t i = 0; i < count; ++i, d += target_unit) set_char(d, target_unit, src[i]);
    }
    buf->tail += uint32_t(need);
}

void concatenate_literal(Cell* str, const char* text) {
    append_latin1(str, text, uint32_t(std::strlen(text)));
}

bool append_cycle_marker(const Cell* value, Cell* out, int32_t& budget, bool mold) {
    const char* marker = cycles::marker(value, mold);
    if (!marker) return false;
    concatenate_literal(out, marker);
    budget -= int32_t(std::strlen(marker));
    return true;
}

// ---- Cells --------------------------------------------------------------------------

Cell* make_at_width(Cell* cell, uint32_t count, uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    Off node = memory::alloc_codepoints(std::max(count, 1u), unit);
    cell->set_type(TYPE_STRING);
    cell->w1 = 0;
    cell->w2 = node;
    cell->w3 = 0;
    return cell;
}

Cell* push(const Cell* str) {
    return stack::push(*str);
}

Cell* push_new(uint32_t count) {
    Cell* c = stack::push_slot();
    c->header = TYPE_NONE;  // a valid value while the buffer is allocated
    return make_at(c, count);
}

// ---- Reading and positions ------------------------------------------------------------

uint8_t* head(Cell* str) {
    SeriesBuffer* b = buffer(str);
    uint32_t shift = unit_shift(b->unit());
    uint32_t n = (b->tail - b->head) >> shift;
    if (str->w1 > n) str->w1 = n;
    return b->head_ptr() + (size_t(str->w1) << shift);
}

bool is_tail(const Cell* str) {
    const SeriesBuffer* b = buffer(str);
    return uint64_t(b->head) + (uint64_t(str->w1) << unit_shift(b->unit())) >= b->tail;
}

uint32_t length(Cell* str) {
    const SeriesBuffer* b = buffer(str);
    uint32_t n = units_of(b);
    if (str->w1 >= n) {
        str->w1 = n;
        return 0;
    }
    return n - str->w1;
}

uint32_t length_from_head(const Cell* str) {
    return units_of(buffer(str));
}

void skip(Cell* str, int32_t n) {
    int64_t i = int64_t(str->w1) + n;
    int64_t len = length_from_head(str);
    str->w1 = uint32_t(std::clamp<int64_t>(i, 0, len));
}

uint32_t abs_at(const Cell* str, uint32_t position) {
    const SeriesBuffer* b = buffer(str);
    uint32_t unit = checked_unit(b);
    return get_char(b->head_ptr() + size_t(position) * unit, unit);
}

int32_t find_char(Cell* str, uint32_t cp) {
    const uint8_t* p = head(str);
    const SeriesBuffer* b = buffer(str);
    uint32_t unit = checked_unit(b);
    const uint8_t* end = b->tail_ptr();
    if (unit == 1) {
        if (cp > 0xFF) return -1;
        const void* hit = std::memchr(p, int(cp), size_t(end - p));
        return hit ? int32_t(static_cast<const uint8_t*>(hit) - p) : -1;
    }
    for (const uint8_t* q = p; q < end; q += unit)
        if (get_char(q, unit) == cp) return int32_t((q - p) / unit);
    return -1;
}

bool has_char_stepped(Cell* str, uint32_t cp, uint32_t step, bool case_sensitive) {
    const uint8_t* p = head(str);
    const SeriesBuffer* b = buffer(str);
    uint32_t unit = checked_unit(b);
    const uint8_t* end = b->tail_ptr();
    if (step < 1) step = 1;
    size_t stride = size_t(step) * unit;
    if (!case_sensitive) cp = casefold::to_upper_char(cp);
    for (; p < end; p += stride) {
        uint32_t c = get_char(p, unit);
        if (!case_sensitive) c = casefold::to_upper_char(c);
        if (c == cp) return true;
        if (size_t(end - p) <= stride) break;
    }
    return false;
}

bool starts_with_text(Cell* str, const char* text) {
    const uint8_t* p = head(str);
    const SeriesBuffer* b = buffer(str);
    uint32_t unit = checked_unit(b);
    const uint8_t* end = b->tail_ptr();
    for (auto* t = reinterpret_cast<const uint8_t*>(text); *t; ++t, p += unit) {
        if (p >= end) return false;
        uint32_t c = get_char(p, unit);
        if (c > 0xFF || c != *t) return false;
    }
    return true;
}

// ---- Writing single characters ------------------------------------------------------------

SeriesBuffer* poke_char(SeriesBuffer* buf, uint8_t** addr, uint32_t cp) {
    uint32_t unit = checked_unit(buf);
    uint32_t need = write_unit(cp);
    if (need > unit) {
        size_t pos = size_t(*addr - buf->head_ptr()) / unit;
        buf = widen_to(buf, unit, need);
        unit = need;
        *addr = buf->head_ptr() + pos * unit;
    }
    set_char(*addr, unit, cp);
    return buf;
}

SeriesBuffer* poke_char_at(SeriesBuffer* buf, uint32_t position, uint32_t cp) {
    buf = widen_for(buf, write_unit(cp));
    uint32_t unit = buf->unit();
    uint64_t end = uint64_t(position + 1ull) * unit;
    while (uint64_t(buf->head) + end > buf->data_end()) {
        if (end > 0x7FFFFFFFull) no_memory();
        buf = memory::expand_series_copy(buf, std::max<uint64_t>(uint64_t(buf->size) * 2, end));
    }
    uint8_t* p = buf->head_ptr() + size_t(position) * unit;
    if (p >= buf->tail_ptr()) {
        // A write past the tail: the skipped units read as NUL rather than
        // whatever the free area held.
        std::memset(buf->tail_ptr(), 0, size_t(p - buf->tail_ptr()));
        buf->tail = buf->head + uint32_t(end);
    }
    set_char(p, unit, cp);
    return buf;
}

SeriesBuffer* insert_char_at(SeriesBuffer* buf, uint32_t position, uint32_t cp) {
    buf = widen_for(buf, write_unit(cp));
    uint32_t unit = buf->unit();
    if (buf->tail + unit > buf->data_end())
        buf = memory::expand_series_copy(buf, std::max<uint64_t>(uint64_t(buf->size) * 2, 16));
    uint32_t n = units_of(buf);
    if (position > n) position = n;
    uint8_t* p = buf->head_ptr() + size_t(position) * unit;
    std::memmove(p + unit, p, size_t(buf->tail_ptr() - p));
    buf->tail += unit;
    set_char(p, unit, cp);
    return buf;
}

void remove_units(Cell* str, uint32_t position, uint32_t count) {
    SeriesBuffer* b = buffer(str);
    uint32_t unit = checked_unit(b);
    uint32_t n = units_of(b);
    if (position >= n || count == 0) return;
    count = std::min(count, n - position);
    uint8_t* p = b->head_ptr() + size_t(position) * unit;
    size_t bytes = size_t(count) * unit;
    std::memmove(p, p + bytes, size_t(b->tail_ptr() - (p + bytes)));
    b->tail -= uint32_t(bytes);
}

void truncate_at(SeriesBuffer* buf, uint32_t count) {
    uint64_t bytes = uint64_t(count) * buf->unit();
    if (bytes <= buf->size && uint64_t(buf->head) + bytes < buf->tail)
        buf->tail = buf->head + uint32_t(bytes);
}

void reset(Cell* str) {
    SeriesBuffer* b = buffer(str);
    b->tail = b->head;
    b->flags = (b->flags & ~series_flag::UNIT_MASK) | 1u;
    str->w1 = 0;
}

SeriesBuffer* widen_to(SeriesBuffer* buf, uint32_t from, uint32_t to) {
    if (to == 2) return unicode::widen_1_to_2(buf);
    if (to != 4) bad_unit();
    return from == 1 ? unicode::widen_1_to_4(buf) : unicode::widen_2_to_4(buf);
}

SeriesBuffer* reserve(SeriesBuffer* buf, uint64_t units, uint32_t unit) {
    buf = widen_for(buf, unit);
    return room_at_tail(buf, units * buf->unit());
}

// ---- Concatenation ----------------------------------------------------------------------------

void concatenate(Cell* target, Cell* source, int32_t part, int32_t offset, bool convert, int32_t mode) {
    View t = view_of(target);
    View s = view_of(source);
    SeriesBuffer* tb = buffer_of(t.node);
    SeriesBuffer* sb = buffer_of(s.node);
    uint32_t tu = checked_unit(tb);
    uint32_t su = checked_unit(sb);
    if (tu < su) {
        tb = widen_to(tb, tu, su);
        tu = su;
        sb = buffer_of(s.node);
    } else if (su < tu && !convert) {
        sb = widen_to(sb, su, tu);
        su = tu;
        tb = buffer_of(t.node);
    }

    uint32_t s_units = units_of(sb);
    uint32_t s_index = std::min(s.index, s_units);
    uint32_t count = s_units - s_index;
    if (part >= 0 && uint32_t(part) < count) count = uint32_t(part);
    uint64_t bytes = uint64_t(count) * tu;
    if (bytes == 0) return;

    uint32_t t_units = units_of(tb);
    uint32_t dest_units =
        mode == CONCAT_APPEND
            ? t_units
            : uint32_t(std::clamp<int64_t>(int64_t(std::min(t.index, t_units)) + offset, 0, t_units));

    // An insert or overwrite from the target's own buffer would read units
    // that the move has already shifted: take the source out first.
    std::vector<uint8_t> saved;
    bool same = t.node == s.node;
    if (same && mode != CONCAT_APPEND) {
        const uint8_t* from = sb->head_ptr() + size_t(s_index) * su;
        saved.assign(from, from + size_t(count) * su);
    }

    uint64_t extra =
        mode == CONCAT_OVERWRITE
            ? (uint64_t(dest_units) + count > t_units ? (uint64_t(dest_units) + count - t_units) * tu : 0)
            : bytes;
    if (uint64_t(tb->tail) + extra > tb->data_end()) {
        uint64_t need = uint64_t(tb->tail - tb->head) + bytes;
        if (need > 0x7FFFFFFFull) no_memory();
        tb = memory::expand_series_copy(tb, 2 * need);
        sb = buffer_of(s.node);
    }

    uint8_t* dest = tb->head_ptr() + size_t(dest_units) * tu;
    uint8_t* old_tail = tb->tail_ptr();
    if (mode == CONCAT_INSERT) std::memmove(dest + bytes, dest, size_t(old_tail - dest));

    const uint8_t* src = saved.empty() ? sb->head_ptr() + size_t(s_index) * su : saved.data();
    if (su != tu) {
        // Only a narrower source left as it is (convert set) reaches here.
        uint8_t* d = dest;
        for (uint32_t i = 0; i < count; ++i, d += tu) set_char(d, tu, get_char(src + size_t(i) * su, su));
    } else {
        std::memmove(dest, src, size_t(bytes));
    }

    switch (mode) {
        case CONCAT_APPEND:
            tb->tail = tb->head + uint32_t((uint64_t(dest_units) * tu) + bytes);
            break;
        case CONCAT_INSERT:
            tb->tail += uint32_t(bytes);
            break;
        default: {
            Off end = arena::off(dest) + uint32_t(bytes);
            if (end > tb->tail) tb->tail = end;
        }
    }
}

void exchange_runs(SeriesBuffer* /*buf*/, uint8_t* first, uint32_t len1, uint8_t* second, uint32_t len2,
                   uint32_t gap) {
    // Two in-place rotations: [A gap B] -> [B A gap] -> [B gap A]. No
    // scratch memory, linear time. `second` is first + len1 + gap.
    uint8_t* end = second + len2;
    std::rotate(first, second, end);
    if (gap && len1) std::rotate(first + len2, first + len2 + len1, end);
}

void move_units(Cell* source, Cell* target, uint32_t byte_count) {
    SeriesBuffer* sb = buffer(source);
    uint32_t su = checked_unit(sb);
    uint32_t s_index = std::min(source->w1, units_of(sb));
    uint32_t n = std::min(byte_count / su, units_of(sb) - s_index);
    uint32_t t_index = std::min(target->w1, length_from_head(target));
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t cp = abs_at(source, s_index + i);
        insert_char_at(buffer(target), t_index + i, cp);
    }
    remove_units(source, s_index, n);
}

void fill_repeat(Cell* str, uint32_t run_start, uint32_t run_units, uint32_t times) {
    if (times == 0 || run_units == 0) return;
    SeriesBuffer* b = buffer(str);
    uint32_t unit = checked_unit(b);
    uint64_t run = uint64_t(run_units) * unit;
    uint64_t extra = run * times;
    if (extra > 0x7FFFFFFFull) no_memory();
    uint32_t tail_units = units_of(b);
    b = room_at_tail(b, extra);
    uint8_t* start = b->head_ptr() + size_t(run_start) * unit;
    uint8_t* after = start + run;
    size_t rest = size_t(tail_units - run_start) * unit - size_t(run);
    // Open the gap for the copies, then double the run into it.
    std::memmove(after + extra, after, rest);
    uint64_t done = run;
    uint64_t total = run * (uint64_t(times) + 1);
    while (done < total) {
        uint64_t n = std::min(done, total - done);
        std::memcpy(start + done, start, size_t(n));
        done += n;
    }
    b->tail += uint32_t(extra);
}

// ---- Loading ------------------------------------------------------------------------------

Cell* load(const uint8_t* bytes, uint32_t count, Cell* cell, int32_t encoding) {
    if (encoding != ENC_UTF8 && encoding != ENC_UTF16LE && encoding != ENC_SYSTEM) {
        // Only the runtime's own callers pass an encoding; anything else is a
        // broken build, which must not look like a normal end.
        lowlevel::print_line({"*** Loading Error: input encoding unsupported"});
        lowlevel::quit(lowlevel::ERR_ASSERTION, lowlevel::caller_address());
    }
    if (!cell) cell = stack::push_slot();
    cell->header = TYPE_UNSET;
    cell->w1 = 0;
    cell->w3 = 0;
    Off node = encoding == ENC_UTF8     ? unicode::load_utf8_new(bytes, count)
               : encoding == ENC_SYSTEM ? unicode::load_escaped(bytes, count, false)
                                        : unicode::load_utf16(bytes, count, nullptr, false);
    cell->w2 = node;
    cell->set_type(TYPE_STRING);
    return cell;
}

Cell* load_in(const uint8_t* bytes, uint32_t count, const Cell* block, int32_t encoding) {
    Cell holder{TYPE_NONE, 0, 0, 0};
    load(bytes, count, &holder, encoding);
    // The new node is held only by a local cell until it is stored: the
    // append that follows must not collect.
    memory::CollectionPause pause;
    Cell* slot = block_alloc_tail(block);
    return copy_cell(&holder, slot);
}

Cell* load_utf8_strict(const uint8_t* bytes, uint32_t count) {
    const uint8_t* p = bytes;
    const uint8_t* end = bytes + count;
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        uint32_t used;
        int32_t cp = unicode::check_utf8_char(p, uint32_t(end - p), &used);
        if (cp < 0) {
            // Everything from the first byte not decoded goes with the error.
            uint32_t n = uint32_t(end - p);
            Cell bin{TYPE_BINARY, 0, 0, 0};
            {
                memory::CollectionPause pause;
                bin.w2 = memory::alloc_bytes(n);
                SeriesBuffer* b = buffer_of(bin.w2);
                std::memcpy(b->head_ptr(), p, n);
                b->tail = b->head + n;
            }
            fire({"access", "invalid-utf8"}, bin);
        }
        p += used;
    }
    return load(bytes, count, nullptr, ENC_UTF8);
}

// ---- Number text helpers ---------------------------------------------------------------------

namespace {
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
char byte_hex_buffer[3];
char hex_buffer[9];
}  // namespace

const char* byte_to_hex(uint8_t byte) {
    byte_hex_buffer[0] = HEX_DIGITS[byte >> 4];
    byte_hex_buffer[1] = HEX_DIGITS[byte & 15];
    byte_hex_buffer[2] = 0;
    return byte_hex_buffer;
}

const char* to_hex(int32_t value, bool trim) {
    uint32_t v = uint32_t(value);
    for (int i = 7; i >= 0; --i, v >>= 4) hex_buffer[i] = HEX_DIGITS[v & 15];
    hex_buffer[8] = 0;
    if (!trim) return hex_buffer;
    if (value == 0) return "00";
    const char* p = hex_buffer;
    while (*p == '0') ++p;
    return p;
}

double to_float(const uint8_t* start, const uint8_t* end) {
    return float_text::from_text(start, end);
}

}  // namespace kiv::string
