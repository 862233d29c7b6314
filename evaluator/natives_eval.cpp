// Evaluation and function natives: func, function, does, has, do, get, set,
// reduce, compose, bind, in, construct, value?, extend, unset, context? and
// apply.
//
// Every entry reads its arguments from the argument base on (fixed
// arguments, then each refinement's arguments in their fixed cells) and
// leaves its result in the argument base with the data top just above it.
// The natives that evaluate code pass a non-zero unwind code up as it came:
// the stacks then belong to the travelling exit, so nothing here touches
// them after such a code. Values taken out of a block are copied into local
// cells or data-stack cells before anything that may allocate runs.
#include <vector>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/natives_impl.h"
#include "evaluator/runtime.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::natives {

namespace {

constexpr Cell NONE_CELL{TYPE_NONE, 0, 0, 0};

inline bool is_function_type(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}
inline bool is_path_type(uint32_t t) {
    return t >= TYPE_PATH && t <= TYPE_GET_PATH;
}
inline bool is_settable_word(uint32_t t) {
    return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD;
}
// Cells between the buffer head and the tail of a block-like value.
inline uint32_t cells_of(const Cell* blk) {
    return series::buffer_length(blk);
}
// A copy of cell i (from the buffer head) of a block-like value.
inline Cell cell_at(const Cell* blk, uint32_t i) {
    return *block::cells_at(blk, i);
}
// Brings an index past the tail back to the tail (written into the cell).
inline void clip_index(Cell* series) {
    series::get_length(series, false);
}
// Makes sure the cells of every argument lie below the data top.
inline Cell* args_in_place(uint32_t count) {
    Cell* base = stack::arg_base;
    if (stack::top < base + count) stack::top = base + count;
    return base;
}
// The /into target of reduce and compose must be a block-like series.
inline void check_target(const Cell* out) {
    if (!is_any_block(out->type())) fire({"script", "invalid-arg"}, *out);
}
// reduce/into and compose/into of a block into its own series read a copy
// of it from its position, made before the first value goes in: read in
// place, each value added would itself be read and added again, without end.
inline void read_from_copy_if_target(Cell* source, const Cell* out) {
    if (out->w2 == source->w2) block::copy_part(source, source, false, false);
}
// The result slot receives the value and the data top comes back above it.
inline Unwind result(const Cell& v) {
    Cell c = v;
    *stack::arg_base = c;
    stack::top = stack::arg_base + 1;
    return UNWIND_NONE;
}

// ---- Adding values to a target block -------------------------------------------------

// The target of reduce/into, compose/into and the blocks they make: values go
// to the tail (append mode, the target keeps its position) or are inserted at
// the target's position, which moves past each.
struct Target {
    Cell* out;  // a data-stack cell
    bool append;
    uint32_t start;       // where the first value went
    bool notify = false;  // a caller's series (/into): its owner hears of appends

    explicit Target(Cell* o) : out(o) {
        append = out->w1 >= cells_of(out);
        start = append ? cells_of(out) : out->w1;
    }
    // Inserting into a caller's series that an owner watches goes through
    // insert/only, whose reports (insert, inserted) run the owner's handler:
    // add and add_all answer its exit code, finish the code of the owner's
    // notice of an append.
    Unwind add(const Cell* value) {
        if (!append) {
            if (notify && (buffer_of(out->w2)->flags & series_flag::OWNED)) {
                Cell v = *value;
                return block::insert(out, &v, -1, true, 1, false);
            }
            block::insert_value(out, value, true, false);
        } else if (out->type() == TYPE_HASH) {
            // Inserted at the tail, which keeps the hash table in step; the
            // owner hears of the whole append once, in finish, as for a block.
            uint32_t position = out->w1;
            out->w1 = cells_of(out);
            block::insert_value(out, value, false, false);
            out->w1 = position;
        } else {
            block::cells_append(out, value);
        }
        return UNWIND_NONE;
    }
    // Every value of a block from its index (a data-stack cell or a copy).
    Unwind add_all(const Cell* blk) {
        Cell b = *blk;
        uint32_t n = cells_of(&b);
        if (!append || out->type() == TYPE_HASH) {
            for (uint32_t i = b.w1; i < n; ++i) {
                Cell v = cell_at(&b, i);
                if (Unwind code = add(&v)) return code;
            }
        } else if (b.w1 < n) {
            block::cells_append_all(out, &b);
        }
        return UNWIND_NONE;
    }
    // The owner of an appended-to series hears of it once.
    Unwind finish() {
        uint32_t n = cells_of(out);
        if (notify && append && n > start)
            return series::notify_owner(out, ownership::OwnerEvent::INSERT, nullptr, start, n - start, nullptr);
        return UNWIND_NONE;
    }
};

// ---- Function making -------------------------------------------------------------------

// The body of func: its spec and body cells are data-stack cells.
Unwind make_function(Cell* spec, Cell* body) {
    clip_index(spec);
    clip_index(body);
    uint32_t flags = function::validate(spec);
    function::init_context(spec, body, 0, 0, 0, flags);
    return result(*stack::top_cell());
}

// ---- do/trace ownership ------------------------------------------------------------------

// Set while a do/trace owns the trace callback: nested do/trace calls inside
// traced code neither replace the callback nor end tracing.
bool trace_owner = false;

// ---- Refinement layout of apply ----------------------------------------------------------

struct SpecShape {
    std::vector<Cell> fixed;  // the argument words
    struct Refinement {
        uint32_t symbol;  // canonical
        uint32_t args;
    };
    std::vector<Refinement> refinements;
    uint32_t cells() const {
        uint32_t n = uint32_t(fixed.size());
        for (const auto& r : refinements) n += 1 + r.args;
        return n;
    }
};

// The arguments and refinements of a function value's specification, in
// order, up to /local.
SpecShape shape_from_spec(const Cell* fn) {
    SpecShape shape;
    Cell spec{TYPE_BLOCK, 0, fn->w2, 0};
    uint32_t n = cells_of(&spec);
    uint32_t local = symbol::resolve(fixed::refinements[fixed::REF_LOCAL].w2);
    bool in_refinement = false;
    for (uint32_t i = 0; i < n; ++i) {
        Cell c = cell_at(&spec, i);
        switch (c.type()) {
            case TYPE_WORD:
            case TYPE_GET_WORD:
            case TYPE_LIT_WORD:
                if (in_refinement) {
                    ++shape.refinements.back().args;
                } else {
                    c.set_type(TYPE_WORD);
                    c.clear_new_line();
                    shape.fixed.push_back(c);
                }
                break;
            case TYPE_REFINEMENT:
                if (symbol::resolve(c.w2) == local) return shape;
                shape.refinements.push_back({symbol::resolve(c.w2), 0});
                in_refinement = true;
                break;
            default:  // doc strings, type blocks, return:
                break;
        }
    }
    return shape;
}

}  // namespace

