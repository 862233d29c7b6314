// The series kernels (see series_kernels.h). Every cell is re-read through
// its node after anything that may allocate: the working values live in
// data-stack slots, positions are indexes.
#include "library/series_kernels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/fast_paths.h"
#include "runtime/cell.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::library::series_kernels {

using routine::arg;
using routine::result;

namespace {

// Leaves the made value as the result and the data stack as it was.
template <class A>
Unwind answer(A a, Cell* saved, const Cell made) {
    stack::top = saved;
    result(a) = made;
    return UNWIND_NONE;
}

// sum-values start values: start + v1 + v2 + ... in order, as `+` adds
// them; none, before any adding, unless the start and every value are
// integer! or float! (other values take the Kiv loop, whose `+` checks its
// arguments and may call what it meets). These two never fail: an integer
// sum past 32 bits is the float! `+` gives.
template <class A>
Unwind sum_values(A a) {
    const Cell values = arg<"values">(a);
    const uint32_t first = values.w1;
    const uint32_t end = first + block::cells_length(&values);
    auto number = [](uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT; };
    bool all_numbers = number(arg<"start">(a).type());
    for (uint32_t i = first; all_numbers && i < end; ++i)
        all_numbers = number(block::cells_at(&values, i)->type());
    if (!all_numbers) {
        result(a) = none::cell();
        return UNWIND_NONE;
    }
    Cell* saved = stack::top;
    const Cell plus = word::load("+");
    Cell* sum = stack::push(arg<"start">(a));
    const Cell* cells = buffer_of(values.w2)->head_cell();
    for (uint32_t i = first; i < end; ++i) {
        const Cell v = cells[i];
        if (!actions::math_inline(OP_ADD, sum, &v, sum)) {
            actions::math_op_top_fast(&plus, OP_ADD, &v);
            cells = buffer_of(values.w2)->head_cell();  // the action may have allocated
        }
    }
    return answer(a, saved, *sum);
}

// extract-values series width: a new series of the series' type holding
// every width-th value from its position (width at least 1), without
// new-line markers, as `append/only` of each gives them.
template <class A>
Unwind extract_values(A a) {
    const Cell series = arg<"series">(a);
    const int32_t width = std::max<int32_t>(1, int32_t(arg<"width">(a).w2));
    const uint32_t first = series.w1;
    const uint32_t count = block::cells_length(&series);
    Cell* saved = stack::top;
    const uint32_t taken = uint32_t((uint64_t(count) + uint32_t(width) - 1) / uint32_t(width));
    Cell* out = block::push_only(int32_t(taken));
    // Nothing allocates from here on: the cells are written in place.
    SeriesBuffer* ob = buffer_of(out->w2);
    const Cell* from = buffer_of(series.w2)->head_cell() + first;
    Cell* to = ob->head_cell();
    for (uint32_t k = 0; k < taken; ++k) {
        to[k] = from[uint64_t(k) * uint32_t(width)];
        to[k].clear_new_line();
    }
    ob->tail = ob->head + taken * uint32_t(sizeof(Cell));
    out->set_type(series.type());
    return answer(a, saved, *out);
}

// split-text series dlm: the pieces between the places where find finds
// the delimiter (each a copy/part of the series), then the rest.
template <class A>
Unwind split_text(A a) {
    Cell* saved = stack::top;
    Cell* series = stack::push(arg<"series">(a));
    Cell* dlm = stack::push(arg<"dlm">(a));
    uint32_t length = 1;
    const std::vector<uint32_t> at = string::find_each(series, dlm, false, &length);
    Cell* out = block::push_only(int32_t(at.size() + 1));
    Cell* piece = stack::push(none::cell());
    Cell* part = stack::push(integer::cell(0));
    for (uint32_t p : at) {
        *part = integer::cell(int32_t(p - series->w1));
        (void)series::copy(series, piece, part, false, nullptr);
        block::cells_append(out, piece);
        series->w1 = p + length;
    }
    (void)series::copy(series, piece, nullptr, false, nullptr);
    block::cells_append(out, piece);
    return answer(a, saved, *out);
}

// replace-text series pattern value case: the series from its position
// with every place where find (/case when asked) finds the pattern given
// the value's text instead, as a new string!; none when it is nowhere.
template <class A>
Unwind replace_text(A a) {
    Cell* saved = stack::top;
    Cell* series = stack::push(arg<"series">(a));
    Cell* pattern = stack::push(arg<"pattern">(a));
    Cell* value = stack::push(arg<"value">(a));
    const bool case_sensitive = logic::is_true(&arg<"case">(a));
    uint32_t length = 1;
    const std::vector<uint32_t> at = string::find_each(series, pattern, case_sensitive, &length);
    if (at.empty()) return answer(a, saved, none::cell());
    const uint32_t unit = string::buffer(series)->unit();
    if (string::buffer(value)->unit() == unit) {
        // One unit width: the result is laid out at once, piece by piece.
        const uint32_t from = series->w1, total = string::length_from_head(series);
        const uint32_t vlen = string::length(value);
        const uint64_t units =
            uint64_t(total - from) - uint64_t(at.size()) * length + uint64_t(at.size()) * vlen;
        if (units < 0x7FFFFFFFu / unit) {
            Cell* out = string::push_new(0);
            SeriesBuffer* ob = string::reserve(string::buffer(out), units, unit);
            // Nothing allocates from here on.
            uint8_t* to = ob->head_ptr();
            const uint8_t* text = string::buffer(series)->head_ptr();
            const uint8_t* with = string::buffer(value)->head_ptr() + size_t(value->w1) * unit;
            uint32_t pos = from;
            for (uint32_t p : at) {
                std::memcpy(to, text + size_t(pos) * unit, size_t(p - pos) * unit);
                to += size_t(p - pos) * unit;
                std::memcpy(to, with, size_t(vlen) * unit);
                to += size_t(vlen) * unit;
                pos = p + length;
            }
            std::memcpy(to, text + size_t(pos) * unit, size_t(total - pos) * unit);
            ob->tail = ob->head + uint32_t(units * unit);
            return answer(a, saved, *out);
        }
    }
    Cell* out = string::push_new(string::length(series));
    for (uint32_t p : at) {
        string::concatenate(out, series, int32_t(p - series->w1), 0, true, string::CONCAT_APPEND);
        string::concatenate(out, value, -1, 0, true, string::CONCAT_APPEND);
        series->w1 = p + length;
    }
    string::concatenate(out, series, -1, 0, true, string::CONCAT_APPEND);
    return answer(a, saved, *out);
}

const routine::Row ROWS[] = {
    KIV_ROUTINE("sum-values", "[start [any-type!] values [block! paren!]]", sum_values),
    KIV_ROUTINE("extract-values", "[series [block! paren!] width [integer!] return: [block! paren!]]",
                extract_values),
    KIV_ROUTINE("split-text", "[series [any-string!] dlm [string! char! bitset!] return: [block!]]",
                split_text),
    KIV_ROUTINE("replace-text",
                "[series [any-string!] pattern [any-string!] value [string!] case [logic!] return: [string! "
                "none!]]",
                replace_text),
};

}  // namespace

const routine::Table TABLE = routine::table("series-kernels", ROWS, false);

}  // namespace kiv::library::series_kernels
