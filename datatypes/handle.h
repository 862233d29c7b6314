// handle!: an operating-system or runtime handle carried through the language
// as an opaque value (a file descriptor, a window, a monitor, a font, a rich-
// text layout). The value only forms, molds and compares.
//
// Cell (id 46, a child of integer! that inherits nothing):
//   word 1  the class (Class below)
//   word 2  the handle, 32 bits; things outside the arena (fonts, windows,
//           C++ objects) are entered in the external-resource registry
//           (runtime/externals.h) and the handle is their entry index
//   word 3  -1, or the registry entry the value keeps alive: the collector
//           marks entry word 3 of every reachable handle! with word 3 >= 0,
//           and releases the resources of the entries no value marks
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::handle {

enum Class : uint32_t {
    CLASS_NULL = 0,
    CLASS_FD = 1,
    CLASS_MONITOR = 2,
    CLASS_WINDOW = 3,
    CLASS_FONT = 4,
    CLASS_RICH_TEXT = 5,
};
constexpr uint32_t CLASS_COUNT = 6;

// The class's name as mold writes it ("null", "fd", ...); nullptr for an
// unknown class.
const char* class_name(uint32_t cls);

inline Cell cell(uint32_t handle, uint32_t cls) {
    return Cell{TYPE_HANDLE, cls, handle, 0xFFFFFFFFu};
}
// A handle! that keeps registry entry `entry` alive (the handle is the entry
// index).
inline Cell resource_cell(uint32_t entry, uint32_t cls) {
    return Cell{TYPE_HANDLE, cls, entry, entry};
}
inline uint32_t get(const Cell* c) {
    return c->w2;
}
inline uint32_t class_of(const Cell* c) {
    return c->w1;
}

// Makes the cell a handle! (word 3 = -1).
Cell* make_at(Cell* cell, uint32_t handle, uint32_t cls);
// The return slot (the argument base) becomes the handle!.
Cell* box(uint32_t handle, uint32_t cls);
// Pushes a new handle!.
Cell* push(uint32_t handle, uint32_t cls);
// Pushes a handle! 0 of class null.
Cell* push_null();
// Appends a handle! at the block's tail.
Cell* make_in(const Cell* block, uint32_t handle, uint32_t cls);

// ---- Actions (signatures of datatypes/actions.h) --------------------------------
// form: eight upper-case hexadecimal digits and "h".
int32_t form(Cell* value, Cell* out, Cell* part, int32_t budget);
// mold: "handle!", or with /all "#[handle! 00001A2Bh window]" (no class name
// for class null).
int32_t mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, int32_t budget,
             int32_t indent);
// Another type answers 1 (unequal) for every operation; handles compare as
// signed 32-bit integers, the class ignored.
int32_t compare(Cell* value, Cell* other, int32_t op);

// Registers handle! (form, mold and compare only).
void init();

}  // namespace kiv::handle
