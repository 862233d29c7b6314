#include "datatypes/error.h"

#include <climits>
#include <cstring>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/load_form.h"
#include "datatypes/mold.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/error_catalog.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::error {

PositionSource current_position = nullptr;
TraceLevel trace_level = nullptr;
SourceFiles source_files = nullptr;
CollectFrameWords collect_frame_words = nullptr;
FormFrameWords form_frame_words = nullptr;

namespace {

namespace cat = error_catalog;

const char* const FIELD_NAMES[FIELD_COUNT] = {"code", "type", "id",    "arg1",  "arg2",
                                              "arg3", "near", "where", "stack", "files"};

bool built = false;
Cell proto_cell{TYPE_NONE, 0, 0, 0};
Cell catalog_cell{TYPE_NONE, 0, 0, 0};
uint32_t in_flight_slot = 0;  // index of the root cell holding the error in flight

inline Cell none_cell() {
    return none::cell();
}
inline Cell int_cell(int32_t v) {
    return Cell{TYPE_INTEGER, 0, uint32_t(v), 0};
}
inline uint32_t canonical(uint32_t symbol) {
    return symbol::resolve(symbol);
}
inline Off values_node(Off ctx) {
    return context::cell(ctx)->w2;
}
inline uint32_t value_count(Off ctx) {
    Off v = values_node(ctx);
    return v ? series::count(v) : 0;
}

// Word n of a context as a plain word! (flags cleared).
inline Cell plain_word(Off ctx, uint32_t n) {
    Cell w = *context::word_at(ctx, n);
    w.header = TYPE_WORD;
    return w;
}

// Appends one named word to the context with its value.
void add_field(Off ctx, const char* name, const Cell& value) {
    Cell w = word::unbound(symbol::make(name));
    Cell v = value;
    context::add_word(ctx, &w, &v);
}

Cell make_string(const char* text) {
    Cell s{TYPE_NONE, 0, 0, 0};
    string::load(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), &s, string::ENC_UTF8);
    return s;
}

// A global word of `argN`, typed as asked. The catalog names the same few
// words many times: each is made once per build of the catalog.
struct ArgWords {
    Cell made[10] = {};
    bool have[10] = {};
};

Cell arg_word(ArgWords& words, uint8_t n, uint32_t type) {
    Cell w;
    if (n < 10 && words.have[n]) {
        w = words.made[n];
    } else {
        char name[5] = {'a', 'r', 'g', char('0' + n), 0};
        w = word::make_global(symbol::make(name));
        if (n < 10) {
            words.made[n] = w;
            words.have[n] = true;
        }
    }
    w.header = type;
    return w;
}

// The value of one template of the constant catalog.
Cell template_value(const cat::Template& t, ArgWords& words) {
    switch (t.shape) {
        case cat::Shape::STRING:
            return make_string(t.pieces[0].text);
        case cat::Shape::WORD:
            return arg_word(words, t.pieces[0].arg, TYPE_WORD);
        case cat::Shape::BLOCK:
        default: {
            Cell blk{TYPE_NONE, 0, 0, 0};
            block::make_at(&blk, t.count);
            for (int k = 0; k < t.count; ++k) {
                const cat::Piece& p = t.pieces[k];
                Cell v = p.is_arg() ? arg_word(words, p.arg, p.get_word ? TYPE_GET_WORD : TYPE_WORD)
                                    : make_string(p.text);
                block::cells_append(&blk, &v);
            }
            return blk;
        }
    }
}