// ---- Shared workers ----------------------------------------------------------------------

Unwind eval_value(Cell* slot) {
    if (stack::top <= slot) stack::top = slot + 1;
    switch (slot->type()) {
        case TYPE_WORD: {
            Cell v = *context::get_word(slot);
            if (v.type() == TYPE_UNSET) fire({"script", "no-value"}, *slot);
            if (is_function_type(v.type())) break;  // a call: the interpreter fetches its arguments
            *slot = v;
            stack::top = slot + 1;
            return UNWIND_NONE;
        }
        case TYPE_LIT_WORD:
            slot->set_type(TYPE_WORD);
            stack::top = slot + 1;
            return UNWIND_NONE;
        case TYPE_GET_WORD: {
            Cell v = *context::get_word(slot);
            *slot = v;
            stack::top = slot + 1;
            return UNWIND_NONE;
        }
        case TYPE_SET_WORD:
        case TYPE_PAREN:
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_SET_PATH:
        case TYPE_GET_PATH:
        case TYPE_ISSUE:
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_OP:
        case TYPE_FUNCTION:
        case TYPE_ROUTINE:
            break;
        default:  // values that evaluate to themselves
            stack::top = slot + 1;
            return UNWIND_NONE;
    }
    // The value as a block of its own, evaluated as one expression.
    stack::top = slot + 1;
    Cell* blk = block::push_only(1);
    block::cells_append(blk, slot);
    uint32_t next = 0;
    Unwind code = interpreter::eval_next(blk, 0, &next);
    if (code) return code;
    *slot = *stack::top_cell();
    stack::top = slot + 1;
    return UNWIND_NONE;
}

Unwind reduce_into(const Cell* block, Cell* out, bool notify) {
    Cell* saved_top = stack::top;
    Target target(out);
    target.notify = notify;
    Cell* base = stack::mark_native(&fixed::words[fixed::W_BODY]);
    uint32_t index = block->w1;
    for (;;) {
        // The block may change while its code runs: its tail is read anew.
        if (index >= cells_of(block)) break;
        uint32_t next = index;
        // A value that needs no evaluation step (a literal, a word's data,
        // integer operators on them) is taken without the call machinery.
        Cell* v = stack::push(NONE_CELL);
        if (!interpreter::quick_value(block, index, v, &next)) {
            stack::top = base;
            Unwind code = interpreter::eval_next(block, index, &next);
            if (code) return code;
            v = stack::top_cell();
        }
        v->clear_new_line();
        if (Unwind code = target.add(v)) return code;
        stack::top = base;
        index = next;
    }
    stack::unwind_drop();
    stack::top = saved_top;
    return target.finish();
}

// ---- func, function, does, has -------------------------------------------------------------

Unwind func(const int32_t*) {
    Cell* a = args_in_place(2);
    return make_function(a, a + 1);
}

