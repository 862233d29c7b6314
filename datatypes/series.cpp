// series!: navigation, pick/poke, remove, reverse, take, copy, clear, move,
// random and the owner notices shared by every series type.
#include "datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/error.h"
#include "runtime/externals.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/sort.h"
#include "runtime/stack.h"

namespace kiv::series {

namespace {

[[noreturn]] void invalid_refine_arg(const char* refinement, const Cell& value) {
    fire({"script", "invalid-refine-arg"}, arg_word(refinement), value);
}

[[noreturn]] void out_of_range(const Cell& value) {
    fire({"script", "out-of-range"}, value);
}

inline uint8_t* unit_ptr(SeriesBuffer* b, uint32_t position) {
    return b->head_ptr() + (uint64_t(position) << shift_of(b));
}

inline bool is_hash(const Cell* v) {
    return v->type() == TYPE_HASH && v->w3 != 0;
}

// Clamps the position to the tail and answers the units left from it.
inline uint32_t clamp_position(Cell* v) {
    uint32_t len = buffer_length(v);
    if (v->w1 > len) v->w1 = len;
    return len - v->w1;
}

// Removes `count` units at `start` (both already within the buffer).
void cut_units(const Cell* series, uint32_t start, uint32_t count) {
    if (count == 0) return;
    if (is_hash(series)) hashtable::delete_range(series->w3, start, count);
    SeriesBuffer* b = buffer(series);
    uint32_t shift = shift_of(b);
    uint8_t* at = unit_ptr(b, start);
    uint64_t bytes = uint64_t(count) << shift;
    uint8_t* rest = at + bytes;
    std::memmove(at, rest, size_t(b->tail_ptr() - rest));
    b->tail -= uint32_t(bytes);
}

// The byte poke stores into a binary!: the low 8 bits of an integer! or of a
// char! code, as append and insert store them (300 gives 2C, -1 gives FF).
uint8_t byte_value(const Cell* value) {
    uint32_t t = value->type();
    if (t != TYPE_INTEGER && t != TYPE_CHAR) fire({"script", "invalid-arg"}, *value);
    return uint8_t(value->w2 & 0xFF);
}

// Place selected by a pick/poke index: n >= 1 counts from the position
// (1 = the position), n <= -1 counts back from it; 0 selects nothing (-1).
int64_t index_place(const Cell* series, int32_t n) {
    if (n == 0) return -1;
    int64_t p = int64_t(series->w1) + (n > 0 ? int64_t(n) - 1 : int64_t(n));
    return p;
}

// The generator's uniform draw: 1..n (n >= 1).
inline uint32_t draw(uint32_t n, bool secure) {
    return uint32_t(random::int_(int32_t(n), secure));
}

}  // namespace

// ---- Helpers ---------------------------------------------------------------------------------

Cell arg_word(const char* name) {
    return word::load(name);
}

Unwind notify_owner(const Cell* series, ownership::OwnerEvent event, const Cell* value, uint32_t index, uint32_t count,
                    bool* owned) {
    bool reported = false;
    Unwind code = ownership::notify(series, event, value, index, count, &reported);
    if (owned) *owned = reported;
    return code;
}

void recheck_range(const Cell* series, uint32_t start, uint32_t count) {
    if (uint64_t(start) + count > buffer_length(series)) fire({"script", "past-end"});
}

Unwind notify_swap(const Cell* series1, uint32_t index1, const Cell* series2, uint32_t index2, SwapOwners& owned) {
    if (Unwind code = notify_owner(series1, ownership::OwnerEvent::SWAP, nullptr, index1, 1, &owned.first)) return code;
    if (Unwind code = notify_owner(series2, ownership::OwnerEvent::SWAP, nullptr, index2, 1, &owned.second)) return code;
    if (owned.first || owned.second) {
        recheck_range(series1, index1, 1);
        recheck_range(series2, index2, 1);
    }
    return UNWIND_NONE;
}

Unwind notify_swapped(const Cell* series1, uint32_t index1, const Cell* series2, uint32_t index2,
                      const SwapOwners& owned) {
    if (owned.first) {
        if (Unwind code = notify_owner(series1, ownership::OwnerEvent::SWAPED, nullptr, index1, 1, nullptr)) return code;
    }
    if (owned.second) {
        if (Unwind code = notify_owner(series2, ownership::OwnerEvent::SWAPED, nullptr, index2, 1, nullptr)) return code;
    }
    return UNWIND_NONE;
}

bool move_index(Cell* v, int32_t offset) {
    uint32_t len = buffer_length(v);
    int64_t p = int64_t(v->w1) + offset;
    if (p >= 0 && p <= int64_t(len)) v->w1 = uint32_t(p);
    return v->w1 >= len;
}

uint32_t at_skip_index(int32_t base) {
    Cell* s = stack::arg_base;
    Cell* off = stack::arg_base + 1;
    if (off->type() != TYPE_INTEGER) fire({"script", "invalid-arg"}, *off);
    int64_t offset = integer::get(off);
    int64_t p = int64_t(s->w1) + offset;
    if (base == 1 && offset >= 1) p -= 1;
    int64_t len = buffer_length(s);
    return uint32_t(std::clamp<int64_t>(p, 0, len));
}

uint32_t get_length(Cell* v, bool from_head) {
    uint32_t len = buffer_length(v);
    if (v->w1 >= len) {
        v->w1 = len;
        return from_head ? len : 0;
    }
    return from_head ? len : len - v->w1;
}

int64_t part_count(const Cell* series, const Cell* part) {
    if (part->type() == TYPE_INTEGER) return integer::get(part);
    if (is_series(part->type()) && series_node(part) == series_node(series)) return int64_t(part->w1) - int64_t(series->w1);
    invalid_refine_arg("part", *part);
}

Cell unit_value(const Cell* series, uint32_t position) {
    SeriesBuffer* b = buffer(series);
    uint32_t t = series->type();
    const uint8_t* p = unit_ptr(b, position);
    if (is_any_block(t)) {
        Cell c;
        std::memcpy(&c, p, sizeof c);
        return c;
    }
    if (t == TYPE_VECTOR) return vector::get_element(p, b->unit(), series->w3);
    if (t == TYPE_BINARY) return integer::cell(*p);
    if (t == TYPE_IMAGE) {  // a pixel as a 32-bit number
        uint32_t px;
        std::memcpy(&px, p, 4);
        return integer::cell(int32_t(px));
    }
    return Cell{TYPE_CHAR, 0, string::get_char(p, b->unit()), 0};
}

// ---- Navigation ------------------------------------------------------------------------------

void head() {
    stack::arg_base->w1 = 0;
}
void tail() {
    stack::arg_base->w1 = buffer_length(stack::arg_base);
}
void next() {
    move_index(stack::arg_base, 1);
}
void back() {
    Cell* s = stack::arg_base;
    uint32_t len = buffer_length(s);
    if (s->w1 > len) s->w1 = len;
    if (s->w1 > 0) --s->w1;
}
void at() {
    stack::arg_base->w1 = at_skip_index(1);
}
void skip() {
    stack::arg_base->w1 = at_skip_index(0);
}
void head_q() {
    *stack::arg_base = logic::cell(stack::arg_base->w1 == 0);
}
void tail_q() {
    *stack::arg_base = logic::cell(tail_reached(stack::arg_base));
}
void index_q() {
    *stack::arg_base = integer::cell(int32_t(stack::arg_base->w1 + 1));
}
Count length_q(Cell* value) {
    return int32_t(get_length(value, false));
}

// ---- pick / poke ------------------------------------------------------------------------------

Outcome pick(Cell* series, int32_t index, Cell* /*index_cell*/) {
    int64_t place = index_place(series, index);
    if (place < 0 || place >= int64_t(buffer_length(series))) return &none_value;
    uint32_t t = series->type();
    if (is_any_block(t)) return reinterpret_cast<Cell*>(unit_ptr(buffer(series), uint32_t(place)));
    return stack::push(unit_value(series, uint32_t(place)));
}

Outcome poke(Cell* series, int32_t index, Cell* value, Cell* index_cell) {
    int64_t place = index_place(series, index);
    if (place < 0 || place >= int64_t(buffer_length(series))) {
        uint32_t it = index_cell ? index_cell->type() : TYPE_INTEGER;
        bool numeric = it == TYPE_INTEGER || it == TYPE_CHAR || it == TYPE_LOGIC;
        out_of_range(numeric || !index_cell ? integer::cell(index) : *index_cell);
    }
    uint32_t pos = uint32_t(place);
    uint32_t t = series->type();
    // Check the value before anything changes.
    if (is_any_string(t) && value->type() != TYPE_CHAR) fire({"script", "invalid-arg"}, *value);
    if (t == TYPE_VECTOR && value->type() != series->w3) fire({"script", "invalid-arg"}, *value);
    if (t == TYPE_IMAGE && value->type() != TYPE_INTEGER) fire({"script", "invalid-arg"}, *value);
    uint8_t byte = t == TYPE_BINARY ? byte_value(value) : 0;

    bool owned = false;
    if (Unwind code = notify_owner(series, ownership::OwnerEvent::POKE, value, pos, 1, &owned)) return code;
    if (owned) recheck_range(series, pos, 1);
    SeriesBuffer* b = buffer(series);
    if (is_any_block(t)) {
        copy_cell(value, reinterpret_cast<Cell*>(unit_ptr(b, pos)));
        if (is_hash(series)) hashtable::reindex(series->w3, pos, 1);
    } else if (t == TYPE_BINARY) {
        *unit_ptr(b, pos) = byte;
    } else if (t == TYPE_VECTOR) {
        vector::set_element(unit_ptr(b, pos), b->unit(), value);
    } else if (t == TYPE_IMAGE) {
        std::memcpy(unit_ptr(b, pos), &value->w2, 4);
    } else {
        string::poke_char_at(b, pos, value->w2);
    }
    if (owned)
        if (Unwind code = notify_owner(series, ownership::OwnerEvent::POKED, value, pos, 1, nullptr)) return code;
    return value;
}

// ---- clear / remove / reverse -----------------------------------------------------------------

Unwind clear(Cell* series) {
    uint32_t len = buffer_length(series);
    if (series->w1 >= len) return UNWIND_NONE;
    uint32_t pos = series->w1;
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CLEAR, nullptr, pos, len - pos, &owned)) return code;
    if (owned) {
        len = buffer_length(series);
        if (pos > len) pos = len;
    }
    if (is_hash(series)) hashtable::delete_range(series->w3, pos, len - pos);
    SeriesBuffer* b = buffer(series);
    b->tail = b->head + (pos << shift_of(b));
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CLEARED, nullptr, pos, 0, nullptr)) return code;
    }
    return UNWIND_NONE;
}