Cell build_catalog_object() {
    ArgWords words;
    Off root_ctx = context::create(cat::CATEGORY_COUNT, false, true, 0, context::KIND_OBJECT);
    for (int c = 0; c < cat::CATEGORY_COUNT; ++c) {
        const cat::CategoryEntry& e = cat::category(c);
        Off cc = context::create(uint32_t(e.id_count) + 2, false, true, 0, context::KIND_OBJECT);
        add_field(cc, "code", int_cell(e.code));
        add_field(cc, "type", make_string(e.type_text));
        for (int i = 0; i < e.id_count; ++i) add_field(cc, e.ids[i].name, template_value(e.ids[i].tmpl, words));
        Cell obj = object::cell(cc, object::next_class_id(), 0);
        *context::self_cell(cc) = obj;
        add_field(root_ctx, e.name, obj);
    }
    Cell obj = object::cell(root_ctx, object::next_class_id(), 0);
    *context::self_cell(root_ctx) = obj;
    return obj;
}

Cell build_prototype() {
    Off ctx = context::create(FIELD_COUNT, false, true, 0, context::KIND_OBJECT);
    for (const char* name : FIELD_NAMES) add_field(ctx, name, none_cell());
    Cell obj = object::cell(ctx, object::ERROR_CLASS, 0, TYPE_ERROR);
    *context::self_cell(ctx) = obj;
    return obj;
}

bool can_build() {
    return root::block.type() == TYPE_BLOCK && root::global_context && root::symbol_index &&
           fixed::sym[fixed::SYM_SELF] != 0;
}

// A fresh copy of the prototype into target (the error's fields all none).
void new_error(Cell* target) {
    memory::CollectionPause pause;
    Cell tmp = proto_cell;
    Off ctx = context::clone(&tmp, context::KIND_OBJECT);
    Off pctx = proto_cell.w1;
    uint32_t n = context::word_count(ctx);
    uint32_t have = value_count(pctx);
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = i < have ? *context::values_at(pctx, i) : none_cell();
        *series::alloc_tail_cell(buffer_of(values_node(ctx))) = v;
    }
    Cell obj = object::cell(ctx, object::ERROR_CLASS, 0, TYPE_ERROR);
    *context::self_cell(ctx) = obj;
    *target = obj;
}

inline Cell get(const Cell* err, Field f) {
    Off ctx = err->w1;
    return f < value_count(ctx) ? *context::values_at(ctx, f) : none_cell();
}
inline void set(const Cell* err, Field f, const Cell& v) {
    Off ctx = err->w1;
    if (f < value_count(ctx)) *context::values_at(ctx, f) = v;
}

inline Off catalog_ctx() {
    return catalog_cell.w1;
}
// Category object n of the catalog (none when the slot holds something else).
inline Cell category_object(uint32_t n) {
    Off c = catalog_ctx();
    if (n >= value_count(c)) return none_cell();
    Cell v = *context::values_at(c, n);
    return object::is_object_like(v.type()) ? v : none_cell();
}
// Index of a word in the catalog (-1 when absent or not a word).
inline int32_t category_index_of(const Cell& w) {
    if (!is_all_word(w.type())) return -1;
    return context::find_word(catalog_ctx(), w.w2, true);
}
// Position of an id word among a category's words (-1 when absent or when
// it names code or type).
inline int32_t id_word_index(const Cell& category, const Cell& w) {
    if (!is_all_word(w.type()) || category.type() == TYPE_NONE) return -1;
    int32_t i = context::find_word(category.w1, w.w2, true);
    return i >= 2 ? i : -1;
}

inline Cell current_near() {
    return current_position ? current_position() : none_cell();
}

[[noreturn]] void fire_spec_field(fixed::Word which) {
    Cell w = fixed::words[which];
    w.header = TYPE_WORD;
    fire({"script", "invalid-spec-field"}, w);
}

// Fills type, id and code from a category word and an id value (block spec
// form and create). `id` may be null (missing).
void set_from_words(const Cell* err, const Cell& category, const Cell* id) {
    int32_t ci = category_index_of(category);
    if (category.type() != TYPE_WORD || ci < 0) fire_spec_field(fixed::W_TYPE);
    Cell c = category;
    c.clear_new_line();
    set(err, FIELD_TYPE, c);
    if (!id) fire_spec_field(fixed::W_ID);
    if (id->type() != TYPE_WORD) fire({"script", "invalid-arg"}, *id);
    Cell cobj = category_object(uint32_t(ci));
    int32_t ii = id_word_index(cobj, *id);
    if (ii < 0) fire_spec_field(fixed::W_ID);
    Cell i = *id;
    i.clear_new_line();
    set(err, FIELD_ID, i);
    set(err, FIELD_CODE, int_cell(ci * 100 + (ii - 2)));
}

