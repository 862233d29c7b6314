// map!: keys normalised and indexed by a map-kind hash table; entries kept in
// place in a pair block (see map.h).
#include "datatypes/map.h"

#include <cstring>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/hash_values.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::map {

namespace {

constexpr uint32_t CELL = sizeof(Cell);
// More entries than this would not fit a buffer's 32-bit size.
constexpr uint64_t MAX_ENTRIES = 0x7FFFFFF0ull / (2 * CELL);

Cell none_value = Cell{TYPE_NONE, 0, 0, 0};

// Pops the cycle stack entry when the walk leaves.
struct CycleEntry {
    explicit CycleEntry(uint32_t identity) { cycles::push(identity); }
    ~CycleEntry() { cycles::pop(); }
    CycleEntry(const CycleEntry&) = delete;
    CycleEntry& operator=(const CycleEntry&) = delete;
};

inline uint32_t cell_count(const Cell* m) { return buffer_of(m->w2)->byte_count() / CELL; }
inline Cell* cell_at(const Cell* m, uint32_t i) { return buffer_of(m->w2)->head_cell() + i; }
inline bool removed(const Cell* m, uint32_t key_pos) { return cell_at(m, key_pos + 1)->header == 0; }

inline bool is_string_key(uint32_t t) {
    switch (t) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_BINARY: case TYPE_TAG:
        case TYPE_EMAIL: case TYPE_REF:
            return true;
        default:
            return false;
    }
}
inline bool is_word_key(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

inline void put_char(Cell* out, char c) { string::append_char(buffer_of(out->w2), uint8_t(c)); }

// Line-feed and indentation output counted against the budget.
int32_t put_spaces(Cell* out, int32_t level, int32_t budget) {
    for (int32_t i = 0; i < level * 4; ++i) put_char(out, ' ');
    return budget - level * 4;
}

// The key as find gives it back: set-word keys as words.
Cell key_as_found(Cell key) {
    if (key.type() == TYPE_SET_WORD) key.set_type(TYPE_WORD);
    key.clear_new_line();
    return key;
}

// The value cell of a key's live entry, or nullptr (missing or removed);
// valid until the next allocation.
[[gnu::always_inline]] inline Cell* live_value(const Cell* m, const Cell* key, bool case_sensitive) {
    Cell* k = hash_values::find_in_map(m->w3, key, case_sensitive);
    if (!k || k[1].header == 0) return nullptr;
    return k + 1;
}

// The live-entry position of a key, or -1 (missing or removed).
int32_t live_position(const Cell* m, const Cell* key, bool case_sensitive) {
    Cell* v = live_value(m, key, case_sensitive);
    return v ? int32_t(v - 1 - buffer_of(m->w2)->head_cell()) : -1;
}


// Writes the live pairs (see map.h): molded keys and values, one pair per
// line with indentation, or on one line with /flat.
int32_t form_body(Cell* map, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
                  bool indent_mode, int32_t level, bool mold_mode) {
    Cell m = *map;
    if (live_count(&m) == 0) return budget;
    // Indentation only in mold mode on several lines; the separator after the
    // last pair only there too (a flat map closes right after its last value).
    bool trailing = indent_mode && !flat;
    bool indent = trailing && !only;
    char separator = flat ? ' ' : '\n';
    if (mold_mode && !flat && !only) {
        put_char(out, '\n');
        --budget;
    }
    uint32_t n = cell_count(&m);
    bool first = true;
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        if (part && budget <= 0) break;
        if (removed(&m, i)) continue;
        if (!first && !trailing) {
            put_char(out, separator);
            --budget;
        }
        first = false;
        if (indent) budget = put_spaces(out, level, budget);
        Cell k = *cell_at(&m, i);
        k.clear_new_line();
        budget = actions::mold(&k, out, false, all, flat, part, budget, level);
        put_char(out, ' ');
        --budget;
        Cell v = *cell_at(&m, i + 1);
        v.clear_new_line();
        budget = actions::mold(&v, out, false, all, flat, part, budget, level);
        n = cell_count(&m);  // a mold hook may have changed the map
        if (trailing) {
            put_char(out, separator);
            --budget;
        }
    }
    return budget;
}

// The map built over a copy of a block's cells from its position.
void from_block(Cell* proto, const Cell* spec) {
    stack::TopMark mark;
    Cell s = *spec;
    uint32_t n = block::cells_length(&s);
    if (n & 1) fire({"script", "invalid-arg"}, s);
    Cell* pairs = stack::push(none::cell());
    block::copy_part(&s, pairs, false, false);
    for (uint32_t i = 0; i < n; ++i) {
        Cell* c = cell_at(pairs, i);
        c->clear_new_line();
    }
    // Keys are normalised in place (string keys copied, words made set-words).
    for (uint32_t i = 0; i < n; i += 2) {
        Cell* k = stack::push(*cell_at(pairs, i));
        normalize_key(k, nullptr);
        *cell_at(pairs, i) = *k;
    }
    make_at(proto, pairs->w2, 0, n / 2);
}

