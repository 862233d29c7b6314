#include "datatypes/money.h"

#include <cmath>
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/lexer_values.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system_object.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/number_scan.h"
#include "runtime/random.h"
#include "runtime/stack.h"

namespace kiv::money {

namespace {

using u128 = unsigned __int128;

constexpr uint32_t DIGITS = 22;
constexpr uint32_t FRACTION = 5;

u128 pow10(uint32_t n) {
    u128 r = 1;
    while (n--) r *= 10;
    return r;
}
const u128 LIMIT = pow10(DIGITS);  // magnitudes stay below
const u128 SCALE = pow10(FRACTION);

// An unpacked value: sign, currency and magnitude in 100000ths.
struct Amount {
    bool negative = false;
    uint32_t currency = 0;
    u128 m = 0;
};

[[noreturn]] void type_limit() {
    fire({"script", "type-limit"}, datatype::cell(TYPE_MONEY));
}

Amount unpack(const Cell* c) {
    Amount a;
    a.negative = (c->header & header::MONEY_SIGN) != 0;
    a.currency = c->w1 & 0xFF;
    for (uint32_t n = 1; n <= DIGITS; ++n) a.m = a.m * 10 + lexer::values::money_digit(c, n);
    return a;
}

Cell pack(const Amount& a) {
    if (a.m >= LIMIT) type_limit();
    uint8_t bytes[12] = {};
    bytes[0] = uint8_t(a.currency);
    u128 m = a.m;
    for (uint32_t n = DIGITS; n >= 1; --n) {
        const uint8_t d = uint8_t(m % 10);
        m /= 10;
        uint8_t& b = bytes[1 + (n - 1) / 2];
        b |= (n & 1) ? uint8_t(d << 4) : d;
    }
    Cell c{TYPE_MONEY | (a.negative && a.m != 0 ? header::MONEY_SIGN : 0), 0, 0, 0};
    std::memcpy(&c.w1, bytes, 12);
    return c;
}

// Significant digits of a magnitude (from the first non-zero one), at least 1.
uint32_t count_digits(u128 m) {
    uint32_t n = 0;
    while (m) {
        ++n;
        m /= 10;
    }
    return n ? n : 1;
}

// ---- Currencies -------------------------------------------------------------------

// The currency list's word at a 1-based index (none when it has none).
Cell currency_word(uint32_t index) {
    if (index == 0) return none::cell();
    Cell* list = system_object::field({"locale", "currencies", "list"});
    if (list && list->type() == TYPE_BLOCK) {
        Cell cells[256];
        const uint32_t n = scalar::copy_block(list, cells, 256);
        if (index <= n && index <= 256) return cells[index - 1];
    }
    // Before the library is up: the built-in list the lexer reads.
    char code[4];
    if (!lexer::values::builtin_currency_code(index, code)) return none::cell();
    return word::load(code);
}

// The index of a currency word, or -1.
int32_t find_currency(const Cell* w) {
    const uint32_t id = symbol::resolve(w->w2);
    Cell* list = system_object::field({"locale", "currencies", "list"});
    if (list && list->type() == TYPE_BLOCK) {
        Cell cells[256];
        const uint32_t n = scalar::copy_block(list, cells, 256);
        for (uint32_t i = 0; i < n && i < 255; ++i)
            if (cells[i].type() == TYPE_WORD && symbol::resolve(cells[i].w2) == id) return int32_t(i + 1);
        return -1;
    }
    const std::string_view name = symbol::name_view(w->w2);
    if (name.size() != 3) return -1;
    return lexer::values::builtin_currency(name.data());
}

// The words of system/locale/currencies/list, made once the system object
// exists, so that the lexer's look-up below makes nothing.
Cell list_path[4];

// The lexer's currency look-up once the library is up: the position of a
// code in the live list (codes appended to it load in money literals too).
// It allocates nothing, since the text it scans may lie in a series buffer.
int32_t live_currency(const char code[3]) {
    Cell current = *context::get_word(&list_path[0]);
    for (uint32_t i = 1; i < 4; ++i) {
        if (!object::is_object_like(current.type())) return lexer::values::builtin_currency(code);
        const int32_t at = object::find_word(&current, &list_path[i]);
        if (at < 0) return lexer::values::builtin_currency(code);
        current = *context::values_at(object::context_of(&current), uint32_t(at));
    }
    if (current.type() != TYPE_BLOCK) return lexer::values::builtin_currency(code);
    const SeriesBuffer* b = buffer_of(current.w2);
    const uint32_t total = b->byte_count() / sizeof(Cell);
    const Cell* cells = b->head_cell();
    for (uint32_t i = current.w1; i < total && i - current.w1 < 255; ++i) {
        if (cells[i].type() != TYPE_WORD) continue;
        const std::string_view name = symbol::name_view(cells[i].w2);
        if (name.size() != 3) continue;
        bool same = true;
        for (uint32_t k = 0; k < 3 && same; ++k) {
            const char a = name[k], c = code[k];
            same = (a >= 'a' && a <= 'z' ? char(a - 32) : a) == (c >= 'a' && c <= 'z' ? char(c - 32) : c);
        }
        if (same) return int32_t(i - current.w1 + 1);
    }
    return -1;
}

// ---- Text ---------------------------------------------------------------------------

int32_t fraction_digits(bool all) {
    int32_t c = 2;
    if (Cell* o = system_object::field({"options", "money-digits"}); o && o->type() == TYPE_INTEGER)
        c = integer::get(o);
    if (all || c > 5) c = 5;
    return c;
}

int32_t form_into(const Cell* value, Cell* out, bool all, bool group) {
    const Amount a = unpack(value);
    int32_t n = 0;
    if (a.negative && a.m) n += scalar::append(out, "-");
    if (a.currency) {
        const Cell w = currency_word(a.currency);
        if (w.type() == TYPE_WORD) {
            n -= word::form_name(w.w2, out, 0);
        }
    }
    n += scalar::append(out, "$");
    char digits[DIGITS + 1];
    u128 m = a.m;
    for (int i = DIGITS - 1; i >= 0; --i) {
        digits[i] = char('0' + int(m % 10));
        m /= 10;
    }
    digits[DIGITS] = 0;
    char text[64];
    size_t k = 0;
    const uint32_t count = count_digits(a.m);
    if (count > FRACTION) {
        for (uint32_t i = DIGITS - count + 1; i <= 17; ++i) {
            text[k++] = digits[i - 1];
            if (group && i != 17 && (i + 1) % 3 == 0) text[k++] = '\'';
        }
    } else {
        text[k++] = '0';
    }
    const int32_t c = fraction_digits(all);
    if (c >= 1) {
        text[k++] = '.';
        for (int32_t i = 0; i < c; ++i) text[k++] = digits[17 + i];
    }
    text[k] = 0;
    return n + scalar::append(out, text);
}

// ---- Conversions ---------------------------------------------------------------------

Amount amount_of_float(double v) {
    const double a = std::fabs(v);
    if (!(a < 1e17) || (a != 0 && a < 1e-5))
        fire({"script", "bad-make-arg"}, datatype::cell(TYPE_MONEY), float_::cell(v));
    Amount r;
    r.negative = v < 0;
    if (a == 0) return r;
    // The float's shortest decimal digits, placed at their decimal position
    // (digits beyond the fifth fraction digit are cut).
    float_text::Digits d;
    float_text::dtoa_r(a, 0, false, d);
    const char* s = d.string();
    const int shift = d.point + int(FRACTION);  // digits of the 100000ths
    for (int i = 0; i < d.count && i < shift; ++i) r.m = r.m * 10 + u128(s[i] - '0');
    for (int i = d.count; i < shift; ++i) r.m *= 10;
    return r;
}

Amount amount_of(const Cell* c) {
    switch (c->type()) {
        case TYPE_MONEY:
            return unpack(c);
        case TYPE_INTEGER: {
            Amount a;
            const int64_t v = integer::get(c);
            a.negative = v < 0;
            a.m = u128(v < 0 ? -v : v) * SCALE;
            return a;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            return amount_of_float(c->get_f64());
        default:
            fire({"script", "invalid-type"}, datatype::cell(c->type()));
    }
}

}  // namespace

int32_t sign(const Cell* money) {
    const Amount a = unpack(money);
    return a.m == 0 ? 0 : a.negative ? -1 : 1;
}

Cell with_currency(const Cell* currency, const Cell* amount) {
    const int32_t cur = find_currency(currency);
    if (cur < 1) fire({"script", "bad-denom"}, *currency);
    Amount a = amount_of(amount);
    a.currency = uint32_t(cur);
    return pack(a);
}

namespace {

[[noreturn]] void bad_to_arg(const Cell& spec) {
    fire({"script", "bad-to-arg"}, datatype::cell(TYPE_MONEY), spec);
}

Cell from_text(const Cell* spec) {
    const integer::detail::TextView t = integer::detail::text_of(spec);
    int err = 0;
    Cell v{};
    number::scan_money(t.data, t.count, t.unit, &err, &v, &lexer::values::make_money);
    if (err != number::SCAN_OK) bad_to_arg(*spec);
    return v;
}

Outcome to(Cell* proto, Cell* spec, uint32_t) {
    const uint32_t st = spec->type();
    switch (st) {
        case TYPE_MONEY:
            copy_cell(spec, proto);
            return proto;
        case TYPE_INTEGER:
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            *proto = pack(amount_of(spec));
            return proto;
        default:
            if (!is_any_string(st)) bad_to_arg(*spec);
            *proto = from_text(spec);
            return proto;
    }
}

Outcome make(Cell* proto, Cell* spec, uint32_t type) {
    const uint32_t st = spec->type();
    auto bad = [&]() { fire({"script", "bad-make-arg"}, datatype::cell(TYPE_MONEY), *spec); };
    if (st == TYPE_WORD) {
        const int32_t cur = find_currency(spec);
        if (cur < 1) bad();
        Amount a;
        a.currency = uint32_t(cur);
        *proto = pack(a);
        return proto;
    }
    if (st != TYPE_BLOCK) return to(proto, spec, type);
    Cell v[4];
    const uint32_t n = scalar::copy_block(spec, v, 4);
    if (n < 1 || n > 3) bad();
    uint32_t i = 0;
    uint32_t cur = 0;
    if (v[0].type() == TYPE_WORD) {
        const int32_t k = find_currency(&v[0]);
        if (k < 1) bad();
        cur = uint32_t(k);
        ++i;
    }
    if (i >= n || (v[i].type() != TYPE_INTEGER && v[i].type() != TYPE_FLOAT)) bad();
    Amount a = amount_of(&v[i++]);
    if (i < n) {
        if (v[i].type() != TYPE_INTEGER || integer::get(&v[i]) < 0) bad();
        a.m += u128(uint32_t(integer::get(&v[i++])));
    }
    if (i != n) bad();
    a.currency = cur;
    *proto = pack(a);
    return proto;
}

// ---- Math -------------------------------------------------------------------------------

Amount add_amounts(Amount a, Amount b) {
    Amount r;
    if (a.negative == b.negative) {
        r.negative = a.negative;
        r.m = a.m + b.m;
        if (r.m >= LIMIT) type_limit();
    } else if (a.m >= b.m) {
        r.negative = a.negative;
        r.m = a.m - b.m;
    } else {
        r.negative = b.negative;
        r.m = b.m - a.m;
    }
    return r;
}

// |a| / |b| with 5 fraction digits (cut), or the remainder of |a| with the sign of a.
Amount divide_amounts(const Amount& a, const Amount& b, bool remainder) {
    if (b.m == 0) fire({"math", "zero-divide"});
    Amount r;
    if (a.m == 0) return r;
    if (remainder) {
        r.negative = a.negative;
        r.m = a.m % b.m;
        return r;
    }
    if (int32_t(count_digits(a.m)) - int32_t(count_digits(b.m)) + 6 > int32_t(DIGITS)) type_limit();
    r.m = a.m * SCALE / b.m;
    if (r.m >= LIMIT) type_limit();
    r.negative = a.negative != b.negative;
    return r;
}

Amount multiply_amounts(const Amount& a, const Amount& b) {
    Amount r;
    if (a.m == 0 || b.m == 0) return r;
    if (count_digits(a.m) + count_digits(b.m) > 28) type_limit();
    r.m = a.m * b.m / SCALE;
    if (r.m >= LIMIT) type_limit();
    r.negative = a.negative != b.negative;
    return r;
}

// The math actions' worker: a money! on either side of add, subtract and
// multiply, on the left of divide and remainder.
void do_math(int32_t op) {
    Cell* left = stack::arg_base;
    Cell* right = left + 1;
    const uint32_t lt = left->type(), rt = right->type();
    if (op < OP_ADD || op > OP_REM) fire({"script", "invalid-type"}, datatype::cell(lt));
    if ((op == OP_MUL && lt == TYPE_MONEY && rt == TYPE_MONEY) ||
        ((op == OP_DIV || op == OP_REM) && lt != TYPE_MONEY))
        fire({"script", "invalid-type"}, datatype::cell(lt));
    const Amount a = amount_of(left);
    const Amount b = amount_of(right);
    if (a.currency && b.currency && a.currency != b.currency) fire({"script", "wrong-denom"}, *left, *right);
    const uint32_t cur = b.currency ? b.currency : a.currency;
    Amount r;
    switch (op) {
        case OP_ADD:
            r = add_amounts(a, b);
            break;
        case OP_SUB: {
            Amount nb = b;
            nb.negative = !b.negative;
            r = add_amounts(a, nb);
            break;
        }
        case OP_MUL:
            r = multiply_amounts(a, b);
            break;
        case OP_DIV:
            r = divide_amounts(a, b, false);
            if (rt == TYPE_MONEY) {
                // A ratio of two amounts: the quotient's decimal text read as a float.
                r.currency = 0;
                const Cell q = pack(r);
                float_::make_at(left, to_float(&q));
                return;
            }
            break;
        default:
            r = divide_amounts(a, b, true);
            break;
    }
    r.currency = cur;
    *left = pack(r);
}


void absolute() {
    stack::arg_base->header &= ~header::MONEY_SIGN;
}

void negate(Cell* value) {
    Amount a = unpack(value);
    a.negative = !a.negative;
    *value = pack(a);
}

bool odd_q(Cell* value) {
    return (lexer::values::money_digit(value, 17) & 1) != 0;
}
bool even_q(Cell* value) {
    return !odd_q(value);
}

void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    Amount v = unpack(value);
    if (v.m == 0) return;
    Amount s;
    if (!scale) {
        s.m = SCALE;
    } else {
        const uint32_t st = scale->type();
        if (st != TYPE_MONEY && st != TYPE_INTEGER && st != TYPE_FLOAT && st != TYPE_PERCENT)
            fire({"script", "not-related"}, integer::detail::caller_word(), datatype::cell(st));
        s = amount_of(scale);
    }
    if (s.m == 0) return;
    const u128 a = v.m, r = a % s.m, d = s.m - r;
    auto toward = [&] { return a - r; };
    auto away = [&] {
        if (a + d >= LIMIT) type_limit();
        return a + d;
    };
    u128 m;
    if (r == 0) {
        m = a;
    } else if (down) {
        m = toward();
    } else if (floor) {
        m = v.negative ? away() : toward();
    } else if (ceiling) {
        m = v.negative ? toward() : away();
    } else if (r != d) {
        m = r > d ? away() : toward();
    } else if (even) {
        // A tie goes to the even multiple of the scale.
        m = (a / s.m) % 2 == 0 ? toward() : away();
    } else if (half_down) {
        m = toward();
    } else if (half_ceiling) {
        m = v.negative ? toward() : away();
    } else {
        m = away();
    }
    v.m = m;
    *value = pack(v);
}

// ---- Comparison -----------------------------------------------------------------------

int32_t compare_amounts(const Amount& a, const Amount& b) {
    const int sa = a.m == 0 ? 0 : a.negative ? -1 : 1;
    const int sb = b.m == 0 ? 0 : b.negative ? -1 : 1;
    if (sa != sb) return sa < sb ? -1 : 1;
    if (a.m == b.m) return 0;
    const int r = a.m < b.m ? -1 : 1;
    return sa < 0 ? -r : r;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    const uint32_t ot = other->type();
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && ot != TYPE_MONEY) return 1;
    const Amount a = unpack(value);
    Amount b;
    switch (ot) {
        case TYPE_MONEY: {
            b = unpack(other);
            const bool compatible = !a.currency || !b.currency || a.currency == b.currency;
            switch (op) {
                case COMP_LESSER:
                case COMP_LESSER_EQUAL:
                case COMP_GREATER:
                case COMP_GREATER_EQUAL:
                    if (!compatible) fire({"script", "wrong-denom"}, *value, *other);
                    break;
                case COMP_STRICT_EQUAL:
                case COMP_SAME:
                    if (a.currency != b.currency) return 1;
                    break;
                case COMP_FIND:
                    if (b.currency && a.currency != b.currency) return 1;
                    break;
                case COMP_EQUAL:
                case COMP_NOT_EQUAL:
                    if (!compatible) return 1;
                    break;
                case COMP_SORT:
                case COMP_CASE_SORT:
                    if (a.currency != b.currency) {
                        if (!a.currency) return -1;
                        if (!b.currency) return 1;
                        Cell wa = currency_word(a.currency), wb = currency_word(b.currency);
                        if (wa.type() == TYPE_WORD && wb.type() == TYPE_WORD) {
                            // Copies: building one name string may move the other.
                            Cell sa = *symbol::get(wa.w2);
                            Cell sb = *symbol::get(wb.w2);
                            const int32_t c = symbol::compare(&sa, &sb, op);
                            if (c) return c;
                        }
                    }
                    break;
                default:
                    break;
            }
            break;
        }
        case TYPE_INTEGER:
            b = amount_of(other);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            const double f = other->get_f64();
            const double af = std::fabs(f);
            if (!(af < 1e17) || (af != 0 && af < 1e-5)) {
                if (f != f) return 1;
                // Beyond what money can hold: the float's magnitude decides.
                if (af >= 1e17) return f > 0 ? -1 : 1;
                b.negative = f < 0;
                b.m = 0;
                const int32_t c = compare_amounts(a, b);
                return c ? c : (f > 0 ? -1 : 1);
            }
            b = amount_of(other);
            break;
        }
        default:
            return NOT_COMPARABLE;
    }
    return compare_amounts(a, b);
}

