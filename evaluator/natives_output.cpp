// Output and comparison natives: print, prin, the seven comparisons, same?,
// not and type?.
//
// print and prin share one worker. A block argument is reduced into the
// natives' working block, after whatever an outer print (one whose block is
// being reduced right now) still holds there; the worker cuts the block back
// to where its own values began on every way out, so between prints it is
// empty and nested prints never see each other's values. Printing writes
// nothing itself: the formed text goes to hook list A, where the front end
// registers its writer (write_to_console below is the terminal's).
#include <cstring>

#include "datatypes/action_dispatch.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "evaluator/natives.h"
#include "evaluator/natives_impl.h"
#include "evaluator/runtime.h"
#include "platform/console_output.h"
#include "runtime/hooks.h"
#include "runtime/stack.h"

namespace kiv::natives {

uint32_t last_line_feed = 0;

namespace {

// Cuts the working block back to `mark` cells when the print that grew it
// leaves, however it leaves.
struct WorkingBlockGuard {
    Cell block;
    uint32_t mark;
    ~WorkingBlockGuard() { block::cells_clear_at(&block, mark); }
};

}  // namespace

Unwind print_value(uint32_t new_line) {
    Cell* base = stack::arg_base;
    if (stack::top < base + 1) stack::top = base + 1;
    if (base->type() == TYPE_BLOCK) {
        Cell work = working_block();
        uint32_t mark = series::buffer_length(&work);
        WorkingBlockGuard guard{work, mark};
        Cell* out = stack::push(work);
        out->w1 = mark;  // appending after an outer print's values
        Unwind code = reduce_into(base, out, false);
        if (code) return code;  // the stacks belong to the exit now
        *base = work;
        base->w1 = mark;
        stack::top = base + 1;
        Cell* text = runtime::form_part(base, 0);
        *base = *text;
        stack::top = base + 1;
        hooks::fire_2(base, new_line);
    } else {
        if (base->type() == TYPE_STRING) {
            series::get_length(base, false);  // an index past the tail becomes the tail
        } else {
            Cell* text = runtime::form_part(base, 0);
            *base = *text;
            stack::top = base + 1;
        }
        hooks::fire_2(base, new_line);
    }
    last_line_feed = new_line;
    *stack::arg_base = unset::cell();
    stack::top = stack::arg_base + 1;
    return UNWIND_NONE;
}

Unwind print(const int32_t*) {
    return print_value(1);
}

Unwind prin(const int32_t*) {
    return print_value(0);
}

void write_to_console(const Cell* value, uint32_t new_line) {
    if (!is_any_string(value->type())) return;
    const SeriesBuffer* b = buffer_of(value->w2);
    uint32_t unit = b->unit();
    uint32_t length = b->byte_count() / unit;
    uint32_t index = value->w1 < length ? value->w1 : length;
    const uint8_t* text = b->head_ptr() + size_t(index) * unit;
    size_t bytes = size_t(length - index) * unit;
    if (unit == 4 && console::is_console()) {
        // The screen path takes 1- and 2-byte units only.
        console::write_ucs4(reinterpret_cast<const char32_t*>(text), bytes);
        if (new_line) console::write_text("", 0, 1, true);
        return;
    }
    console::write_text(text, bytes, int(unit), new_line != 0);
}

// ---- Comparison -------------------------------------------------------------------------

namespace {

Unwind compare_native(int32_t op) {
    Cell* a = stack::arg_base;
    bool r = actions::compare(a, a + 1, op);
    *a = logic::cell(r);
    stack::top = a + 1;
    return UNWIND_NONE;
}

}  // namespace

Unwind equal_q(const int32_t*) {
    return compare_native(COMP_EQUAL);
}
Unwind not_equal_q(const int32_t*) {
    return compare_native(COMP_NOT_EQUAL);
}
Unwind strict_equal_q(const int32_t*) {
    return compare_native(COMP_STRICT_EQUAL);
}
Unwind lesser_q(const int32_t*) {
    return compare_native(COMP_LESSER);
}
Unwind greater_q(const int32_t*) {
    return compare_native(COMP_GREATER);
}
Unwind lesser_or_equal_q(const int32_t*) {
    return compare_native(COMP_LESSER_EQUAL);
}
Unwind greater_or_equal_q(const int32_t*) {
    return compare_native(COMP_GREATER_EQUAL);
}

bool same_value(const Cell* a, const Cell* b) {
    uint32_t t = a->type();
    if (t != b->type()) return false;
    switch (t) {
        case TYPE_DATATYPE:
        case TYPE_LOGIC:
        case TYPE_OBJECT:
            return a->w1 == b->w1;
        case TYPE_CHAR:
        case TYPE_INTEGER:
        case TYPE_BITSET:
            return a->w2 == b->w2;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_SET_PATH:
        case TYPE_GET_PATH:
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF:
        case TYPE_BINARY:
        case TYPE_VECTOR:
        case TYPE_IMAGE:
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_POINT2D:
            return a->w1 == b->w1 && a->w2 == b->w2;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_PAIR:
        case TYPE_TIME:
        case TYPE_OP:
            return a->w2 == b->w2 && a->w3 == b->w3;
        case TYPE_NONE:
        case TYPE_UNSET:
            return true;
        case TYPE_TUPLE: {
            uint32_t la = a->header & header::TUPLE_LENGTH_MASK;
            uint32_t lb = b->header & header::TUPLE_LENGTH_MASK;
            if (la != lb) return false;
            Cell x = *a, y = *b;
            return actions::compare_value(&x, &y, COMP_EQUAL) == 0;
        }
        case TYPE_MONEY: {
            Cell x = *a, y = *b;
            return actions::compare_value(&x, &y, COMP_SAME) == 0;
        }
        default:
            return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
    }
}

Unwind same_q(const int32_t*) {
    Cell* a = stack::arg_base;
    bool r = same_value(a, a + 1);
    *a = logic::cell(r);
    stack::top = a + 1;
    return UNWIND_NONE;
}

Unwind not_(const int32_t*) {
    Cell* a = stack::arg_base;
    *a = logic::cell(!lenient_true(a));
    stack::top = a + 1;
    return UNWIND_NONE;
}

Unwind type_q(const int32_t* refs) {
    Cell* a = stack::arg_base;
    uint32_t t = a->type();
    if (Refs<N_TYPE_Q>{refs}.has<"word">() && t <= TYPE_ID_LIMIT && datatype::names[t].word.header) {
        *a = datatype::names[t].word;
        a->set_type(TYPE_WORD);
    } else {
        *a = datatype::cell(t);
    }
    stack::top = a + 1;
    return UNWIND_NONE;
}

}  // namespace kiv::natives
