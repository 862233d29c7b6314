// block!: cell-series primitives, mold/form, compare, searching, insertion
// and sorting of blocks (and, by inheritance, of paren!, the path types and
// hash!). The set operations are in set_operations.cpp.
#include "datatypes/block.h"
#include "datatypes/block_internal.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/integer.h"
#include "datatypes/load_form.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/sort.h"
#include "runtime/stack.h"

namespace kiv::block {

using namespace internal;

namespace {

[[noreturn]] void invalid_refine_arg(const char* refinement, const Cell& value) {
    fire({"script", "invalid-refine-arg"}, series::arg_word(refinement), value);
}

inline bool is_number(uint32_t t) {
    return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT;
}

// Position clamped to the tail.
inline uint32_t clamped_position(const Cell* b) {
    return std::min(b->w1, cell_count(b));
}



// The total number of cells of an insertion: cells x dup, checked in 64 bits.
uint64_t checked_total(uint64_t cells, int64_t dup) {
    uint64_t total = cells * uint64_t(dup);
    if (total > MAX_BLOCK_BYTES / CELL) no_memory();
    return total;
}


// The cells a value brings to append, insert or change: a block-like value
// is spread unless `only`. Cells of a block in the target's own buffer are
// taken out first (the insertion moves them).
struct Source {
    Cell single;
    Cell block;  // the spread block value (type 0 when not spreading)
    uint32_t count = 0;
    std::vector<Cell> snapshot;

