#include "gui/window/windows.h"

#include <algorithm>

#include "gui/window/classes.h"
#include "gui/window/display.h"
#include "gui/window/menu_hooks.h"
#include "gui/window/queue.h"
#include "gui/window/timers.h"

namespace kiv::gui::windows {

namespace {

// Slot 0 is never used; freed slots are reused round-robin so that a stale
// Hwnd rarely names a new window at once.
std::vector<Window> table(1);
uint32_t live = 0;
uint32_t next_free = 1;
Hwnd focus_window = 0;
Hwnd capture_window = 0;

Hwnd allocate() {
    const uint32_t n = uint32_t(table.size());
    for (uint32_t i = 0; i + 1 < n; ++i) {
        uint32_t k = 1 + (next_free - 1 + i) % (n - 1);
        if (!table[k].used) {
            next_free = k + 1 >= n ? 1 : k + 1;
            return k;
        }
    }
    table.emplace_back();
    next_free = 1;
    return Hwnd(table.size() - 1);
}

void collect(Hwnd h, std::vector<Hwnd>* out) {
    out->push_back(h);
    Window* w = get(h);
    if (!w) return;
    std::vector<Hwnd> kids = w->children;
    for (Hwnd c : kids) collect(c, out);
}

}  // namespace

Window* get(Hwnd h) {
    if (h == 0 || h >= table.size() || !table[h].used) return nullptr;
    return &table[h];
}

bool alive(Hwnd h) {
    return get(h) != nullptr;
}

Hwnd create(uint32_t ex_style, const char* class_name, const char* title, uint32_t style, int32_t x, int32_t y,
            int32_t w, int32_t height, Hwnd parent, int32_t param) {
    const uint32_t ci = classes::find(class_name);
    if (!ci) return 0;
    if (parent && !alive(parent)) return 0;
    const Hwnd h = allocate();
    Window& win = table[h];
    win = Window{};
    win.used = true;
    win.class_index = ci;
    win.proc = classes::at(ci)->proc;
    win.style = style;
    win.ex_style = ex_style;
    win.x = x;
    win.y = y;
    win.w = std::max(0, w);
    win.h = std::max(0, height);
    win.enabled = !(style & WS_DISABLED);
    win.text = title ? title : "";
    if (parent && (style & WS_CHILD)) {
        win.parent = parent;
        table[parent].children.push_back(h);
    } else {
        win.owner = parent;
        win.native = display::create_native(h, x, y, win.w, win.h, title);
    }
    ++live;
    if (send(h, WM_NCCREATE, 0, param) == 0 || !alive(h) || send(h, WM_CREATE, 0, param) == -1) {
        destroy(h);
        return 0;
    }
    if (alive(h) && (style & WS_VISIBLE)) show(h, true);
    return alive(h) ? h : 0;
}

void destroy(Hwnd h) {
    if (!alive(h)) return;
    std::vector<Hwnd> all;
    collect(h, &all);
    // WM_DESTROY goes to the window first, then to its children; each is
    // still whole while it is told.
    for (Hwnd k : all)
        if (alive(k)) send(k, WM_DESTROY, 0, 0);
    if (menu_hooks::forget)
        for (Hwnd k : all) menu_hooks::forget(k);
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        Window* w = get(*it);
        if (!w) continue;
        timers::kill_all(*it);
        queue::drop_for(*it);
        if (focus_window == *it) focus_window = 0;
        if (capture_window == *it) capture_window = 0;
        if (w->parent) {
            auto& sib = table[w->parent].children;
            sib.erase(std::remove(sib.begin(), sib.end(), *it), sib.end());
        }
        void* native = w->native;
        *w = Window{};
        --live;
        display::destroy_native(native);
    }
    // Owned top-level windows go with their owner.
    for (Hwnd k = 1; k < table.size(); ++k)
        if (table[k].used && table[k].owner == h) destroy(k);
}

void destroy_all() {
    for (Hwnd k = 1; k < table.size(); ++k)
        if (table[k].used && table[k].parent == 0) destroy(k);
    focus_window = capture_window = 0;
}

int32_t send(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    Window* w = get(h);
    if (!w) return 0;
    return classes::call_proc(w->proc, h, message, wparam, lparam);
}

int32_t default_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    if (message == WM_CLOSE) destroy(h);
    // Alt, F10 and Alt with a letter go to the menu bar of the window.
    if ((message == WM_SYSKEYDOWN || message == WM_SYSKEYUP || message == WM_SYSCHAR || message == WM_KEYDOWN) &&
        menu_hooks::key)
        menu_hooks::key(h, message, wparam, lparam);
    if (message == WM_NCCREATE) return 1;
    return 0;
}

int32_t get_slot(Hwnd h, int32_t byte_index) {
    Window* w = get(h);
    if (!w || byte_index < 0 || byte_index >= EXTRA_BYTES || byte_index % 4) return 0;
    return w->extra[byte_index / 4];
}

void set_slot(Hwnd h, int32_t byte_index, int32_t value) {
    Window* w = get(h);
    if (!w || byte_index < 0 || byte_index >= EXTRA_BYTES || byte_index % 4) return;
    w->extra[byte_index / 4] = value;
}