Unwind remove(Cell* series, Cell* part, Cell* key) {
    int64_t count = 1;
    if (part) count = part_count(series, part);
    if (count < 1) return UNWIND_NONE;
    uint32_t len = buffer_length(series);
    uint32_t start = series->w1;
    if (key) {
        Cell* saved_top = stack::top;
        Cell at = *series;
        Cell k = *key;
        Cell* found = actions::cell_of(actions::find(&at, &k, nullptr, false, true, false, false, nullptr,
                                                     nullptr, false, false, false, false));
        bool hit = found->type() != TYPE_NONE;
        uint32_t where = hit ? found->w1 : 0;
        stack::top = saved_top;
        if (!hit) return UNWIND_NONE;
        start = where;
        count += 1;
    }
    if (start >= len) return UNWIND_NONE;
    uint32_t n = uint32_t(std::min<int64_t>(count, len - start));
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::REMOVE, nullptr, start, n, &owned)) return code;
    if (owned) recheck_range(series, start, n);
    cut_units(series, start, n);
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::REMOVED, nullptr, start, n, nullptr)) return code;
    }
    return UNWIND_NONE;
}

Unwind reverse(Cell* series, Cell* part, Cell* skip) {
    uint32_t len = buffer_length(series);
    if (series->w1 >= len) return UNWIND_NONE;
    uint32_t pos = series->w1;
    int64_t count = len - pos;
    if (part) {
        count = std::min<int64_t>(part_count(series, part), count);
        if (count < 1) return UNWIND_NONE;
    }
    int64_t size = 1;
    if (skip) {
        if (skip->type() != TYPE_INTEGER) invalid_refine_arg("skip", *skip);
        size = integer::get(skip);
        if (size == count) return UNWIND_NONE;
        if (size < 1) out_of_range(*skip);
        if (count < size || count % size != 0) invalid_refine_arg("skip", *skip);
    }
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::REVERSE, nullptr, pos, uint32_t(count), &owned)) return code;
    if (owned) recheck_range(series, pos, uint32_t(count));
    SeriesBuffer* b = buffer(series);
    size_t record = size_t(size) << shift_of(b);
    uint8_t* lo = unit_ptr(b, pos);
    uint8_t* hi = lo + uint64_t(count - size) * (uint64_t(1) << shift_of(b));
    uint8_t tmp[64];
    std::vector<uint8_t> big;
    uint8_t* scratch = tmp;
    if (record > sizeof tmp) {
        big.resize(record);
        scratch = big.data();
    }
    while (lo < hi) {
        std::memcpy(scratch, lo, record);
        std::memcpy(lo, hi, record);
        std::memcpy(hi, scratch, record);
        lo += record;
        hi -= record;
    }
    if (is_hash(series)) hashtable::reindex(series->w3, pos, uint32_t(count));
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::REVERSED, nullptr, pos, uint32_t(count), nullptr)) return code;
    }
    return UNWIND_NONE;
}

