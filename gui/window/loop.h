// The message loop, the pre-filter and event dispatch.
//
// One loop serves the process. do_events takes messages from the queue; the
// pre-filter turns keyboard and mouse messages into events, and what it
// lets through is translated (a key that types a character gets its
// character message) and dispatched to the window's procedure, where
// window notifications become events. Every event goes through make_event,
// which fills the event record and calls `system/view/awake` under a
// catch-all: whatever awake raises or throws ends there, and the loop goes
// on. awake's result `stop` swallows the message (no dispatch).
//
// Waiting loops nest (an actor may run one). The quit protocol:
//   depth    the number of waiting loops running (each raises it on entry
//            and lowers it when it ends);
//   pending  the number of running loops asked to end and not ended yet,
//            always between 0 and depth.
// request_quit() asks the innermost running loop to end: pending rises by
// one unless every running loop is already asked to (with no loop running
// the request is dropped, so no stale quit waits for a later loop). One
// place posts quit requests to the queue (sync_quit): while pending > 0 the
// queue holds the quit flag. A waiting loop that sees it ends, lowers
// depth and pending, and the next loop out sees the flag again while
// pending stays above 0. A polling (no-wait) pass never consumes it.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui::loop {

extern int32_t depth;
extern int32_t pending;
// The modifier and button flags to use instead of the keyboard state (-1:
// none); set while send_os_event runs a synthesised key message.
extern int32_t flags_override;
extern int32_t last_mouse;  // lParam of the last mouse move (-1: none)
extern Hwnd hover;          // the window that last received `over`
extern bool ime_active;

// Runs the loop: waiting (until a quit request ends it) or, with no_wait,
// one message if there is one. True when a message was handled.
bool do_events(bool no_wait);
// Handles pending messages without waiting until none is left.
void drain();

// Fills the event record and calls awake: 1 to dispatch the message, 0 to
// swallow it. `m` is the message the event comes from.
int32_t make_event(Msg* m, int32_t data, uint32_t type);
// The pre-filter: > 0 lets the loop translate and dispatch the message.
int32_t process_message(Msg* m);
// Runs a message as the loop would: pre-filter, then translation and dispatch.
void run_message(Msg* m);

// Calls the function in a field of the system object (e.g. {"view",
// "awake"}) with n arguments under a catch-all, as an event's handlers are
// called: whatever it raises or throws ends here. Its result, or none (also
// when the field holds no function).
Cell call_view_function(std::initializer_list<const char*> path, const char* name, const Cell* args, uint32_t n);

// The message being dispatched, or a record whose window is 0 and whose
// point is the last pointer position.
Msg* current_message();

void request_quit();
void sync_quit();

// The timer procedure of face timers: raises `time` for the window.
void timer_proc(Hwnd h, uint32_t message, uint32_t id, uint32_t time);
// Milliseconds since a stamp of now_stamp().
double timer_elapsed(uint64_t stamp);
uint64_t now_stamp();

// Synthesises the system message of a made event whose face has a window
// (nothing otherwise) and runs it through the pre-filter now, or posts it.
void send_os_event(const Cell* event, bool post);

// Forgets every loop state (the layer's shut-down and tests).
void reset();

}  // namespace kiv::gui::loop
