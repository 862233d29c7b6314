#include "datatypes/function.h"

#include <string>
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::function {

namespace {

inline bool names(const Cell& c, uint32_t canonical) {
    return symbol::resolve(c.w2) == canonical;
}

// Cells of a block counted from its head; `at` copies one out.
inline uint32_t cells_of(const Cell* blk) {
    return series::count(blk->w2);
}
inline Cell at(const Cell* blk, uint32_t i) {
    return *block::cells_at(blk, i);
}
// A block's index clamped to its tail (written back).
inline void clamp_index(Cell* blk) {
    uint32_t n = cells_of(blk);
    if (blk->w1 > n) blk->w1 = n;
}

// True when the cells of a block from index 0 are exactly what a deep copy
// (parens and paths too) would make of them: each nested block-like cell at
// its head with a clear third word and no hash! among them (a copy makes a
// hash! a block). Bounded in depth; deeper code is copied.
bool copy_would_match(Off node, int depth) {
    if (depth > 32) return false;
    const SeriesBuffer* b = buffer_of(node);
    const Cell* c = b->head_cell();
    const Cell* end = b->tail_cell();
    for (; c != end; ++c) {
        const uint32_t t = c->type();
        if (!is_any_block(t) && t != TYPE_HASH) continue;
        if (t == TYPE_HASH || c->w1 != 0 || c->w3 != 0 || !copy_would_match(c->w2, depth + 1)) return false;
    }
    return true;
}

// A body block marked SOLE (module code run once from the boot image, passed
// here by its only evaluation: library/library.cpp) is taken as the body
// itself when the copy would equal it; the mark is cleared, so it is taken
// once. Anything else is copied.
bool take_sole_body(const Cell& b, Cell* body) {
    if (b.type() != TYPE_BLOCK || b.w1 != 0) return false;
    SeriesBuffer* buf = buffer_of(b.w2);
    if (!(buf->flags & series_flag::SOLE)) return false;
    buf->flags &= ~series_flag::SOLE;
    if (!copy_would_match(b.w2, 0)) return false;
    *body = Cell{TYPE_BLOCK, 0, b.w2, 0};
    return true;
}

inline bool is_arg_word(uint32_t t) {
    return t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD;
}

[[noreturn]] void bad_def(const Cell& spec) {
    Cell s = spec;
    fire({"script", "bad-func-def"}, s);
}

int32_t put_text(Cell* out, const char* text, int32_t budget) {
    string::concatenate_literal(out, text);
    return budget - int32_t(__builtin_strlen(text));
}

}  // namespace

Cell* series_cell(const Cell* fn, uint32_t n) {
    return buffer_of(fn->w3)->head_cell() + n;
}

Cell spec_of(const Cell* fn) {
    return Cell{TYPE_BLOCK, 0, fn->w2, 0};
}

Cell body_of(const Cell* fn) {
    return *series_cell(fn, CELL_BODY);
}

// ---- Specifications --------------------------------------------------------------------------

int32_t attributes(const Cell* blk) {
    Cell b = *blk;
    uint32_t trace = fixed::canonical(fixed::SYM_TRACE);
    uint32_t no_trace = fixed::canonical(fixed::SYM_NO_TRACE);
    int32_t flags = 0;
    uint32_t n = cells_of(&b);
    for (uint32_t i = b.w1; i < n; ++i) {
        Cell c = at(&b, i);
        if (c.type() != TYPE_WORD) return -1;
        if (names(c, trace)) flags |= int32_t(header::FUNC_TRACE);
        if (names(c, no_trace)) flags |= int32_t(header::FUNC_NO_TRACE);
    }
    return flags;
}

void check_type_block(const Cell* types) {
    Cell b = *types;
    uint32_t n = cells_of(&b);
    for (uint32_t i = b.w1; i < n; ++i) {
        Cell c = at(&b, i);
        if (c.type() != TYPE_WORD) continue;
        stack::TopMark mark;
        if (!c.w1) fire({"script", "no-value"}, c);  // an unbound word has no value
        Cell v = *word::get_checked(&c);
        if (v.type() != TYPE_DATATYPE && v.type() != TYPE_TYPESET) fire({"script", "invalid-type-spec"}, c);
    }
}

void check_duplicates(const Cell* spec) {
    Cell s = *spec;
    // The names seen so far: the first ones in place (most specs are short),
    // the rest in a vector.
    uint32_t first[32];
    uint32_t count = 0;
    std::vector<uint32_t> more;
    uint32_t n = cells_of(&s);
    for (uint32_t i = s.w1; i < n; ++i) {
        Cell c = at(&s, i);
        if (!is_arg_word(c.type()) && c.type() != TYPE_REFINEMENT) continue;
        uint32_t id = symbol::resolve(c.w2);
        for (uint32_t k = 0; k < count; ++k)
            if (first[k] == id) fire({"script", "dup-vars"}, c);
        for (uint32_t k : more)
            if (k == id) fire({"script", "dup-vars"}, c);
        if (count < 32)
            first[count++] = id;
        else
            more.push_back(id);
    }
}

uint32_t validate(const Cell* spec_in) {
    Cell spec = *spec_in;
    if (spec.type() != TYPE_BLOCK) bad_def(spec);
    uint32_t ret = fixed::canonical(fixed::SYM_RETURN);
    uint32_t local = fixed::canonical(fixed::REF_LOCAL);
    uint32_t n = cells_of(&spec);
    uint32_t i = spec.w1 < n ? spec.w1 : n;
    uint32_t flags = 0;
    if (i < n && at(&spec, i).type() == TYPE_BLOCK) {
        Cell attrs = at(&spec, i);
        int32_t f = attributes(&attrs);
        if (f < 0) bad_def(spec);
        flags = uint32_t(f);
        ++i;
    }
    bool after_local = false;
    bool after_return = false;
    while (i < n) {
        Cell v = at(&spec, i);
        switch (v.type()) {
            case TYPE_WORD:
            case TYPE_GET_WORD:
            case TYPE_LIT_WORD: {
                if (after_local && v.type() != TYPE_WORD) bad_def(spec);
                if (after_return && !after_local) bad_def(spec);
                ++i;
                if (i < n) {
                    Cell next = at(&spec, i);
                    // A doc string before the type block.
                    if (next.type() == TYPE_STRING && i + 1 < n && at(&spec, i + 1).type() == TYPE_BLOCK)
                        bad_def(spec);
                    if (next.type() == TYPE_BLOCK) {
                        check_type_block(&next);
                        ++i;
                    }
                }
                break;
            }
            case TYPE_SET_WORD: {
                if (!names(v, ret) || after_return || after_local) bad_def(spec);
                ++i;
                if (i >= n || at(&spec, i).type() != TYPE_BLOCK) bad_def(spec);
                ++i;
                if (i < n) {
                    uint32_t t = at(&spec, i).type();
                    if (t != TYPE_REFINEMENT && t != TYPE_STRING) bad_def(spec);
                }
                after_return = true;
                break;
            }
            case TYPE_REFINEMENT: {
                if (names(v, local)) {
                    after_local = true;
                } else if (after_local || after_return) {
                    bad_def(spec);
                }
                ++i;
                if (i < n) {
                    uint32_t t = at(&spec, i).type();
                    if (!is_arg_word(t) && t != TYPE_REFINEMENT && t != TYPE_SET_WORD && t != TYPE_STRING)
                        bad_def(spec);
                }
                break;
            }
            case TYPE_STRING:
                ++i;
                break;
            default:
                bad_def(spec);
        }
    }
    check_duplicates(&spec);
    return flags;
}

int32_t count_locals(Off spec_node, uint32_t start, bool required) {
    Cell spec{TYPE_BLOCK, 0, spec_node, 0};
    uint32_t local = fixed::canonical(fixed::REF_LOCAL);
    uint32_t n = cells_of(&spec);
    int32_t count = 0;
    bool found = false;
    for (uint32_t i = start; i < n; ++i) {
        Cell c = at(&spec, i);
        if (!found) {
            if (c.type() == TYPE_REFINEMENT && names(c, local)) {
                found = true;
                count = 1;
            }
        } else if (c.type() == TYPE_WORD) {
            ++count;
        }
    }
    if (found) return count;
    return required ? -1 : 0;
}

void push_absent_refinement(int32_t count) {
    if (count <= 0) return;
    stack::push(false_value);
    for (int32_t i = 1; i < count; ++i) stack::push(none_value);
}

// ---- Local words of `function` ----------------------------------------------------------------

namespace {

struct Collector {
    Cell* result;  // data-stack cells: they never move
    Cell* ignore;
    uint32_t foreach_sym;
    uint32_t remove_each_sym;
    uint32_t repeat_sym;

    // The canonical ids of the ignore list's words, in step with it.
    std::vector<uint32_t> ignored_ids;

    void note_ignored() {
        uint32_t n = cells_of(ignore);
        for (uint32_t i = 0; i < n; ++i) {
            Cell c = at(ignore, i);
            if (c.type() == TYPE_WORD) ignored_ids.push_back(symbol::resolve(c.w2));
        }
    }

    bool ignored(uint32_t canonical) const {
        for (uint32_t id : ignored_ids)
            if (id == canonical) return true;
        return false;
    }

    void collect(Cell w) {
        if (symbol::resolve(w.w2) == 0) return;
        if (ignored(symbol::resolve(w.w2))) return;
        w.set_type(TYPE_WORD);
        w.header &= ~(header::NEW_LINE | header::WORD_SET);
        block::cells_append(result, &w);
        block::cells_append(ignore, &w);
        ignored_ids.push_back(symbol::resolve(w.w2));
    }

    void walk(Cell blk) {
        if (cycles::find(blk.w2)) return;
        cycles::Guard guard;
        guard.push(blk.w2);
        for (uint32_t i = blk.w1; i < cells_of(&blk); ++i) {
            Cell c = at(&blk, i);
            switch (c.type()) {
                case TYPE_SET_WORD:
                    collect(c);
                    break;
                case TYPE_WORD: {
                    uint32_t s = symbol::resolve(c.w2);
                    bool loop = s == foreach_sym || s == remove_each_sym;
                    if ((!loop && s != repeat_sym) || i + 1 >= cells_of(&blk)) break;
                    Cell next = at(&blk, i + 1);
                    if (next.type() == TYPE_WORD || next.type() == TYPE_SET_WORD) {
                        collect(next);
                    } else if (loop && next.type() == TYPE_BLOCK) {
                        for (uint32_t k = next.w1; k < cells_of(&next); ++k) {
                            Cell w = at(&next, k);
                            if (is_arg_word(w.type())) collect(w);
                        }
                    }
                    break;
                }
                case TYPE_BLOCK:
                case TYPE_PAREN:
                    walk(c);
                    break;
                default:
                    break;
            }
        }
    }
};

}  // namespace

Cell* collect_locals(Cell* spec, const Cell* body) {
    Cell* result = block::push_only(8);
    Cell* ignore = stack::push(none_value);
    clamp_index(spec);
    block::copy_part(spec, ignore, false, false);
    uint32_t local = fixed::canonical(fixed::REF_LOCAL);
    uint32_t extern_ = fixed::canonical(fixed::REF_EXTERN);

    // /extern: the words after it stay global; words after a /local that
    // follows them are kept as locals; its spec is cut at /extern.
    uint32_t n = cells_of(spec);
    bool has_extern = false;
    for (uint32_t i = spec->w1; i < n; ++i) {
        Cell c = at(spec, i);
        if (c.type() != TYPE_REFINEMENT || !names(c, extern_)) continue;
        has_extern = true;
        uint32_t j = i + 1;
        while (j < n && at(spec, j).type() == TYPE_WORD) ++j;
        if (j < n && at(spec, j).type() == TYPE_REFINEMENT && names(at(spec, j), local)) {
            for (uint32_t k = j + 1; k < n; ++k) {
                Cell w = at(spec, k);
                if (w.type() != TYPE_WORD) continue;
                bool dup = false;
                for (uint32_t r = 0; r < cells_of(result); ++r)
                    if (symbol::resolve(at(result, r).w2) == symbol::resolve(w.w2)) dup = true;
                if (dup) continue;
                w.clear_new_line();
                block::cells_append(result, &w);
            }
        }
        block::cells_clear_at(spec, i);
        break;
    }

    // The ignore list holds plain words (and the blocks and strings of its spec).
    uint32_t m = cells_of(ignore);
    for (uint32_t i = 0; i < m; ++i) {
        Cell* c = block::cells_at(ignore, i);
        switch (c->type()) {
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT:
                c->set_type(TYPE_WORD);
                break;
            case TYPE_WORD:
            case TYPE_BLOCK:
            case TYPE_STRING:
                break;
            default:
                if (has_extern) fire({"script", "bad-func-extern"}, *c);
                break;
        }
    }

    if (body && body->type() == TYPE_BLOCK) {
        Cell b = *body;
        clamp_index(&b);
        Collector col{result, ignore, fixed::canonical(fixed::SYM_FOREACH), fixed::canonical(fixed::SYM_REMOVE_EACH),
                      fixed::canonical(fixed::SYM_REPEAT), {}};
        col.note_ignored();
        col.walk(b);
    }

    if (cells_of(result) > 0) {
        if (count_locals(spec->w2, spec->w1, true) == -1) {
            Cell ref = fixed::refinements[fixed::REF_LOCAL];
            if (!ref.header) ref = word::unbound(symbol::make("local"), TYPE_REFINEMENT);
            block::cells_append(spec, &ref);
        }
        for (uint32_t r = 0; r < cells_of(result);) {
            if (names(at(result, r), local)) {
                series::remove_bytes(result->w2, r * uint32_t(sizeof(Cell)), uint32_t(sizeof(Cell)));
            } else {
                ++r;
            }
        }
        Cell all = *result;
        all.w1 = 0;
        block::cells_append_all(spec, &all);
    }
    stack::top = ignore;  // the result stays on top
    return result;
}

// ---- Making ----------------------------------------------------------------------------------

Off init_context(const Cell* spec_in, const Cell* body_in, Off context, uint32_t code, int32_t extra,
                 uint32_t flags) {
    stack::TopMark mark;
    Cell* spec = stack::push(*spec_in);
    clamp_index(spec);
    if (spec->w1 > 0) block::copy_part(spec, spec, false, false);
    Cell* body = stack::push(none_value);
    bool has_body = body_in && body_in->type() == TYPE_BLOCK;
    if (has_body) {
        Cell b = *body_in;
        clamp_index(&b);
        // Parens too: binding must not reach the original.
        if (!take_sole_body(b, body)) block::copy_part(&b, body, true, true);
    }

    Cell fn;
    {
        memory::CollectionPause pause;
        Off ctx = context ? context : context::make(spec, true, false, context::KIND_FUNCTION);
        Off series = memory::alloc_cells(SERIES_CELLS);
        SeriesBuffer* s = buffer_of(series);
        Cell* c = s->head_cell();
        c[CELL_BODY] = *body;
        c[CELL_SPARE] = Cell{TYPE_UNSET, 0, 0, 0};
        // A function! starts with none: the interpreter looks for a compact
        // form of its body at its first call (evaluator/pure_calls.h).
        c[CELL_CODE] = code ? Cell{TYPE_INTEGER, 0, code, 0} : Cell{TYPE_NONE, 0, 0, 0};
        c[CELL_OP_SOURCE] = Cell{TYPE_UNSET, 0, 0, 0};
        c[CELL_EXTRA] = extra ? Cell{TYPE_INTEGER, 0, uint32_t(extra), 0} : Cell{TYPE_UNSET, 0, 0, 0};
        s->tail = s->head + SERIES_CELLS * sizeof(Cell);
        uint32_t h = TYPE_FUNCTION | (flags & (header::FUNC_TRACE | header::FUNC_NO_TRACE));
        fn = Cell{h, ctx, spec->w2, series};
        *context::self_cell(ctx) = fn;
        *body = fn;  // the function roots its context, spec and body from here on
    }
    if (!context && has_body) {
        Cell copy = body_of(&fn);
        context::bind(&copy, fn.w1, false);
    }
    *spec = fn;
    mark.saved = spec + 1;  // the function stays pushed
    return fn.w1;
}

// ---- Actions ----------------------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t) {
    Cell arg = *spec;
    if (arg.type() != TYPE_BLOCK || block::cells_length(&arg) < 2) bad_def(arg);
    Cell s = at(&arg, arg.w1);
    Cell b = at(&arg, arg.w1 + 1);
    if (s.type() != TYPE_BLOCK || b.type() != TYPE_BLOCK) bad_def(arg);
    uint32_t flags = validate(&s);
    stack::TopMark mark;
    init_context(&s, &b, 0, 0, 0, flags);
    *proto = *(stack::top - 1);
    return proto;
}

