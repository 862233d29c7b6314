#include "datatypes/word.h"

#include <cstring>
#include <string>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::word {

LoadSingle load_single = nullptr;
ScanType scan_type = nullptr;

namespace {

constexpr uint32_t NO_INDEX = 0xFFFFFFFFu;

[[noreturn]] void fire_with(IdIn<error_catalog::CAT_SCRIPT> id, const Cell& a1) {
    Cell a = a1;
    fire(id, a);
}

// The global word! of the symbol bound case-insensitively (make_at's word).
Cell global_word(uint32_t symbol) {
    Cell w = context::add_global(symbol, true, false);
    return Cell{TYPE_WORD, context::global(), symbol, w.w3};
}

// A symbol id for a name that may not have been interned yet (the fixed
// ids when start-up made them).
uint32_t fixed_or_make(fixed::Symbol id, const char* name) {
    uint32_t s = fixed::sym[id];
    return s ? s : symbol::make(name);
}

// Without the lexer's scan-only mode: true when the UTF-8 name would read
// back as a plain word. Rejects the empty name, names starting like a
// number, a lit-word, a get-word, an issue, a file, money or an email, and
// names holding blanks, control characters or delimiters.
bool name_reads_as_word(const uint8_t* s, uint32_t n) {
    if (n == 0) return false;
    uint8_t c0 = s[0];
    if (c0 >= '0' && c0 <= '9') return false;
    if ((c0 == '+' || c0 == '-' || c0 == '.') && n > 1 && s[1] >= '0' && s[1] <= '9') return false;
    if (std::strchr("'#$%:@^~", c0) && c0 != 0) return false;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t c = s[i];
        if (c <= 32 || c == 127) return false;
        if (std::strchr("[](){}\";/\\:@,", c)) return false;
    }
    return true;
}

// True when the name (UTF-8) of a refinement or an issue scans as a
// word!, set-word!, get-word! or lit-word!.
bool scans_as_word(uint32_t symbol) {
    const uint8_t* s = reinterpret_cast<const uint8_t*>(symbol::name(symbol));
    uint32_t n = symbol::name_length(symbol);
    if (scan_type) {
        uint32_t t = scan_type(s, n);
        return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD;
    }
    return name_reads_as_word(s, n);
}

// The UTF-8 text of a string value from its index, or of a char, loaded as
// one value (none: several values; unset: none at all).
Cell load_text(const Cell& spec) {
    if (!load_single) fire({"internal", "not-done"});
    Cell result{TYPE_UNSET, 0, 0, 0};
    if (spec.type() == TYPE_CHAR) {
        uint8_t buf[4];
        int n = unicode::encode_utf8_char(spec.w2, buf);
        load_single(buf, uint32_t(n), &result);
        return result;
    }
    // The text goes to a scratch copy: loading allocates and may move the
    // conversion cache it was written to.
    const std::string text = unicode::to_utf8_string(&spec);
    load_single(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), &result);
    return result;
}

}  // namespace

int32_t mold_affixed(Cell* value, Cell* out, int32_t budget, const char* prefix, const char* suffix) {
    uint32_t symbol = value->w2;
    if (prefix) {
        string::concatenate_literal(out, prefix);
        budget -= 1;
    }
    budget = form_name(symbol, out, budget);
    if (suffix) {
        string::concatenate_literal(out, suffix);
        budget -= 1;
    }
    return budget;
}

// ---- Making words ------------------------------------------------------------------------------

Cell load(const char* name) {
    uint32_t symbol = symbol::make(name);
    Cell w = context::add_global(symbol, true, true);
    if (root::recording) root::keep_copy(w);
    return w;
}

Cell* load_in(const char* name, const Cell* block) {
    return make_in(symbol::make(name), block);
}

Cell* make_at(uint32_t symbol, Cell* cell) {
    Cell w = global_word(symbol);
    *cell = w;
    return cell;
}

Cell* make_in(uint32_t symbol, const Cell* block) {
    Cell b = *block;
    Cell w = global_word(symbol);
    Cell* c = block_alloc_tail(&b);
    *c = w;
    return c;
}

Cell* box(uint32_t symbol) {
    return make_at(symbol, stack::arg_base);
}

Cell* load_at(uint32_t symbol) {
    Cell w = global_word(symbol);
    return stack::push(w);
}

Cell make_global(uint32_t symbol) {
    Cell w = context::add_global(symbol, false, false);
    if (root::recording) root::keep_copy(w);
    return w;
}