// ---- Other actions ---------------------------------------------------------------------

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
    return budget - form_into(value, out, false, true);
}
int32_t mold(Cell* value, Cell* out, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    return budget - form_into(value, out, all, false);
}

Cell get_field(const Cell* value, int32_t field) {
    if (field == 1) return currency_word(value->w1 & 0xFF);
    Cell r = *value;
    r.w1 &= ~0xFFu;
    return r;
}

int32_t field_of(const Cell* element) {
    static const uint16_t names[] = {fixed::SYM_CODE, fixed::SYM_AMOUNT};
    if (element->type() == TYPE_INTEGER) {
        const int32_t i = integer::get(element);
        return i == 1 || i == 2 ? i : -1;
    }
    return scalar::word_index(element, names, 2);
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    const int32_t field = field_of(element);
    if (field < 0) scalar::invalid_path(path, element);
    if (value) fire({"script", "bad-path-set"}, path ? *path : none::cell(), *element);
    return scalar::result(get_field(parent, field));
}

Outcome pick(Cell* value, int32_t, Cell* index_cell) {
    const int32_t field = field_of(index_cell);
    if (field < 0) fire({"script", "out-of-range"}, *index_cell);
    return scalar::result(get_field(value, field));
}

Unwind random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->w1 ^ value->w2 ^ value->w3 ^ (value->header & header::MONEY_SIGN));
        *value = unset::cell();
        return UNWIND_NONE;
    }
    Amount a = unpack(value);
    uint8_t d[DIGITS];
    u128 m = a.m;
    for (int i = DIGITS - 1; i >= 0; --i) {
        d[i] = uint8_t(m % 10);
        m /= 10;
    }
    bool free = false;
    uint32_t i = 0;
    while (i < DIGITS && d[i] == 0) ++i;
    for (; i < DIGITS; ++i) {
        if (free) {
            d[i] = uint8_t(random::int_(10, secure) - 1);
            continue;
        }
        for (;;) {
            const uint8_t x = uint8_t(random::int_(d[i] + 1, secure) - 1);
            if (x < d[i]) {
                d[i] = x;
                free = true;
                break;
            }
            // The top digit is kept only when two further draws agree.
            if (random::int_(1000, secure) == random::int_(1000, secure)) break;
        }
    }
    a.m = 0;
    for (uint32_t k = 0; k < DIGITS; ++k) a.m = a.m * 10 + d[k];
    *value = pack(a);
    return UNWIND_NONE;
}

}  // namespace