void reflect(Cell* value, uint32_t field_symbol) {
    Cell v = *value;
    uint32_t field = symbol::resolve(field_symbol);
    if (field == fixed::canonical(fixed::SYM_SPEC)) {
        *stack::arg_base = spec_of(&v);
        return;
    }
    if (field == fixed::canonical(fixed::SYM_BODY)) {
        *stack::arg_base = body_of(&v);
        return;
    }
    if (field == fixed::canonical(fixed::SYM_WORDS)) {
        Off ctx = v.w1;
        uint32_t n = context::word_count(ctx);
        stack::TopMark mark;
        Cell* out = block::push_only(int32_t(n));
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = *context::word_at(ctx, i);
            w.set_type(TYPE_WORD);
            w.header &= ~(header::NEW_LINE | header::WORD_SET);
            block::cells_append(out, &w);
        }
        *stack::arg_base = *out;
        return;
    }
    fire({"internal", "not-done"});
}

int32_t form(Cell*, Cell* out, Cell*, int32_t budget) {
    return put_text(out, "?function?", budget);
}

int32_t mold(Cell* value, Cell* out, bool, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell v = *value;
    budget = put_text(out, "func ", budget);
    Cell spec = spec_of(&v);
    budget = actions::mold(&spec, out, false, all, flat, part, budget, indent);
    Cell body = body_of(&v);
    if (body.type() == TYPE_BLOCK) return actions::mold(&body, out, false, all, flat, part, budget, indent);
    return put_text(out, " none", budget);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != value->type()) return NOT_COMPARABLE;
    return compare_keys(value->w3, other->w3, op);
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_FUNCTION, TYPE_CONTEXT, "function!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_REFLECT>(reflect);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    datatype::register_type(r);
}

}  // namespace kiv::function

