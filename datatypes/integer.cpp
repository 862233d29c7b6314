#include "datatypes/integer.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "datatypes/action_dispatch.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/base_codecs.h"
#include "runtime/error.h"
#include "runtime/number_scan.h"
#include "runtime/random.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::integer {

namespace {

[[noreturn]] void overflow() {
    fire({"math", "overflow"});
}

uint32_t slot_of(int32_t op) {
    switch (op) {
        case OP_ADD:
            return ACT_ADD;
        case OP_SUB:
            return ACT_SUBTRACT;
        case OP_MUL:
            return ACT_MULTIPLY;
        case OP_DIV:
            return ACT_DIVIDE;
        case OP_REM:
            return ACT_REMAINDER;
        case OP_OR:
            return ACT_OR_T;
        case OP_AND:
            return ACT_AND_T;
        case OP_XOR:
            return ACT_XOR_T;
        default:
            return 0;
    }
}

// Conversion of a time! spec: seconds + 0.5 truncated toward zero.
int32_t from_seconds(double s) {
    double t = std::trunc(s + 0.5);
    if (!(t >= -2147483648.0 && t <= 2147483647.0))
        fire({"script", "type-limit"}, datatype::cell(TYPE_INTEGER));
    return static_cast<int32_t>(t);
}

}  // namespace

// ---- Helpers -----------------------------------------------------------------------

Cell* push(int32_t v) {
    Cell* c = stack::push_slot();
    *c = cell(v);
    return c;
}

Cell* box(int32_t v) {
    *stack::arg_base = cell(v);
    return stack::arg_base;
}

Cell* make_in(const Cell* block, int32_t v) {
    Cell* c = block_alloc_tail(block);
    *c = cell(v);
    return c;
}

int32_t get_star() {
    return get(stack::arg_base);
}
int32_t get_any_star() {
    return stack::arg_base->type() == TYPE_INTEGER ? get(stack::arg_base) : 0;
}

int32_t abs_checked(int32_t v) {
    if (v == INT32_MIN) overflow();
    return v < 0 ? -v : v;
}

const char* form_signed(int32_t v) {
    static char buffer[12];
    form_signed_r(v, buffer);
    return buffer;
}

// ---- Math ----------------------------------------------------------------------------

int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* result) {
    int32_t r = 0;
    switch (op) {
        case OP_ADD:
        case OP_SUB:
        case OP_MUL: {
            bool over = op == OP_ADD   ? __builtin_add_overflow(left, right, &r)
                        : op == OP_SUB ? __builtin_sub_overflow(left, right, &r)
                                       : __builtin_mul_overflow(left, right, &r);
            if (over) {
                if (!result) overflow();
                double l = left, rr = right;
                float_::make_at(result, op == OP_ADD ? l + rr : op == OP_SUB ? l - rr : l * rr);
                return 0;
            }
            break;
        }
        case OP_AND:
            r = left & right;
            break;
        case OP_OR:
            r = left | right;
            break;
        case OP_XOR:
            r = left ^ right;
            break;
        case OP_DIV:
        case OP_REM:
            if (right == 0) fire({"math", "zero-divide"});
            if (left == INT32_MIN && right == -1) overflow();
            if (op == OP_REM) {
                r = left % right;
            } else if (result && left % right != 0) {
                float_::make_at(result, static_cast<double>(left) / static_cast<double>(right));
                return 0;
            } else {
                r = left / right;
            }
            break;
        default:
            fire({"internal", "not-done"});
    }
    if (result) result->w2 = static_cast<uint32_t>(r);
    return r;
}

// integer op value, where the value's type does the work: the integer goes
// right and the value left, for that type's action.
inline void swap_operands(Cell* left, Cell* right) {
    const int32_t lv = get(left);
    copy_cell(right, left);
    *right = cell(lv);
}

Cell* do_math(int32_t op) {
    Cell* left = stack::arg_base;
    Cell* right = left + 1;
    const uint32_t rt = right->type();
    switch (rt) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            do_math_op(get(left), get(right), op, left);
            return left;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            return float_::do_math(op);
        case TYPE_MONEY:
        case TYPE_VECTOR:
            detail::call_math_action(rt, op);
            return left;
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D: {
            if (op == OP_DIV)
                fire({"script", "not-related"}, detail::word_named("divide"), datatype::cell(TYPE_INTEGER));
            swap_operands(left, right);
            if (op == OP_SUB) {
                // 1 - p is computed as (-p) + 1.
                auto neg = datatype::lookup<ACT_NEGATE>(rt);
                if (!neg) fire({"internal", "not-done"});
                neg(left);
                op = OP_ADD;
            }
            detail::call_math_action(rt, op);
            return left;
        }
        case TYPE_TUPLE: {
            if (op == OP_SUB || op == OP_DIV)
                fire({"script", "not-related"}, detail::word_named(detail::op_name(op)),
                     datatype::cell(TYPE_INTEGER));
            swap_operands(left, right);
            detail::call_math_action(rt, op);
            return left;
        }
        case TYPE_DATE: {
            if (op != OP_ADD)
                fire({"script", "not-related"}, detail::word_named(detail::op_name(op)),
                     datatype::cell(TYPE_INTEGER));
            swap_operands(left, right);
            detail::call_math_action(rt, op);
            return left;
        }
        default:
            fire({"script", "invalid-type"}, datatype::cell(rt));
    }
}