Unwind function(const int32_t*) {
    Cell* a = args_in_place(2);
    clip_index(a);
    clip_index(a + 1);
    Cell* spec = stack::push(NONE_CELL);
    block::copy_part(a, spec, false, false);
    function::collect_locals(spec, a + 1);
    stack::top = spec + 1;
    return make_function(spec, a + 1);
}

Unwind does(const int32_t*) {
    Cell* a = args_in_place(1);
    Cell* spec = block::push_only(1);
    return make_function(spec, a);
}

Unwind has(const int32_t*) {
    Cell* a = args_in_place(2);
    clip_index(a);
    Cell* spec = stack::push(NONE_CELL);
    block::copy_part(a, spec, false, false);
    Cell local = fixed::refinements[fixed::REF_LOCAL];
    block::insert_value(spec, &local, false, true);
    return make_function(spec, a + 1);
}

// ---- do --------------------------------------------------------------------------------------

namespace {

// The library's preprocessor/expand on the block in a[0], with no job: the
// block is expanded in place and the result dropped. The preprocessor's
// module group runs on its first need: until then `preprocessor` has no
// object, and the library's load-preprocessor routine runs the group.
// Missing (before the library has started) it is internal not-done.
Unwind expand_block(Cell* a) {
    Cell object_word = word::load("preprocessor");
    Cell* object = context::get_word(&object_word);
    if (!object || object->type() != TYPE_OBJECT) {
        Cell load_word = word::load("load-preprocessor");
        Cell* load = context::get_word(&load_word);
        if (load && load->type() == TYPE_ROUTINE) {
            Cell routine = *load;
            Cell* saved = stack::top;
            if (Unwind code = interpreter::call_values(&routine, nullptr, 0, &load_word)) return code;
            stack::top = saved;
        }
        object = context::get_word(&object_word);  // re-read: the group's modules have allocated
    }
    Cell fn_word = word::load("expand");
    Cell* fn = object && object->type() == TYPE_OBJECT ? object::select_word(object, &fn_word) : nullptr;
    if (!fn || fn->type() != TYPE_FUNCTION) fire({"internal", "not-done"});
    Cell f = *fn;
    Cell* saved = stack::top;
    Cell* args = stack::push(*a);
    stack::push(NONE_CELL);
    Unwind code = interpreter::call_pushed(&fn_word, &f, args, false);
    if (code) return code;
    stack::top = saved;
    return UNWIND_NONE;
}

// The block step of do: the code is the block in cell a[0].
Unwind do_block(Cell* a, bool expand, bool next) {
    clip_index(a);
    if (expand) {
        if (Unwind code = expand_block(a)) return code;
    }
    if (next) {
        Cell blk = *a;
        uint32_t after = blk.w1;
        Unwind code = interpreter::eval_next(a, blk.w1, &after);
        if (code) return code;
        Cell v = *stack::top_cell();
        Cell position = blk;
        position.w1 = after;
        if (Unwind code = context::set_word(a + 2, &position).code) return code;
        return result(v);
    }
    Unwind code = interpreter::eval(a, false);
    if (code) return code;
    return result(*stack::top_cell());
}

// A script file or URL in a[0], with the arguments of /args in a[1]: the
// library's do-file runs it (no trace callback). Missing (before the
// library has started) it is internal not-done.
Unwind do_script(Cell* a) {
    Cell fn_word = word::load("do-file");
    Cell* fn = context::get_word(&fn_word);
    if (!fn || fn->type() != TYPE_FUNCTION) fire({"internal", "not-done"});
    Cell f = *fn;
    Cell* args = stack::push(a[0]);
    stack::push(NONE_CELL);
    stack::push(a[1]);
    Unwind code = interpreter::call_pushed(&fn_word, &f, args, false);
    if (code) return code;
    return result(*args);
}

Unwind do_value(Cell* a, bool expand, bool next) {
    switch (a->type()) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            return do_block(a, expand, next);
        case TYPE_STRING: {
            if (!runtime::lexer_load) fire({"internal", "not-done"});
            Cell* loaded = stack::push(NONE_CELL);
            runtime::lexer_load(a, loaded);
            *a = *loaded;
            stack::top = loaded;
            return do_block(a, expand, next);
        }
        case TYPE_PATH: {
            // As a path standing in code with nothing after it.
            Cell* empty = block::push_only(1);
            uint32_t position = 0;
            Unwind code = interpreter::eval_path(a, interpreter::PATH_CALL, nullptr, empty, &position);
            if (code) return code;
            return result(*stack::top_cell());
        }
        case TYPE_FILE:
        case TYPE_URL:
            return do_script(a);
        case TYPE_ERROR:
            return UNWIND_NONE;  // raised by the caller once tracing is over
        default: {
            Unwind code = eval_value(a);
            if (code) return code;
            stack::top = a + 1;
            return UNWIND_NONE;
        }
    }
}

}  // namespace