    Source(const Cell* value, bool only, int64_t part_limit, const Cell* target) : single(*value), block{} {
        if (!only && is_any_block(value->type())) {
            block = *value;
            count = cells_length(&block);
            if (part_limit >= 0 && part_limit < count) count = uint32_t(part_limit);
            if (block.w2 == target->w2 && count) {
                const Cell* from = cell_at(&block, block.w1);
                snapshot.assign(from, from + count);
            }
        } else {
            count = 1;
        }
    }
    // Address of the cells (valid until the next allocation).
    const Cell* cells() const {
        if (block.header == 0) return &single;
        if (!snapshot.empty()) return snapshot.data();
        return cell_at(&block, block.w1);
    }
};

// Writes `dup` copies of the source's cells from `at` on.
void write_groups(Cell* at, const Source& src, uint64_t dup) {
    if (src.count == 0) return;
    const Cell* from = src.cells();
    std::memcpy(at, from, size_t(src.count) * CELL);
    // Double the written run until the groups are all there.
    uint64_t done = 1;
    while (done < dup) {
        uint64_t n = std::min(done, dup - done);
        std::memcpy(at + done * src.count, at, size_t(n * src.count) * CELL);
        done += n;
    }
}

// ---- Output helpers -----------------------------------------------------------------------

inline void put_char(Cell* out, uint32_t c) {
    string::append_char(buffer_of(out->w2), c);
}

// Line feed then four spaces per level; returns the budget left.
int32_t new_line(Cell* out, int32_t level, int32_t budget) {
    static const char spaces[] = "                                ";  // 32
    put_char(out, '\n');
    budget -= 1;
    int64_t n = int64_t(level) * 4;
    budget -= int32_t(std::min<int64_t>(n, INT32_MAX));
    while (n > 0) {
        int64_t k = std::min<int64_t>(n, 32);
        string::append_latin1(out, spaces, uint32_t(k));
        n -= k;
    }
    return budget;
}

// The last character of the output string, or -1 when it is empty.
int64_t last_char(const Cell* out) {
    SeriesBuffer* b = buffer_of(out->w2);
    if (b->tail == b->head) return -1;
    uint32_t unit = b->unit();
    return string::get_char(b->tail_ptr() - unit, unit);
}

// ---- Searching -------------------------------------------------------------------------------

enum MatchKind { MATCH_VALUE, MATCH_TYPE, MATCH_TYPESET, MATCH_SEQUENCE };


struct Search {
    int64_t place = -1;   // the matched place, -1 when none
    uint32_t length = 1;  // cells matched at the place
};

struct Query {
    Cell value;
    MatchKind kind = MATCH_VALUE;
    uint32_t n = 1;  // cells of a sequence
    int32_t op = COMP_FIND;
};

Query make_query(const Cell* value, bool only, bool case_sensitive, bool same) {
    Query q;
    q.value = *value;
    q.op = same ? COMP_SAME : case_sensitive ? COMP_STRICT_EQUAL : COMP_FIND;
    if (!only) {
        uint32_t t = value->type();
        if (t == TYPE_DATATYPE) {
            q.kind = MATCH_TYPE;
        } else if (t == TYPE_TYPESET) {
            q.kind = MATCH_TYPESET;
        } else if (is_any_block(t)) {
            q.kind = MATCH_SEQUENCE;
            q.n = cells_length(value);
        }
    }
    return q;
}


// Does the query match at place i of the block (all cells before `bound`)?
bool matches_at(const Cell* blk, uint32_t i, const Query& q, uint64_t bound) {
    switch (q.kind) {
        case MATCH_TYPE:
            return cell_at(blk, i)->type() == q.value.w1;
        case MATCH_TYPESET:
            return typeset_has(&q.value, cell_at(blk, i)->type());
        case MATCH_VALUE:
            return equal_cells(cell_at(blk, i), &q.value, q.op);
        case MATCH_SEQUENCE:
            if (uint64_t(i) + q.n > bound) return false;
            for (uint32_t k = 0; k < q.n; ++k) {
                Cell x = read_cell(blk, i + k);
                Cell y = read_cell(&q.value, q.value.w1 + k);
                if (!actions::compare(&x, &y, q.op)) return false;
            }
            return true;
    }
    return false;
}

// The /skip step of find and select.
uint32_t skip_step(const Cell* skip) {
    if (!skip) return 1;
    if (skip->type() != TYPE_INTEGER) invalid_refine_arg("skip", *skip);
    int32_t s = integer::get(skip);
    if (s < 1) fire({"script", "out-of-range"}, *skip);
    return uint32_t(s);
}

// The common search of find, select, put and path access.
Search search(const Cell* series, const Cell* value, const Cell* part, bool only, bool case_sensitive,
              bool same, const Cell* skip, bool last, bool reverse, bool match) {
    Search none_found;
    uint32_t total = cell_count(series);
    if (total == 0) return none_found;
    uint32_t pos = series->w1;
    if (pos >= total && !reverse) return none_found;
    uint32_t step = skip_step(skip);
    int64_t limit = int64_t(total) - 1;  // the last place examined
    int64_t low = 0;                     // the lowest place a backward search examines
    if (part) {
        // A count, or a position in the same series as the end of the range
        // (the place at that position is not part of it).
        int64_t count = series::part_count(series, part);
        if (count < 1) return none_found;
        limit = std::min<int64_t>(limit, int64_t(pos) + count - 1);
        low = std::max<int64_t>(0, int64_t(std::min(pos, total)) - count);
    }
    Query q = make_query(value, only, case_sensitive, same);
    if (q.kind == MATCH_SEQUENCE && q.n == 0) return none_found;
    uint32_t n = q.kind == MATCH_SEQUENCE ? q.n : 1;
    Search found;
    found.length = n;

    // A hash! looks single values up in its table.
    bool plain_value = q.kind == MATCH_VALUE && q.value.type() != TYPE_OBJECT && !same;
    if (is_hash(series) && plain_value && !match && !reverse && step == 1) {
        int32_t p = last ? hashtable::find_from(series->w3, &q.value, case_sensitive, uint32_t(limit), true)
                         : hashtable::find_from(series->w3, &q.value, case_sensitive, pos, false);
        if (p < 0 || p < int64_t(pos) || p > limit) return none_found;
        found.place = p;
        return found;
    }

    uint64_t bound = uint64_t(limit) + 1;  // cells of a match stay before it
    if (match) {
        // /reverse lets a position at the tail through: nothing there to match.
        if (pos < total && matches_at(series, pos, q, bound)) found.place = pos;
        return found;
    }
    if (reverse && !last) {
        uint32_t from = std::min(pos, total);
        uint64_t back = uint64_t(step) * ((n + step - 1) / step);
        for (int64_t i = int64_t(from) - int64_t(back); i >= low; i -= step) {
            if (matches_at(series, uint32_t(i), q, total)) {
                found.place = i;
                return found;
            }
        }
        return none_found;
    }
    int64_t first_fit = limit - int64_t(n) + 1;  // the last place where n cells fit
    if (first_fit < int64_t(pos)) return none_found;
    if (last) {
        int64_t i = int64_t(pos) + (first_fit - pos) / step * step;
        for (; i >= int64_t(pos); i -= step) {
            if (matches_at(series, uint32_t(i), q, bound)) {
                found.place = i;
                return found;
            }
        }
        return none_found;
    }
    for (int64_t i = pos; i <= first_fit; i += step) {
        if (matches_at(series, uint32_t(i), q, bound)) {
            found.place = i;
            return found;
        }
    }
    return none_found;
}


}  // namespace

// ---- mold / form ------------------------------------------------------------------------------

int32_t mold_each(Cell* blk, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
                  int32_t indent) {
    Cell b = *blk;
    cycles::Guard guard;
    guard.push(b.w2);
    int32_t level = indent;
    bool lines = false;
    uint32_t first = b.w1;
    for (uint32_t i = first; i < cell_count(&b); ++i) {
        if (part && budget <= 0) break;
        Cell v = read_cell(&b, i);
        if (!flat && v.new_line()) {
            bool is_first = i == first;
            if (is_first && !only) {
                ++level;
                lines = true;
            }
            if (!(is_first && only)) budget = new_line(out, level, budget);
        } else if (i != first) {
            put_char(out, ' ');
            --budget;
        }
        budget = actions::mold(&v, out, false, all, flat, part, budget, level);
    }
    if (lines) {
        --level;
        budget = new_line(out, level, budget);
    }
    return budget;
}

int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent) {
    if (string::append_cycle_marker(value, out, budget, true)) return budget;
    if (!only) {
        put_char(out, '[');
        --budget;
    }
    budget = mold_each(value, out, only, all, flat, part, budget, indent);
    if (!only) {
        put_char(out, ']');
        --budget;
    }
    return budget;
}

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    if (string::append_cycle_marker(value, out, budget, false)) return budget;
    Cell b = *value;
    cycles::Guard guard;
    guard.push(b.w2);
    uint32_t n = cell_count(&b);
    for (uint32_t i = b.w1; i < n; ++i) {
        if (part && budget <= 0) break;
        Cell v = read_cell(&b, i);
        budget = actions::form(&v, out, part, budget);
        n = cell_count(&b);
        if (i + 1 < n) {
            int64_t c = last_char(out);
            if (c != '\n' && c != '\r' && c != '\t') {
                put_char(out, ' ');
                --budget;
            }
        }
    }
    return budget;
}

