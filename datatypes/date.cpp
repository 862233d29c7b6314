#include "datatypes/date.h"

#include <cmath>
#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/fixed_words.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/lexer_values.h"
#include "datatypes/none.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/system_object.h"
#include "datatypes/time.h"
#include "datatypes/unset.h"
#include "runtime/error.h"
#include "runtime/random.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kiv::date {

namespace values = lexer::values;
namespace bits = lexer::values::date_bits;

namespace {

constexpr double DAY = 86400.0;
constexpr uint32_t FLAG_AND_ZONE = bits::TIME_FLAG | bits::ZONE_MASK;

[[noreturn]] void bad_to_arg(const Cell& spec) {
    fire({"script", "bad-to-arg"}, datatype::cell(TYPE_DATE), spec);
}

inline bool has_time(uint32_t word) {
    return (word & bits::TIME_FLAG) != 0;
}
inline uint32_t zone_bits(uint32_t word) {
    return word & bits::ZONE_MASK;
}

// Zone bits from signed hours and minutes (minutes kept in quarters).
uint32_t make_zone(int32_t hours, int32_t minutes) {
    const bool negative = hours < 0 || minutes < 0;
    const uint32_t h = uint32_t(hours < 0 ? -hours : hours) & 0xF;
    const uint32_t q = (uint32_t(minutes < 0 ? -minutes : minutes) / 15) & 0x3;
    return (negative ? bits::ZONE_SIGN : 0) | (h << bits::ZONE_HOURS_SHIFT) | q;
}

// Zone bits from a time! offset taken modulo 16 hours.
uint32_t zone_from_seconds(double s) {
    s = std::fmod(s, 16 * 3600.0);
    const bool negative = s < 0;
    const double a = std::fabs(s);
    const int32_t h = int32_t(a / 3600.0);
    const int32_t m = int32_t(std::fmod(a, 3600.0) / 60.0);
    return make_zone(negative ? -h : h, negative ? -m : m);
}

// Day number of year / month / day with the month and day normalised.
int64_t days_from_fields(int64_t y, int64_t m, int64_t d) {
    const int64_t k = (m - 1) >= 0 ? (m - 1) / 12 : -((12 - m) / 12);
    y += k;
    m -= k * 12;
    if (y < -16384 || y > 16383) fire({"script", "out-of-range"}, integer::cell(int32_t(y)));
    return int64_t(values::date_to_days(int32_t(y), int32_t(m), 1)) + d - 1;
}

// Carries whole days out of `t` (UTC seconds) so that the local time of day
// lies in [0, 24 h); returns the new day number.
int64_t normalize_time(int64_t days, double* t, uint32_t zone) {
    const double o = zone_offset(zone) / 3600.0;
    const double c = std::trunc(std::trunc(*t / 3600.0 + o) / 24.0);
    double n = double(days) + c;
    *t -= c * DAY;
    while (*t + o * 3600.0 < 0) {
        n -= 1;
        *t += DAY;
    }
    while (*t + o * 3600.0 >= DAY) {
        n += 1;
        *t -= DAY;
    }
    if (!(n >= -1e9 && n <= 1e9)) fire({"math", "overflow"});
    return int64_t(n);
}

// Writes day number and UTC time into the cell, keeping zone and flag.
void store(Cell* c, int64_t days, double t, uint32_t zone, bool timed) {
    if (timed) days = normalize_time(days, &t, zone);
    // The years the date word holds (a few days are left at each end).
    static const int64_t first = values::date_to_days(-16383, 1, 1);
    static const int64_t last = values::date_to_days(16383, 12, 31);
    if (days < first || days > last) fire({"math", "overflow"});
    c->header = (c->header & ~header::TYPE_MASK) | TYPE_DATE;
    c->w1 = values::days_to_date(int32_t(days), timed ? zone : 0, timed);
    c->set_f64(timed ? t : 0.0);
}

double local_time(const Cell* c) {
    return has_time(c->w1) ? c->get_f64() + zone_offset(c->w1) : 0.0;
}

// Replaces the local time (the zone kept), normalising.
void set_local(Cell* c, int64_t days, double local, uint32_t zone) {
    store(c, days, local - zone_offset(zone), zone, true);
}

const char* const MONTH_FALLBACK[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Appends the first three characters of the month's name.
int32_t append_month(Cell* out, uint32_t month) {
    Cell* list = system_object::field({"locale", "months"});
    if (!list) return scalar::append(out, MONTH_FALLBACK[(month - 1) % 12]);
    Cell entry{TYPE_NONE, 0, 0, 0};
    if (list->type() == TYPE_BLOCK) {
        Cell cells[12];
        const uint32_t n = scalar::copy_block(list, cells, 12);
        if (month <= n && month <= 12) entry = cells[month - 1];
    }
    if (entry.type() != TYPE_STRING) fire({"script", "invalid-months"});
    uint32_t cps[3];
    const uint32_t total = string::length_from_head(&entry);
    uint32_t k = 0;
    for (uint32_t i = entry.w1; i < total && k < 3; ++i) cps[k++] = string::abs_at(&entry, i);
    for (uint32_t i = 0; i < k; ++i) string::append_char(string::buffer(out), cps[i]);
    return int32_t(k);
}

int32_t form_into(const Cell* value_in, Cell* out) {
    // A copy: reading the month names may allocate, and the value may lie
    // in a block's buffer.
    const Cell copy = *value_in;
    const Cell* value = &copy;
    const uint32_t w = value->w1;
    const int32_t y = values::date_year(w);
    const char* sep = y < 0 ? "/" : "-";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u%s", values::date_day(w), sep);
    int32_t n = scalar::append(out, buf);
    n += append_month(out, values::date_month(w));
    const int32_t a = y < 0 ? -y : y;
    std::snprintf(buf, sizeof buf, a < 100 ? "%s%s%04d" : "%s%s%d", sep, y < 0 ? "-" : "", a);
    n += scalar::append(out, buf);
    if (!has_time(w)) return n;
    n += scalar::append(out, "/");
    n += time_::form_into(local_time(value), out);
    const uint32_t z = zone_bits(w);
    if (z) {
        const uint32_t h = (z >> bits::ZONE_HOURS_SHIFT) & 0xF, q = z & 3;
        std::snprintf(buf, sizeof buf, "%c%02u:%02u", (z & bits::ZONE_SIGN) ? '-' : '+', h, q * 15);
        n += scalar::append(out, buf);
    }
    return n;
}

// ---- Fields -----------------------------------------------------------------------

enum Field {
    F_DATE = 1,
    F_YEAR,
    F_MONTH,
    F_DAY,
    F_ZONE,
    F_TIME,
    F_HOUR,
    F_MINUTE,
    F_SECOND,
    F_WEEKDAY,
    F_YEARDAY,
    F_TIMEZONE,
    F_WEEK,
    F_ISOWEEK
};

int32_t path_field(const Cell* element) {
    static const uint16_t names[] = {
        fixed::SYM_DATE,    fixed::SYM_YEAR,   fixed::SYM_MONTH,    fixed::SYM_DAY,    fixed::SYM_ZONE,
        fixed::SYM_TIME,    fixed::SYM_HOUR,   fixed::SYM_MINUTE,   fixed::SYM_SECOND, fixed::SYM_WEEKDAY,
        fixed::SYM_YEARDAY, fixed::SYM_JULIAN, fixed::SYM_TIMEZONE, fixed::SYM_WEEK,   fixed::SYM_ISOWEEK};
    if (element->type() == TYPE_INTEGER) {
        const int32_t i = integer::get(element);
        return i >= 1 && i <= 14 ? i : -1;
    }
    const int32_t k = scalar::word_index(element, names, 15);
    return k < 0 ? -1 : k <= 11 ? k : k - 1;  // julian is yearday
}

int32_t year_start(uint32_t w) {
    return values::date_to_days(values::date_year(w), 1, 1);
}

int32_t isoweek_start(int32_t year) {
    const int32_t first = values::date_to_days(year, 1, 1);
    const int32_t wd = values::weekday(first);
    return first + (wd < 5 ? 1 : 8) - wd;
}

int32_t week_of(uint32_t w) {
    const int32_t first = year_start(w);
    int32_t s = (first + 3) % 7;
    if (s < 0) s += 7;
    const int32_t yd = days_of(w) - first + 1;
    return yd <= 7 - s ? 1 : (yd + s - 1) / 7 + 1;
}

int32_t isoweek_of(uint32_t w) {
    const int32_t y = values::date_year(w);
    const int32_t d = days_of(w);
    const int32_t start = isoweek_start(y);
    if (d >= start) return d >= isoweek_start(y + 1) ? 1 : (d - start) / 7 + 1;
    const int32_t wd = values::weekday(year_start(w));
    if (wd == 5 || (wd == 6 && values::leap_year(y - 1))) return 53;
    return 52;
}

Cell zone_cell(uint32_t w) {
    if (!has_time(w)) return none::cell();
    return time_::cell(zone_offset(w));
}

Cell get_field(const Cell* d, int32_t field) {
    const uint32_t w = d->w1;
    switch (field) {
        case F_DATE: {
            Cell r = *d;
            r.w1 = w & ~FLAG_AND_ZONE;
            r.set_f64(0.0);
            return r;
        }
        case F_YEAR:
            return integer::cell(values::date_year(w));
        case F_MONTH:
            return integer::cell(int32_t(values::date_month(w)));
        case F_DAY:
            return integer::cell(int32_t(values::date_day(w)));
        case F_ZONE:
        case F_TIMEZONE:
            return zone_cell(w);
        case F_TIME:
            return has_time(w) ? time_::cell(local_time(d)) : none::cell();
        case F_HOUR:
        case F_MINUTE:
        case F_SECOND:
            return time_::get_field(local_time(d), field - F_HOUR + 1);
        case F_WEEKDAY:
            return integer::cell(values::weekday(days_of(w)));
        case F_YEARDAY:
            return integer::cell(days_of(w) - year_start(w) + 1);
        case F_WEEK:
            return integer::cell(week_of(w));
        default:
            return integer::cell(isoweek_of(w));
    }
}

int32_t int_arg(const Cell* v) {
    if (v->type() != TYPE_INTEGER) fire({"script", "invalid-arg"}, *v);
    return integer::get(v);
}

void set_field(Cell* d, int32_t field, const Cell* v) {
    const uint32_t w = d->w1;
    const bool timed = has_time(w);
    const uint32_t zone = zone_bits(w);
    const int32_t y = values::date_year(w), m = int32_t(values::date_month(w)),
                  day = int32_t(values::date_day(w));
    const double t = d->get_f64();
    switch (field) {
        case F_DATE: {
            if (v->type() != TYPE_DATE) fire({"script", "invalid-arg"}, *v);
            const uint32_t o = v->w1;
            store(d, days_from_fields(values::date_year(o), values::date_month(o), values::date_day(o)), t,
                  zone, timed);
            return;
        }
        case F_YEAR:
            store(d, days_from_fields(int_arg(v), m, day), t, zone, timed);
            return;
        case F_MONTH:
            store(d, days_from_fields(y, int_arg(v), day), t, zone, timed);
            return;
        case F_DAY:
            store(d, days_from_fields(y, m, 0) + int64_t(int_arg(v)), t, zone, timed);
            return;
        case F_ZONE:
        case F_TIMEZONE: {
            uint32_t z;
            if (v->type() == TYPE_INTEGER)
                z = make_zone(integer::get(v) % 16, 0);
            else if (v->type() == TYPE_TIME)
                z = zone_from_seconds(v->get_f64());
            else
                fire({"script", "invalid-arg"}, *v);
            if (field == F_ZONE)
                set_local(d, days_of(w), local_time(d), z);  // the local time stays
            else
                store(d, days_of(w), t, z, true);  // the instant stays
            return;
        }
        case F_TIME:
            if (v->type() == TYPE_NONE) {
                store(d, days_of(w), 0.0, 0, false);
            } else if (v->type() == TYPE_TIME) {
                set_local(d, days_of(w), v->get_f64(), zone);
            } else {
                fire({"script", "invalid-arg"}, *v);
            }
            return;
        case F_HOUR:
        case F_MINUTE:
        case F_SECOND:
            // The field of the local time as the user reads it.
            set_local(d, days_of(w), time_::set_field(local_time(d), field - F_HOUR + 1, v), zone);
            return;
        case F_WEEKDAY: {
            const int32_t n = days_of(w);
            store(d, int64_t(n) - (values::weekday(n) - 1) + (int64_t(int_arg(v)) - 1), t, zone, timed);
            return;
        }
        case F_YEARDAY:
            store(d, int64_t(year_start(w)) + int_arg(v) - 1, t, zone, timed);
            return;
        case F_WEEK: {
            const int64_t n = int_arg(v);
            const int64_t first = year_start(w);
            int64_t s = (first + 3) % 7;
            if (s < 0) s += 7;
            store(d, n <= 1 ? first : first - s + (n - 1) * 7, t, zone, timed);
            return;
        }
        default:
            store(d, int64_t(isoweek_start(y)) + (int64_t(int_arg(v)) - 1) * 7, t, zone, timed);
            return;
    }
}

// ---- Building from a block --------------------------------------------------------

Cell* from_block(Cell* proto, const Cell* spec, bool check) {
    Cell v[10];
    const uint32_t n = scalar::copy_block(spec, v, 10);
    if (n < 3 || n > 9) bad_to_arg(*spec);
    int64_t f[3];
    for (int i = 0; i < 3; ++i) {
        if (v[i].type() != TYPE_INTEGER) bad_to_arg(*spec);
        f[i] = integer::get(&v[i]);
    }
    int64_t day = f[0], month = f[1], year = f[2];
    if (day > 99 && year < day) std::swap(day, year);
    double time = 0;
    int32_t zh = 0, zm = 0;
    double zone_time = 0;
    bool zone_as_time = false;
    int32_t hour = 0, minute = 0;
    bool hms = false;
    uint32_t i = 3;
    auto ends = [&]() {
        if (i != n) bad_to_arg(*spec);
    };
    if (i < n) {
        if (v[i].type() == TYPE_TIME) {
            time = v[i++].get_f64();
        } else if (v[i].type() == TYPE_INTEGER) {
            hms = true;
            hour = integer::get(&v[i++]);
            if (i < n && v[i].type() != TYPE_INTEGER) bad_to_arg(*spec);
            if (i < n) minute = integer::get(&v[i++]);
            double sec = 0;
            if (i < n && i == 5) {
                if (v[i].type() == TYPE_INTEGER)
                    sec = integer::get(&v[i++]);
                else if (v[i].type() == TYPE_FLOAT)
                    sec = v[i++].get_f64();
                else
                    bad_to_arg(*spec);
            }
            time = double(hour) * 3600.0 + double(minute) * 60.0 + sec;
        } else {
            bad_to_arg(*spec);
        }
        if (i < n) {
            if (v[i].type() == TYPE_TIME) {
                zone_as_time = true;
                zone_time = v[i++].get_f64();
                ends();
            } else if (v[i].type() == TYPE_INTEGER) {
                zh = integer::get(&v[i++]);
                if (i < n) {
                    if (v[i].type() != TYPE_INTEGER) bad_to_arg(*spec);
                    zm = integer::get(&v[i++]);
                }
                ends();
            } else {
                bad_to_arg(*spec);
            }
        }
    }
    const bool timed = n > 3;
    const int64_t days = days_from_fields(year, month, 0) + day;
    uint32_t zone = 0;
    if (timed)
        zone = zone_as_time ? zone_from_seconds(zone_time) : make_zone(zh % 16, zh < 0 && zm > 0 ? -zm : zm);
    Cell r{TYPE_DATE, 0, 0, 0};
    if (timed)
        set_local(&r, days, time, zone);
    else
        store(&r, days, 0.0, 0, false);
    if (check) {
        const uint32_t w = r.w1;
        if (values::date_year(w) != year || int64_t(values::date_month(w)) != month ||
            int64_t(values::date_day(w)) != day)
            bad_to_arg(*spec);
        if (hms && (hour < 0 || hour > 23 || minute < 0 || minute > 59)) bad_to_arg(*spec);
        if (timed && !hms && !(time >= 0 && time < DAY)) bad_to_arg(*spec);
    }
    *proto = r;
    return proto;
}

// ---- Actions ----------------------------------------------------------------------

Cell* convert(Cell* proto, Cell* spec, bool check) {
    switch (spec->type()) {
        case TYPE_DATE:
            copy_cell(spec, proto);
            return proto;
        case TYPE_INTEGER: {
            if (check) bad_to_arg(*spec);
            const int64_t s = integer::get(spec);
            int64_t d = s / 86400, t = s % 86400;
            if (t < 0) {
                t += 86400;
                --d;
            }
            Cell r{TYPE_DATE, 0, 0, 0};
            store(&r, values::date_to_days(1970, 1, 1) + d, double(t), 0, true);
            *proto = r;
            return proto;
        }
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            return from_block(proto, spec, check);
        default:
            bad_to_arg(*spec);
    }
}

Outcome make(Cell* proto, Cell* spec, uint32_t) {
    return convert(proto, spec, true);
}
Outcome to(Cell* proto, Cell* spec, uint32_t) {
    return convert(proto, spec, false);
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t budget) {
    return budget - form_into(value, out);
}
int32_t mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, out, part, budget);
}

