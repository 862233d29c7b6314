#include "datatypes/tuple.h"

#include <cmath>
#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/error.h"

namespace kiv::tuple {

void get_bytes(const Cell* c, uint8_t out[12]) {
    std::memcpy(out, &c->w1, 12);
}

Cell make(const uint8_t bytes[12], uint32_t len) {
    if (len < 3) len = 3;
    uint8_t b[12] = {};
    std::memcpy(b, bytes, len);
    Cell c{TYPE_TUPLE | (len << header::TUPLE_LENGTH_SHIFT), 0, 0, 0};
    std::memcpy(&c.w1, b, 12);
    return c;
}

namespace {

[[noreturn]] void bad_to_arg(const Cell& spec) {
    fire({"script", "bad-to-arg"}, datatype::cell(TYPE_TUPLE), spec);
}

int hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    return -1;
}

// The colour an issue! names in hexadecimal (RGB, RRGGBB or RRGGBBAA).
Cell from_issue(const Cell* issue) {
    const std::string_view text = symbol::name_view(issue->w2);
    int d[8];
    const size_t n = text.size();
    if (n != 3 && n != 6 && n != 8) fire({"script", "invalid-data"}, *issue);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t c = uint8_t(text[i]) & 0x7F;
        d[i] = c < 32 ? -1 : hex_digit(c);
        if (d[i] < 0) fire({"script", "invalid-data"}, *issue);
    }
    uint8_t b[12] = {};
    uint32_t len = 3;
    if (n == 3) {
        for (int i = 0; i < 3; ++i) b[i] = uint8_t(d[i] * 17);
    } else {
        len = uint32_t(n / 2);
        for (uint32_t i = 0; i < len; ++i) b[i] = uint8_t(d[2 * i] << 4 | d[2 * i + 1]);
    }
    return make(b, len);
}

Cell from_block(const Cell* spec) {
    Cell v[13];
    const uint32_t n = scalar::copy_block(spec, v, 13);
    if (n > 12) bad_to_arg(*spec);
    uint8_t b[12] = {};
    for (uint32_t i = 0; i < n; ++i) {
        int64_t x;
        switch (v[i].type()) {
            case TYPE_INTEGER:
                x = integer::get(&v[i]);
                break;
            case TYPE_CHAR:
                x = int64_t(v[i].w2);
                break;
            case TYPE_FLOAT: {
                const double f = std::trunc(v[i].get_f64());
                if (!(f >= 0 && f <= 255)) bad_to_arg(*spec);
                x = int64_t(f);
                break;
            }
            default:
                bad_to_arg(*spec);
        }
        if (x < 0 || x > 255) bad_to_arg(*spec);
        b[i] = uint8_t(x);
    }
    return make(b, n);
}

Outcome convert(Cell* proto, Cell* spec, uint32_t) {
    const uint32_t st = spec->type();
    switch (st) {
        case TYPE_TUPLE:
            copy_cell(spec, proto);
            return proto;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            *proto = from_block(spec);
            return proto;
        case TYPE_ISSUE:
            *proto = from_issue(spec);
            return proto;
        case TYPE_BINARY: {
            // The first bytes (at most 12), padded to 3.
            const integer::detail::TextView t = integer::detail::text_of(spec);
            uint8_t b[12] = {};
            const uint32_t n = t.count < 12 ? t.count : 12;
            std::memcpy(b, t.data, n);
            *proto = make(b, n);
            return proto;
        }
        default: {
            if (!is_any_string(st)) bad_to_arg(*spec);
            const Cell v = scalar::load_text(spec);
            if (v.type() != TYPE_TUPLE) bad_to_arg(*spec);
            *proto = v;
            return proto;
        }
    }
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
    uint8_t b[12];
    get_bytes(value, b);
    char text[64];
    size_t k = 0;
    for (uint32_t i = 0; i < length(value); ++i)
        k += size_t(std::snprintf(text + k, sizeof text - k, i ? ".%u" : "%u", b[i]));
    return budget - scalar::append(out, text);
}
int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, out, part, budget);
}

