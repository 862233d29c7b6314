// date!: a day of the proleptic Gregorian calendar, with an optional time of
// day and time zone.
//
// Cell payload: word 1 is the packed date word (layout and the day-number
// conversions in datatypes/lexer_values.h, which the lexer builds literals
// with); words 2-3 hold the time as binary64 seconds in UTC (the zone offset
// removed), 0.0 when the time flag is clear. Invariant after every
// operation: the date word holds the local date and the stored time plus
// the zone offset lies in [0, 86400).
//
// Dates order by the instant they name (day number x 86400 + stored UTC
// seconds), so two dates written in different zones compare by their real
// order.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::date {

void init();

// The zone offset of a date word in seconds (signed).
double zone_offset(uint32_t word);
// The day number of the date word.
int32_t days_of(uint32_t word);
// Seconds since 1-Jan-1970 00:00 UTC (day part included); the time is 0:00
// local for a date without time.
double unix_seconds(const Cell* date);

}  // namespace kiv::date