void absolute() {
    Cell* v = stack::arg_base;
    v->w2 = static_cast<uint32_t>(abs_checked(get(v)));
}

void negate(Cell* value) {
    int32_t v = get(value);
    if (v == INT32_MIN) overflow();
    value->w2 = static_cast<uint32_t>(-v);
}

Cell* complement(Cell* value) {
    value->w2 = ~value->w2;
    return value;
}

bool even_q(Cell* value) {
    return (value->w2 & 1u) == 0;
}
bool odd_q(Cell* value) {
    return (value->w2 & 1u) != 0;
}

void power() {
    Cell* base = stack::arg_base;
    Cell* exponent = base + 1;
    const uint32_t et = exponent->type();
    if (et != TYPE_INTEGER && et != TYPE_FLOAT)
        fire({"script", "expect-arg"}, detail::caller_word(), datatype::cell(et),
             detail::word_named("exponent"));
    if (et == TYPE_INTEGER && get(exponent) >= 0) {
        int32_t b = get(base);
        int32_t e = get(exponent);
        int32_t r = 1;
        bool fits = true;
        while (e != 0) {
            if ((e & 1) && __builtin_mul_overflow(r, b, &r)) {
                fits = false;
                break;
            }
            e >>= 1;
            if (e != 0 && __builtin_mul_overflow(b, b, &b)) {
                fits = false;
                break;
            }
        }
        if (fits) {
            base->w2 = static_cast<uint32_t>(r);
            return;
        }
    }
    // A float exponent, a negative one, or a result beyond 32 bits.
    float_::make_at(base, static_cast<double>(get(base)));
    float_::power();
}

void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    if (scale && scale->type() == TYPE_MONEY)
        fire({"script", "not-related"}, detail::caller_word(), datatype::cell(TYPE_MONEY));
    const int32_t v = get(value);
    if (v == INT32_MIN) return;
    if (scale && scale->type() != TYPE_INTEGER) {
        float_::make_at(value, static_cast<double>(v));
        float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
        return;
    }
    const int64_t s = scale ? abs_checked(get(scale)) : 1;
    const int64_t a = v < 0 ? -int64_t(v) : int64_t(v);
    if (s == 0 || a % s == 0) return;
    const int64_t r = a % s;
    const int64_t d = s - r;
    const int64_t up = a + d;
    auto toward = [&] { return v > 0 ? a - r : r - a; };
    auto away = [&] {
        if (up > INT32_MAX) overflow();
        return v > 0 ? up : -up;
    };
    int64_t result;
    if (down) {
        result = toward();
    } else if (floor) {
        result = v > 0 ? toward() : away();
    } else if (ceiling) {
        if (up > INT32_MAX) overflow();
        result = v < 0 ? toward() : away();
    } else if (r < d) {
        result = toward();
    } else if (r > d) {
        result = away();
    } else if (even) {
        result = ((a / s) % 2 == 0) ? toward() : away();
    } else if (half_down) {
        result = toward();
    } else if (half_ceiling) {
        result = v < 0 ? toward() : away();
    } else {
        result = away();
    }
    value->w2 = static_cast<uint32_t>(static_cast<int32_t>(result));
}

// ---- Conversions ---------------------------------------------------------------------