// ---- Stack helpers --------------------------------------------------------------------------------

Cell* push(const Cell* word) {
    return stack::push(*word);
}

Cell* push_local(Off ctx, uint32_t n) {
    if (n >= context::word_count(ctx)) fire_with("not-in-context", unbound(0));
    return stack::push(*context::word_at(ctx, n));
}

Cell* get_local(Off ctx, uint32_t n) {
    Cell w = n < context::word_count(ctx) ? *context::word_at(ctx, n) : unbound(0);
    if (!context::cell(ctx)->w2) fire_with("not-defined", w);
    w.w1 = ctx;
    w.w3 = n;
    Cell v = *context::get(&w, ctx);
    return stack::push(v);
}

Outcome set_checked() {
    Cell* base = stack::arg_base;
    Cell v = base[1];
    if (v.type() == TYPE_UNSET) fire_with("need-value", base[0]);
    if (Unwind code = context::set_word(base, &v).code) return code;
    *base = v;
    return base;
}

Cell* store_checked(Cell* target) {
    Cell v = *stack::arg_base;
    if (v.type() == TYPE_UNSET) fire_with("need-value", *target);
    *target = v;
    return target;
}

Cell* get_checked(const Cell* word) {
    Cell w = *word;
    Cell v = *context::get_word(&w);
    if (v.type() == TYPE_UNSET) fire_with("no-value", w);
    return stack::push(v);
}

Cell* push_value(const Cell* word) {
    Cell w = *word;
    Cell v = *context::get_word(&w);
    return stack::push(v);
}

Cell* get_symbol(const Cell* word) {
    return symbol::get(word->w2);
}

Cell* push_name(const Cell* word) {
    Off node = symbol::ensure_string(word->w2);
    return stack::push(Cell{TYPE_STRING, 0, node, 0});
}

// ---- Type-parametrised family ------------------------------------------------------------------

Cell load_as(const char* name, uint32_t type) {
    Cell w = load(name);
    w.set_type(type);
    return w;
}

Cell* load_in_as(const char* name, const Cell* block, uint32_t type) {
    Cell* c = load_in(name, block);
    c->set_type(type);
    return c;
}

Cell* push_as(const Cell* word, uint32_t type) {
    Cell* c = push(word);
    c->set_type(type);
    return c;
}

Cell* push_local_as(Off ctx, uint32_t n, uint32_t type) {
    Cell* c = push_local(ctx, n);
    c->set_type(type);
    return c;
}

Outcome set() {
    Cell* base = stack::arg_base;
    Cell v = base[1];
    if (Unwind code = context::set_word(base, &v).code) return code;
    *base = v;
    return base;
}

Cell* get() {
    Cell* base = stack::arg_base;
    Cell w = *base;
    *base = *context::get_word(&w);
    return base;
}

// ---- Actions --------------------------------------------------------------------------------------

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    Cell s = *spec;
    Cell result;
    switch (s.type()) {
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_GET_WORD:
        case TYPE_LIT_WORD:
            result = s;
            break;
        case TYPE_REFINEMENT:
        case TYPE_ISSUE:
            if (!scans_as_word(s.w2)) fire({"script", "bad-to-arg"}, datatype::cell(type), s);
            result = s;
            context::bind_word(context::global(), &result);
            break;
        case TYPE_STRING:
        case TYPE_CHAR: {
            result = load_text(s);
            if (!is_all_word(result.type())) fire({"script", "invalid-chars"});
            break;
        }
        case TYPE_DATATYPE: {
            uint32_t t = s.w1;
            if (t == 0 || t > TYPE_ID_LIMIT || !datatype::names[t].name)
                fire({"script", "bad-to-arg"}, datatype::cell(type), s);
            const datatype::NameRecord& rec = datatype::names[t];
            result = rec.word.header != 0 ? rec.word : load(rec.name);
            break;
        }
        case TYPE_LOGIC:
            result = s.w1 ? make_global(fixed_or_make(fixed::SYM_TRUE, "true"))
                          : make_global(fixed_or_make(fixed::SYM_FALSE, "false"));
            break;
        default:
            fire({"script", "bad-to-arg"}, datatype::cell(type), s);
    }
    result.header = (result.header & ~(header::TYPE_MASK | header::WORD_SET)) | type;
    *proto = result;
    return proto;
}