// ---- take ------------------------------------------------------------------------------------

Outcome take(Cell* series, Cell* part, bool /*deep*/, bool last) {
    uint32_t len = buffer_length(series);
    if (series->w1 >= len) {
        *series = none::cell();
        return series;
    }
    uint32_t pos = series->w1;
    uint32_t left = len - pos;
    int64_t count = 1;
    if (part) {
        if (part->type() == TYPE_INTEGER) {
            count = integer::get(part);
            if (count < 0) count = last ? 1 : -count;
        } else if (is_series(part->type()) && series_node(part) == series_node(series)) {
            if (last)
                count = part->w1 >= len ? 0 : int64_t(len) - part->w1;
            else
                count = part->w1 > pos ? int64_t(part->w1) - pos : 0;
        } else {
            invalid_refine_arg("part", *part);
        }
        // A count of 0 takes nothing (an empty series of the same type).
        count = std::min<int64_t>(count, left);
    }
    uint32_t n = uint32_t(count);
    uint32_t start = last ? len - n : pos;
    bool owned = false;
    if (Unwind code = notify_owner(series, ownership::OwnerEvent::TAKE, nullptr, start, n, &owned)) return code;
    if (owned) recheck_range(series, start, n);
    if (!part) {
        // One unit: the result is the element itself.
        Cell v = unit_value(series, start);
        Cell s = *series;
        cut_units(&s, start, 1);
        *series = v;
        if (owned)
            if (Unwind code = notify_owner(&s, ownership::OwnerEvent::TAKEN, nullptr, start, 1, nullptr)) return code;
        return series;
    }
    Cell source = *series;
    SeriesBuffer* b = buffer(series);
    uint32_t unit = b->unit();
    Off copy = memory::alloc_series(n ? n : 1, unit, 0);  // may move the source buffer
    b = buffer(&source);
    SeriesBuffer* nb = buffer_of(copy);
    uint64_t bytes = uint64_t(n) << shift_of(b);
    std::memcpy(nb->head_ptr(), unit_ptr(b, start), bytes);
    nb->tail = nb->head + uint32_t(bytes);
    uint32_t type = source.type();
    *series = Cell{type, 0, copy, type == TYPE_VECTOR ? source.w3 : 0};
    cut_units(&source, start, n);
    if (type == TYPE_HASH) series->w3 = hashtable::init(n ? n : 1, copy, hashtable::HASH, 0);
    if (owned)
        if (Unwind code = notify_owner(&source, ownership::OwnerEvent::TAKEN, nullptr, start, n, nullptr)) return code;
    return series;
}