// ---- compare ------------------------------------------------------------------------------------

int32_t compare_each(Cell* a, Cell* b, int32_t op) {
    if (a->w2 == b->w2 && a->w1 == b->w1) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find(a->w2)) return cycles::find(b->w2) ? 0 : -1;
    Cell x = *a, y = *b;
    uint32_t lx = cells_length(&x), ly = cells_length(&y);
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL ||
                    op == COMP_EQUAL_10 || op == COMP_EQUAL_11 || op == COMP_FIND;
    if (lx != ly && equality) return 1;
    cycles::Guard guard;
    guard.push(x.w2);
    guard.push(y.w2);
    uint32_t n = std::min(lx, ly);
    for (uint32_t i = 0; i < n; ++i) {
        if (i >= cells_length(&x) || i >= cells_length(&y)) break;  // changed by a compare hook
        Cell p = read_cell(&x, x.w1 + i);
        Cell q = read_cell(&y, y.w1 + i);
        uint32_t tp = p.type(), tq = q.type();
        if (tp != tq && !(is_all_word(tp) && is_all_word(tq)) && !(is_number(tp) && is_number(tq)))
            return tp < tq ? -1 : 1;
        int32_t r = actions::compare_value(&p, &q, op);
        if (r != 0) return r;
    }
    return lx < ly ? -1 : lx > ly ? 1 : 0;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    uint32_t ta = value->type(), tb = other->type();
    if (ta != tb) {
        bool paths = (ta == TYPE_PATH || ta == TYPE_LIT_PATH) && (tb == TYPE_PATH || tb == TYPE_LIT_PATH);
        if (!(paths && (op == COMP_EQUAL_10 || op == COMP_EQUAL_11))) return NOT_COMPARABLE;
    }
    return compare_each(value, other, op);
}

// ---- make / to ----------------------------------------------------------------------------------

namespace {

// A block of the elements of a vector! value from its index.
void vector_to_block(const Cell* vec, Cell* result) {
    Cell v = *vec;
    uint32_t len = series::buffer_length(&v);
    uint32_t pos = std::min(v.w1, len);
    make_at(result, int32_t(len - pos));
    for (uint32_t i = pos; i < len; ++i) {
        Cell e = series::unit_value(&v, i);
        cells_append(result, &e);
    }
}

// A block of the datatypes a typeset! holds.
void typeset_to_block(const Cell* ts, Cell* result) {
    Cell t = *ts;
    make_at(result, 8);
    for (uint32_t id = 1; id <= datatype::highest_type_id; ++id) {
        if (!typeset_has(&t, id)) continue;
        Cell d = datatype::cell(id);
        cells_append(result, &d);
    }
}

// A copy of a block-like value's cells from its position.
void copy_cells(const Cell* spec, Cell* result) {
    copy_part(spec, result, false, false);
}

// The body of an object! or map! (its set-words and values, or its keys and
// values), as `reflect` with the field `body` gives it, in `result`.
void body_to_block(const Cell* spec, Cell* result) {
    // reflect leaves its result in the return slot: give it a frame of its own.
    Cell* base = stack::mark_native(nullptr);
    stack::push(*spec);
    actions::reflect(base, fixed::sym[fixed::SYM_BODY]);
    Cell body = *base;
    stack::unwind_drop();
    *result = body;
}

// The values of a text, loaded by the lexer's loader.
void load_text(const Cell* spec, Cell* result) {
    if (!runtime::lexer_load) fire({"internal", "not-done"});
    Cell* saved = stack::top;
    Cell* text = stack::push(*spec);
    Cell* loaded = stack::push(none::cell());
    runtime::lexer_load(text, loaded);
    *result = *loaded;
    stack::top = saved;
}

}  // namespace

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (is_any_block(t)) {
        copy_cells(spec, proto);
    } else if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        double n = t == TYPE_INTEGER ? double(integer::get(spec)) : spec->get_f64();
        if (!(n >= 1)) n = 1;  // NaN and sizes below 1 give room for one cell
        if (n > double(MAX_BLOCK_BYTES / CELL)) no_memory();
        make_at(proto, int32_t(n));
    } else if (t == TYPE_VECTOR) {
        vector_to_block(spec, proto);
    } else if (t == TYPE_OBJECT || t == TYPE_MAP) {
        body_to_block(spec, proto);
    } else {
        fire({"script", "bad-make-arg"}, datatype::cell(type), *spec);
    }
    proto->set_type(type);
    return proto;
}