// The internal invalid-error replacement of an error whose type or id is not
// in the catalog: arg1 = the offending word.
void make_invalid(const Cell* err, const Cell& offending) {
    set(err, FIELD_ARG1, offending);
    Cell t = plain_word(catalog_ctx(), cat::CAT_INTERNAL);
    set(err, FIELD_TYPE, t);
    Cell internal = category_object(cat::CAT_INTERNAL);
    int32_t ii = internal.type() == TYPE_NONE
                     ? -1
                     : context::find_word(internal.w1, fixed::words[fixed::W_INVALID_ERROR].w2, true);
    if (ii >= 0) set(err, FIELD_ID, plain_word(internal.w1, uint32_t(ii)));
}

// Characters in the string from its head.
inline uint32_t text_length(const Cell* out) {
    return string::length_from_head(out);
}

inline int32_t put_text(Cell* out, const char* text) {
    string::concatenate_literal(out, text);
    return int32_t(std::strlen(text));
}

// Appends a string value; returns the characters added.
int32_t put_string(Cell* out, const Cell& s) {
    Cell* saved = stack::top;
    Cell* src = stack::push(s);
    uint32_t before = text_length(out);
    string::concatenate(out, src, -1, 0, true, string::CONCAT_APPEND);
    stack::top = saved;
    return int32_t(text_length(out) - before);
}

bool is_syntax(const Cell* err) {
    Cell t = get(err, FIELD_TYPE);
    if (!is_all_word(t.type())) return false;
    return canonical(t.w2) == canonical(fixed::words[fixed::W_CAT_SYNTAX].w2);
}

}  // namespace

// ---- Start-up ---------------------------------------------------------------------

void init_values() {
    if (built || !can_build()) return;
    memory::CollectionPause pause;
    proto_cell = build_prototype();
    root::keep_copy(proto_cell);
    catalog_cell = build_catalog_object();
    root::keep_copy(catalog_cell);
    in_flight_slot = root::count();
    root::keep_copy(none_cell());
    built = true;
}

bool ready() {
    return built;
}

Cell build_catalog() {
    init_values();
    return catalog_cell;
}
Cell catalog() {
    return catalog_cell;
}
Cell prototype() {
    return proto_cell;
}

void hold_in_flight(const Cell& err) {
    if (built && in_flight_slot < root::count()) *root::at(in_flight_slot) = err;
}

// ---- Making errors ---------------------------------------------------------------------

Cell create_named(const char* category, const char* id, const Cell* args, int count) {
    init_values();
    if (!built) return none_cell();
    Cell* saved = stack::top;
    for (int i = 0; i < count && i < 3; ++i) stack::push(args[i]);
    Cell* e = stack::push(none_cell());
    new_error(e);
    int ci = cat::category_index(category);
    int ii = ci >= 0 ? cat::id_index(ci, id) : -1;
    if (ci >= 0 && ii >= 0) {
        Cell cobj = category_object(uint32_t(ci));
        set(e, FIELD_CODE, int_cell(ci * 100 + ii));
        set(e, FIELD_TYPE, plain_word(catalog_ctx(), uint32_t(ci)));
        if (cobj.type() != TYPE_NONE && uint32_t(ii) + 2 < context::word_count(cobj.w1))
            set(e, FIELD_ID, plain_word(cobj.w1, uint32_t(ii) + 2));
    } else {
        // A name the catalog lacks: kept as words, formed as internal invalid-error.
        set(e, FIELD_TYPE, word::load(category));
        set(e, FIELD_ID, word::load(id));
    }
    for (int i = 0; i < count && i < 3; ++i) set(e, Field(FIELD_ARG1 + i), saved[i]);
    set(e, FIELD_NEAR, current_near());
    Cell r = *e;
    stack::top = saved;
    return r;
}