// ---- copy ------------------------------------------------------------------------------------

Outcome copy(Cell* series, Cell* result, Cell* part, bool /*deep*/, Cell* /*types*/) {
    uint32_t total = buffer_length(series);
    int64_t pos = series->w1;
    int64_t start = pos;
    int64_t count = pos >= total ? 0 : total - pos;
    if (part) {
        if (part->type() == TYPE_PAIR) {
            int64_t x = int32_t(part->w2), y = int32_t(part->w3);
            start = std::max<int64_t>(0, pos + (x < 0 ? x : x - 1));
            count = y < x ? 0 : y - x;
        } else {
            count = part_count(series, part);
        }
        if (count < 0) {
            start += count;
            count = -count;
            if (start < 0) {
                count += start;
                start = 0;
            }
        }
    }
    if (start > total) {
        start = total;
        count = 0;
    }
    count = std::min<int64_t>(count, int64_t(total) - start);
    uint32_t n = uint32_t(count);
    uint32_t unit = buffer(series)->unit();
    Cell src = *series;
    Off node = memory::alloc_series(n ? n : 1, unit, 0);  // may move the source buffer
    SeriesBuffer* b = buffer(&src);
    SeriesBuffer* nb = buffer_of(node);
    uint64_t bytes = uint64_t(n) << shift_of(b);
    std::memcpy(nb->head_ptr(), unit_ptr(b, uint32_t(start)), bytes);
    nb->tail = nb->head + uint32_t(bytes);
    uint32_t t = src.type();
    result->header = t | (src.header & header::NEW_LINE);
    result->w1 = 0;
    result->w2 = node;
    result->w3 = t == TYPE_VECTOR ? src.w3 : 0;
    return result;
}