Outcome to(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (is_any_block(t)) {
        copy_cells(spec, proto);
    } else if (t == TYPE_VECTOR) {
        vector_to_block(spec, proto);
    } else if (t == TYPE_TYPESET) {
        typeset_to_block(spec, proto);
    } else if (t == TYPE_OBJECT || t == TYPE_MAP) {
        body_to_block(spec, proto);
    } else if (t == TYPE_STRING) {
        load_text(spec, proto);
    } else {
        Cell v = *spec;
        v.clear_new_line();
        make_at(proto, 1);
        cells_append(proto, &v);
    }
    proto->set_type(type);
    proto->clear_new_line();
    return proto;
}

// ---- Path access --------------------------------------------------------------------------------

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* /*grandparent*/,
                Cell* /*previous*/, int32_t /*position*/, bool case_sensitive, bool /*get_path*/,
                bool /*last_element*/, bool notify_owner) {
    if (element->type() == TYPE_INTEGER) {
        int32_t n = integer::get(element);
        if (value) return series::poke(parent, n, value, element);
        return series::pick(parent, n, element);
    }
    if (value) {
        Search s =
            search(parent, element, nullptr, true, case_sensitive, false, nullptr, false, false, false);
        if (s.place < 0) fire({"script", "bad-path-set"}, path ? *path : *element, none::cell());
        uint32_t place = uint32_t(s.place) + 1;
        bool owned = false;
        if (notify_owner)
            if (Unwind code = series::notify_owner(parent, ownership::OwnerEvent::POKE, value, place, 1, &owned)) return code;
        if (place < cell_count(parent)) {
            *cell_at(parent, place) = *value;
            if (is_hash(parent)) hashtable::reindex(parent->w3, place, 1);
        } else {
            cells_append(parent, value);
            hash_inserted(parent, place, 1);
        }
        if (owned)
            if (Unwind code = series::notify_owner(parent, ownership::OwnerEvent::POKED, value, place, 1, nullptr)) return code;
        return value;
    }
    if (element->type() == TYPE_WORD && !is_hash(parent))
        return cells_find_word(parent, element, case_sensitive);
    return select(parent, element, nullptr, true, case_sensitive, false, false, nullptr, nullptr, false,
                  false);
}

// ---- find / select / put --------------------------------------------------------------------------

Outcome find(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool /*any*/,
             Cell* /*with*/, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    Search s = search(series, value, part, only, case_sensitive, same, skip, last, reverse, match);
    if (s.place < 0) return &none_value;
    Cell* r = stack::push(*series);
    r->w1 = uint32_t(s.place) + (tail ? s.length : 0);
    return r;
}

Outcome select(Cell* series, Cell* value, Cell* part, bool only, bool case_sensitive, bool same, bool /*any*/,
               Cell* /*with*/, Cell* skip, bool last, bool reverse) {
    Search s = search(series, value, part, only, case_sensitive, same, skip, last, reverse, false);
    if (s.place < 0) return &none_value;
    uint64_t after = uint64_t(s.place) + s.length;
    if (after >= cell_count(series)) return &none_value;
    return cell_at(series, uint32_t(after));
}

Outcome put(Cell* series, Cell* key, Cell* value, bool case_sensitive) {
    // The key is one value (a block key is not searched as a sequence).
    Search s = search(series, key, nullptr, true, case_sensitive, false, nullptr, false, false, false);
    if (s.place < 0) {
        uint32_t n = cell_count(series);
        bool owned = false;
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::PUT, value, n, 2, &owned)) return code;
        if (owned) n = cell_count(series);
        cells_append(series, key);
        cells_append(series, value);
        hash_inserted(series, n, 2);
        if (owned)
            if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::PUT_ED, value, n, 2, nullptr)) return code;
        return value;
    }
    uint32_t place = uint32_t(s.place) + 1;
    bool owned = false;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::PUT, value, place, 1, &owned)) return code;
    if (place < cell_count(series)) {
        if (!equal_cells(cell_at(series, place), value, COMP_FIND)) {
            *cell_at(series, place) = *value;
            if (is_hash(series)) hashtable::reindex(series->w3, place, 1);
        }
    } else {
        cells_append(series, value);
        hash_inserted(series, place, 1);
    }
    if (owned)
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::PUT_ED, value, place, 1, nullptr)) return code;
    return value;
}