Outcome to(Cell* proto, Cell* spec, uint32_t /*type*/) {
    int32_t v = 0;
    const uint32_t st = spec->type();
    switch (st) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            v = get(spec);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = float_::get(spec);
            if (!(d >= -2147483648.0 && d <= 2147483647.0))
                fire({"script", "type-limit"}, datatype::cell(TYPE_INTEGER));
            v = static_cast<int32_t>(d);
            break;
        }
        case TYPE_TIME:
            v = from_seconds(float_::get(spec));
            break;
        case TYPE_BINARY: {
            detail::TextView t = detail::text_of(spec);
            uint32_t n = t.count < 4 ? t.count : 4;
            uint32_t u = 0;
            for (uint32_t i = 0; i < n; ++i) u = (u << 8) | t.data[i];
            v = static_cast<int32_t>(u);
            break;
        }
        case TYPE_ISSUE: {
            // The name read as at most 8 hexadecimal digits.
            const uint8_t* name = reinterpret_cast<const uint8_t*>(symbol::name(spec->w2));
            const uint32_t n = symbol::name_length(spec->w2);
            if (n == 0 || n > 8) fire({"script", "invalid-data"}, *spec);
            uint32_t u = 0;
            for (uint32_t i = 0; i < n; ++i) {
                const int d = base_codecs::hex_digit(name[i]);
                if (d < 0) fire({"script", "invalid-data"}, *spec);
                u = (u << 4) | uint32_t(d);
            }
            v = static_cast<int32_t>(u);
            break;
        }
        case TYPE_MONEY:
            v = money::to_integer(spec);
            break;
        case TYPE_DATE: {
            // Unix time; dates from 2038-01-19 on do not fit 32 bits.
            const double s = std::trunc(date::unix_seconds(spec) + 0.5);
            if (!(s >= -2147483648.0 && s <= 2147483647.0)) overflow();
            v = static_cast<int32_t>(s);
            break;
        }
        default:
            if (!is_any_string(st))
                fire({"script", "bad-to-arg"}, datatype::cell(TYPE_INTEGER), *spec);
            {
                int error = 0;
                const detail::TextView t = detail::text_of(spec);
                v = number::scan_integer(t.data, t.count, t.unit, &error);
                if (error) fire({"script", "bad-to-arg"}, datatype::cell(TYPE_INTEGER), *spec);
            }
    }
    *proto = cell(v);
    return proto;
}

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    if (spec->type() == TYPE_LOGIC) {
        *proto = cell(spec->w1 != 0 ? 1 : 0);
        return proto;
    }
    return to(proto, spec, type);
}

// ---- Other actions -------------------------------------------------------------------

Unwind random(Cell* value, bool seed, bool secure, bool /*only*/) {
    if (seed) {
        random::seed(value->w2);
        *value = unset::cell();
        return UNWIND_NONE;
    }
    value->w2 = static_cast<uint32_t>(random::int_(get(value), secure));
    return UNWIND_NONE;
}

int32_t form(Cell* value, Cell* out, Cell* /*part*/, int32_t budget) {
    char buf[12];
    int n = form_signed_r(get(value), buf);
    string::append_latin1(out, buf, uint32_t(n));
    return budget - n;
}

int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, out, part, budget);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    const uint32_t ot = other->type();
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && ot != TYPE_INTEGER) return 1;
    switch (ot) {
        case TYPE_INTEGER:
        case TYPE_CHAR: {
            int32_t a = get(value), b = get(other);
            return (a > b) - (a < b);
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            return float_::compare_numbers(value->type(), static_cast<double>(get(value)), ot,
                                           float_::get(other), op);
        case TYPE_MONEY:
            return money::compare_number(value, other, op);
        default:
            return NOT_COMPARABLE;
    }
}

// ---- Shared helpers ------------------------------------------------------------------

namespace detail {

uint32_t TextView::at(uint32_t i) const {
    return read_unit(data + size_t(i) * unit, unit);
}

TextView text_of(const Cell* series) {
    const SeriesBuffer* b = buffer_of(series->w2);
    const uint32_t unit = b->unit() ? b->unit() : 1;
    const uint32_t total = b->byte_count() / unit;
    const uint32_t index = series->w1;
    if (index >= total) return TextView{b->head_ptr(), unit, 0};
    return TextView{b->head_ptr() + size_t(index) * unit, unit, total - index};
}

Cell caller_word() {
    return word::caller();
}

Cell word_named(const char* name) {
    return word::load(name);
}

const char* op_name(int32_t op) {
    switch (op) {
        case OP_ADD:
            return "add";
        case OP_SUB:
            return "subtract";
        case OP_MUL:
            return "multiply";
        case OP_DIV:
            return "divide";
        case OP_REM:
            return "remainder";
        case OP_OR:
            return "or~";
        case OP_AND:
            return "and~";
        case OP_XOR:
            return "xor~";
        default:
            return "math";
    }
}

void call_math_action(uint32_t type, int32_t op) {
    const uint32_t slot = slot_of(op);
    auto f = slot ? entry_as<action::StackOp>(datatype::lookup(type, slot), slot) : nullptr;
    if (!f) fire({"internal", "not-done"});
    // The math actions run no Kiv code (no port! has them).
    if (Unwind code = f()) [[unlikely]]
        actions::unexpected_unwind(code);
}

}  // namespace detail

// ---- Registration --------------------------------------------------------------------

void init() {
    datatype::Registration r = datatype::blank(TYPE_INTEGER, 0, "integer!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_RANDOM>(random);
    r.set<ACT_TO>(to);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_ABSOLUTE>(no_unwind<absolute>);
    r.set_arithmetic<do_math>();
    r.set<ACT_NEGATE>(negate);
    r.set<ACT_POWER>(no_unwind<power>);
    r.set<ACT_ROUND>(round);
    r.set<ACT_EVEN_Q>(even_q);
    r.set<ACT_ODD_Q>(odd_q);
    r.set_bitwise<do_math>();
    r.set<ACT_COMPLEMENT>(complement);
    datatype::register_type(r);
}

}  // namespace kiv::integer