Cell* create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    init_values();
    if (!built) fire({"internal", "not-done"});
    Cell c = *category;
    Cell i = *id;
    Cell args[3] = {arg1 ? *arg1 : none_cell(), arg2 ? *arg2 : none_cell(), arg3 ? *arg3 : none_cell()};
    bool given[3] = {arg1 != nullptr, arg2 != nullptr, arg3 != nullptr};
    Cell* e = stack::push(none_cell());
    new_error(e);
    set_from_words(e, c, &i);
    for (int k = 0; k < 3; ++k)
        if (given[k]) set(e, Field(FIELD_ARG1 + k), args[k]);
    set(e, FIELD_NEAR, current_near());
    return e;
}

bool from_code(Cell* target, int32_t code) {
    init_values();
    if (!built) return false;
    const int32_t ci = code / 100;
    if (code < 0 || uint32_t(ci) >= context::word_count(catalog_ctx())) return false;
    const Cell cobj = category_object(uint32_t(ci));
    const uint32_t pos = uint32_t(code % 100) + 2;
    if (cobj.type() == TYPE_NONE || pos >= context::word_count(cobj.w1)) return false;
    new_error(target);
    set(target, FIELD_CODE, Cell{TYPE_INTEGER, 0, uint32_t(code), 0});
    set(target, FIELD_TYPE, plain_word(catalog_ctx(), uint32_t(ci)));
    set(target, FIELD_ID, plain_word(cobj.w1, pos));
    return true;
}

void set_where(const Cell* err, const Cell* value) {
    if (get(err, FIELD_WHERE).type() == TYPE_NONE) set(err, FIELD_WHERE, *value);
}

uint32_t get_type(const Cell* err) {
    Cell t = get(err, FIELD_TYPE);
    return is_all_word(t.type()) ? t.w2 : 0;
}

uint32_t get_id(const Cell* err) {
    Cell t = get(err, FIELD_ID);
    return is_all_word(t.type()) ? t.w2 : 0;
}

Cell* field(const Cell* err, Field f) {
    return context::values_at(err->w1, f);
}

Cell get_call_argument(int32_t n) {
    Cell anon = fixed::words[fixed::W_ANON];
    anon.header = TYPE_WORD;
    const stack::Frame* f = stack::ctop();
    if (!f || n < 0 || f->symbol() == 0) return anon;
    // The value the frame's word refers to: through its binding, else global.
    Off ctx = f->binding ? f->binding : context::global();
    const Cell* cc = context::cell(ctx);
    if (cc->w2 == 0) return anon;
    int32_t pos = context::find_word(ctx, f->symbol(), true);
    if (pos < 0) return anon;
    uint32_t index = context::word_at(ctx, uint32_t(pos))->w3;
    Cell fn;
    if (cc->header & header::STACK_VALUES) {
        if (index >= context::word_count(ctx)) return anon;
        fn = arena::ptr<Cell>(cc->w2)[index];
    } else {
        if (index >= value_count(ctx)) return anon;
        fn = *context::values_at(ctx, index);
    }
    switch (fn.type()) {
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_OP:
        case TYPE_FUNCTION:
        case TYPE_ROUTINE:
            break;
        default:
            return anon;
    }
    if (!fn.w2) return anon;
    const SeriesBuffer* b = buffer_of(fn.w2);
    int32_t seen = 0;
    for (const Cell *c = b->head_cell(), *end = b->tail_cell(); c < end; ++c) {
        switch (c->type()) {
            case TYPE_WORD:
            case TYPE_GET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_REFINEMENT:
                if (seen++ == n) {
                    Cell w = *c;
                    w.header = TYPE_WORD;
                    return w;
                }
                break;
            default:
                break;
        }
    }
    return anon;
}