// Every live value of the first map compared with the value of the same key
// in the second (see compare).
int32_t compare_pairs(Cell* a, Cell* b, int32_t op) {
    uint32_t n = cell_count(a);
    bool case_sensitive = op == COMP_STRICT_EQUAL;
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        if (removed(a, i)) continue;
        Cell key = *cell_at(a, i);
        Cell va = *cell_at(a, i + 1);
        int32_t result = 1;
        hashtable::Cursor cursor;
        for (int32_t pos = hashtable::find_first(b->w3, &key, case_sensitive, cursor); pos >= 0;
             pos = hashtable::find_next(b->w3, &key, case_sensitive, cursor)) {
            if (removed(b, uint32_t(pos))) continue;
            Cell vb = *cell_at(b, uint32_t(pos) + 1);
            va.clear_new_line();
            vb.clear_new_line();
            result = actions::compare_value(&va, &vb, op);
            if (result == 0) break;
        }
        if (result != 0) return result;
    }
    return 0;
}

}  // namespace

bool key_type(uint32_t t) {
    switch (t) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_CHAR: case TYPE_INTEGER:
        case TYPE_FLOAT: case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT: case TYPE_ISSUE: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE:
        case TYPE_BINARY: case TYPE_TIME: case TYPE_TAG: case TYPE_EMAIL: case TYPE_DATE:
        case TYPE_MONEY: case TYPE_REF: case TYPE_POINT2D: case TYPE_POINT3D:
            return true;
        default:
            return false;
    }
}

void normalize_key(Cell* key, const Cell* path) {
    uint32_t t = key->type();
    if (!key_type(t)) fire({"script", "invalid-path"}, path ? *path : none::cell(), datatype::cell(t));
    if (is_word_key(t)) {
        key->set_type(TYPE_SET_WORD);
    } else if (is_string_key(t)) {
        stack::TopMark mark;
        Cell* src = stack::push(*key);
        Cell* dst = stack::push(none::cell());
        Cell copied = *series::copy(src, dst, nullptr, false, nullptr).cell;
        copied.header = t;
        *key = copied;
    }
    key->clear_new_line();
}

uint32_t live_count(const Cell* map) { return hashtable::record(map->w3)->live; }

Cell* make_at(Cell* cell, Off pairs, Off table, uint32_t room) {
    if (!pairs) {
        if (uint64_t(room) > MAX_ENTRIES) fire({"internal", "no-memory"});
        *cell = none::cell();
        block::make_at(cell, int32_t(room ? room * 2 : 2));
        pairs = cell->w2;
    }
    // The pair block stays reachable through the cell while the table is made.
    *cell = Cell{TYPE_BLOCK, 0, pairs, 0};
    if (!table) {
        uint32_t n = buffer_of(pairs)->byte_count() / CELL;
        table = hashtable::init(n / 2 > room ? n / 2 : room, pairs, hashtable::MAP, 0);
    }
    *cell = Cell{TYPE_MAP, 0, pairs, table};
    return cell;
}

Cell* push(const Cell* map) { return stack::push(*map); }

void extend(Cell* map, Cell* blk, bool case_sensitive) {
    stack::TopMark mark;
    Cell* m = stack::push(*map);
    Cell* b = stack::push(*blk);
    uint32_t n = block::cells_length(b);
    if (n & 1) fire({"script", "invalid-arg"}, *b);
    if ((uint64_t(cell_count(m)) + n) / 2 > MAX_ENTRIES) fire({"internal", "no-memory"});
    for (uint32_t i = 0; i < n; i += 2) {
        Cell k = *block::cells_at(b, b->w1 + i);
        Cell v = *block::cells_at(b, b->w1 + i + 1);
        store(m, &k, &v, case_sensitive, nullptr);
    }
}

// ---- Actions -------------------------------------------------------------------------------

namespace {

Cell* make_or_to(Cell* proto, Cell* spec, bool is_make) {
    uint32_t t = spec->type();
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
        from_block(proto, spec);
    } else if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        if (!is_make) fire({"script", "bad-to-arg"}, datatype::cell(TYPE_MAP), *spec);
        double n = t == TYPE_INTEGER ? double(int32_t(spec->w2)) : spec->get_f64();
        if (n < 0) fire({"script", "out-of-range"}, *spec);
        if (!(n <= double(MAX_ENTRIES))) fire({"internal", "no-memory"});
        make_at(proto, 0, 0, n < 1 ? 1 : uint32_t(n));
    } else if (t == TYPE_MAP) {
        Cell* slot = stack::push(none::cell());
        Cell r = *copy(spec, slot, nullptr, false, nullptr).cell;
        *proto = r;
    } else {
        fire({"script", "bad-to-arg"}, datatype::cell(TYPE_MAP), *spec);
    }
    return proto;
}

}  // namespace

