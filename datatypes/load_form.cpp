#include "datatypes/load_form.h"

#include <climits>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::runtime {

namespace {

// A string with the /part machinery: a temporary string on the stack, the
// value formed or molded into it with the limit as budget, then cut.
Cell* limited_text(const Cell* value, int32_t limit, bool mold, bool flat, bool only) {
    Cell* v = stack::push(*value);
    Cell* part = limit > 0 ? stack::push(Cell{TYPE_INTEGER, 0, uint32_t(limit), 0}) : nullptr;
    Cell* out = string::make_at(stack::push_slot(), 0);
    int32_t budget = limit > 0 ? limit : INT_MAX;
    if (mold)
        actions::mold(v, out, only, false, flat, part, budget, 0);
    else
        actions::form(v, out, part, budget);
    if (limit > 0) string::truncate_at(string::buffer(out), uint32_t(limit));
    return out;
}

}  // namespace

LexerLoad lexer_load = nullptr;

Cell* load_single(const Cell* text, Cell* target) {
    if (!lexer_load) fire({"internal", "not-done"});
    Cell* saved = stack::top;
    Cell* t = stack::push(*text);
    Cell* blk = stack::push(none::cell());
    uint32_t consumed = lexer_load(t, blk);
    Cell out;
    if (consumed < string::length(t) || blk->type() != TYPE_BLOCK) {
        out = none::cell();
    } else {
        uint32_t n = block::cells_length(blk);
        // Several values are not one value: none, so that callers that need
        // exactly one (to word! "a b") can refuse the text.
        if (n == 0)
            out = unset::cell();
        else if (n > 1)
            out = none::cell();
        else
            out = *block::cells_head(blk);
    }
    out.clear_new_line();
    stack::top = saved;
    *target = out;
    return target;
}

Cell* load_single_result(const Cell* text) {
    Cell t = *text;
    return load_single(&t, stack::arg_base);
}

void load_single_utf8(const uint8_t* utf8, uint32_t length, Cell* result) {
    Cell* saved = stack::top;
    Cell* s = stack::push(none::cell());
    string::load(utf8, length, s, string::ENC_UTF8);
    Cell* r = stack::push(none::cell());
    load_single(s, r);
    Cell v = *r;
    stack::top = saved;
    *result = v;
}

Cell* form_part(const Cell* value, int32_t limit) {
    Cell* saved = stack::top;
    Cell* out = limited_text(value, limit, false, false, false);
    Cell s = *out;
    stack::top = saved;
    return stack::push(s);
}

uint32_t append_limited(Cell* out, const Cell* value, int32_t limit, bool mold, bool flat, bool only) {
    Cell* saved = stack::top;
    Cell* text = limited_text(value, limit, mold, flat, only);
    uint32_t n = string::length(text);
    string::concatenate(out, text, -1, 0, true, string::CONCAT_APPEND);
    stack::top = saved;
    return n;
}

}  // namespace kiv::runtime