void capture_stack(const Cell* err) {
    if (err->type() != TYPE_ERROR) return;
    Cell e = *err;
    Cell s = get(&e, FIELD_STACK);
    if (s.type() != TYPE_INTEGER) return;
    int32_t level = trace_level ? trace_level() : 0;
    if (level <= 0) level = 1;
    Cell* saved = stack::top;
    Cell* blk = block::push_only(20);
    if (collect_frame_words) collect_frame_words(level, blk, int32_t(s.w2));
    set(&e, FIELD_STACK, *blk);
    if (source_files) {
        Cell files = source_files();
        if (is_any_block(files.type()) && !block::cells_at_tail(&files)) {
            Cell* src = stack::push(files);
            Cell* copy = stack::push(none_cell());
            block::copy_part(src, copy, false, false);
            set(&e, FIELD_FILES, *copy);
        }
    }
    stack::top = saved;
}

// ---- Text ----------------------------------------------------------------------------------

int32_t reform_message(const Cell* message, Cell* out, const Cell* err, int32_t budget) {
    Cell m = *message;
    Cell e = *err;
    bool syntax = is_syntax(&e);
    Cell* saved = stack::top;
    stack::mark_native(nullptr);
    uint32_t n = series::buffer_length(&m);
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = buffer_of(m.w2)->head_cell()[i];
        uint32_t t = v.type();
        if (is_any_string(t)) {
            budget -= put_string(out, v);
        } else if (t == TYPE_WORD || t == TYPE_GET_WORD) {
            int32_t at = context::find_word(e.w1, v.w2, true);
            if (at >= 0 && uint32_t(at) < value_count(e.w1)) {
                Cell arg = *context::values_at(e.w1, uint32_t(at));
                budget -= int32_t(runtime::append_limited(out, &arg, ARG_LIMIT, !syntax, true, false));
            }
        }
        if (i + 1 < n) {
            string::append_char(string::buffer(out), ' ');
            budget -= 1;
        }
    }
    stack::unwind_drop();
    stack::top = saved;
    return budget;
}

std::string form_text(const Cell& err) {
    std::string text;
    if (err.type() != TYPE_ERROR) return text;
    Cell* saved = stack::top;
    Cell* e = stack::push(err);
    Cell* out = string::make_at(stack::push_slot(), 64);
    form(e, out, nullptr, INT_MAX);
    const SeriesBuffer* b = string::buffer(out);
    uint32_t unit = b->unit();
    for (const uint8_t *p = b->head_ptr(), *end = b->tail_ptr(); p < end; p += unit) {
        uint8_t bytes[4];
        int k = unicode::encode_utf8_char(string::get_char(p, unit), bytes);
        text.append(reinterpret_cast<const char*>(bytes), size_t(k));
    }
    stack::top = saved;
    return text;
}

// ---- Actions ----------------------------------------------------------------------------

Outcome make(Cell* /*proto*/, Cell* spec, uint32_t /*type*/) {
    init_values();
    if (!built) fire({"internal", "not-done"});
    Cell s = *spec;
    if (s.type() == TYPE_STRING) {
        Cell c = plain_word(catalog_ctx(), cat::CAT_USER);
        Cell user = category_object(cat::CAT_USER);
        Cell id = plain_word(user.w1, 2);
        return create(&c, &id, &s, nullptr, nullptr);
    }
    if (s.type() != TYPE_INTEGER && s.type() != TYPE_BLOCK)
        fire({"script", "bad-make-arg"}, datatype::cell(TYPE_ERROR), s);
    Cell* e = stack::push(none_cell());
    new_error(e);
    if (s.type() == TYPE_INTEGER) {
        if (!from_code(e, int32_t(s.w2))) fire({"script", "out-of-range"}, s);
    } else {
        if (block::cells_at_tail(&s)) fire({"internal", "invalid-error"});
        Cell first = *block::cells_head(&s);
        if (first.type() == TYPE_WORD) {
            bool has_second = block::cells_length(&s) > 1;
            Cell second = has_second ? block::cells_head(&s)[1] : none_cell();
            set_from_words(e, first, has_second ? &second : nullptr);
        } else if (first.type() == TYPE_SET_WORD) {
            context::bind(&s, e->w1, true);
            Cell* saved = stack::top;
            if (Unwind code = object::evaluate(&s)) return code;
            stack::top = saved;
            Cell t = get(e, FIELD_TYPE);
            int32_t ci = t.type() == TYPE_WORD ? category_index_of(t) : -1;
            if (ci < 0) fire_spec_field(fixed::W_TYPE);
            Cell i = get(e, FIELD_ID);
            int32_t ii = i.type() == TYPE_WORD ? id_word_index(category_object(uint32_t(ci)), i) : -1;
            if (ii < 0) fire_spec_field(fixed::W_ID);
            set(e, FIELD_CODE, int_cell(ci * 100 + (ii - 2)));
        } else {
            fire({"internal", "invalid-error"});
        }
    }
    set(e, FIELD_NEAR, current_near());
    return e;
}

