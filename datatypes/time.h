// time!: a duration or a time of day, in seconds.
//
// Cell payload: words 2-3 hold the seconds as binary64 (negative allowed),
// read through Cell::get_f64. time! is a child of float!: remainder,
// absolute, negate, random and compare are float!'s; add, subtract, multiply
// and divide go through float! math with the exceptions of the datatype
// (time + date is a date, time / time a ratio, time * time not related).
//
// Text: [-]h:mm:ss[.fraction], the hours not limited to 24. The seconds are
// formed with at most 6 significant digits; when that rounding reaches 60 the
// minute (and hour) is carried, so the text never shows 60 seconds.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::time_ {

constexpr double HOUR = 3600.0;
constexpr double MINUTE = 60.0;

void init();

inline Cell cell(double seconds) {
    Cell c{TYPE_TIME, 0, 0, 0};
    c.set_f64(seconds);
    return c;
}
inline Cell* make_at(Cell* c, double seconds) {
    c->header = TYPE_TIME;
    c->set_f64(seconds);
    return c;
}

// Appends the text of `seconds` to the string; returns the characters written.
int32_t form_into(double seconds, Cell* out);

// Field numbers of the path words hour (1), minute (2), second (3); -1 otherwise.
int32_t path_field(const Cell* element);
// The field's value: hours and minutes as integer!, seconds as float!.
Cell get_field(double seconds, int32_t field);
// The seconds with one field replaced (value checked: integer!, or float! for
// the seconds; otherwise script invalid-arg).
double set_field(double seconds, int32_t field, const Cell* value);

}  // namespace kiv::time_