// ---- append / insert / change ----------------------------------------------------------------------

namespace {

// insert beyond the one-value append: out of line, so that the append does
// not pay for its frame.
[[gnu::noinline]] Unwind insert_general(Cell* series, Cell* value, int32_t part, bool only, int32_t dup,
                                        bool append) {
    uint32_t n = cell_count(series);
    uint32_t pos = append ? n : std::min(series->w1, n);
    if (!append) series->w1 = pos;
    Source src(value, only, part, series);
    if (src.count == 0 || dup < 1) {
        if (append) series->w1 = 0;
        return UNWIND_NONE;
    }
    uint64_t total = checked_total(src.count, dup);
    bool owned;
    if (Unwind code = series::notify_owner(series, append ? ownership::OwnerEvent::APPEND : ownership::OwnerEvent::INSERT, value, pos, uint32_t(total), &owned)) return code;
    if (owned) {
        // Take both series as the handler left them.
        n = cell_count(series);
        pos = append ? n : std::min(pos, n);
        src = Source(value, only, part, series);
        total = checked_total(src.count, dup);
    }
    SeriesBuffer* b = room_for(series, total, dup < 5);
    Cell* at = b->head_cell() + pos;
    std::memmove(at + total, at, size_t(n - pos) * CELL);
    b->tail += uint32_t(total * CELL);
    write_groups(at, src, uint64_t(dup));
    hash_inserted(series, pos, uint32_t(total));
    if (owned) {
        if (Unwind code = series::notify_owner(series, append ? ownership::OwnerEvent::APPENDED : ownership::OwnerEvent::INSERTED, value, pos, uint32_t(total), nullptr)) return code;
    }
    series->w1 = append ? 0 : uint32_t(std::min<uint64_t>(pos + total, cell_count(series)));
    return UNWIND_NONE;
}

// The one-value append when the buffer is full: out of line, so that the
// append with room needs no frame.
[[gnu::noinline]] Unwind append_growing(Cell* series, const Cell* value) {
    Cell v = *value;  // the value may lie in the buffer that grows
    SeriesBuffer* b = grow_for(series, 1, true);
    *b->tail_cell() = v;
    b->tail += CELL;
    series->w1 = 0;
    return UNWIND_NONE;
}

}  // namespace

Unwind insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    // The commonest case: one value at the tail of a block no owner watches
    // (an owned buffer carries the flag) and no hash table indexes. The
    // general insert would do the same, with the same growth.
    if (append && dup == 1 && is_plain_cell_append(series, value, only)) {
        if (append_cell_in_room(series, value)) return UNWIND_NONE;
        return append_growing(series, value);  // a full buffer grows first
    }
    return insert_general(series, value, part, only, dup, append);
}

Unwind change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    uint32_t n = cell_count(series);
    uint32_t pos = std::min(series->w1, n);
    series->w1 = pos;
    if (dup < 1) return UNWIND_NONE;
    Source src(value, only, -1, series);
    uint64_t inserted = checked_total(src.count, dup);
    uint32_t left = n - pos;
    uint32_t replaced =
        part >= 0 ? std::min<uint32_t>(uint32_t(part), left) : uint32_t(std::min<uint64_t>(inserted, left));
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGE, value, pos, replaced, &owned)) return code;
    if (owned) {
        // Take both series as the handler left them.
        n = cell_count(series);
        pos = std::min(pos, n);
        src = Source(value, only, -1, series);
        inserted = checked_total(src.count, dup);
        left = n - pos;
        replaced = part >= 0 ? std::min<uint32_t>(uint32_t(part), left)
                             : uint32_t(std::min<uint64_t>(inserted, left));
    }
    if (inserted > replaced) room_for(series, inserted - replaced, dup < 5);
    SeriesBuffer* b = buf(series);
    Cell* at = b->head_cell() + pos;
    uint32_t rest = n - pos - replaced;
    std::memmove(at + inserted, at + replaced, size_t(rest) * CELL);
    b->tail = b->head + uint32_t((uint64_t(pos) + inserted + rest) * CELL);
    write_groups(at, src, uint64_t(dup));
    if (is_hash(series)) hashtable::reindex(series->w3, pos, hashtable::ALL);
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::CHANGED, value, pos, uint32_t(inserted), nullptr)) return code;
    }
    series->w1 = uint32_t(std::min<uint64_t>(pos + inserted, cell_count(series)));
    return UNWIND_NONE;
}

// ---- copy / take / swap / trim ------------------------------------------------------------------

Outcome copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types) {
    if (types && types->type() != TYPE_DATATYPE && types->type() != TYPE_TYPESET)
        fire({"script", "expect-arg"}, series::arg_word("copy"), datatype::cell(types->type()),
             series::arg_word("types"));
    uint32_t source_node = series->w2;
    Cell* r = series::copy(series, result, part, false, nullptr).cell;
    if (types) {
        copy_types(r, 0, cell_count(r), 1, deep, types);
    } else if (deep) {
        deep_copy_cells(r, source_node);
    }
    return r;
}