int32_t form(Cell* value, Cell* out, Cell* /*part*/, int32_t budget) {
    Cell e = *value;
    budget -= put_text(out, "*** ");
    if (!built) return budget;
    Cell type = get(&e, FIELD_TYPE);
    int32_t ci = category_index_of(type);
    Cell cobj = ci >= 0 ? category_object(uint32_t(ci)) : none_cell();
    if (ci < 0 || cobj.type() == TYPE_NONE) {
        make_invalid(&e, type);
        ci = cat::CAT_INTERNAL;
        cobj = category_object(cat::CAT_INTERNAL);
    }
    Cell id = get(&e, FIELD_ID);
    int32_t ii = id_word_index(cobj, id);
    if (ii < 0) {
        make_invalid(&e, id);
        ci = cat::CAT_INTERNAL;
        cobj = category_object(cat::CAT_INTERNAL);
        ii = id_word_index(cobj, get(&e, FIELD_ID));
    }
    Cell tmpl = ii >= 0 && uint32_t(ii) < value_count(cobj.w1) ? *context::values_at(cobj.w1, uint32_t(ii))
                                                               : none_cell();
    if (tmpl.type() == TYPE_WORD) {
        // A field name: the message is that field's value.
        int32_t at = context::find_word(e.w1, tmpl.w2, true);
        tmpl = at >= 0 && uint32_t(at) < value_count(e.w1) ? *context::values_at(e.w1, uint32_t(at))
                                                           : none_cell();
    }
    Cell title = value_count(cobj.w1) > 1 ? *context::values_at(cobj.w1, 1) : none_cell();
    if (is_any_string(title.type())) budget -= put_string(out, title);
    budget -= put_text(out, ": ");
    if (is_any_string(tmpl.type())) {
        budget -= put_string(out, tmpl);
    } else if (tmpl.type() == TYPE_BLOCK) {
        Cell* saved = stack::top;
        Cell* m = stack::push(tmpl);
        budget = reform_message(m, out, &e, budget);
        stack::top = saved;
    } else {
        make_invalid(&e, type);
    }
    budget -= put_text(out, "\n*** Where: ");
    Cell where = get(&e, FIELD_WHERE);
    if (is_all_word(where.type()))
        budget = word::form_name(where.w2, out, budget);
    else if (is_any_string(where.type()))
        budget -= put_string(out, where);
    else
        budget -= put_text(out, "???");
    budget -= put_text(out, "\n*** Near : ");
    Cell near = get(&e, FIELD_NEAR);
    budget -= int32_t(runtime::append_limited(out, &near, NEAR_LIMIT, true, true, true));
    int32_t level = trace_level ? trace_level() : 0;
    if (level > 0) {
        Cell st = get(&e, FIELD_STACK);
        if (st.type() == TYPE_INTEGER) {
            budget -= put_text(out, "\n*** Stack: ");
            if (form_frame_words) budget = form_frame_words(level, int32_t(st.w2), out, budget);
        } else if (st.type() == TYPE_BLOCK) {
            budget -= put_text(out, "\n*** Stack: ");
            Cell* saved = stack::top;
            Cell* b = stack::push(st);
            budget = actions::form(b, out, nullptr, budget);
            stack::top = saved;
        }
    }
    Cell files = get(&e, FIELD_FILES);
    if (files.type() == TYPE_BLOCK) {
        budget -= put_text(out, "\n*** Files: ");
        budget -= int32_t(runtime::append_limited(out, &files, NEAR_LIMIT, true, true, true));
    }
    return budget;
}