Unwind do_(const int32_t* refs) {
    // value, then the arguments of /args, /next and /trace.
    Cell* a = args_in_place(4);
    Refs<N_DO> r{refs};
    bool expand = r.has<"expand">();
    bool next = r.has<"next">();
    bool trace = r.has<"trace">();
    stack::Frame* own = stack::ctop();
    bool by_interpreter = own && stack::eval_q(own, true);
    if (next) {
        if (a[2].type() != TYPE_WORD) fire({"script", "invalid-arg"}, a[2]);
        context::get_word(a + 2);  // a word without a context fails before anything runs
    }

    if (!trace) {
        Unwind code = do_value(a, expand, next);
        if (code) return code;
        if (a->type() == TYPE_ERROR) raise_error_value(*a);
        return UNWIND_NONE;
    }

    // do/trace: the frame below this one becomes a return target for the
    // duration, so that return and exit in the traced code stop there.
    stack::Frame* below = own && own > stack::frames_bottom ? own - 1 : nullptr;
    bool marked = below && !(below->header & stack::FRAME_RETURN_TARGET);
    if (marked) below->header |= stack::FRAME_RETURN_TARGET;
    ptrdiff_t below_index = below ? below - stack::frames_bottom : -1;
    bool started = false;
    auto finish = [&]() -> Unwind {
        if (marked && below_index >= 0 && stack::frames_bottom + below_index < stack::frames_top)
            below->header &= ~stack::FRAME_RETURN_TARGET;
        if (!started) return UNWIND_NONE;
        started = false;
        trace_owner = false;
        return interpreter::trace_end();
    };

    Unwind code = UNWIND_NONE;
    try {
        if (!trace_owner) {
            trace_owner = true;
            started = true;
            code = interpreter::trace_begin(a + 3);
        }
        if (!code) code = do_value(a, expand, next);
    } catch (...) {
        (void)finish();  // the error in flight wins over an exit from the end event
        throw;
    }
    // The exit in progress is saved across the end event and restored.
    Unwind end_code = finish();
    if (!code && end_code) return end_code;
    if (!code) {
        if (a->type() == TYPE_ERROR) raise_error_value(*a);
        return UNWIND_NONE;
    }
    if ((code == UNWIND_RETURN || code == UNWIND_EXIT) && marked &&
        stack::frames_top - stack::frames_bottom == below_index + 1) {
        // The exit stopped at the frame this do marked: it goes on toward
        // the enclosing function (compiled callers continue it themselves).
        if (by_interpreter) return stack::throw_exit(code == UNWIND_RETURN, true);
    }
    return code;
}

void raise_error_value(const Cell& err_in) {
    Cell* saved = stack::top;
    Cell* err = stack::push(err_in);
    Cell caller = word::caller();
    error::set_where(err, &caller);
    Cell* stack_field = error::field(err, error::FIELD_STACK);
    if (stack_field->type() != TYPE_BLOCK) *stack_field = Cell{TYPE_INTEGER, 0, stack::frame_count(), 0};
    RaisedError e;
    uint32_t category = error::get_type(err);
    uint32_t id = error::get_id(err);
    e.category = category ? symbol::name(category) : "";
    e.id = id ? symbol::name(id) : "";
    e.arg_count = 3;
    for (int i = 0; i < 3; ++i) e.args[i] = *error::field(err, error::Field(error::FIELD_ARG1 + i));
    e.value = *err;
    error::hold_in_flight(e.value);
    stack::top = saved;
    throw e;
}

// ---- get, set -----------------------------------------------------------------------------

Unwind get(const int32_t* refs) {
    Refs<N_GET> r{refs};
    Cell* a = args_in_place(1);
    bool any = r.has<"any">();
    uint32_t t = a->type();
    if (is_path_type(t)) {
        Unwind code = interpreter::eval_path(a, interpreter::PATH_GET, nullptr, nullptr, nullptr);
        if (code) return code;
        return result(*stack::top_cell());
    }
    if (t == TYPE_OBJECT) {
        object::reflect(a, fixed::sym[fixed::SYM_VALUES]);
        stack::top = a + 1;
        return UNWIND_NONE;
    }
    if (!is_all_word(t)) fire({"script", "invalid-arg"}, *a);
    Cell v = *context::get_word(a);
    if (!any && v.type() == TYPE_UNSET) fire({"script", "no-value"}, *a);
    return result(v);
}