Outcome eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    const int32_t field = path_field(element);
    if (field < 0) scalar::invalid_path(path, element);
    if (!value) return scalar::result(get_field(parent, field));
    set_field(parent, field, value);
    return value;
}

Outcome pick(Cell* value, int32_t, Cell* index_cell) {
    const int32_t field = path_field(index_cell);
    if (field < 0) fire({"script", "out-of-range"}, *index_cell);
    return scalar::result(get_field(value, field));
}

double instant(const Cell* d) {
    return double(days_of(d->w1)) * DAY + d->get_f64();
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (other->type() != TYPE_DATE) return NOT_COMPARABLE;
    const double a = instant(value), b = instant(other);
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
        case COMP_STRICT_EQUAL:
        case COMP_FIND:
            return float_::almost_equal64_q(a, b) ? 0 : 1;
        case COMP_SAME:
            return value->w1 == other->w1 && value->w2 == other->w2 && value->w3 == other->w3 ? 0 : 1;
        default:
            return (a > b) - (a < b);
    }
}

void math(int32_t op) {
    Cell* left = stack::arg_base;
    Cell* right = left + 1;
    const uint32_t w = left->w1;
    const uint32_t rt = right->type();
    int64_t days = days_of(w);
    double t = left->get_f64();
    bool timed = has_time(w);
    const double sign = op == OP_ADD ? 1.0 : -1.0;
    switch (rt) {
        case TYPE_INTEGER: {
            days += int64_t(sign) * integer::get(right);
            break;
        }
        case TYPE_TIME:
            t += sign * right->get_f64();
            timed = true;
            break;
        case TYPE_DATE: {
            if (op == OP_ADD) fire({"script", "not-related"}, scalar::word("add"), datatype::cell(TYPE_DATE));
            double dt = t - right->get_f64();
            const int64_t d = normalize_time(days - days_of(right->w1), &dt, 0);
            *left = integer::cell(int32_t(d));
            return;
        }
        default:
            fire({"script", "invalid-type"}, datatype::cell(rt));
    }
    store(left, days, t, zone_bits(w), timed);
}


