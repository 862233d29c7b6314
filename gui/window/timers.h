// Window timers: a window may have timers by id, each firing every `rate`
// milliseconds. A due timer produces one WM_TIMER when the queue is empty
// (several elapsed periods still give one message, so a slow handler does
// not pile them up); a timer with a procedure has it called at dispatch.
#pragma once

#include <cstdint>

#include "gui/window/messages.h"

namespace kiv::gui::timers {

using TimerProc = void (*)(Hwnd, uint32_t message, uint32_t id, uint32_t time);

// Starts or restarts a timer (rate at least 1 ms); returns its id.
uint32_t set(Hwnd h, uint32_t id, uint32_t rate_ms, TimerProc proc);
bool kill(Hwnd h, uint32_t id);
void kill_all(Hwnd h);
void clear();
// Milliseconds until the next timer is due (0 when one is due), -1 when none.
int32_t next_due();
// When a timer is due: fills a WM_TIMER (lParam 0, procedure kept for
// dispatch), reschedules it and returns true.
bool take_due(Msg* out);
// The procedure of a timer (nullptr when none or gone).
TimerProc proc_of(Hwnd h, uint32_t id);
// Monotonic milliseconds.
uint64_t now_ms();

}  // namespace kiv::gui::timers
