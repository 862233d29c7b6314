// Window classes and the widget table.
//
// A class names a window procedure and the class style; windows are made
// from a class by name (compared without regard to case). A superclass is a
// copy of an existing class under a new name, optionally with a procedure of
// its own in front: that procedure passes what it does not handle to the
// copied class's procedure (call_proc), so procedures chain.
//
// The layer has a few base classes standing in for the system controls
// ("BUTTON", "EDIT", "STATIC", ...): their procedure is the default one
// until the controls drawn by the backend replace it. The backend's own
// classes (KivWindow, KivPanel, KivBase, ...) and its superclasses are
// registered by register_backend_classes().
//
// The widget table adds face types at run time, each with its class, styles
// and an optional message hook that sees every message reaching default
// processing in the main window procedure.
#pragma once

#include <cstdint>
#include <string>

#include "gui/window/windows.h"

namespace kiv::gui::classes {

// Class style bit: the class's windows get double-click messages.
constexpr uint32_t CS_DBLCLKS = 0x0008;
constexpr uint32_t CS_VREDRAW = 0x0001;
constexpr uint32_t CS_HREDRAW = 0x0002;

struct WindowClass {
    std::string name;
    WndProc proc = nullptr;
    uint32_t style = 0;
    int32_t extra_bytes = 0;
};

// Registers a class; false when the name is taken.
bool register_class(const char* name, WndProc proc, uint32_t style, int32_t extra_bytes);
bool unregister_class(const char* name);
// Index (1-based) of the class, 0 when unknown.
uint32_t find(const char* name);
const WindowClass* at(uint32_t index);

// Copies `existing` under `new_name` with `proc` in front (nullptr keeps the
// copied procedure) and 80 extra bytes. Returns the copied class's
// procedure; an unknown existing class prints "*** Error in GetClassInfoEx"
// and registers the copy with the default procedure.
WndProc register_superclass(const char* new_name, const char* existing, WndProc proc);

// Calls a procedure of the chain (a null procedure is the default one).
int32_t call_proc(WndProc proc, Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);

// The backend's own classes and superclasses, once; unregister_backend_classes
// removes what register_backend_classes registered.
void register_backend_classes(WndProc window_proc, WndProc base_proc);
void unregister_backend_classes();

// The copied procedures of the superclasses with a front procedure.
extern WndProc combo_system_proc, static_system_proc, calendar_system_proc, edit_system_proc;

// ---- Widget table --------------------------------------------------------------------------
using Hook = void (*)(Hwnd, uint32_t message, uint32_t wparam, int32_t lparam);
struct Widget {
    uint32_t type_symbol;  // canonical symbol id of the face type word
    std::string class_name;
    uint32_t ex_style, style;
    int32_t menu;
    WndProc proc;
    WndProc system_proc;
    Hook hook;
};
// Adds a record. A non-empty new_class makes a superclass of existing_class
// under that name (its procedure becomes the record's system procedure);
// otherwise the record uses existing_class as it is.
void register_widget(const char* existing_class, const char* new_class, uint32_t type_symbol,
                     uint32_t ex_style, uint32_t style, int32_t menu, WndProc proc, Hook hook);
// The record of a face type (any case), or nullptr.
const Widget* find_widget(uint32_t type_symbol);
// Passes a message to the hook of every record that has one, in table order
// (only once a hook was registered).
void call_hooks(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
void clear_widgets();

}  // namespace kiv::gui::classes
