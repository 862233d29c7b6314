// The two output hook lists.
//
// Other subsystems watch what the runtime prints by registering callbacks:
// list A receives every string the `print` and `prin` natives write, with a
// new-line flag; list B receives the raw text of the low-level console output
// (UTF-8 bytes, their count, and 0). Callbacks run in registration order; the
// same callback registered twice runs twice. Both arrays live in the tracked
// heap, start with room for 5 entries and grow by 5.
//
// The lists are process-wide and used from the main thread only. A callback
// may register or unregister callbacks while its list is being fired: every
// callback that stays registered is still called once, and one registered
// during the fire is called too.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::hooks {

using PrintHook = void (*)(const Cell* value, uint32_t new_line);             // list A
using OutputHook = void (*)(const char* text, int32_t length, int32_t flag);  // list B

constexpr uint32_t INITIAL_CAPACITY = 5;
constexpr uint32_t GROWTH = 5;

// Allocates both arrays (first step of the runtime's start-up). Registering
// before init() initialises on demand.
void init();

// Appends each non-null callback to its list (`register` is a C++ keyword).
void register_callbacks(PrintHook a, OutputHook b);
// Removes the first occurrence of each non-null callback; unknown ones change nothing.
void unregister_callbacks(PrintHook a, OutputHook b);

// Calls every list-A callback with (value, flag).
void fire_2(const Cell* value, uint32_t flag);
// Calls every list-B callback with (text, length, flag).
void fire_3(const char* text, int32_t length, int32_t flag);

uint32_t count_a();
uint32_t count_b();
uint32_t capacity_a();
uint32_t capacity_b();

}  // namespace kiv::hooks