// ---- move -------------------------------------------------------------------------------------

namespace {

// Classes of series that may exchange units with move.
enum MoveKind { KIND_BLOCK, KIND_TEXT, KIND_BINARY, KIND_VECTOR, KIND_IMAGE, KIND_NONE };
MoveKind move_kind(uint32_t t) {
    if (is_any_block(t)) return KIND_BLOCK;
    if (is_any_string(t)) return KIND_TEXT;
    if (t == TYPE_BINARY) return KIND_BINARY;
    if (t == TYPE_VECTOR) return KIND_VECTOR;
    if (t == TYPE_IMAGE) return KIND_IMAGE;
    return KIND_NONE;
}

[[noreturn]] void move_bad(const Cell* origin, const Cell* target) {
    fire({"script", "move-bad"}, datatype::cell(origin->type()), datatype::cell(target->type()));
}

// Rotates [first, end) so that the byte at `middle` comes first.
void rotate_bytes(uint8_t* first, uint8_t* middle, uint8_t* end) {
    std::rotate(first, middle, end);
}

}  // namespace

Outcome move(Cell* origin, Cell* target, Cell* part) {
    MoveKind ko = move_kind(origin->type());
    if (ko == KIND_NONE)
        fire({"script", "expect-arg"}, arg_word("move"), datatype::cell(origin->type()), arg_word("origin"));
    uint32_t olen = buffer_length(origin);
    if (origin->w1 >= olen) return target;
    uint32_t opos = origin->w1;
    int64_t count = 1;
    if (part) {
        if (part->type() != TYPE_INTEGER || integer::get(part) < 1) return target;
        count = integer::get(part);
    }
    uint32_t n = uint32_t(std::min<int64_t>(count, olen - opos));

    if (target->w2 == origin->w2) {
        uint32_t t = std::min(target->w1, olen);
        if (t >= opos && t <= opos + n) return target;  // inside the moved run: nothing to do
        bool owned = false;
        if (Unwind code = notify_owner(origin, ownership::OwnerEvent::MOVE, nullptr, opos, n, &owned)) return code;
        if (owned) recheck_range(origin, std::max(opos + n, t), 0);
        SeriesBuffer* b = buffer(origin);
        uint32_t shift = shift_of(b);
        uint32_t new_start;
        if (t > opos + n) {
            rotate_bytes(unit_ptr(b, opos), unit_ptr(b, opos + n), unit_ptr(b, t));
            new_start = t - n;
        } else {
            rotate_bytes(unit_ptr(b, t), unit_ptr(b, opos), unit_ptr(b, opos + n));
            new_start = t;
        }
        (void)shift;
        if (is_hash(origin)) hashtable::move(origin->w3, opos, new_start, n);
        if (owned)
            if (Unwind code = notify_owner(origin, ownership::OwnerEvent::MOVED, nullptr, new_start, n, nullptr)) return code;
        return target;
    }

    MoveKind kt = move_kind(target->type());
    if (ko != kt) move_bad(origin, target);
    uint32_t ou = buffer(origin)->unit(), tu = buffer(target)->unit();
    if (ou != tu && ko != KIND_TEXT) move_bad(origin, target);
    if (ko == KIND_VECTOR && origin->w3 != target->w3) move_bad(origin, target);

    bool owned = false;
    if (Unwind code = notify_owner(origin, ownership::OwnerEvent::MOVE, nullptr, opos, n, &owned)) return code;
    bool t_owned = false;
    if (Unwind code = notify_owner(target, ownership::OwnerEvent::MOVE, nullptr, target->w1, n, &t_owned)) return code;
    if (owned || t_owned) recheck_range(origin, opos, n);
    Cell o = *origin;
    Cell t = *target;
    uint32_t tlen = buffer_length(&t);
    if (t.w1 > tlen) t.w1 = tlen;
    if (ou != tu) {
        // Text of different widths: the string layer converts the units.
        string::move_units(&o, &t, n * ou);
    } else {
        uint32_t shift = unit_shift(tu);
        uint64_t bytes = uint64_t(n) << shift;
        SeriesBuffer* tb = buffer(&t);
        if (uint64_t(tb->tail) + bytes > tb->data_end()) {
            uint64_t need = uint64_t(tb->byte_count()) + bytes;
            tb = memory::expand_series_copy(tb, 2 * need);
        }
        uint8_t* at = unit_ptr(tb, t.w1);
        std::memmove(at + bytes, at, size_t(tb->tail_ptr() - at));
        tb->tail += uint32_t(bytes);
        SeriesBuffer* ob = buffer(&o);
        std::memcpy(at, unit_ptr(ob, opos), bytes);
        if (is_hash(&t) && hashtable::insert_values(t.w3, t.w1, n))
            hashtable::reindex(t.w3, 0, hashtable::ALL);
        cut_units(&o, opos, n);
    }
    if (owned)
        if (Unwind code = notify_owner(&o, ownership::OwnerEvent::MOVED, nullptr, opos, n, nullptr)) return code;
    if (t_owned)
        if (Unwind code = notify_owner(&t, ownership::OwnerEvent::MOVED, nullptr, t.w1, n, nullptr)) return code;
    return target;
}

