#include "gui/window/queue.h"

#include <algorithm>
#include <deque>

#include "gui/window/display.h"
#include "gui/window/paint.h"
#include "gui/window/timers.h"

namespace kiv::gui::queue {

namespace {

std::deque<Msg> posted;
bool quit_flag = false;
uint32_t last_time = 0;
int32_t last_x = 0, last_y = 0;
uint32_t last_state = 0;

bool take(Msg* out) {
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
    Msg m;
    m.hwnd = h;
    m.message = message;
    m.wparam = wparam;
    m.lparam = lparam;
    m.time = last_time;
    m.pt_x = last_x;
    m.pt_y = last_y;
    m.state = last_state;
    post_msg(m);
}

void post_msg(const Msg& m) {
    posted.push_back(m);
    display::wake();
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
        if (take(out)) return 1;
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
        // Without a display and without timers nothing can ever arrive: the
        // wait ends as if asked to quit rather than hang.
        if (!display::is_open() && timers::next_due() < 0 && paint::next_due() < 0) {
            *out = Msg{};
            out->message = 0x0012;
            return 0;
        }
        const int32_t t = timers::next_due(), p = paint::next_due();
        display::pump(true, t < 0 ? p : p < 0 ? t : std::min(t, p));
    }
}

void drop_for(Hwnd h) {
    std::erase_if(posted, [h](const Msg& m) { return m.hwnd == h; });
}

void clear() {
    posted.clear();
    quit_flag = false;
}

uint32_t size() {
    return uint32_t(posted.size());
}

}  // namespace kiv::gui::queue