int32_t form_name(uint32_t symbol, Cell* out, int32_t budget) {
    Off node = symbol::ensure_string(symbol);
    Cell name{TYPE_STRING, 0, node, 0};
    uint32_t chars = series::count(node);
    string::concatenate(out, &name, -1, 0, true, string::CONCAT_APPEND);
    return budget - int32_t(chars);
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
    return form_name(value->w2, out, budget);
}

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    return form_name(value->w2, out, budget);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    uint32_t ta = value->type(), tb = other->type();
    if (!is_all_word(tb) || (tb == TYPE_ISSUE && ta != TYPE_ISSUE)) return NOT_COMPARABLE;
    uint32_t sa = value->w2, sb = other->w2;
    auto differ = [](bool same) { return same ? 0 : 1; };
    bool word_lit = (ta == TYPE_WORD && tb == TYPE_LIT_WORD) || (ta == TYPE_LIT_WORD && tb == TYPE_WORD);
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
        case COMP_FIND:
            return differ(symbol::resolve(sa) == symbol::resolve(sb));
        case COMP_STRICT_EQUAL:
            return differ(ta == tb && sa == sb);
        case COMP_SAME:
            return differ(ta == tb && sa == sb && value->w1 == other->w1);
        case COMP_EQUAL_10:
            return differ((word_lit || ta == tb) && sa == sb);
        case COMP_EQUAL_11:
            return differ((word_lit || ta == tb) && symbol::resolve(sa) == symbol::resolve(sb));
        default: {
            Off na = symbol::ensure_string(sa);
            Off nb = symbol::ensure_string(sb);
            Cell a{TYPE_STRING, 0, na, 0}, b{TYPE_STRING, 0, nb, 0};
            return string::equal(&a, &b, op, false);
        }
    }
}

void index_q() {
    Cell* base = stack::arg_base;
    int32_t index = index_of(base);
    if (index == -1) {
        *base = none::cell();
        return;
    }
    *base = Cell{TYPE_INTEGER, 0, uint32_t(index + 1), 0};
}

void init() {
    datatype::Registration w = datatype::blank(TYPE_WORD, TYPE_SYMBOL, "word!");
    w.set<ACT_MAKE>(make);
    w.set<ACT_TO>(make);
    w.set<ACT_FORM>(form);
    w.set<ACT_MOLD>(mold);
    w.set<ACT_COMPARE>(compare);
    w.set<ACT_INDEX_Q>(no_unwind<index_q>);
    datatype::register_type(w);
}

// A subtype of word!: make, to, form and compare from word!, its own mold,
// index? from word! unless it has none.
void register_subtype(uint32_t id, const char* name, action::Mold mold, bool index) {
    datatype::Registration r = datatype::blank(id, TYPE_WORD, name);
    r.inherit(ACT_MAKE);
    r.inherit(ACT_TO);
    r.inherit(ACT_FORM);
    r.inherit(ACT_COMPARE);
    r.set<ACT_MOLD>(mold);
    if (index) r.inherit(ACT_INDEX_Q);
    datatype::register_type(r);
}

Cell caller() {
    stack::Frame* f = stack::caller_frame();
    if (!root::global_context || !fixed::words[fixed::W_NOT_FOUND].header) return Cell{TYPE_NONE, 0, 0, 0};
    if (!f) return fixed::words[fixed::W_NOT_FOUND];
    uint32_t s = f->symbol();
    if (!symbol::valid(s)) return fixed::words[fixed::W_NOT_FOUND];
    Off binding = f->binding;
    if (binding && context::cell(binding)->type() == TYPE_CONTEXT) return context::word_for_symbol(binding, s);
    return make_global(s);
}

}  // namespace kiv::word

// ---- The subtypes -----------------------------------------------------------------------------------

namespace kiv::lit_word {
int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    return word::mold_affixed(value, out, budget, "'", nullptr);
}
void init() {
    word::register_subtype(TYPE_LIT_WORD, "lit-word!", &mold, true);
}
}  // namespace kiv::lit_word

namespace kiv::set_word {
int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    return word::mold_affixed(value, out, budget, nullptr, ":");
}
void init() {
    word::register_subtype(TYPE_SET_WORD, "set-word!", &mold, true);
}
}  // namespace kiv::set_word

namespace kiv::get_word {
int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    return word::mold_affixed(value, out, budget, ":", nullptr);
}
Cell* get() {
    Cell w = *stack::arg_base;
    Cell v = *context::get_word(&w);
    return stack::push(v);
}
void init() {
    word::register_subtype(TYPE_GET_WORD, "get-word!", &mold, true);
}
}  // namespace kiv::get_word

