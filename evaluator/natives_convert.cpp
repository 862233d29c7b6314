// Natives that build or retype values: the case changers, the makers of
// pair!, point!, and money! values, the series coercion `as` and the
// new-line markers of list series.
#include <cmath>

#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "evaluator/natives.h"
#include "runtime/case_fold.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace kiv::natives {

namespace {

Unwind put(const Cell& result) {
    *stack::arg_base = result;
    stack::top = stack::arg_base + 1;
    return UNWIND_NONE;
}

// ---- Case ---------------------------------------------------------------------------------

Unwind change_case(const Cell* limit, bool upper) {
    Cell* v = stack::arg_base;
    if (v->type() == TYPE_CHAR) {
        v->w2 = casefold::change_char(v->w2, upper);
        return put(*v);
    }
    const uint32_t length = series::buffer_length(v);
    const uint32_t index = v->w1 < length ? v->w1 : length;
    uint32_t count = length - index;
    if (limit) {
        int64_t n;
        const uint32_t t = limit->type();
        if (t == TYPE_INTEGER) {
            n = integer::get(limit);
        } else if (t == TYPE_FLOAT || t == TYPE_PERCENT) {
            const double d = limit->get_f64();
            n = d != d ? 0 : d > 4294967295.0 ? int64_t(4294967295) : d < 0 ? 0 : int64_t(d);
        } else if (t == v->type() && limit->w2 == v->w2) {
            n = int64_t(limit->w1) - int64_t(index);
        } else {
            fire({"script", "invalid-refine-arg"}, series::arg_word("part"), *limit);
        }
        if (n < 0) n = 0;
        if (uint64_t(n) < count) count = uint32_t(n);
    }
    casefold::change_units(v->w2, index, count, upper);
    // An owning object hears of the change once it is made.
    if (Unwind code = series::notify_owner(v, upper ? ownership::OwnerEvent::UPPERCASE : ownership::OwnerEvent::LOWERCASE, nullptr, index, count, nullptr))
        return code;
    return put(*v);
}

// A pair coordinate: an integer as it is, a float truncated toward zero.
// An infinite or NaN float is an invalid argument; a finite one outside the
// 32-bit range overflows.
int32_t pair_coordinate(const Cell* v) {
    if (v->type() == TYPE_INTEGER) return integer::get(v);
    const double d = v->get_f64();
    if (std::isnan(d) || std::isinf(d)) fire({"script", "invalid-arg"}, *v);
    if (!(d < 2147483648.0 && d > -2147483649.0)) fire({"math", "overflow"});
    return int32_t(d);
}

// A point coordinate: any number rounded to a 32-bit float.
float point_coordinate(const Cell* v) {
    return v->type() == TYPE_INTEGER ? float(integer::get(v)) : float(v->get_f64());
}

bool list_class(uint32_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}

}  // namespace

// uppercase string /part limit
Unwind uppercase(const int32_t* refs) {
    return change_case(Refs<N_UPPERCASE>{refs}.arg<"part">(), true);
}

// lowercase string /part limit
Unwind lowercase(const int32_t* refs) {
    return change_case(Refs<N_LOWERCASE>{refs}.arg<"part">(), false);
}

Unwind as_pair(const int32_t*) {
    const Cell* v = stack::arg_base;
    const int32_t x = pair_coordinate(v);
    return put(pair::make(x, pair_coordinate(v + 1)));
}

Unwind as_point2d(const int32_t*) {
    const Cell* v = stack::arg_base;
    return put(point::make2(point_coordinate(v), point_coordinate(v + 1)));
}

Unwind as_point3d(const int32_t*) {
    const Cell* v = stack::arg_base;
    return put(point::make3(point_coordinate(v), point_coordinate(v + 1), point_coordinate(v + 2)));
}

// as-money currency amount
Unwind as_money(const int32_t*) {
    const Cell* v = stack::arg_base;
    return put(money::with_currency(v, v + 1));
}

// as type spec: the same series seen as another type of its class (list or
// text); nothing is copied.
Unwind as(const int32_t*) {
    Cell* v = stack::arg_base;
    const uint32_t target = v->type() == TYPE_DATATYPE ? v->w1 : v->type();
    Cell spec = v[1];
    const uint32_t own = spec.type();
    if (!((list_class(target) && list_class(own)) || (is_any_string(target) && is_any_string(own))))
        fire({"script", "not-same-class"}, datatype::cell(own), datatype::cell(target));
    spec.set_type(target);
    return put(spec);
}

// new-line position value /all /skip size
Unwind new_line(const int32_t* refs) {
    Refs<N_NEW_LINE> r{refs};
    Cell* v = stack::arg_base;
    const bool on = logic::get(v + 1);
    uint32_t step = 0;  // 0: only the cell at the position
    if (r.has<"all">()) step = 1;
    if (const Cell* size = r.arg<"skip">()) {
        const int32_t n = integer::get(size);
        if (n <= 0) fire({"script", "out-of-range"}, *size);
        step = uint32_t(n);
    }
    const SeriesBuffer* b = series::buffer(v);
    const uint32_t length = b->byte_count() / sizeof(Cell);
    Cell* cells = b->head_cell();
    const uint32_t end = step == 0 ? (v->w1 < length ? v->w1 + 1 : v->w1) : length;
    for (uint32_t i = v->w1, k = 0; i < end; ++i, ++k) {
        const bool mark = step <= 1 || k % step == 0 ? on : !on;
        if (mark)
            cells[i].header |= header::NEW_LINE;
        else
            cells[i].header &= ~header::NEW_LINE;
    }
    return put(*v);
}

Unwind new_line_q(const int32_t*) {
    const Cell* v = stack::arg_base;
    const SeriesBuffer* b = series::buffer(v);
    const bool marked = v->w1 < b->byte_count() / sizeof(Cell) && b->head_cell()[v->w1].new_line();
    return put(logic::cell(marked));
}

}  // namespace kiv::natives
