#include "gui/window/classes.h"

#include <strings.h>

#include <vector>

#include "platform/console_output.h"

namespace kiv::gui::classes {

namespace {

std::vector<WindowClass> registry;  // index + 1 is the class number
std::vector<std::string> backend_registered;
std::vector<Widget> widgets;
bool hooks_on = false;

constexpr uint32_t OWN_STYLE = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;

// The classes standing in for the system controls.
const char* const BASE_CLASSES[] = {"BUTTON",           "ListBox",         "msctls_progress32", "msctls_trackbar32",
                                    "SCROLLBAR",        "SysTabControl32", "ComboBox",          "STATIC",
                                    "SysMonthCal32",    "EDIT"};

}  // namespace

WndProc combo_system_proc = nullptr, static_system_proc = nullptr, calendar_system_proc = nullptr,
        edit_system_proc = nullptr;

bool register_class(const char* name, WndProc proc, uint32_t style, int32_t extra_bytes) {
    if (!name || !*name || find(name)) return false;
    // A freed row is reused so numbers stay small.
    for (WindowClass& c : registry)
        if (c.name.empty()) {
            c = WindowClass{name, proc, style, extra_bytes};
            return true;
        }
    registry.push_back(WindowClass{name, proc, style, extra_bytes});
    return true;
}

bool unregister_class(const char* name) {
    const uint32_t i = find(name);
    if (!i) return false;
    registry[i - 1] = WindowClass{};
    return true;
}

uint32_t find(const char* name) {
    if (!name || !*name) return 0;
    for (size_t i = 0; i < registry.size(); ++i)
        if (!registry[i].name.empty() && strcasecmp(registry[i].name.c_str(), name) == 0) return uint32_t(i + 1);
    return 0;
}

const WindowClass* at(uint32_t index) {
    if (index == 0 || index > registry.size() || registry[index - 1].name.empty()) return nullptr;
    return &registry[index - 1];
}

WndProc register_superclass(const char* new_name, const char* existing, WndProc proc) {
    WindowClass copy;
    if (const WindowClass* c = at(find(existing))) {
        copy = *c;
    } else {
        console::print_cstring("*** Error in GetClassInfoEx\n");
    }
    const WndProc system = copy.proc;
    register_class(new_name, proc ? proc : system, copy.style, EXTRA_BYTES);
    return system;
}

int32_t call_proc(WndProc proc, Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    if (!proc) return windows::default_proc(h, message, wparam, lparam);
    return proc(h, message, wparam, lparam);
}

// ---- Front procedures of the superclasses -----------------------------------------------------

namespace {

// Static text takes the mouse so that it gets down and up events. Its
// window keeps its face in the face slot, as the main procedure does.
int32_t static_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    switch (message) {
        case WM_NCCREATE:
            windows::set_slot(h, SLOT_FACE, lparam);
            return call_proc(static_system_proc, h, message, wparam, lparam);
        case WM_LBUTTONDOWN:
            windows::set_capture(h);
            return 0;
        case WM_LBUTTONUP:
            windows::release_capture();
            return 0;
        default:
            return call_proc(static_system_proc, h, message, wparam, lparam);
    }
}

int32_t calendar_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    if (message == WM_LBUTTONDOWN) windows::set_focus(h);
    return call_proc(calendar_system_proc, h, message, wparam, lparam);
}

constexpr uint32_t ES_MULTILINE = 0x0004;

// Single-line fields swallow Enter and Tab characters (the key events still
// reach the pre-filter); multi-line areas answer Ctrl+A by selecting all.
int32_t edit_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    if (message == WM_CHAR) {
        const Window* w = windows::get(h);
        const bool multi = w && (w->style & ES_MULTILINE);
        if (multi && wparam == 1) return 0;
        if (!multi && (wparam == 13 || wparam == 9)) return 0;
    }
    return call_proc(edit_system_proc, h, message, wparam, lparam);
}

int32_t combo_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    return call_proc(combo_system_proc, h, message, wparam, lparam);
}

}  // namespace

void register_backend_classes(WndProc window_proc, WndProc base_proc) {
    if (!backend_registered.empty()) return;
    for (const char* name : BASE_CLASSES) register_class(name, nullptr, CS_DBLCLKS, 0);
    struct Own {
        const char* name;
        WndProc proc;
    } own[] = {{"KivWindow", window_proc},
               {"KivPanel", window_proc},
               {"KivBase", base_proc},
               {"KivBaseInternal", base_proc},
               {"KivCamera", nullptr}};
    for (const Own& o : own)
        if (register_class(o.name, o.proc, OWN_STYLE, EXTRA_BYTES)) backend_registered.push_back(o.name);
    struct Super {
        const char* name;
        const char* from;
        WndProc front;
        WndProc* system;
    } supers[] = {{"KivButton", "BUTTON", nullptr, nullptr},
                  {"KivListBox", "ListBox", nullptr, nullptr},
                  {"KivProgress", "msctls_progress32", nullptr, nullptr},
                  {"KivSlider", "msctls_trackbar32", nullptr, nullptr},
                  {"KivScroller", "SCROLLBAR", nullptr, nullptr},
                  {"KivTabpanel", "SysTabControl32", nullptr, nullptr},
                  {"KivCombo", "ComboBox", combo_proc, &combo_system_proc},
                  {"KivFace", "STATIC", static_proc, &static_system_proc},
                  {"KivCalendar", "SysMonthCal32", calendar_proc, &calendar_system_proc},
                  {"KivArea", "EDIT", edit_proc, &edit_system_proc},
                  {"KivField", "KivArea", nullptr, nullptr}};
    for (const Super& s : supers) {
        WndProc system = register_superclass(s.name, s.from, s.front);
        if (s.system) *s.system = system;
        backend_registered.push_back(s.name);
    }
}

void unregister_backend_classes() {
    for (const std::string& n : backend_registered) unregister_class(n.c_str());
    backend_registered.clear();
    for (const char* name : BASE_CLASSES) unregister_class(name);
}

// ---- Widget table ------------------------------------------------------------------------------

void register_widget(const char* existing_class, const char* new_class, uint32_t type_symbol,
                     uint32_t ex_style, uint32_t style, int32_t menu, WndProc proc, Hook hook) {
    Widget w{type_symbol, existing_class ? existing_class : "", ex_style, style, menu, proc, nullptr, hook};
    if (new_class && *new_class) {
        w.system_proc = register_superclass(new_class, existing_class, proc);
        w.class_name = new_class;
    }
    widgets.push_back(w);
    if (hook) hooks_on = true;
}

const Widget* find_widget(uint32_t type_symbol) {
    for (const Widget& w : widgets)
        if (w.type_symbol == type_symbol) return &w;
    return nullptr;
}

void call_hooks(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam) {
    if (!hooks_on) return;
    for (size_t i = 0; i < widgets.size(); ++i)
        if (widgets[i].hook) widgets[i].hook(h, message, wparam, lparam);
}

void clear_widgets() {
    widgets.clear();
    hooks_on = false;
}

}  // namespace kiv::gui::classes
