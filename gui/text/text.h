// Text on Pango: text formats made from font! objects, layouts of plain and
// rich text, their metrics, and Draw's font and text commands.
//
// Invariants the rest of the code relies on:
//   - a font!'s native resources live in its `state` block [font format
//     none]: slot 1 a handle! (kind `font`) of the font description, slot 2
//     a handle! (kind `com-object`) of its text format; `state` set to none
//     means "build again". Both are released by the collector with the font,
//     or at once by update-font;
//   - a rich-text face's layout lives in its `handles` block [layout target
//     text rebuild?]: slot 1 a handle! (kind `com-object`) of the layout;
//     slot 4 true asks for a new layout before the next metrics question;
//   - the language counts characters (code points), Pango counts UTF-8
//     bytes: every index crosses between them here, through the UTF-8 copy
//     of the text that the layout keeps, never through a series buffer;
//   - native code copies the text out of its series before any Pango call,
//     and re-reads every facet through its object after any allocation.
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace kiv::text {

// A native object released by the `com-object` kind of the registry.
struct Resource {
    virtual ~Resource() = default;
};

// A text format: the font description and the natural line of that font
// (measured on the letter "I", on first need).
struct Format : Resource {
    PangoFontDescription* desc = nullptr;
    bool measured = false;
    int line_height = 0;  // Pango units
    int baseline = 0;
    ~Format() override;
};

// Paragraph style bits of base and rich-text faces.
enum ParaBits : int {
    PARA_CENTER = 0x1,
    PARA_RIGHT = 0x2,
    PARA_MIDDLE = 0x4,
    PARA_BOTTOM = 0x8,
    PARA_WRAP = 0x10,
};

// One style of a range of the text, kept in the layout's own terms so that
// it can be cut at paragraph ends and compared with the last layout's.
struct Style {
    enum Kind : uint8_t { COLOUR, ALPHA, FAMILY, SIZE, BOLD, ITALIC, UNDERLINE, STRIKE, LINE_HEIGHT };
    Kind kind;
    uint32_t value;      // rgb, alpha, size or line height (Pango units)
    std::string family;  // FAMILY
    uint32_t start, end;  // bytes; UINT32_MAX: to the text's end and past it
    bool operator==(const Style&) const = default;
};

// A laid-out text with its UTF-8 copy (every index conversion reads it) and
// the box it was laid out in. Each paragraph (the text between line feeds)
// has a Pango layout of its own, placed below the one before it: Pango's
// cost per line grows with the length of its text, so one layout for a
// long text costs the square of its length. Paragraph offsets (bytes,
// characters, y) carry indexes and positions between the text and them.
struct Layout : Resource {
    struct Para {
        PangoLayout* layout = nullptr;
        uint32_t byte = 0, chars = 0;  // where it starts in the text
        uint32_t length = 0;           // its bytes, without the line feed (or CR LF)
        uint32_t next = 0;             // where the next one starts (byte)
        int y = 0, height = 0;         // Pango units
        int lines = 0;
        PangoRectangle logical{};      // its logical extents, at its own origin
        std::vector<Style> styles;     // its share of the styles, from its start
    };
    std::vector<Para> paras;
    std::vector<Style> styles;  // of the whole text, in the order they were given
    std::string utf8;
    PangoFontDescription* desc = nullptr;  // a copy: tells whether a paragraph can be kept
    double box_w = 0, box_h = 0;            // 0: unbounded
    double tab = 0;
    int bits = 0;
    int lines = 0;
    PangoRectangle logical{};  // of the whole text
    struct Backdrop {
        uint32_t start, end;  // bytes
        uint32_t colour;      // 0xAABBGGRR
    };
    std::vector<Backdrop> backdrops;
    ~Layout() override;
    // Cuts the text into paragraphs (their offsets; nothing laid out).
    void split();
    // Lays the paragraphs out, keeping those of `old` (which gives them up)
    // whose text, styles and box are unchanged.
    void lay_out(Layout* old);
    // The offset of the text's top-left corner inside the box (alignment
    // that Pango does not do for unwrapped text, and vertical alignment).
    void origin(double* x, double* y) const;
    // Character index (0-based) to byte index and back, clamped to the text.
    uint32_t byte_at(uint32_t chars) const;
    uint32_t chars_to(uint32_t bytes) const;
    // The paragraph holding the byte, and the one at y (Pango units).
    const Para& para_at_byte(uint32_t byte) const;
    const Para& para_at_y(int y) const;
};

// Registry kinds (registered on first need).
uint32_t font_kind();
uint32_t object_kind();

// Loads the libraries and interns the names this layer reads (before any
// work that must not allocate).
void prepare();

// ---- Formats (fonts.cpp) --------------------------------------------------------------------------
// The font's format, made and cached in its state on first need; the
// default format for any value that is not an object.
Format* format_of(const Cell& font);
// The default format (system/view/fonts, else the table's defaults).
Format* default_format();
// The font! facet change: releases the cached resources for the facets
// that shape the font (0-3 and 5) and makes a new font description.
void update_font(const Cell& font, int32_t index);
// Layout style bits from a para! for a face type (base and rich-text read
// them; `fallback` for other types or no para).
int para_bits(const Cell& face, int fallback);
// The family name a Kiv font name maps to.
std::string map_family(const std::string& name);

// ---- Layouts (layout.cpp) ---------------------------------------------------------------------------
// A new layout of the text in the format; w/h 0 are unbounded.
// `uniform`: lines spaced by the format's natural line (Draw's strings).
// `spacing` > 0: at least that line height (rich text's line-spacing).
Layout* make_layout(Format* f, std::string utf8, double w, double h, int bits, bool uniform, double spacing,
                    double tab);
// The layout of a face (for rich-text faces the one in `handles`, built
// or rebuilt when needed); `owned` is set when the caller must delete it.
Layout* face_layout(const Cell& face, bool* owned);
// Builds the layout of a face anew (the rich-text face keeps it).
Layout* build_face_layout(const Cell& face, bool* owned);
// Metrics types 0-6 into `out`.
void metrics(Layout* l, const Cell& arg, int32_t type, Cell* out);
// Paints the layout (backdrops first) at (x, y) in the colour.
void paint(cairo_t* cr, Layout* l, double x, double y, uint32_t colour);
// Width and height of the text laid out in the face's font, unbounded.
void measure(const Cell& face, std::string utf8, double* w, double* h);

}  // namespace kiv::text
