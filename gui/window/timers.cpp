#include "gui/window/timers.h"

#include <time.h>

#include <vector>

namespace kiv::gui::timers {

namespace {

struct Timer {
    Hwnd hwnd;
    uint32_t id;
    uint32_t rate;
    uint64_t due;
    TimerProc proc;
};
std::vector<Timer> list;
constexpr uint32_t MIN_RATE = 1;

}  // namespace

uint64_t now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000u + uint64_t(t.tv_nsec / 1000000);
}

uint32_t set(Hwnd h, uint32_t id, uint32_t rate_ms, TimerProc proc) {
    if (rate_ms < MIN_RATE) rate_ms = MIN_RATE;
    const uint64_t due = now_ms() + rate_ms;
    for (Timer& t : list)
        if (t.hwnd == h && t.id == id) {
            t.rate = rate_ms;
            t.due = due;
            t.proc = proc;
            return id;
        }
    list.push_back(Timer{h, id, rate_ms, due, proc});
    return id;
}

bool kill(Hwnd h, uint32_t id) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].hwnd == h && list[i].id == id) {
            list.erase(list.begin() + long(i));
            return true;
        }
    return false;
}

void kill_all(Hwnd h) {
    std::erase_if(list, [h](const Timer& t) { return t.hwnd == h; });
}

void clear() {
    list.clear();
}

int32_t next_due() {
    if (list.empty()) return -1;
    const uint64_t now = now_ms();
    uint64_t best = UINT64_MAX;
    for (const Timer& t : list) best = t.due < best ? t.due : best;
    return best <= now ? 0 : int32_t(best - now);
}

bool take_due(Msg* out) {
    const uint64_t now = now_ms();
    Timer* best = nullptr;
    for (Timer& t : list)
        if (t.due <= now && (!best || t.due < best->due)) best = &t;
    if (!best) return false;
    // The next period counts from now when the handler fell behind, so
    // missed periods do not come as a burst.
    best->due += best->rate;
    if (best->due <= now) best->due = now + best->rate;
    *out = Msg{};
    out->hwnd = best->hwnd;
    out->message = 0x0113;  // WM_TIMER
    out->wparam = best->id;
    out->lparam = 0;
    out->time = uint32_t(now);
    return true;
}

TimerProc proc_of(Hwnd h, uint32_t id) {
    for (const Timer& t : list)
        if (t.hwnd == h && t.id == id) return t.proc;
    return nullptr;
}

}  // namespace kiv::gui::timers