// ---- random -----------------------------------------------------------------------------------

Unwind random(Cell* value, bool seed, bool secure, bool only) {
    uint32_t len = buffer_length(value);
    uint32_t pos = std::min(value->w1, len);
    if (seed) {
        SeriesBuffer* b = buffer(value);
        const uint8_t* from = unit_ptr(b, pos);
        random::seed(hashtable::murmur3(from, size_t(b->tail_ptr() - from)));
        *value = unset::cell();
        return UNWIND_NONE;
    }
    uint32_t left = len - pos;
    bool owned = false;
    if (Unwind code = notify_owner(value, ownership::OwnerEvent::RANDOM, nullptr, pos, left, &owned)) return code;
    if (owned) recheck_range(value, pos, left);
    if (only) {
        if (left == 0) {
            *value = none::cell();
            return UNWIND_NONE;
        }
        uint32_t k = pos + draw(left, secure) - 1;
        Cell v = unit_value(value, k);
        *value = v;
        return UNWIND_NONE;
    }
    SeriesBuffer* b = buffer(value);
    uint32_t unit = b->unit();
    for (uint32_t i = pos; i + 1 < len; ++i) {
        uint32_t j = i + draw(len - i, secure) - 1;
        if (j != i) {
            b = buffer(value);
            kiv::sort::swap(unit_ptr(b, i), unit_ptr(b, j), unit);
        }
    }
    if (is_hash(value)) hashtable::reindex(value->w3, pos, left);
    if (owned)
        if (Unwind code = notify_owner(value, ownership::OwnerEvent::RANDOMIZED, nullptr, pos, left, nullptr)) return code;
    return UNWIND_NONE;
}

