// The facets this layer reads from face!, font! and para! objects, by
// symbol: the names are interned once (prepare), then each read is a
// look-up of the symbol in the object's context. Pointers returned are
// valid until the next allocation.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::text {

#define KIV_TEXT_NAMES(X)                                                                      \
    X(N_TYPE, "type") X(N_TEXT, "text") X(N_DATA, "data") X(N_SIZE, "size") X(N_COLOR, "color") \
    X(N_FONT, "font") X(N_PARA, "para") X(N_TABS, "tabs") X(N_LINE_SPACING, "line-spacing")    \
    X(N_HANDLES, "handles") X(N_STATE, "state") X(N_NAME, "name") X(N_STYLE, "style")           \
    X(N_ALIGN, "align") X(N_V_ALIGN, "v-align") X(N_WRAP, "wrap?")                              \
    /* words of the style block and the facets' values */                                       \
    X(N_BOLD, "bold") X(N_ITALIC, "italic") X(N_UNDERLINE, "underline") X(N_STRIKE, "strike")   \
    X(N_BORDER, "border") X(N_BACKDROP, "backdrop") X(N_RICH_TEXT, "rich-text") X(N_BASE, "base") \
    X(N_LEFT, "left") X(N_CENTER, "center") X(N_RIGHT, "right") X(N_TOP, "top")                 \
    X(N_MIDDLE, "middle") X(N_BOTTOM, "bottom") X(N_SYSTEM, "system") X(N_FONTS, "fonts")

// The facets of face!, in the prototype's order (bit k of a face's change
// flags is facet k). Native code reads a face!'s facet by its position,
// never by its name; check_face_prototype() compares this table with the
// words of `face!` when the GUI engine makes it.
enum Facet : uint32_t {
    FACET_TYPE, FACET_OFFSET, FACET_SIZE, FACET_TEXT, FACET_IMAGE, FACET_COLOR, FACET_MENU, FACET_DATA,
    FACET_ENABLED, FACET_VISIBLE, FACET_SELECTED, FACET_FLAGS, FACET_OPTIONS, FACET_PARENT, FACET_PANE,
    FACET_STATE, FACET_RATE, FACET_EDGE, FACET_PARA, FACET_FONT, FACET_ACTORS, FACET_EXTRA, FACET_DRAW,
    FACET_COUNT
};
extern const char* const FACET_NAMES[FACET_COUNT];
// The facet of a face (nullptr when the value is not an object with that
// many fields). Valid until the next allocation.
Cell* face_slot(const Cell* face, Facet facet);
// Whether the global `face!` holds the facets in this order (checked once,
// then remembered); false when it does not.
bool check_face_prototype();

enum Name : uint32_t {
#define KIV_TEXT_ENUM(id, text) id,
    KIV_TEXT_NAMES(KIV_TEXT_ENUM)
#undef KIV_TEXT_ENUM
        N_COUNT
};

// The canonical symbol id of the name (after prepare()).
uint32_t symbol_of(Name n);
// Interns the names (may allocate); idempotent.
void intern_names();
// Whether the value is a word of any kind naming n (case-insensitive).
bool is_name(const Cell& v, Name n);
// The field of an object (nullptr when the value is not an object or lacks
// it). A facet of face! is read at its place in the facet table when the
// object holds it there (a face!), by its name otherwise (font!, para!,
// other objects).
Cell* field(const Cell& obj, Name n);
// The field's value, none! when missing.
Cell value_of(const Cell& obj, Name n);
// Sets the field without reporting the change (the backend's own writes).
void set_quiet(const Cell& obj, Name n, const Cell& v);

// Slot k (1-based) of a block value from its index, or nullptr.
Cell* slot(const Cell& blk, uint32_t k);
// The registry entry a handle! keeps, when live and of the kind.
bool live_entry(const Cell* c, uint32_t kind, uint32_t* entry);

}  // namespace kiv::text