namespace kiv::refinement {
int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    return word::mold_affixed(value, out, budget, "/", nullptr);
}
Cell load(const char* name) {
    Cell r{TYPE_REFINEMENT, 0, symbol::make(name), 0xFFFFFFFFu};
    root::keep_copy(r);
    return r;
}
void init() {
    word::register_subtype(TYPE_REFINEMENT, "refinement!", &mold, false);
}
}  // namespace kiv::refinement

// ---- issue! -------------------------------------------------------------------------------------------

namespace kiv::issue {

namespace {

Cell issue_of(uint32_t symbol) {
    return Cell{TYPE_ISSUE, context::global(), symbol, 0xFFFFFFFFu};
}

// True when "#" followed by the UTF-8 name reads back as this issue. Without
// the lexer's scan-only mode: a non-empty name without blanks, control
// characters or delimiters.
bool name_reads_back(const uint8_t* s, uint32_t n) {
    // The scan looks at the first token only: a blank or a delimiter inside
    // the name would end it, so those are refused first.
    if (n == 0) return false;
    for (uint32_t i = 0; i < n;) {
        uint32_t used = 1;
        int32_t c = s[i] < 0x80 ? int32_t(s[i]) : unicode::check_utf8_char(s + i, n - i, &used);
        if (c < 0) return false;
        if (c <= 32 || c == 127 || (c < 128 && std::strchr("[](){}\";/", c))) return false;
        if (c == 133 || c == 160 || c == 5760 || c == 6158 || (c >= 8192 && c <= 8202) || c == 8232 ||
            c == 8233 || c == 8239 || c == 8287 || c == 12288)
            return false;
        i += used;
    }
    if (word::scan_type) {
        std::string text = "#";
        text.append(reinterpret_cast<const char*>(s), n);
        return word::scan_type(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size())) ==
               TYPE_ISSUE;
    }
    return true;
}

}  // namespace

Cell* make_at(Cell* cell, const char* name) {
    Cell v = issue_of(symbol::make(name));
    *cell = v;
    return cell;
}

Cell* make_in(const Cell* block, const char* name) {
    Cell b = *block;
    Cell v = issue_of(symbol::make(name));
    Cell* c = block_alloc_tail(&b);
    *c = v;
    return c;
}

Cell* load(const char* name) {
    if (root::recording) return make_in(&root::block, name);
    Cell v = issue_of(symbol::make(name));
    return stack::push(v);
}

Cell* push(const Cell* word) {
    Cell* c = stack::push(*word);
    c->set_type(TYPE_ISSUE);
    return c;
}

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    Cell s = *spec;
    switch (s.type()) {
        case TYPE_STRING:
        case TYPE_CHAR: {
            // An issue whose text would not read back as that issue ("a b")
            // is refused rather than made into a value that molds wrongly.
            std::string text;
            if (s.type() == TYPE_CHAR) {
                uint8_t buf[4];
                int n = unicode::encode_utf8_char(s.w2, buf);
                text.assign(reinterpret_cast<const char*>(buf), size_t(n));
            } else {
                int32_t length = -1;
                const uint8_t* bytes = unicode::to_utf8(&s, &length);
                text.assign(reinterpret_cast<const char*>(bytes), size_t(length));
            }
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
            if (!name_reads_back(bytes, uint32_t(text.size())))
                fire({"script", "bad-to-arg"}, datatype::cell(type), s);
            *proto = issue_of(symbol::make_from_utf8(bytes, uint32_t(text.size())));
            return proto;
        }
        case TYPE_WORD:
        case TYPE_LIT_WORD:
        case TYPE_SET_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
        case TYPE_ISSUE: {
            // The same rule for a name taken from a word ('< would mold as #<).
            const uint8_t* name = reinterpret_cast<const uint8_t*>(symbol::name(s.w2));
            if (!name_reads_back(name, symbol::name_length(s.w2)))
                fire({"script", "bad-to-arg"}, datatype::cell(type), s);
            s.header = (s.header & ~(header::TYPE_MASK | header::WORD_SET)) | TYPE_ISSUE;
            *proto = s;
            return proto;
        }
        default:
            return word::make(proto, spec, TYPE_ISSUE);
    }
}

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    return word::mold_affixed(value, out, budget, "#", nullptr);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_ISSUE) return NOT_COMPARABLE;
    return word::compare(value, other, op);
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_ISSUE, TYPE_WORD, "issue!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_TO>(make);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    r.inherit(ACT_FORM);
    datatype::register_type(r);
}

}  // namespace kiv::issue