Hwnd parent(Hwnd h) {
    Window* w = get(h);
    return w ? w->parent : 0;
}

Hwnd root(Hwnd h) {
    Window* w = get(h);
    while (w && w->parent) {
        h = w->parent;
        w = get(h);
    }
    return w ? h : 0;
}

Hwnd root_owner(Hwnd h) {
    h = root(h);
    for (int guard = 0; guard < 64; ++guard) {
        Window* w = get(h);
        if (!w || !w->owner || !alive(w->owner)) break;
        h = root(w->owner);
    }
    return h;
}

void move(Hwnd h, int32_t x, int32_t y, int32_t width, int32_t height) {
    Window* w = get(h);
    if (!w) return;
    width = std::max(0, width);
    height = std::max(0, height);
    const bool changed = x != w->x || y != w->y || width != w->w || height != w->h;
    w->x = x;
    w->y = y;
    w->w = width;
    w->h = height;
    if (!w->native) return;
    // Each change comes back as a configure notice, maybe after later
    // changes were made: the display side matches them against this list.
    if (changed) {
        if (w->requested.size() >= 8) w->requested.erase(w->requested.begin());
        w->requested.push_back({x, y, width, height});
    }
    display::move_native(w->native, x, y, width, height);
}

void client_to_screen(Hwnd h, int32_t* x, int32_t* y) {
    for (Window* w = get(h); w; w = get(w->parent)) {
        *x += w->x;
        *y += w->y;
    }
}

void screen_to_client(Hwnd h, int32_t* x, int32_t* y) {
    int32_t ox = 0, oy = 0;
    client_to_screen(h, &ox, &oy);
    *x -= ox;
    *y -= oy;
}

Hwnd child_at(Hwnd h, int32_t x, int32_t y, bool skip_transparent) {
    Window* w = get(h);
    if (!w) return 0;
    if (x < 0 || y < 0 || x >= w->w || y >= w->h) return 0;
    for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) {
        Window* c = get(*it);
        if (!c || !c->visible) continue;
        if (skip_transparent && (c->ex_style & WS_EX_TRANSPARENT)) continue;
        if (x >= c->x && y >= c->y && x < c->x + c->w && y < c->y + c->h) return *it;
    }
    return h;
}

Hwnd deepest_at(Hwnd h, int32_t x, int32_t y) {
    for (int guard = 0; guard < 256; ++guard) {
        Window* w = get(h);
        if (!w) return 0;
        Hwnd found = 0;
        for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) {
            Window* c = get(*it);
            if (!c || !c->visible || !c->enabled) continue;
            if (x >= c->x && y >= c->y && x < c->x + c->w && y < c->y + c->h) {
                found = *it;
                x -= c->x;
                y -= c->y;
                break;
            }
        }
        if (!found) return h;
        h = found;
    }
    return h;
}

void to_top(Hwnd h) {
    Window* w = get(h);
    if (!w || !w->parent) return;
    auto& sib = table[w->parent].children;
    sib.erase(std::remove(sib.begin(), sib.end(), h), sib.end());
    sib.push_back(h);
}

void show(Hwnd h, bool on) {
    Window* w = get(h);
    if (!w || w->visible == on) return;
    w->visible = on;
    if (w->native) display::show_native(w->native, on);
    send(h, WM_SHOWWINDOW, on ? 1 : 0, 0);
}

bool visible(Hwnd h) {
    Window* w = get(h);
    return w && w->visible;
}

void enable(Hwnd h, bool on) {
    if (Window* w = get(h)) w->enabled = on;
}

bool enabled(Hwnd h) {
    Window* w = get(h);
    return w && w->enabled;
}

void set_text(Hwnd h, const char* text) {
    Window* w = get(h);
    if (!w) return;
    w->text = text ? text : "";
    if (w->native) display::set_title(w->native, w->text.c_str());
}

Hwnd focus() {
    return alive(focus_window) ? focus_window : 0;
}

Hwnd set_focus(Hwnd h) {
    if (h && !alive(h)) return focus();
    const Hwnd old = focus();
    if (old == h) return old;
    focus_window = h;
    if (old) send(old, WM_KILLFOCUS, h, 0);
    if (h && alive(h)) {
        if (Window* r = get(root(h)); r && r->native) display::focus_native(r->native);
        send(h, WM_SETFOCUS, old, 0);
    }
    return old;
}

Hwnd capture() {
    return alive(capture_window) ? capture_window : 0;
}

Hwnd set_capture(Hwnd h) {
    const Hwnd old = capture();
    capture_window = alive(h) ? h : 0;
    return old;
}

void release_capture() {
    capture_window = 0;
}

Hwnd from_native(const void* native) {
    if (!native) return 0;
    for (Hwnd k = 1; k < table.size(); ++k)
        if (table[k].used && table[k].native == native) return k;
    return 0;
}

uint32_t count() {
    return live;
}

std::vector<Hwnd> top_levels() {
    std::vector<Hwnd> out;
    for (Hwnd k = 1; k < table.size(); ++k)
        if (table[k].used && table[k].parent == 0) out.push_back(k);
    return out;
}

}  // namespace kiv::gui::windows