int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent) {
    if (cycles::find(value->w1)) {
        budget -= put_text(out, "make error! [...]");
        return budget;
    }
    if (!only) budget -= put_text(out, "make error! [");
    budget = object::mold_body(value, out, only, all, flat, part, budget, true, indent + 1, true);
    if (!flat && indent > 0) budget = mold::indent(out, indent, budget);
    if (!only) budget -= put_text(out, "]");
    return budget;
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent, Cell* previous,
                int32_t position, bool case_sensitive, bool get_path, bool last_element, bool notify_owner) {
    return object::eval_path(parent, element, value, path, grandparent, previous, position, case_sensitive,
                             get_path, last_element, notify_owner);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_ERROR) return NOT_COMPARABLE;
    return object::compare(value, other, op);
}

// ---- Registration -----------------------------------------------------------------------

// The value fire() raises: the error with the call-frame position in its
// `stack` field, kept reachable until the next error is raised.
Cell raised_value(const char* category, const char* id, const Cell* args, int n) {
    Cell value = create_named(category, id, args, n);
    if (value.type() == TYPE_ERROR) {
        Cell position{TYPE_INTEGER, 0, stack::frame_count(), 0};
        *field(&value, FIELD_STACK) = position;
        hold_in_flight(value);
    }
    return value;
}

void init() {
    build_error_value = &raised_value;
    datatype::Registration r = datatype::blank(TYPE_ERROR, TYPE_OBJECT, "error!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.inherit(ACT_REFLECT);
    r.inherit(ACT_COPY);
    r.inherit(ACT_SELECT);
    r.inherit(ACT_FIND);
    datatype::register_type(r);
}

}  // namespace kiv::error

namespace kiv {

std::string raised_text(const RaisedError& e) {
    if (e.value.type() == TYPE_ERROR) {
        try {
            return error::form_text(e.value);
        } catch (const RaisedError&) {
            // Fall back to the catalog text below.
        }
    }
    namespace cat = error_catalog;
    std::string text = "*** ";
    int c = cat::category_index(e.category);
    int i = c >= 0 ? cat::id_index(c, e.id) : -1;
    if (c < 0 || i < 0) {
        text += cat::category(cat::CAT_INTERNAL).type_text;
        text.append(": invalid error: ").append(e.category).append(1, ' ').append(e.id);
        return text;
    }
    text += cat::category(c).type_text;
    text += ": ";
    // Arguments as their molded text where the datatypes can mold them.
    std::string args[3];
    for (int k = 0; k < e.arg_count && k < 3; ++k) {
        try {
            Cell* saved = stack::top;
            Cell* v = stack::push(e.args[k]);
            Cell* out = string::make_at(stack::push_slot(), 16);
            actions::mold(v, out, false, false, true, nullptr, 80, 0);
            const SeriesBuffer* b = buffer_of(out->w2);
            for (const uint8_t *p = b->head_ptr(), *end = b->tail_ptr(); p < end; p += b->unit()) {
                uint32_t cp = string::get_char(p, b->unit());
                args[k] += cp < 0x80 ? char(cp) : '?';
            }
            stack::top = saved;
        } catch (const RaisedError&) {
            args[k].assign(1, '?');
        }
    }
    std::string_view views[3] = {args[0], args[1], args[2]};
    cat::append_message(text, *cat::template_of(c, i), views);
    return text;
}

}  // namespace kiv