Outcome take(Cell* series, Cell* part, bool deep, bool last) {
    uint32_t source_node = series->w2;
    Outcome taken = series::take(series, part, deep, last);
    if (taken.code) return taken;
    Cell* r = taken.cell;
    if (!deep || r->type() == TYPE_NONE) return r;
    if (part) {
        deep_copy_cells(r, source_node);
    } else if (is_series(r->type())) {
        stack::TopMark mark;
        Cell* holder = stack::push(none::cell());
        make_at(holder, 1);
        cells_append(holder, r);
        deep_copy_cells(holder, source_node);
        Cell c = read_cell(holder, 0);
        *r = c;
    }
    return r;
}

Unwind swap(Cell* series1, Cell* series2) {
    if (!is_any_block(series2->type())) fire({"script", "invalid-arg"}, *series2);
    if (series::tail_reached(series1) || series::tail_reached(series2)) return UNWIND_NONE;
    uint32_t p1 = series1->w1, p2 = series2->w1;
    series::SwapOwners owned;
    if (Unwind code = series::notify_swap(series1, p1, series2, p2, owned)) return code;
    Cell a = read_cell(series1, p1);
    Cell b = read_cell(series2, p2);
    *cell_at(series1, p1) = b;
    *cell_at(series2, p2) = a;
    if (is_hash(series1)) hashtable::reindex(series1->w3, p1, 1);
    if (is_hash(series2)) hashtable::reindex(series2->w3, p2, 1);
    return series::notify_swapped(series1, p1, series2, p2, owned);
}

Unwind trim(Cell* series, bool, bool, bool, bool, bool, Cell*) {
    uint32_t n = cell_count(series);
    uint32_t pos = std::min(series->w1, n);
    bool owned;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::TRIM, nullptr, pos, n - pos, &owned)) return code;
    if (owned) {
        n = cell_count(series);
        pos = std::min(series->w1, n);
    }
    SeriesBuffer* b = buf(series);
    Cell* cells = b->head_cell();
    uint32_t kept = pos;
    for (uint32_t i = pos; i < n; ++i) {
        if (cells[i].type() == TYPE_NONE) continue;
        if (kept != i) cells[kept] = cells[i];
        ++kept;
    }
    b->tail = b->head + kept * CELL;
    if (kept != n && is_hash(series)) hashtable::reindex(series->w3, pos, hashtable::ALL);
    if (owned) {
        if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::TRIMMED, nullptr, pos, kept - pos, nullptr)) return code;
    }
    return UNWIND_NONE;
}

// ---- sort ---------------------------------------------------------------------------------------

