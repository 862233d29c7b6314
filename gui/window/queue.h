// The message queue of the GUI thread.
//
// Messages posted by the display's event handler and by the backend wait
// here until the message loop takes them. The quit request is a flag, not a
// message: it is seen only by a waiting loop, after the posted messages
// (a loop that polls without waiting never consumes it), as the nesting
// protocol of the loop needs (loop.h).
//
// Timer messages are made when the queue is empty and a timer is due.
//
// Everything here runs on the GUI thread except post_from_thread, the one
// way in for another thread (the camera's capture thread): its messages
// wait in a locked list until the GUI thread's next get() moves them to the
// back of the queue, and a waiting get() is woken for them.
#pragma once

#include <cstdint>

#include "gui/window/messages.h"

namespace kiv::gui::queue {

// Posts a message; time, pointer position and key state are those of the
// last display input.
void post(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
void post_msg(const Msg& m);
// Puts a message before every posted one (the characters of a key come
// before the input that followed the key); `order` keeps several in order.
void post_front(const Msg& m, uint32_t order);
// Posts a message from any thread (time, pointer and key state are those
// of the last display input when the GUI thread takes it in). A thread that
// will post this way says so first (thread_poster(true)) and again when it
// has stopped (false): while one is registered, a waiting get() without a
// display and without timers waits for its messages instead of ending.
void post_from_thread(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
void thread_poster(bool running);
// Asks the innermost waiting loop to end (once, however many times asked
// before it is seen).
void post_quit();
bool quit_posted();

// Takes the next message. wait: blocks until a message, a due timer or the
// quit flag; returns 1 with a message, 0 on quit (the flag is cleared).
// Without wait: 1 with a message, -1 when nothing is there (the quit flag is
// left alone).
int32_t get(Msg* out, bool wait);

// Drops every message for a window (it is being destroyed).
void drop_for(Hwnd h);
void clear();
uint32_t size();

// The state of the last display input (used for posted messages).
void note_input(uint32_t time, int32_t x, int32_t y, uint32_t state);
uint32_t input_state();
void input_point(int32_t* x, int32_t* y);

}  // namespace kiv::gui::queue
