// The Draw pass and its command interpreter: the walk over a command block,
// argument readers, keyword table, saved states and the dialect's errors.
#include "gui/draw/draw_context.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/keyword_map.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "evaluator/runtime.h"
#include "gui/draw/draw_device.h"
#include "library/library.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/stack.h"

#include "gui/draw/draw_cairo_calls.h"

namespace kiv::draw {

// ---- Brushes hold their pattern by reference ----------------------------------------------------

Brush::Brush(const Brush& o) : type(o.type), colour(o.colour), kind(o.kind), pattern(o.pattern), transform(o.transform), base(o.base) {
    if (pattern) cairo_pattern_reference(pattern);
}

Brush& Brush::operator=(const Brush& o) {
    if (this == &o) return *this;
    if (o.pattern) cairo_pattern_reference(o.pattern);
    if (pattern) cairo_pattern_destroy(pattern);
    type = o.type;
    colour = o.colour;
    kind = o.kind;
    pattern = o.pattern;
    transform = o.transform;
    base = o.base;
    return *this;
}

Brush::~Brush() {
    if (pattern) cairo_pattern_destroy(pattern);
}

void Brush::set_pattern(cairo_pattern_t* p) {
    if (pattern) cairo_pattern_destroy(pattern);
    pattern = p;
}

// ---- Reading values ---------------------------------------------------------------------------

Cell Walk::at(uint32_t i) const {
    // The block may have shrunk since the walk began (a change handler run
    // by a set-word can change it): a cell past its tail reads as none.
    if (i >= blk.w1 + block::cells_length(&blk)) return none::cell();
    return *block::cells_at(&blk, i);
}

Cell Walk::peek() const {
    return pos < tail ? at(pos) : none::cell();
}

bool is_point(const Cell& v) {
    return v.type() == TYPE_PAIR || v.type() == TYPE_POINT2D;
}

bool is_number(const Cell& v) {
    return v.type() == TYPE_INTEGER || v.type() == TYPE_FLOAT;
}

void point_of(const Cell& v, double* x, double* y) {
    if (v.type() == TYPE_PAIR) {
        *x = float(pair::x_of(&v));
        *y = float(pair::y_of(&v));
    } else {
        *x = point::coord(&v, 0);
        *y = point::coord(&v, 1);
    }
}

double number_of(const Cell& v) {
    if (v.type() == TYPE_INTEGER) return float(int32_t(v.w2));
    return float(v.get_f64());  // float! and percent! (50% holds 0.5)
}

Cell word_value(const Cell& w) {
    if (w.type() != TYPE_WORD || w.w1 == 0 || int32_t(w.w3) < 0) return none::cell();
    try {
        return *context::get_word(&w);
    } catch (const RaisedError&) {
        return none::cell();
    }
}

bool colour_of(const Cell& v, uint32_t* colour) {
    Cell t = v.type() == TYPE_WORD ? word_value(v) : v;
    if (t.type() != TYPE_TUPLE) return false;
    uint8_t b[12];
    tuple::get_bytes(&t, b);
    uint32_t a = tuple::length(&t) >= 4 ? b[3] : 0;
    *colour = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | a << 24;
    return true;
}

// ---- Keywords ---------------------------------------------------------------------------------

namespace {


// Built on the first pass (interning the names may allocate, so it happens
// before any drawing starts).
KeywordMap keywords;

void build_keywords() {
    if (keywords.built()) return;
    const KeywordMap::Entry entries[] = {
#define KIV_DRAW_KEYWORD_ENTRY(id, name) {symbol::make(name), uint8_t(id)},
        KIV_DRAW_KEYWORDS(KIV_DRAW_KEYWORD_ENTRY)
#undef KIV_DRAW_KEYWORD_ENTRY
    };
    keywords.build(entries, std::size(entries));
}

}  // namespace

int keyword(const Cell& v) {
    if (v.type() != TYPE_WORD && v.type() != TYPE_LIT_WORD) return KW_NONE;
    return keywords.of(v.w2);
}

// ---- Errors -----------------------------------------------------------------------------------

namespace {

bool silent() {
    Cell* slot = system_object::field({"view", "silent?"});
    return slot && slot->type() == TYPE_LOGIC && slot->w1 != 0;
}

enum ErrorKind { ERR_INVALID, ERR_INFINITE, ERR_NOT_HERE };

[[noreturn]] void raise(Context& c, ErrorKind kind, const Cell& arg) {
    cycles::reset();
    if (silent()) throw Abandon{};
    static const char* const ids[][2] = {
        {"script", "draw-invalid"}, {"script", "draw-infinite"}, {"internal", "not-here"}};
    if (c.catch_errors) {
        runtime::report_error(ids[kind][0], ids[kind][1], arg);
        throw Abandon{};
    }
    if (kind == ERR_INFINITE) fire({"script", "draw-infinite"}, arg);
    if (kind == ERR_NOT_HERE) fire({"internal", "not-here"}, arg);
    fire({"script", "draw-invalid"}, arg);
}

}  // namespace

void raise_error(Context& c, const Walk& w, uint32_t pos) {
    Cell at = pos < w.tail ? w.at(pos) : none::cell();
    if (at.type() == TYPE_BLOCK && at.w2 == w.blk.w2) raise(c, ERR_INFINITE, at);
    Cell arg = w.blk;
    arg.w1 = pos;
    raise(c, ERR_INVALID, arg);
}

void invalid_at(Context& c, const Walk& w, uint32_t pos) {
    Cell arg = w.blk;
    arg.w1 = pos;
    raise(c, ERR_INVALID, arg);
}

const TextCommands* text_commands = nullptr;

void not_supported(Context& c, const Walk& w, uint32_t pos) {
    raise(c, ERR_NOT_HERE, w.at(pos));
}

void infinite(Context& c, const Cell& block) {
    raise(c, ERR_INFINITE, block);
}

// ---- Saved states -------------------------------------------------------------------------------

void apply_matrix(Context& c) {
    Matrix m = c.st.matrix;
    cairo_matrix_t cm = m.to_cairo();
    // Cairo refuses a matrix without an inverse (it would end the context);
    // such a matrix collapses every shape, so drawing under it shows nothing:
    // the primitives test State::matrix themselves.
    if (m.finite() && cairo_matrix_invert(&cm) == CAIRO_STATUS_SUCCESS) {
        cm = m.to_cairo();
        cairo_set_matrix(c.cr, &cm);
    }
}

void state_push(Context& c, State& saved) {
    saved = c.st;
    cairo_save(c.cr);
}

void state_pop(Context& c, State& saved) {
    cairo_restore(c.cr);
    c.st = saved;
    apply_matrix(c);
}

// ---- The walk --------------------------------------------------------------------------------------

Unwind parse_draw(Context& c, const Cell& commands, bool catch_errors) {
    Walk w{commands, commands.w1, commands.w1 + block::cells_length(&commands)};
    if (cycles::find(commands.w2)) raise(c, ERR_INFINITE, commands);
    cycles::push(commands.w2);
    // The block stays reachable while it is walked, even if a change handler
    // run by a set-word takes it out of the block that held it.
    Cell* saved_top = stack::top;
    stack::push(commands);
    bool saved_catch = c.catch_errors;
    c.catch_errors = catch_errors;
    while (w.more()) {
        Cell v = w.at(w.pos);
        Unwind code = UNWIND_NONE;
        switch (v.type()) {
            case TYPE_SET_WORD: {
                Cell rest = w.blk;
                rest.w1 = w.pos + 1;
                code = context::set_in(&v, &rest, v.w1, true).code;
                ++w.pos;
                w.tail = w.blk.w1 + block::cells_length(&w.blk);
                break;
            }
            case TYPE_BLOCK:
                ++w.pos;
                code = parse_draw(c, v, catch_errors);
                break;
            case TYPE_WORD: {
                int kw = keyword(v);
                if (kw == KW_NONE || kw > KW_INVERT_MATRIX) raise_error(c, w, w.pos);
                uint32_t at = w.pos++;
                code = run_command(c, w, kw, at);
                break;
            }
            default:
                raise_error(c, w, w.pos);
        }
        if (code) [[unlikely]] {
            // An exit from a change handler ends the pass; its target
            // already trimmed the stacks.
            c.catch_errors = saved_catch;
            cycles::pop();
            return code;
        }
    }
    c.catch_errors = saved_catch;
    stack::top = saved_top;
    cycles::pop();
    return UNWIND_NONE;
}

int last_pass_status = 0;

Unwind run_pass(cairo_surface_t* surface, const Cell& commands, bool catch_errors, Off target_image) {
    if (commands.type() != TYPE_BLOCK || block::cells_length(&commands) == 0) return UNWIND_NONE;
    build_keywords();
    Context c;
    c.target = surface;
    c.width = cairo_image_surface_get_width(surface);
    c.height = cairo_image_surface_get_height(surface);
    c.cr = cairo_create(surface);
    c.catch_errors = catch_errors;
    c.target_image = target_image;
    cairo_set_antialias(c.cr, CAIRO_ANTIALIAS_DEFAULT);
    c.st.fill.type = BRUSH_OFF;
    uint32_t depth = cycles::depth();
    struct End {
        Context& c;
        uint32_t depth;
        ~End() {
            if (c.text_format && text_commands) text_commands->end_pass(c);
            last_pass_status = int(cairo_status(c.cr));
            cairo_destroy(c.cr);
            c.cr = nullptr;
            cairo_surface_flush(c.target);
            uint32_t now = cycles::depth();
            if (now > depth) cycles::drop(now - depth);
        }
    } end{c, depth};
    Cell* top = stack::top;
    try {
        return parse_draw(c, commands, catch_errors);
    } catch (const Abandon&) {
        stack::top = top;
    }
    return UNWIND_NONE;
}

}  // namespace kiv::draw