// ---- reflect / modify --------------------------------------------------------------------------

namespace {
// The field `owned` (compared without case).
bool is_owned_field(uint32_t symbol) {
    return symbol && symbol::resolve(symbol) == symbol::resolve(fixed::sym[fixed::SYM_OWNED]);
}
}  // namespace

void reflect(Cell* value, uint32_t field_symbol) {
    if (!is_owned_field(field_symbol)) fire({"internal", "not-done"});
    // The owner recorded in the ownership table, or none.
    Cell* owner = ownership::get_owner(value->w2);
    *value = owner && owner->type() != TYPE_UNSET ? *owner : none::cell();
}

Outcome modify(Cell* target, Cell* field, Cell* value, bool /*case_sensitive*/) {
    // Only the field `owned` acts: none removes the series' ownership, a
    // block [owner word] records one.
    if (!is_all_word(field->type()) || !is_owned_field(field->w2)) return target;
    Cell* saved = stack::top;
    Cell* held = stack::push(*target);
    if (value->type() == TYPE_NONE) {
        ownership::unbind(held);
    } else if (value->type() == TYPE_BLOCK) {
        Cell v = *value;
        uint32_t len = count(v.w2);
        if (uint64_t(v.w1) + 1 < len) {
            Cell* owner = stack::push(buffer_of(v.w2)->head_cell()[v.w1]);
            Cell* word = stack::push(buffer_of(v.w2)->head_cell()[v.w1 + 1]);
            if (owner->type() != TYPE_OBJECT) fire({"script", "invalid-arg"}, *owner);
            ownership::bind_set(held, owner, word);
        }
    } else {
        fire({"script", "invalid-arg"}, *value);
    }
    stack::top = saved;
    return target;
}

// ---- Registration --------------------------------------------------------------------------

void init() {
    datatype::Registration r = datatype::blank(TYPE_SERIES, 0, "series!");
    r.set<ACT_RANDOM>(random);
    r.set<ACT_REFLECT>(reflect);
    r.set<ACT_AT>(no_unwind<at>);
    r.set<ACT_BACK>(no_unwind<back>);
    r.set<ACT_CLEAR>(clear);
    r.set<ACT_COPY>(copy);
    r.set<ACT_HEAD>(no_unwind<head>);
    r.set<ACT_HEAD_Q>(no_unwind<head_q>);
    r.set<ACT_INDEX_Q>(no_unwind<index_q>);
    r.set<ACT_LENGTH_Q>(length_q);
    r.set<ACT_MOVE>(move);
    r.set<ACT_NEXT>(no_unwind<next>);
    r.set<ACT_PICK>(pick);
    r.set<ACT_POKE>(poke);
    r.set<ACT_REMOVE>(remove);
    r.set<ACT_REVERSE>(reverse);
    r.set<ACT_SKIP>(no_unwind<skip>);
    r.set<ACT_TAIL>(no_unwind<tail>);
    r.set<ACT_TAIL_Q>(no_unwind<tail_q>);
    r.set<ACT_TAKE>(take);
    r.set<ACT_MODIFY>(modify);
    datatype::register_type(r);
}

}  // namespace kiv::series