Outcome make(Cell* proto, Cell* spec, uint32_t) {
    stack::TopMark mark;
    return make_or_to(proto, spec, true);
}

Outcome to(Cell* proto, Cell* spec, uint32_t) {
    stack::TopMark mark;
    return make_or_to(proto, spec, false);
}

void reflect(Cell* value, uint32_t field_symbol) {
    uint32_t f = symbol::resolve(field_symbol);
    auto is = [&](uint32_t s) { return f == symbol::resolve(fixed::sym[s]); };
    bool words = is(fixed::SYM_WORDS), values = is(fixed::SYM_VALUES), body = is(fixed::SYM_BODY);
    if (!words && !values && !body) fire({"internal", "not-done"});
    stack::TopMark mark;
    Cell* m = stack::push(*value);
    uint32_t live = live_count(m);
    Cell* blk = block::push_only(int32_t(body ? live * 2 : live));
    uint32_t n = cell_count(m);
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        if (removed(m, i)) continue;
        if (words || body) {
            Cell k = *cell_at(m, i);
            if (body)
                k.header |= header::NEW_LINE;  // one pair per line when molded
            else
                k = key_as_found(k);
            block::cells_append(blk, &k);
        }
        if (values || body) {
            Cell v = *cell_at(m, i + 1);
            v.clear_new_line();
            block::cells_append(blk, &v);
        }
    }
    *value = *blk;
}

int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget) {
    if (string::append_cycle_marker(value, out, budget, false)) return budget;
    Cell m = *value;
    CycleEntry entry(m.w2);
    return form_body(&m, out, false, false, false, part, budget, false, 0, false);
}

int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent) {
    if (string::append_cycle_marker(value, out, budget, true)) return budget;
    Cell m = *value;
    CycleEntry entry(m.w2);
    if (!only) {
        put_char(out, '#');
        put_char(out, '[');
        budget -= 2;
    }
    bool any = live_count(&m) != 0;
    budget = form_body(&m, out, only, all, flat, part, budget, true, indent + 1, true);
    if (!only) {
        if (any && !flat && indent >= 1) budget = put_spaces(out, indent, budget);
        put_char(out, ']');
        --budget;
    }
    return budget;
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool case_sensitive,
                bool, bool, bool) {
    if (value) {
        store(parent, element, value, case_sensitive, path);
        return value;
    }
    Cell* found = live_value(parent, element, case_sensitive);
    if (!found) return &none_value;
    Cell* v = stack::push(*found);
    v->clear_new_line();
    return v;
}

void add_pair(Cell* map, const Cell* key, const Cell* value, bool case_sensitive, const Cell* path,
              uint32_t hash) {
    stack::TopMark mark;
    Cell* m = stack::push(*map);
    Cell* v = stack::push(*value);
    v->clear_new_line();
    Cell* k = stack::push(*key);
    normalize_key(k, path);
    uint32_t n = cell_count(m);
    if (uint64_t(n) / 2 >= MAX_ENTRIES) fire({"internal", "no-memory"});
    block::cells_append(m, k);
    block::cells_append(m, v);
    // The normalised key (a copy, or a set-word for a word) hashes as the key did.
    hashtable::put(m->w3, n, case_sensitive, &hash);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_MAP) return NOT_COMPARABLE;
    Cell a = *value, b = *other;
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND: {
            if (a.w2 == b.w2 && a.w1 == b.w1) return 0;
            if (op == COMP_SAME) return -1;
            bool a_open = cycles::find(a.w2), b_open = cycles::find(b.w2);
            if (a_open) return b_open ? 0 : -1;
            uint32_t na = live_count(&a), nb = live_count(&b);
            if (na != nb) return 1;
            if (na == 0) return 0;
            CycleEntry entry(a.w2);
            int32_t r = compare_pairs(&a, &b, op);
            return r == 0 ? 0 : 1;
        }
        case COMP_SORT: case COMP_CASE_SORT:
            return (a.w2 > b.w2) - (a.w2 < b.w2);
        default:
            return NOT_COMPARABLE;
    }
}

Unwind clear(Cell* series) {
    Cell m = *series;
    hashtable::clear(m.w3);
    buffer_of(m.w2)->tail = buffer_of(m.w2)->head;
    return UNWIND_NONE;
}