namespace {

struct SortState {
    uint32_t size;    // cells per record
    uint32_t offset;  // cell compared within a record (/compare with an integer)
    bool all;         // compare every cell of the records in order
    bool reverse;
    const Cell* function;  // /compare with a function (a data-stack cell), or null
    Off snapshot;          // with a function: the records being sorted, by index
    Unwind exit;           // the code of an exit that left the function: the sort stops asking
    Cell* records = nullptr;  // with a function and /all: two data-stack blocks given the records
};

// Ordering of two values for sorting; values that are not comparable order
// by their type ids.
int32_t order(const Cell* a, const Cell* b, int32_t op) {
    if (a->type() == TYPE_INTEGER && b->type() == TYPE_INTEGER) {  // the common case, without dispatch
        int32_t p = int32_t(a->w2), q = int32_t(b->w2);
        return (p > q) - (p < q);
    }
    Cell x = *a, y = *b;
    int32_t r = actions::compare_value(&x, &y, op);
    if (r == NOT_COMPARABLE) {
        uint32_t tx = x.type(), ty = y.type();
        return tx < ty ? -1 : tx > ty ? 1 : 0;
    }
    return r;
}

// With a comparator function the sort orders record indexes (32-bit) into
// the snapshot: the two first cells are read through its node at every
// call, since the function's code may allocate and move every buffer. Once
// the function has exited (break, return, throw ...), every remaining
// comparison answers equal without calling it, so the sort ends at once and
// its order is dropped.
int32_t compare_indexes(const void* pa, const void* pb, int32_t, intptr_t flags) {
    auto* st = reinterpret_cast<SortState*>(flags);
    if (st->exit) return 0;
    uint32_t ia, ib;
    std::memcpy(&ia, pa, sizeof ia);
    std::memcpy(&ib, pb, sizeof ib);
    if (st->reverse) std::swap(ia, ib);
    int32_t r = 0;
    if (st->records) {
        // /all: the function gets two blocks holding the whole records.
        uint32_t bytes = st->size * CELL;
        for (uint32_t k = 0; k < 2; ++k) {
            Cell& holder = st->records[k];
            // The function may have changed the block: its cells are
            // replaced, and a buffer that grew past 2 MB is made again at
            // the record's size.
            SeriesBuffer* rb = buffer_of(holder.w2);
            if (rb->data_end() - rb->head < bytes || rb->size > 2097151) {
                holder.w2 = memory::alloc_cells(st->size);
                rb = buffer_of(holder.w2);
            }
            std::memcpy(rb->head_cell(), buffer_of(st->snapshot)->head_cell() + size_t(k ? ib : ia) * st->size,
                        bytes);
            rb->tail = rb->head + bytes;
        }
        st->exit = call_compare_function(st->function, &st->records[0], &st->records[1], &r);
        return r;
    }
    const Cell* cells = buffer_of(st->snapshot)->head_cell();
    Cell a = cells[size_t(ia) * st->size];
    Cell b = cells[size_t(ib) * st->size];
    st->exit = call_compare_function(st->function, &a, &b, &r);
    return r;
}

int32_t compare_records(const void* pa, const void* pb, int32_t op, intptr_t flags) {
    const auto* st = reinterpret_cast<const SortState*>(flags);
    const Cell* a = static_cast<const Cell*>(pa);
    const Cell* b = static_cast<const Cell*>(pb);
    if (st->reverse) std::swap(a, b);
    if (st->all) {
        for (uint32_t k = 0; k < st->size; ++k) {
            int32_t r = order(a + k, b + k, op);
            if (r != 0) return r;
        }
        return 0;
    }
    return order(a + st->offset, b + st->offset, op);
}

// Sorts `records` records from cell `start` of the series with a comparator
// function. Its code may change, grow, clear or recycle the series, so the
// sort works on a snapshot it owns: the records are copied to a new block
// kept on the data stack, their indexes are sorted, and the records are
// written back in that order over the range, which must then still exist
// (script past-end when the comparator shortened the series). The result is
// always a permutation of the snapshot. When the function exits, the series
// is left as it was and the exit's code returned.
Unwind sort_by_function(Cell* series, uint32_t start, uint32_t records, SortState& st, bool stable,
                        bool whole_records) {
    Cell* saved_top = stack::top;
    uint32_t cells = records * st.size;
    Cell* snapshot = stack::push(none::cell());
    Off node = memory::alloc_cells(cells);
    *snapshot = Cell{TYPE_BLOCK, 0, node, 0};
    SeriesBuffer* sb = buffer_of(node);
    std::memcpy(sb->head_cell(), cell_at(series, start), size_t(cells) * CELL);
    sb->tail = sb->head + cells * CELL;
    st.snapshot = node;
    if (whole_records) {
        // With /all the function compares two blocks holding the records,
        // kept from call to call.
        st.records = stack::push(none::cell());
        stack::push(none::cell());
        for (uint32_t k = 0; k < 2; ++k) st.records[k] = Cell{TYPE_BLOCK, 0, memory::alloc_cells(st.size), 0};
    }
    std::vector<uint32_t> order(records);
    for (uint32_t i = 0; i < records; ++i) order[i] = i;
    if (stable)
        kiv::sort::merge_sort(order.data(), records, sizeof(uint32_t), 0, reinterpret_cast<intptr_t>(&st),
                              compare_indexes);
    else
        kiv::sort::quick_sort(order.data(), records, sizeof(uint32_t), 0, reinterpret_cast<intptr_t>(&st),
                              compare_indexes);
    if (st.exit) return st.exit;
    if (uint64_t(start) + cells > cell_count(series)) fire({"script", "past-end"});
    const Cell* from = buffer_of(node)->head_cell();
    Cell* to = cell_at(series, start);
    for (uint32_t i = 0; i < records; ++i)
        std::memcpy(to + size_t(i) * st.size, from + size_t(order[i]) * st.size, size_t(st.size) * CELL);
    stack::top = saved_top;
    return UNWIND_NONE;
}

}  // namespace

ComparatorRunner comparator_runner = nullptr;

Unwind call_compare_function(const Cell* function, const Cell* a, const Cell* b, int32_t* order) {
    // The answer maps to an order as for every series type: true, a positive
    // number or any other value puts `a` first (-1); false, none or a
    // negative number puts `b` first (1); zero keeps them equal.
    if (!comparator_runner) fire({"internal", "not-done"});
    Cell args[2] = {*a, *b};
    Cell* saved_top = stack::top;
    if (Unwind code = comparator_runner(function, args, 2)) return code;
    Cell answer = *(stack::top - 1);
    stack::top = saved_top;
    *order = string::compare_answer_order(&answer);
    return UNWIND_NONE;
}