namespace {

// The i-th value (0-based) picked from a multiple value, none past its end.
Cell pick_value(const Cell* value, uint32_t i) {
    if (value->type() == TYPE_MAP) {
        Cell v = *value;
        Cell index{TYPE_INTEGER, 0, i + 1, 0};
        Cell* saved = stack::top;
        Cell r = *actions::cell_of(actions::pick(&v, int32_t(i + 1), &index));
        stack::top = saved;
        return r;
    }
    uint32_t position = value->w1 + i;
    return position < cells_of(value) ? cell_at(value, position) : NONE_CELL;
}

// The set worker on a block of words.
Unwind set_many_words(const Cell* words, const Cell* value, bool any, bool only, bool some) {
    uint32_t t = value->type();
    bool multiple =
        !only && (t == TYPE_MAP || is_path_type(t) || t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH);
    uint32_t first = words->w1;
    uint32_t end = cells_of(words);
    uint32_t count = first < end ? end - first : 0;
    if (multiple) {
        // Nothing is assigned unless every word and value is acceptable.
        for (uint32_t i = 0; i < count; ++i) {
            Cell w = cell_at(words, first + i);
            if (!is_settable_word(w.type())) fire({"script", "invalid-arg"}, w);
            if (!any && pick_value(value, i).type() == TYPE_UNSET) fire({"script", "need-value"}, w);
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        // Assignments may run code (object hooks) that changes the block.
        if (first + i >= cells_of(words)) break;
        Cell v = multiple ? pick_value(value, i) : *value;
        if (some && v.type() == TYPE_NONE) continue;
        Cell w = cell_at(words, first + i);
        if (!is_settable_word(w.type())) fire({"script", "invalid-arg"}, w);
        Cell* slot = stack::push(v);  // keeps the value reachable while it is stored
        if (Unwind code = context::set_word(&w, slot).code) return code;
        stack::pop(1);
    }
    return UNWIND_NONE;
}

}  // namespace

Unwind set(const int32_t* refs) {
    Cell* a = args_in_place(2);
    Refs<N_SET> r{refs};
    bool any = r.has<"any">();
    bool only = r.has<"only">();
    bool some = r.has<"some">();
    if (!any && a[1].type() == TYPE_UNSET) fire({"script", "need-value"}, a[0]);
    uint32_t t = a->type();
    if (is_path_type(t)) {
        Cell* saved = stack::top;
        Unwind code = interpreter::eval_path(a, interpreter::PATH_SET, a + 1, nullptr, nullptr);
        if (code) return code;
        stack::top = saved;
    } else if (object::is_object_like(t)) {
        if (Unwind code = object::set_many(a, a + 1, any, only, some)) return code;
    } else if (t == TYPE_BLOCK) {
        Cell* saved = stack::top;
        stack::mark_native(&fixed::words[fixed::W_ANON]);
        if (Unwind code = set_many_words(a, a + 1, any, only, some)) return code;
        stack::unwind_drop();
        stack::top = saved;
    } else if (word::bindable_type(t)) {
        if (Unwind code = context::set_word(a, a + 1).code) return code;
    } else {
        fire({"script", "invalid-arg"}, *a);
    }
    return result(a[1]);
}

// ---- reduce, compose -------------------------------------------------------------------------

namespace {

// A short block whose every expression needs no evaluation step (literals,
// word values, integer operators on them): the values gathered on the data
// stack, then the new block made at its size. False, with nothing changed,
// otherwise.
constexpr uint32_t QUICK_REDUCE_CELLS = 32;
bool reduce_quick(const Cell* blk, uint32_t n, Cell* out) {
    uint32_t i = blk->w1;
    if (n - i > QUICK_REDUCE_CELLS) return false;
    Cell* first = stack::top;
    while (i < n) {
        Cell* v = stack::push(NONE_CELL);
        if (!interpreter::quick_value(blk, i, v, &i)) {
            stack::top = first;
            return false;
        }
        v->clear_new_line();
    }
    uint32_t count = uint32_t(stack::top - first);
    // The block made at its size (as make_at makes it) and filled at once;
    // the values wait on the data stack, which the collector sees.
    Off node = memory::alloc_cells_small(count ? count : 1);
    SeriesBuffer* b = buffer_of(node);
    std::memcpy(static_cast<void*>(b->head_cell()), first, size_t(count) * sizeof(Cell));
    b->tail = b->head + count * uint32_t(sizeof(Cell));
    block::box(out, node, 0);
    stack::top = first;
    return true;
}

}  // namespace

Unwind reduce(const int32_t* refs) {
    Cell* a = args_in_place(2);
    bool into = Refs<N_REDUCE>{refs}.has<"into">();
    Cell* out = a + 1;
    if (into) check_target(out);
    if (a->type() == TYPE_BLOCK) {
        // The position clamped to the tail, as clip_index does for a block.
        uint32_t n = buffer_of(a->w2)->byte_count() / sizeof(Cell);
        if (a->w1 > n) a->w1 = n;
        if (!into && reduce_quick(a, n, out)) return result(*out);
        if (!into) block::make_at(out, int32_t(cells_of(a) - a->w1));
        if (into) read_from_copy_if_target(a, out);
        Unwind code = reduce_into(a, out, into);
        if (code) return code;
        return result(*out);
    }
    if (!is_function_type(a->type())) {
        Unwind code = eval_value(a);
        if (code) return code;
    }
    if (!into) return result(*a);
    stack::top = a + 2;
    Target target(out);
    target.notify = true;
    if (Unwind code = target.add(a)) return code;
    if (Unwind code = target.finish()) return code;
    return result(*out);
}

namespace {

// Restores the cycle stack to its depth at entry on every way out.
struct CycleDepth {
    uint32_t depth = cycles::depth();
    ~CycleDepth() {
        while (cycles::depth() > depth) cycles::pop();
    }
};

// Composes the values of `source` (a data-stack cell) into the target.
Unwind compose_block(const Cell* source, Target& target, bool deep, bool only) {
    uint32_t index = source->w1;
    for (;; ++index) {
        // Code in a paren may change the block: its tail is read anew.
        if (index >= cells_of(source)) break;
        Cell v = cell_at(source, index);
        uint32_t t = v.type();
        if (t == TYPE_PAREN) {
            if (block::cells_length(&v) == 0) continue;
            Cell* code_cell = stack::push(v);
            Unwind code = interpreter::eval(code_cell, false);
            if (code) return code;
            Cell* r = stack::top_cell();
            if (r->type() == TYPE_UNSET) {
                // adds nothing
            } else if (r->type() == TYPE_BLOCK && !only) {
                if (Unwind code = target.add_all(r)) return code;
            } else {
                if (Unwind code = target.add(r)) return code;
            }
            stack::top = code_cell;
        } else if (t == TYPE_BLOCK && deep) {
            Cell* inner = stack::push(v);
            Cell* made = stack::push(NONE_CELL);
            clip_index(inner);
            block::make_at(made, int32_t(cells_of(inner) - inner->w1));
            Target nested(made);
            cycles::push(inner->w2);
            Unwind code = compose_block(inner, nested, deep, only);
            if (code) return code;
            cycles::pop();
            if (Unwind code = target.add(made)) return code;
            stack::top = inner;
        } else {
            Cell* held = stack::push(v);
            if (Unwind code = target.add(held)) return code;
            stack::pop(1);
        }
    }
    return UNWIND_NONE;
}

}  // namespace

Unwind compose(const int32_t* refs) {
    // value, then the argument of /into.
    Cell* a = args_in_place(2);
    Refs<N_COMPOSE> r{refs};
    bool deep = r.has<"deep">();
    bool only = r.has<"only">();
    bool into = r.has<"into">();
    if (a->type() != TYPE_BLOCK)
        fire({"script", "expect-val"}, datatype::cell(TYPE_BLOCK), datatype::cell(a->type()));
    clip_index(a);
    Cell* out = a + 1;
    if (into) {
        check_target(out);
        read_from_copy_if_target(a, out);
    } else {
        block::make_at(out, int32_t(cells_of(a) - a->w1));
    }
    stack::top = a + 2;
    Target target(out);
    target.notify = into;
    CycleDepth depth;
    Unwind code = compose_block(a, target, deep, only);
    if (code) return code;
    if (Unwind finished = target.finish()) return finished;
    return result(*out);
}

// ---- bind, in -----------------------------------------------------------------------------

Unwind bind(const int32_t* refs) {
    Cell* a = args_in_place(2);
    bool copy = Refs<N_BIND>{refs}.has<"copy">();
    const Cell* c = a + 1;
    Off ctx = 0;
    uint32_t ct = c->type();
    if (object::is_object_like(ct) || ct == TYPE_FUNCTION) {
        ctx = c->w1;
    } else if (is_all_word(ct)) {
        ctx = c->w1;
        if (!ctx) fire({"script", "not-defined"}, *c);
    } else {
        fire({"script", "invalid-arg"}, *c);
    }
    bool self = context::has_self(ctx);
    if (is_all_word(a->type())) {
        if (a->type() != TYPE_ISSUE) context::bind_word(ctx, a);
        return result(*a);
    }
    if (a->type() != TYPE_BLOCK) fire({"script", "invalid-arg"}, *a);
    if (copy) {
        Cell source = *a;
        Cell* made = stack::push(NONE_CELL);
        block::copy_part(&source, made, true, true);
        *a = *made;
        stack::top = a + 2;
    }
    context::bind(a, ctx, self);
    return result(*a);
}

Unwind in(const int32_t*) {
    Cell* a = args_in_place(2);
    uint32_t t = a->type();
    Off ctx = 0;
    if (object::is_object_like(t) || t == TYPE_FUNCTION || t == TYPE_ROUTINE) ctx = a->w1;
    if (!ctx || !word::bindable_type(a[1].type())) return result(NONE_CELL);
    Cell w = a[1];
    if (context::bind_word(ctx, &w) < 0) return result(NONE_CELL);
    if (w.type() == TYPE_REFINEMENT) w.set_type(TYPE_WORD);
    return result(w);
}

// ---- construct, value?, extend, unset, context? -----------------------------------------------

Unwind construct(const int32_t* refs) {
    // block, then the argument of /with.
    Cell* a = args_in_place(2);
    Refs<N_CONSTRUCT> r{refs};
    bool with = r.has<"with">();
    bool only = r.has<"only">();
    Cell* made = object::construct(a, with ? a + 1 : nullptr, only);
    return result(*made);
}

Unwind value_q(const int32_t*) {
    Cell* a = args_in_place(1);
    uint32_t t = a->type();
    if (!is_settable_word(t)) return result(logic::cell(t != TYPE_UNSET));
    Cell w = *a;
    bool has_value = false;
    if (w.w1) {
        bool resolved =
            word::index_of(&w) >= 0 || symbol::resolve(w.w2) == symbol::resolve(fixed::sym[fixed::SYM_SELF]);
        if (!resolved) resolved = context::bind_word(w.w1, &w) >= 0;
        // A function's words have values only while a call of it runs.
        if (resolved && context::cell(w.w1)->w2) has_value = context::get_word(&w)->type() != TYPE_UNSET;
    }
    return result(logic::cell(has_value));
}

Unwind extend(const int32_t* refs) {
    Cell* a = args_in_place(2);
    bool case_sensitive = Refs<N_EXTEND>{refs}.has<"case">();
    Cell* spec = a + 1;
    if (spec->type() == TYPE_MAP) {
        // A map's live pairs, as reflect gives its body.
        Cell* body = stack::push(*spec);
        map::reflect(body, fixed::sym[fixed::SYM_BODY]);
        *spec = *body;
    }
    if (a->type() == TYPE_MAP) {
        map::extend(a, spec, case_sensitive);
        return result(*a);
    }
    // An object gains the words it lacks and takes every value: keys must be
    // words of any kind, in pairs.
    Cell pairs = *spec;
    uint32_t first = pairs.w1, end = cells_of(&pairs);
    if (first > end) first = end;
    if ((end - first) & 1) fire({"script", "invalid-arg"}, pairs);
    for (uint32_t i = first; i < end; i += 2) {
        Cell k = cell_at(&pairs, i);
        if (!is_all_word(k.type()) || k.type() == TYPE_ISSUE || k.type() == TYPE_REFINEMENT)
            fire({"script", "invalid-arg"}, k);
    }
    Off ctx = a->w1;
    for (uint32_t i = first; i < end; i += 2) {
        Cell k = cell_at(&pairs, i);
        Cell v = cell_at(&pairs, i + 1);
        k.clear_new_line();
        v.clear_new_line();
        context::put_word(ctx, &k, &v);
    }
    return result(*a);
}

Unwind unset(const int32_t*) {
    Cell* a = args_in_place(1);
    Cell nothing = unset::cell();
    if (a->type() == TYPE_WORD) {
        if (Unwind code = context::set_word(a, &nothing).code) return code;
    } else if (a->type() == TYPE_BLOCK) {
        Cell blk = *a;
        for (uint32_t i = blk.w1; i < cells_of(&blk); ++i) {
            Cell w = cell_at(&blk, i);
            if (w.type() != TYPE_WORD) continue;
            if (Unwind code = context::set_word(&w, &nothing).code) return code;
        }
    } else {
        fire({"script", "invalid-arg"}, *a);
    }
    return result(nothing);
}

Unwind context_q(const int32_t*) {
    Cell* a = args_in_place(1);
    Off ctx = is_all_word(a->type()) ? a->w1 : 0;
    if (!ctx) return result(NONE_CELL);
    Cell owner = *context::self_cell(ctx);
    uint32_t t = owner.type();
    if (object::is_object_like(t) || t == TYPE_FUNCTION) return result(owner);
    return result(NONE_CELL);
}

// ---- apply --------------------------------------------------------------------------------------

Unwind apply(const int32_t* refs) {
    Cell* a = args_in_place(2);
    Refs<N_APPLY> r{refs};
    bool all = r.has<"all">();
    bool safer = r.has<"safer">();
    stack::top = a + 2;

    // The function and the word it is called under.
    Cell* name = stack::push(fixed::words[fixed::W_APPLIED]);
    Cell* fn = stack::push(a[0]);
    Cell path_refinements{TYPE_NONE, 0, 0, 0};
    uint32_t t = a->type();
    if (is_settable_word(t) || is_path_type(t)) {
        Cell head = *a;
        if (is_path_type(t)) {
            if (block::cells_length(a) == 0) fire({"script", "invalid-arg"}, *a);
            head = cell_at(a, a->w1);
            path_refinements = *a;
            path_refinements.w1 = a->w1 + 1;
            if (!word::bindable_type(head.type())) fire({"script", "invalid-arg"}, *a);
        }
        head.set_type(TYPE_WORD);
        head.clear_new_line();
        *name = head;
        *fn = *context::get_word(&head);
    }
    if (fn->type() == TYPE_OP) *fn = native::op_source(fn);
    if (!is_function_type(fn->type())) fire({"script", "invalid-arg"}, a[0]);

    SpecShape shape = shape_from_spec(fn);
    uint32_t nfixed = uint32_t(shape.fixed.size());
    // Where each refinement's flag cell sits in the argument list.
    std::vector<uint32_t> flag_at(shape.refinements.size());
    uint32_t cell = nfixed;
    for (size_t r = 0; r < shape.refinements.size(); ++r) {
        flag_at[r] = cell;
        cell += 1 + shape.refinements[r].args;
    }
    auto find_refinement = [&](uint32_t symbol) -> int32_t {
        uint32_t canonical = symbol::resolve(symbol);
        for (size_t r = 0; r < shape.refinements.size(); ++r)
            if (shape.refinements[r].symbol == canonical) return int32_t(r);
        return -1;
    };

    // The argument list: fixed arguments, then each refinement's flag and
    // arguments, all absent to begin with.
    Cell* args = stack::top;
    for (uint32_t i = 0; i < shape.cells(); ++i) stack::push(NONE_CELL);
    for (uint32_t f : flag_at) args[f] = logic::cell(false);
    Cell* work = stack::top;

    Cell* source = a + 1;  // the args block
    clip_index(source);
    uint32_t index = source->w1;
    auto at_end = [&]() { return index >= cells_of(source); };
    // Evaluates the next expression of the args block into args[k].
    auto fetch = [&](uint32_t k) -> Unwind {
        uint32_t next = index;
        Unwind code = interpreter::eval_next(source, index, &next);
        if (code) return code;
        args[k] = *stack::top_cell();
        stack::top = work;
        index = next;
        return UNWIND_NONE;
    };
    auto no_arg = [&](const Cell& arg_word) { fire({"script", "no-arg"}, *name, arg_word); };

    for (uint32_t i = 0; i < nfixed; ++i) {
        if (at_end()) {
            if (!all) no_arg(shape.fixed[i]);
            break;
        }
        if (Unwind code = fetch(i)) return code;
    }

    // Refinements named by the path are used, their arguments come next.
    if (path_refinements.type() != TYPE_NONE) {
        for (uint32_t p = path_refinements.w1; p < cells_of(&path_refinements); ++p) {
            Cell r = cell_at(&path_refinements, p);
            if (r.type() != TYPE_WORD) fire({"script", "bad-refine"}, r);
            int32_t k = find_refinement(r.w2);
            if (k < 0) fire({"script", "no-refine"}, *name, r);
            args[flag_at[k]] = logic::cell(true);
        }
        for (size_t k = 0; k < shape.refinements.size(); ++k) {
            if (!logic::get(&args[flag_at[k]])) continue;
            for (uint32_t j = 1; j <= shape.refinements[k].args; ++j) {
                if (at_end()) fire({"script", "no-arg"}, *name, datatype::cell(TYPE_REFINEMENT));
                if (Unwind code = fetch(flag_at[k] + j)) return code;
            }
        }
    }

    if (all) {
        // A continuous list: each refinement's flag, then its arguments, in
        // specification order; what the block lacks stays false or none.
        for (size_t k = 0; k < shape.refinements.size() && !at_end(); ++k) {
            if (Unwind code = fetch(flag_at[k])) return code;
            bool used = lenient_true(&args[flag_at[k]]);
            args[flag_at[k]] = logic::cell(used);
            for (uint32_t j = 1; j <= shape.refinements[k].args && !at_end(); ++j) {
                if (!used && safer) {
                    ++index;  // skipped, not evaluated
                    continue;
                }
                if (Unwind code = fetch(flag_at[k] + j)) return code;
                if (!used) args[flag_at[k] + j] = NONE_CELL;
            }
        }
    } else {
        // `/name flag arguments...` groups, in any order.
        while (!at_end()) {
            Cell r = cell_at(source, index);
            if (r.type() != TYPE_REFINEMENT) fire({"script", "invalid-arg"}, r);
            int32_t k = find_refinement(r.w2);
            if (k < 0) {
                r.set_type(TYPE_WORD);
                fire({"script", "no-refine"}, *name, r);
            }
            ++index;
            if (at_end()) fire({"script", "no-arg"}, *name, r);
            if (Unwind code = fetch(flag_at[k])) return code;
            bool used = lenient_true(&args[flag_at[k]]);
            args[flag_at[k]] = logic::cell(used);
            for (uint32_t j = 1; j <= shape.refinements[k].args; ++j) {
                if (at_end()) fire({"script", "no-arg"}, *name, r);
                if (!used && safer) {
                    ++index;
                    continue;
                }
                if (Unwind code = fetch(flag_at[k] + j)) return code;
                if (!used) args[flag_at[k] + j] = NONE_CELL;
            }
        }
    }

    // The call runs as if the interpreter had made it.
    if (stack::Frame* own = stack::ctop()) own->header |= stack::FRAME_EVALUATING;
    stack::top = work;
    Unwind code = interpreter::call_pushed(name, fn, args, true);
    if (code) return code;
    return result(*args);
}

}  // namespace kiv::natives