int32_t compare(Cell* value, Cell* other, int32_t) {
    if (other->type() != TYPE_TUPLE) return NOT_COMPARABLE;
    uint8_t a[12], b[12];
    get_bytes(value, a);
    get_bytes(other, b);
    const uint32_t n = std::max(length(value), length(other));
    for (uint32_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

inline uint8_t clamp(double v) {
    return v > 255 ? 255 : v > 0 ? uint8_t(v) : 0;
}

void do_math(int32_t op) {
    Cell* left = stack::arg_base;
    Cell* right = left + 1;
    if (left->type() != TYPE_TUPLE) {
        if (op == OP_SUB || op == OP_DIV)
            fire({"script", "not-related"}, scalar::word(integer::detail::op_name(op)),
                 datatype::cell(left->type()));
        const Cell t = *left;
        copy_cell(right, left);
        *right = t;
    }
    uint8_t a[12], b[12] = {};
    get_bytes(left, a);
    uint32_t len = length(left);
    const uint32_t rt = right->type();
    switch (rt) {
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            const double f = right->get_f64();
            for (uint32_t i = 0; i < len; ++i) {
                double r;
                switch (op) {
                    case OP_ADD:
                        r = a[i] + f;
                        break;
                    case OP_SUB:
                        r = a[i] - f;
                        break;
                    case OP_MUL:
                        r = a[i] * f;
                        break;
                    case OP_DIV:
                        r = a[i] / f;
                        break;
                    case OP_REM:
                        r = std::fmod(double(a[i]), f);
                        break;
                    default:
                        fire({"script", "invalid-type"}, datatype::cell(rt));
                }
                a[i] = clamp(std::trunc(r));
            }
            *left = make(a, len);
            return;
        }
        case TYPE_INTEGER:
            for (uint32_t i = 0; i < 12; ++i) b[i] = 0;
            break;
        case TYPE_TUPLE:
            get_bytes(right, b);
            len = std::max(len, length(right));
            break;
        default:
            fire({"script", "invalid-type"}, datatype::cell(rt));
    }
    for (uint32_t i = 0; i < len; ++i) {
        const int32_t y = rt == TYPE_INTEGER ? integer::get(right) : int32_t(b[i]);
        // A quotient is cut to a whole byte (the integer worker would make a
        // float of 10 / 3, which must not count as an overflow to 255).
        Cell result = integer::cell(0);
        const int32_t r = integer::do_math_op(int32_t(a[i]), y, op, op == OP_DIV ? nullptr : &result);
        if (result.type() != TYPE_INTEGER)
            a[i] = result.get_f64() > 0.0 ? 255 : 0;  // overflow or a fraction
        else
            a[i] = r > 255 ? 255 : r < 0 ? 0 : uint8_t(r);
    }
    *left = make(a, len);
}


Cell* complement(Cell* value) {
    uint8_t a[12];
    get_bytes(value, a);
    for (uint32_t i = 0; i < length(value); ++i) a[i] = uint8_t(~a[i]);
    *value = make(a, length(value));
    return value;
}

Count length_q(Cell* value) {
    return int32_t(length(value));
}

Outcome pick(Cell* value, int32_t index, Cell* index_cell) {
    if (index_cell->type() != TYPE_INTEGER || index < 1 || uint32_t(index) > length(value))
        fire({"script", "out-of-range"}, *index_cell);
    uint8_t a[12];
    get_bytes(value, a);
    return scalar::result(integer::cell(a[index - 1]));
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    if (element->type() != TYPE_INTEGER) fire({"script", "invalid-type"}, datatype::cell(element->type()));
    const int32_t index = integer::get(element);
    if (!value) return pick(parent, index, element);
    const uint32_t vt = value->type();
    if (vt != TYPE_INTEGER && vt != TYPE_NONE) fire({"script", "invalid-type"}, datatype::cell(vt));
    const uint32_t len = length(parent);
    if (index < 1 || uint32_t(index) > len) fire({"script", "out-of-range"}, *element);
    uint8_t a[12];
    get_bytes(parent, a);
    if (vt == TYPE_NONE) {
        for (uint32_t i = uint32_t(index) - 1; i < 12; ++i) a[i] = 0;
        *parent = make(a, uint32_t(index) - 1);
    } else {
        const int32_t x = integer::get(value);
        a[index - 1] = x > 255 ? 255 : x < 0 ? 0 : uint8_t(x);
        *parent = make(a, len);
    }
    return value;
}

Unwind random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->w1 ^ value->w2 ^ value->w3);
        *value = unset::cell();
        return UNWIND_NONE;
    }
    uint8_t a[12];
    get_bytes(value, a);
    for (uint32_t i = 0; i < length(value); ++i) a[i] = uint8_t(random::int_(a[i] + 1, secure) - 1);
    *value = make(a, length(value));
    return UNWIND_NONE;
}

Unwind reverse(Cell* value, Cell* part, Cell* skip) {
    const uint32_t len = length(value);
    uint32_t n = len, step = 1;
    if (part) {
        if (part->type() != TYPE_INTEGER) fire({"script", "invalid-refine-arg"}, scalar::word("part"), *part);
        if (integer::get(part) < 0) fire({"script", "out-of-range"}, *part);
        n = std::min(uint32_t(integer::get(part)), len);
    }
    if (skip) {
        if (skip->type() != TYPE_INTEGER) fire({"script", "invalid-refine-arg"}, scalar::word("skip"), *skip);
        if (integer::get(skip) < 1) fire({"script", "out-of-range"}, *skip);
        step = uint32_t(integer::get(skip));
        if (n < step || n % step != 0) fire({"script", "invalid-refine-arg"}, scalar::word("skip"), *skip);
    }
    uint8_t a[12];
    get_bytes(value, a);
    const uint32_t groups = n / step;
    for (uint32_t g = 0; g < groups / 2; ++g)
        for (uint32_t k = 0; k < step; ++k) std::swap(a[g * step + k], a[(groups - 1 - g) * step + k]);
    *value = make(a, len);
    return UNWIND_NONE;
}

}  // namespace

void init() {
    datatype::Registration r = datatype::blank(TYPE_TUPLE, 0, "tuple!");
    r.set<ACT_MAKE>(convert);
    r.set<ACT_RANDOM>(random);
    r.set<ACT_TO>(convert);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set_arithmetic<do_math>();
    r.set_bitwise<do_math>();
    r.set<ACT_COMPLEMENT>(complement);
    r.set<ACT_LENGTH_Q>(length_q);
    r.set<ACT_PICK>(pick);
    r.set<ACT_REVERSE>(reverse);
    datatype::register_type(r);
}

}  // namespace kiv::tuple