namespace kiv::routine {

namespace {

struct Registered {
    Fn fn;
    const char* name;
    uint32_t tests;
};
std::vector<Registered>& registry() {
    static std::vector<Registered> list = [] {
        std::vector<Registered> l;
        l.reserve(256);
        return l;
    }();
    return list;
}

// The ids of the registered functions by their address: open addressing,
// linear probing, 0 for an empty slot; never more than half full.
std::vector<uint32_t>& id_index() {
    static std::vector<uint32_t> slots;
    return slots;
}
inline size_t fn_slot(Fn fn, size_t mask) {
    const uint64_t h = reinterpret_cast<uintptr_t>(fn) * 0x9E3779B97F4A7C15ull;
    return size_t(h >> 32) & mask;
}
void index_id(std::vector<uint32_t>& slots, Fn fn, uint32_t id) {
    const size_t mask = slots.size() - 1;
    size_t i = fn_slot(fn, mask);
    while (slots[i]) i = (i + 1) & mask;
    slots[i] = id;
}

}  // namespace

uint32_t register_fn(Fn fn, const char* name, uint32_t tests) {
    auto& list = registry();
    auto& slots = id_index();
    if (!slots.empty()) {
        const size_t mask = slots.size() - 1;
        for (size_t i = fn_slot(fn, mask); slots[i]; i = (i + 1) & mask)
            if (list[slots[i] - 1].fn == fn) return slots[i];
    }
    list.push_back({fn, name ? name : "", tests});
    const uint32_t id = uint32_t(list.size());
    if (2 * list.size() > slots.size()) {
        slots.assign(slots.empty() ? 256 : 2 * slots.size(), 0);
        for (uint32_t k = 1; k <= id; ++k) index_id(slots, list[k - 1].fn, k);
    } else {
        index_id(slots, fn, id);
    }
    return id;
}

uint32_t type_tested(const Cell* r) {
    const uint32_t id = code_of(r);
    auto& list = registry();
    return id >= 1 && id <= list.size() ? list[id - 1].tests : 0;
}

Fn lookup(uint32_t id) {
    auto& list = registry();
    return id >= 1 && id <= list.size() ? list[id - 1].fn : nullptr;
}

const char* name(uint32_t id) {
    auto& list = registry();
    return id >= 1 && id <= list.size() ? list[id - 1].name : "";
}

uint32_t count() {
    return uint32_t(registry().size());
}

uint32_t code_of(const Cell* r) {
    Cell c = *function::series_cell(r, function::CELL_CODE);
    return c.type() == TYPE_INTEGER ? c.w2 : 0;
}

Cell* push(const Cell* spec_in, const Cell* body_in, uint32_t code, int32_t extra, bool direct) {
    Cell* spec = stack::push(*spec_in);
    if (spec->type() != TYPE_BLOCK) fire({"script", "bad-func-def"}, *spec);
    uint32_t n = series::count(spec->w2);
    if (spec->w1 > n) spec->w1 = n;
    if (spec->w1 > 0) block::copy_part(spec, spec, false, false);
    uint32_t arity = 0;
    n = series::count(spec->w2);
    for (uint32_t i = 0; i < n; ++i)
        if (block::cells_at(spec, i)->type() == TYPE_WORD) ++arity;
    if (arity > (header::ROUTINE_ARITY_MASK >> header::ROUTINE_ARITY_SHIFT))
        fire({"script", "bad-func-def"}, *spec);

    Cell body = body_in ? *body_in : none_value;
    memory::CollectionPause pause;
    Off ctx = context::make(spec, true, false, context::KIND_FUNCTION);
    Off series = memory::alloc_cells(function::SERIES_CELLS);
    SeriesBuffer* s = buffer_of(series);
    Cell* c = s->head_cell();
    c[function::CELL_BODY] = body;
    c[function::CELL_SPARE] = Cell{TYPE_UNSET, 0, 0, 0};
    c[function::CELL_CODE] = Cell{TYPE_INTEGER, 0, code, 0};
    c[function::CELL_OP_SOURCE] = Cell{TYPE_UNSET, 0, 0, 0};
    c[function::CELL_EXTRA] = Cell{TYPE_INTEGER, 0, uint32_t(extra), 0};
    s->tail = s->head + function::SERIES_CELLS * sizeof(Cell);
    uint32_t h =
        TYPE_ROUTINE | (direct ? header::ROUTINE_DIRECT : 0) | (arity << header::ROUTINE_ARITY_SHIFT);
    *spec = Cell{h, ctx, spec->w2, series};
    *context::self_cell(ctx) = *spec;
    return spec;
}

int32_t form(Cell*, Cell* out, Cell*, int32_t budget) {
    string::concatenate_literal(out, "?routine?");
    return budget - 9;
}

int32_t mold(Cell* value, Cell* out, bool, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell v = *value;
    string::concatenate_literal(out, "routine ");
    budget -= 8;
    Cell spec = function::spec_of(&v);
    budget = actions::mold(&spec, out, false, all, flat, part, budget, indent);
    Cell body = function::body_of(&v);
    if (body.type() != TYPE_BLOCK) {
        string::concatenate_literal(out, " ");
        --budget;
    }
    return actions::mold(&body, out, false, all, flat, part, budget, indent);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    return function::compare(value, other, op);
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_ROUTINE, TYPE_FUNCTION, "routine!");
    r.inherit(ACT_REFLECT);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    datatype::register_type(r);
}

}  // namespace kiv::routine