Unwind random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->w1 + uint32_t(int64_t(value->get_f64())));
        *value = unset::cell();
        return UNWIND_NONE;
    }
    const uint32_t w = value->w1;
    const int32_t n = days_of(w);
    const int32_t d = n > 0 ? random::int_(n, secure) : n;
    if (!has_time(w)) {
        store(value, d, 0.0, 0, false);
        return UNWIND_NONE;
    }
    const uint32_t zone = uint32_t(random::int_(128, secure) - 1) & bits::ZONE_MASK;
    const double local = double(random::int_(3600, secure) - 1) * 24.0;
    set_local(value, d, local, zone);
    return UNWIND_NONE;
}

}  // namespace

double zone_offset(uint32_t word) {
    const uint32_t z = zone_bits(word);
    const double o = double((z >> bits::ZONE_HOURS_SHIFT) & 0xF) * 3600.0 + double(z & 3) * 900.0;
    return (z & bits::ZONE_SIGN) ? -o : o;
}

int32_t days_of(uint32_t word) {
    return values::date_to_days(word);
}

double unix_seconds(const Cell* d) {
    return double(days_of(d->w1) - values::date_to_days(1970, 1, 1)) * DAY + d->get_f64();
}

void init() {
    datatype::Registration r = datatype::blank(TYPE_DATE, 0, "date!");
    r.set<ACT_MAKE>(make);
    r.set<ACT_RANDOM>(random);
    r.set<ACT_TO>(to);
    r.set<ACT_FORM>(form);
    r.set<ACT_MOLD>(mold);
    r.set<ACT_EVAL_PATH>(eval_path);
    r.set<ACT_COMPARE>(compare);
    r.set<ACT_ADD>(math_entry<math, OP_ADD>);
    r.set<ACT_SUBTRACT>(math_entry<math, OP_SUB>);
    r.set<ACT_PICK>(pick);
    datatype::register_type(r);
}

}  // namespace kiv::date
