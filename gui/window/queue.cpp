#include "gui/window/queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "gui/window/display.h"
#include "gui/window/paint.h"
#include "gui/window/timers.h"
#include "gui/window/windows.h"

namespace kiv::gui::queue {

namespace {

std::deque<Msg> posted;
bool quit_flag = false;
uint32_t last_time = 0;
int32_t last_x = 0, last_y = 0;
uint32_t last_state = 0;

Msg make(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    Msg m;
    m.hwnd = h;
    m.message = message;
    m.wparam = wparam;
    m.lparam = lparam;
    return m;
}

// A posted message carries the time, pointer and keys of the last input.
void stamp(Msg& m) {
    m.time = last_time;
    m.pt_x = last_x;
    m.pt_y = last_y;
    m.state = last_state;
}

// Messages posted from other threads, and the count of threads that may
// post (both under `foreign_lock`; `foreign_waiting` lets get() skip the
// lock while nothing came).
std::mutex foreign_lock;
std::condition_variable foreign_arrived;
std::vector<Msg> foreign;
std::atomic<bool> foreign_waiting{false};
int32_t posters = 0;

// Moves what other threads posted to the back of the queue.
void take_foreign() {
    if (!foreign_waiting.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> hold(foreign_lock);
    for (Msg& m : foreign) {
        stamp(m);
        posted.push_back(m);
    }
    foreign.clear();
    foreign_waiting.store(false, std::memory_order_release);
}

// Without a display: waits for a message from another thread, up to
// timeout_ms (-1: no limit). False at once when no thread may post.
bool wait_foreign(int32_t timeout_ms) {
    std::unique_lock<std::mutex> hold(foreign_lock);
    if (posters == 0 && foreign.empty()) return false;
    auto ready = [] { return !foreign.empty(); };
    if (timeout_ms < 0)
        foreign_arrived.wait(hold, ready);
    else
        foreign_arrived.wait_for(hold, std::chrono::milliseconds(timeout_ms), ready);
    return true;
}

bool take(Msg* out) {
    take_foreign();
    if (posted.empty()) return false;
    *out = posted.front();
    posted.pop_front();
    return true;
}

}  // namespace

void note_input(uint32_t time, int32_t x, int32_t y, uint32_t state) {
    last_time = time;
    last_x = x;
    last_y = y;
    last_state = state;
}

uint32_t input_state() {
    return last_state;
}

void input_point(int32_t* x, int32_t* y) {
    *x = last_x;
    *y = last_y;
}

void post(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    Msg m = make(h, message, wparam, lparam);
    stamp(m);
    post_msg(m);
}

void post_msg(const Msg& m) {
    posted.push_back(m);
    display::wake();
}

void post_from_thread(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    {
        std::lock_guard<std::mutex> hold(foreign_lock);
        foreign.push_back(make(h, message, wparam, lparam));
        foreign_waiting.store(true, std::memory_order_release);
    }
    foreign_arrived.notify_one();
    display::wake();
}

void thread_poster(bool running) {
    {
        std::lock_guard<std::mutex> hold(foreign_lock);
        posters += running ? 1 : -1;
    }
    foreign_arrived.notify_one();
}

void post_front(const Msg& m, uint32_t order) {
    posted.insert(posted.begin() + long(order < posted.size() ? order : posted.size()), m);
    display::wake();
}

void post_quit() {
    quit_flag = true;
    display::wake();
}

bool quit_posted() {
    return quit_flag;
}

int32_t get(Msg* out, bool wait) {
    for (;;) {
        // Let the display deliver what has arrived, without waiting.
        display::pump(false, 0);
        if (take(out)) {
            // A key goes to the window that has the focus when it is taken,
            // not when the display read it: keys read in one batch follow
            // a focus that an earlier key of the batch moved (Tab, Tab).
            const uint32_t msg = out->message;
            if (msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_SYSKEYDOWN || msg == WM_SYSKEYUP) {
                const Hwnd f = windows::focus();
                if (f && windows::alive(f) && windows::root(f) == windows::root(out->hwnd)) out->hwnd = f;
            }
            return 1;
        }
        if (wait && quit_flag) {
            quit_flag = false;
            *out = Msg{};
            out->message = 0x0012;  // WM_QUIT
            return 0;
        }
        // A due paint comes before timers, as on an empty queue it must.
        if (paint::take_due(out)) return 1;
        if (timers::take_due(out)) return 1;
        if (!wait) return -1;
        const int32_t t = timers::next_due(), p = paint::next_due();
        const int32_t due = t < 0 ? p : p < 0 ? t : std::min(t, p);
        if (!display::is_open()) {
            // Without a display only timers, paints and other threads can
            // bring a message; with none of them the wait ends as if asked
            // to quit rather than hang.
            if (wait_foreign(due)) continue;
            if (due < 0) {
                *out = Msg{};
                out->message = 0x0012;
                return 0;
            }
        }
        display::pump(true, due);
    }
}

void drop_for(Hwnd h) {
    std::erase_if(posted, [h](const Msg& m) { return m.hwnd == h; });
    std::lock_guard<std::mutex> hold(foreign_lock);
    std::erase_if(foreign, [h](const Msg& m) { return m.hwnd == h; });
}

void clear() {
    posted.clear();
    {
        std::lock_guard<std::mutex> hold(foreign_lock);
        foreign.clear();
    }
    quit_flag = false;
}

uint32_t size() {
    take_foreign();
    return uint32_t(posted.size());
}

}  // namespace kiv::gui::queue
