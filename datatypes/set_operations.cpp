// The set operations of blocks and strings: unique, union, intersect,
// exclude and difference (op numbers 8 to 12 in block.h), with /skip records
// and /case. Operands sit at the argument base and the next cell; the result
// replaces the argument base. Blocks look values up through hash tables (the
// operand's own when it is a hash!); strings through code-point sets.
#include <algorithm>
#include <cstdint>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/block_internal.h"
#include "datatypes/code_point_set.h"
#include "datatypes/fixed_words.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/case_fold.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// A /skip size below 1: the error names the refinement itself (/skip).
[[noreturn]] void invalid_skip(const Cell& value) {
    fire({"script", "invalid-refine-arg"}, fixed::refinements[fixed::REF_SKIP], value);
}

}  // namespace

namespace block {

using namespace internal;

namespace {

// A block-like operand with a hash table over its buffer (its own when it is
// a hash!, else a temporary one), for looking values up.
struct Indexed {
    Cell* cell;      // stack cell: hash!-typed view (word 3 = the table)
    uint32_t first;  // the operand's position: matches before it do not count
};

Indexed index_operand(const Cell* operand) {
    Cell* c = stack::push(*operand);
    if (!is_hash(operand)) {
        uint32_t n = cell_count(operand);
        Off table = hashtable::init(n ? n : 1, operand->w2, hashtable::HASH, 0);
        c->set_type(TYPE_HASH);
        c->w3 = table;
    }
    return Indexed{c, std::min(operand->w1, cell_count(operand))};
}

// Is the value the first cell of a record (records of `step` cells from the
// operand's position) of the indexed operand?
bool contains(const Indexed& ix, const Cell* key, uint32_t step, bool case_sensitive) {
    int32_t op = case_sensitive ? COMP_STRICT_EQUAL : COMP_FIND;
    uint32_t n = cell_count(ix.cell);
    if (is_any_block(key->type())) {
        // Blocks hash by identity: compare them one by one.
        for (uint32_t i = ix.first; i < n; i += step)
            if (equal_cells(cell_at(ix.cell, i), key, op)) return true;
        return false;
    }
    hashtable::Cursor cursor;
    for (int32_t p = hashtable::find_first(ix.cell->w3, key, case_sensitive, cursor); p >= 0;
         p = hashtable::find_next(ix.cell->w3, key, case_sensitive, cursor)) {
        if (uint32_t(p) >= ix.first && (uint32_t(p) - ix.first) % step == 0) return true;
    }
    return false;
}

}  // namespace

Cell* do_set_op(bool case_sensitive, int32_t skip, int32_t op) {
    if (skip < 1) invalid_skip(integer::cell(skip));
    uint32_t step = uint32_t(skip);
    Cell* a = stack::arg_base;
    Cell* b = stack::arg_base + 1;
    bool binary = op != SET_UNIQUE;
    uint32_t la = cells_length(a);
    uint32_t lb = binary ? cells_length(b) : 0;
    stack::TopMark mark;
    uint64_t capacity = uint64_t(la) + (op == SET_UNION || op == SET_DIFFERENCE ? lb : 0);
    if (capacity > MAX_BLOCK_BYTES / CELL) no_memory();
    if (capacity == 0) capacity = 1;
    // The result, indexed by its own table while it is built.
    Cell* result = stack::push(none::cell());
    make_at(result, int32_t(capacity));
    result->w3 = hashtable::init(uint32_t(capacity), result->w2, hashtable::HASH, 0);
    result->set_type(TYPE_HASH);
    Indexed in_result{result, 0};

    auto pass = [&](const Cell* src, const Indexed* other) {
        Cell s = *src;
        uint32_t len = cells_length(&s);
        uint32_t from = std::min(s.w1, cell_count(&s));
        for (uint32_t i = 0; i < len; i += step) {
            Cell key = read_cell(&s, from + i);
            if (other) {
                bool found = contains(*other, &key, step, case_sensitive);
                if (found != (op == SET_INTERSECT)) continue;
            }
            if (contains(in_result, &key, step, case_sensitive)) continue;
            uint32_t cells = std::min(step, len - i);
            uint32_t at = cell_count(result);
            for (uint32_t k = 0; k < cells; ++k) {
                Cell c = read_cell(&s, from + i + k);
                cells_append(result, &c);
            }
            for (uint32_t k = 0; k < cells; ++k) hashtable::put(result->w3, at + k, case_sensitive);
        }
    };

    switch (op) {
        case SET_UNIQUE:
            pass(a, nullptr);
            break;
        case SET_UNION:
            pass(a, nullptr);
            pass(b, nullptr);
            break;
        case SET_INTERSECT:
        case SET_EXCLUDE: {
            Indexed ib = index_operand(b);
            pass(a, &ib);
            break;
        }
        case SET_DIFFERENCE: {
            Indexed ib = index_operand(b);
            Indexed ia = index_operand(a);
            pass(a, &ib);
            pass(b, &ia);
            break;
        }
        default:
            fire({"internal", "not-done"});
    }
    Cell r = *result;
    uint32_t type = a->type();
    // The result keeps its table (a hash!) when either operand is a hash!
    // (for unique, only the first has a say).
    bool hashed = type == TYPE_HASH || (op != SET_UNIQUE && b->type() == TYPE_HASH);
    if (!hashed) {
        r.w3 = 0;
        r.header = is_any_block(type) ? type : TYPE_BLOCK;
    }
    *stack::arg_base = r;
    return stack::arg_base;
}

}  // namespace block

namespace string {


Cell* do_set_op(bool case_sensitive, const Cell* skip, int32_t op) {
    stack::TopMark mark;
    uint32_t size = 1;
    if (skip) {
        if (skip->type() != TYPE_INTEGER || int32_t(skip->w2) < 1) invalid_skip(*skip);
        size = skip->w2;
    }
    Cell* a = stack::arg_base;
    Cell* b = op == 8 ? nullptr : a + 1;
    uint32_t la = length(a), lb = b ? length(b) : 0;
    bool both = op == 9 || op == 12;
    bool check = op == 10 || op == 11 || op == 12;
    bool invert = op == 11 || op == 12;
    if (la == 0 && (op != 9 || lb == 0)) return a;

    Cell* result = push_new(la + (op == 9 ? lb : 0));
    result->set_type(a->type());
    KeySet taken;
    auto key = [case_sensitive](uint32_t c) { return case_sensitive ? c : casefold::to_upper_char(c); };
    auto pass = [&](Cell* src, Cell* other) {
        KeySet in_other;
        if (check) {
            uint32_t total = length_from_head(other);
            for (uint32_t p = std::min(other->w1, total); p < total; p += size) in_other.add(key(abs_at(other, p)));
        }
        uint32_t total = length_from_head(src);
        for (uint32_t p = src->w1; p < total; p += size) {
            uint32_t k = key(abs_at(src, p));
            if (taken.has(k)) continue;
            if (check && in_other.has(k) == invert) continue;
            taken.add(k);
            uint32_t end = std::min(total, p + size);
            for (uint32_t i = p; i < end; ++i) append_char(buffer(result), abs_at(src, i));
        }
    };
    pass(a, b);
    if (both) pass(b, a);
    *a = *result;
    return a;
}

}  // namespace string

}  // namespace kiv