Outcome copy(Cell* series, Cell* result, Cell* /*part*/, bool deep, Cell* types) {
    if (types && types->type() != TYPE_DATATYPE && types->type() != TYPE_TYPESET)
        fire({"script", "expect-arg"}, series::arg_word("copy"), datatype::cell(types->type()),
             series::arg_word("types"));
    stack::TopMark mark;
    Cell* src = stack::push(*series);
    if (deep && cycles::find(src->w2)) {
        cycles::reset();
        fire({"internal", "no-cycle"});
    }
    uint32_t n = cell_count(src);
    Off node = memory::alloc_cells(n ? n : 2);
    SeriesBuffer* nb = buffer_of(node);
    if (n) std::memcpy(nb->head_cell(), cell_at(src, 0), size_t(n) * CELL);
    nb->tail = nb->head + n * CELL;
    Cell* r = stack::push(Cell{TYPE_BLOCK, 0, node, 0});  // reachable while the table is copied
    Off table = hashtable::copy(src->w3, node);
    *r = Cell{TYPE_MAP, 0, node, table};
    if (types) {
        block::copy_types(r, 0, n, 1, deep, types);
    } else if (deep) {
        CycleEntry entry(src->w2);
        for (uint32_t i = 0; i < n; ++i) {
            Cell c = *cell_at(r, i);
            uint32_t t = c.type();
            if (!is_series(t) && t != TYPE_MAP) continue;
            if (c.header == 0) continue;
            stack::TopMark inner;
            Cell* slot = stack::push(none::cell());
            Cell* from = stack::push(c);
            Cell copied = *actions::cell_of(actions::copy(from, slot, nullptr, true, nullptr));
            copied.header = (c.header & ~header::TYPE_MASK) | copied.type();
            *cell_at(r, i) = copied;
        }
    }
    *result = *r;
    return result;
}

Outcome find(Cell* series, Cell* value, Cell*, bool, bool case_sensitive, bool same, bool, Cell*, Cell*, bool,
             bool, bool, bool) {
    Cell m = *series;
    int32_t pos;
    if (same) {
        pos = -1;
        hashtable::Cursor cursor;
        for (int32_t p = hashtable::find_first(m.w3, value, false, cursor); p >= 0;
             p = hashtable::find_next(m.w3, value, false, cursor)) {
            Cell k = *cell_at(&m, uint32_t(p));
            Cell v = *value;
            if (actions::compare_value(&k, &v, COMP_SAME) == 0) {
                pos = p;
                break;
            }
        }
        if (pos >= 0 && removed(&m, uint32_t(pos))) pos = -1;
    } else {
        pos = live_position(&m, value, case_sensitive);
    }
    if (pos < 0) return &none_value;
    return stack::push(key_as_found(*cell_at(&m, uint32_t(pos))));
}

Count length_q(Cell* value) {
    return int32_t(live_count(value));
}

Outcome put(Cell* series, Cell* key, Cell* value, bool case_sensitive) {
    store(series, key, value, case_sensitive, nullptr);
    return value;
}

Unwind remove(Cell* series, Cell*, Cell* key) {
    if (!key) fire({"script", "missing-arg"});
    Cell m = *series;
    Cell k = *key;
    hashtable::remove_key(m.w3, &k, false);
    return UNWIND_NONE;
}

Outcome select(Cell* series, Cell* value, Cell*, bool, bool case_sensitive, bool same, bool, Cell*, Cell*,
               bool, bool) {
    Cell m = *series;
    if (!same) {
        // The entry find would give: its value is the answer (one look-up).
        Cell* found = live_value(&m, value, case_sensitive);
        if (!found) return &none_value;
        Cell* v = stack::push(*found);
        v->clear_new_line();
        return v;
    }
    Cell* found = find(series, value, nullptr, false, case_sensitive, same, false, nullptr, nullptr, false,
                       false, false, false)
                      .cell;
    if (found->type() == TYPE_NONE) return &none_value;
    int32_t pos = hashtable::find(m.w3, found, true);
    if (pos < 0) pos = hashtable::find(m.w3, found, false);
    Cell v = *cell_at(&m, uint32_t(pos) + 1);
    v.clear_new_line();
    *found = v;
    return found;
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_MAP, 0, "map!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(to);
    r.set<ACT_REFLECT>(reflect);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_CLEAR>(clear);
    r.set<ACT_COPY>(copy);
    r.set<ACT_FIND>(find);
    r.set<ACT_LENGTH_Q>(length_q);
    r.set<ACT_PUT>(put);
    r.set<ACT_REMOVE>(remove);
    r.set<ACT_SELECT>(select);
    datatype::register_type(r);
}

}  // namespace kiv::map
