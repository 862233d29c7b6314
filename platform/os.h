// OS services: process start, pages of the series arena, the current
// directory, environment variables, sleeping, the clock and the time zone.
//
// Texts are NUL-terminated bytes, most often UTF-8 but not always (the
// POSIX calls take them as they are; unicode::load_escaped and
// to_system_bytes turn them into text and back without loss). Main thread
// only.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::platform {

// First step of the entry: the fault handlers (lowlevel::install_fault_handlers),
// SIGPIPE ignored (writes to a closed pipe fail instead of killing the
// process), and the arguments copied into the system record.
void start(int argc, char** argv);
// Copies argv into tracked-heap blocks: system_record.argc/argv, the vector
// ending with null.
void get_argv(int argc, char** argv);

// Runtime initialisation of the platform layer: console output (which keeps
// the console's default attribute).
void init();

// A committed, zero-filled block of the series arena of at least `size`
// bytes. Pages are never executable here (nothing generates machine code), so
// the flag is accepted and ignored. Failure: low-level throw 0x7FFFFFF7.
Off virtual_alloc(uint64_t size, bool executable = false);
// Releases a block from virtual_alloc; `size` is the size it was asked with
// (the arena needs it). Failure: low-level throw 0x7FFFFFF6.
void virtual_free(Off block, uint64_t size);

// The current directory in a tracked-heap block (free it with lowlevel::free);
// `length` receives its byte length without the NUL. Null on failure.
char* get_current_dir(uint32_t& length);
// Non-zero on success.
int set_current_dir(const char* path);

// Sets `name` to `value`, or removes it when value is null. Non-zero on success.
int set_env(const char* name, const char* value);
// Copies the value of `name` into `buffer` (size in bytes, NUL included).
// Returns the length without the NUL when it fits, the size needed with the
// NUL when it does not, and 0 when the variable is not set.
uint32_t get_env(const char* name, char* buffer, uint32_t size);

// The milliseconds wait() sleeps for `seconds`: seconds × 1000 truncated
// toward zero, at least 1 (also for negative and NaN input), at most
// 0xFFFFFFFE.
uint32_t wait_milliseconds(double seconds);
void wait(double seconds);

// UTC time of day in seconds; with `precise` the fraction to 100 ns, else a
// whole number.
double get_time(bool precise);

// The packed date: year << 17 | month << 12 | day << 7 | zone.
constexpr uint32_t pack_date(uint32_t year, uint32_t month, uint32_t day, uint32_t zone) {
    return (year << 17) | (month << 12) | (day << 7) | (zone & 0x7F);
}
// The 7-bit zone field of an offset from UTC in minutes (east positive):
// whole hours in bits 2-5, bit 6 for a negative offset, the rest in quarter
// hours in bits 0-1.
constexpr uint32_t zone_field(int32_t offset_minutes) {
    uint32_t m = offset_minutes < 0 ? uint32_t(-offset_minutes) : uint32_t(offset_minutes);
    uint32_t hours = (m / 60) & 0x0F;
    return (offset_minutes < 0 ? 0x40u : 0u) | (hours << 2) | ((m % 60) / 15);
}
// Today's date, local with its zone, or UTC with zone 0.
uint32_t get_date(bool utc);

}  // namespace kiv::platform