// ---- Shared with the number types ------------------------------------------------------

int32_t to_integer(const Cell* c) {
    const Amount a = unpack(c);
    const u128 whole = a.m / SCALE;
    if (whole > (a.negative ? u128(2147483648u) : u128(2147483647u)))
        fire({"script", "type-limit"}, datatype::cell(TYPE_INTEGER));
    return a.negative ? int32_t(-int64_t(whole)) : int32_t(whole);
}

double to_float(const Cell* c) {
    const Amount a = unpack(c);
    char text[40];
    size_t k = 0;
    if (a.negative) text[k++] = '-';
    char digits[DIGITS + 1];
    u128 m = a.m;
    for (int i = DIGITS - 1; i >= 0; --i) {
        digits[i] = char('0' + int(m % 10));
        m /= 10;
    }
    for (uint32_t i = 0; i < 17; ++i) text[k++] = digits[i];
    text[k++] = '.';
    for (uint32_t i = 17; i < DIGITS; ++i) text[k++] = digits[i];
    ptrdiff_t left = 0;
    const double v = float_text::from_text(text, text + k, 0, &left);
    if (left != 0) fire({"script", "bad-make-arg"}, datatype::cell(TYPE_FLOAT), *c);
    return v;
}

Cell from_integer(int32_t v) {
    const Cell i = integer::cell(v);
    return pack(amount_of(&i));
}

Cell from_float(double v) {
    return pack(amount_of_float(v));
}

int32_t compare_number(const Cell* number, const Cell* m, int32_t op) {
    // The number's side: compare the money with the number, then turn the order round.
    Cell a = *m, b = *number;
    const int32_t r = compare(&a, &b, op);
    if (op >= COMP_LESSER && op <= COMP_CASE_SORT && r != NOT_COMPARABLE) return -r;
    return r;
}

void use_live_currencies() {
    const char* names[4] = {"system", "locale", "currencies", "list"};
    for (uint32_t i = 0; i < 4; ++i) list_path[i] = word::load(names[i]);
    lexer::values::find_currency = &live_currency;
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_MONEY, 0, "money!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_RANDOM>(random);
    r.set<ACT_TO>(to);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_ABSOLUTE>(no_unwind<absolute>);
    r.set_arithmetic<do_math>();
    r.set<ACT_NEGATE>(negate);
    r.set<ACT_ROUND>(round);
    r.set<ACT_EVEN_Q>(even_q);
    r.set<ACT_ODD_Q>(odd_q);
    r.set<ACT_PICK>(pick);
    datatype::register_type(r);
}

}  // namespace kiv::money