Unwind sort(Cell* series, bool case_sensitive, Cell* skip, Cell* comparator, Cell* part, bool all,
            bool reverse, bool stable) {
    uint32_t n = cell_count(series);
    uint32_t pos = series->w1;
    if (pos >= n) return UNWIND_NONE;
    int64_t start = pos;
    int64_t count = n - pos;
    if (part) {
        int64_t c = series::part_count(series, part);
        if (c < 0) {
            start = std::max<int64_t>(0, int64_t(pos) + c);
            count = pos - start;
        } else {
            count = std::min<int64_t>(c, count);
        }
    }
    int64_t size = 1;
    if (skip) {
        if (skip->type() != TYPE_INTEGER) invalid_refine_arg("skip", *skip);
        size = integer::get(skip);
        if (size < 1 || size > count || count % size != 0) invalid_refine_arg("skip", *skip);
    }
    if (all && !skip) fire({"script", "bad-refines"});
    SortState st{uint32_t(size), 0, all && size > 1, reverse, nullptr, 0, UNWIND_NONE};
    if (comparator) {
        uint32_t ct = comparator->type();
        if (ct == TYPE_INTEGER) {
            if (!skip || all) fire({"script", "bad-refines"});
            int32_t field = integer::get(comparator);
            if (field < 1 || field > size) fire({"script", "out-of-range"}, *comparator);
            st.offset = uint32_t(field - 1);
        } else if (ct == TYPE_FUNCTION || ct == TYPE_ROUTINE) {
            st.function = comparator;
        } else {
            invalid_refine_arg("compare", *comparator);
        }
    }
    // An empty /part range sorts nothing, once the other arguments passed their checks.
    if (count < 1) return UNWIND_NONE;
    uint32_t records = uint32_t(count / size);
    int32_t op = case_sensitive ? COMP_CASE_SORT : COMP_SORT;
    bool owned = false;
    if (Unwind code = series::notify_owner(series, ownership::OwnerEvent::SORT, nullptr, uint32_t(start), uint32_t(count), &owned))
        return code;
    if (owned) series::recheck_range(series, uint32_t(start), uint32_t(count));
    uint32_t width = uint32_t(size) * CELL;
    if (st.function) {
        if (Unwind code = sort_by_function(series, uint32_t(start), records, st, stable, all)) return code;
    } else {
        // Only the comparison actions run here: nothing allocates.
        void* base = cell_at(series, uint32_t(start));
        if (stable)
            kiv::sort::merge_sort(base, records, width, op, reinterpret_cast<intptr_t>(&st), compare_records);
        else
            kiv::sort::quick_sort(base, records, width, op, reinterpret_cast<intptr_t>(&st), compare_records);
    }
    // A hash! indexes the sorted range again before its owner hears of the sort.
    if (is_hash(series)) hashtable::reindex(series->w3, uint32_t(start), uint32_t(count));
    if (owned) return series::notify_owner(series, ownership::OwnerEvent::SORTED, nullptr, uint32_t(start), uint32_t(count), nullptr);
    return UNWIND_NONE;
}

// ---- Registration ------------------------------------------------------------------------------

// The spare cell holds a block made without a parent until its maker keeps it.
void mark_spare() {
    collector::mark_cells(spare_cell(), spare_cell() + 1);
}

void init() {
    collector::unregister_marker(&mark_spare);
    collector::register_marker(&mark_spare);
    datatype::Registration r = datatype::blank(TYPE_BLOCK, TYPE_SERIES, "block!");
    r.inherit({ACT_RANDOM, ACT_REFLECT, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_HEAD, ACT_HEAD_Q,
                          ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE,
                          ACT_REVERSE, ACT_SKIP, ACT_TAIL, ACT_TAIL_Q, ACT_MODIFY});
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(to);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_APPEND>(insert);
    r.set<ACT_INSERT>(insert);
    r.set<ACT_CHANGE>(change);
    r.set<ACT_COPY>(copy);
    r.set<ACT_FIND>(find);
    r.set<ACT_PUT>(put);
    r.set<ACT_SELECT>(select);
    r.set<ACT_SORT>(sort);
    r.set<ACT_SWAP>(swap);
    r.set<ACT_TAKE>(take);
    r.set<ACT_TRIM>(trim);
    datatype::register_type(r);
}

}  // namespace kiv::block

// ---- paren! --------------------------------------------------------------------------------------

namespace kiv::paren {

Cell* push(Cell* cell) {
    cell->set_type(TYPE_PAREN);
    return stack::push(*cell);
}

int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent) {
    if (string::append_cycle_marker(value, out, budget, true)) return budget;
    if (!only) {
        string::append_char(buffer_of(out->w2), '(');
        --budget;
    }
    budget = block::mold_each(value, out, only, all, flat, part, budget, indent);
    if (!only) {
        string::append_char(buffer_of(out->w2), ')');
        --budget;
    }
    return budget;
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_PAREN, TYPE_BLOCK, "paren!");
    r.inherit_all();
    r.set<ACT_MOLD>(mold);
    r.drop(ACT_TRIM);
    datatype::register_type(r);
}

}  // namespace kiv::paren
