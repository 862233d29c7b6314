// Controls drawn by the backend: buttons, toggles, check boxes and radio
// buttons, fields and areas, lists and drop-downs, sliders, progress bars,
// scrollers, tab panels, group boxes and calendars.
//
// Each control is a child window of a class that stands in for a system
// control ("BUTTON", "EDIT", "ListBox", ...; classes.h); its procedure here
// takes the mouse and the keyboard and tells its parent what happened with
// the messages a system control sends (WM_COMMAND with a notification code,
// WM_NOTIFY, WM_HSCROLL/WM_VSCROLL). The parent's procedure hands them back
// through control_hooks::notify, where they become the face's events
// (click, change, select, enter, focus, unfocus).
//
// What a control shows comes from its face: the text of a button, the items
// of a list (the string-like values of `data`), the check state and the
// ratios of ranges (`data`), the selected item or tab (`selected`). Only
// what the face does not hold lives here, per window: the pressed and hot
// states, the caret and selection of an edit, the scroll positions, an open
// drop-down. An edit keeps its text in its window (windows::set_text, as
// the update path puts it there) and writes it back to the face's `text`
// when the user changed it, unless the face is `no-sync`.
//
// Drawing is in logical units (the context is scaled by the DPI factor),
// with the light or dark palette of the control's top-level window.
#pragma once

#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui::controls {

// Registers the control classes and fills the window layer's hooks, once.
void install();

// ---- Kinds and per-window state ---------------------------------------------------------------
enum class Kind : uint8_t {
    NONE, BUTTON, TOGGLE, CHECK, RADIO, FIELD, AREA, TEXT_LIST, DROP_LIST, DROP_DOWN, PROGRESS, SLIDER,
    SCROLLER, TAB_PANEL, GROUP_BOX, CALENDAR, TEXT,
};
// The kind of a face's type (NONE for faces the layer does not draw).
Kind kind_of_face(const Cell& face);

struct State {
    Kind kind = Kind::NONE;
    bool pressed = false;  // a button held down with the pointer inside
    bool tracking = false; // the pointer is captured by a press on the control
    bool hot = false;
    bool open = false;     // a drop-down's list is showing
    int32_t caret = 0;     // edits: characters
    int32_t anchor = 0;    // the other end of the selection
    double scroll_x = 0, scroll_y = 0;  // edits: logical units scrolled
    int32_t top = 0;       // lists: first visible item
    int32_t hover = -1;    // lists and drop-downs: item under the pointer
    int32_t drag_part = 0; // ranges: 1 the thumb is dragged; 2/3 pages; 4/5 arrows
    double drag_from = 0;  // ranges: pointer offset inside the thumb
    std::vector<std::string> undo;  // edits: text before each change (bounded)
    int32_t month_shown = 0;  // calendars: year * 12 + month - 1 shown
    double item_height = 0;   // lists: the height of an item when last painted
    int32_t closed_height = 0;  // drop-downs: the window's height while the list is shut
    int32_t lifted = 0;         // drop-downs: pixels the window rose to open its list above
    int32_t shown_caret = -1;   // edits: the caret kept in view at the last paint (-1: look again)
    uint32_t high_unit = 0;     // edits: the first half of a character typed as two units
};
// The state of a control window (made on first use, dropped at WM_DESTROY).
State& state_of(Hwnd h);
void forget(Hwnd h);

// ---- Faces ----------------------------------------------------------------------------------
// The face of a window; none when it has none.
Cell face_of(Hwnd h);
// The string-like values of a list face's `data` as UTF-8 (block, hash, map).
std::vector<std::string> items_of(const Cell& face);
// `selected` of a face as an integer; `fallback` when it holds none.
int32_t selected_of(const Cell& face, int32_t fallback);
// Writes an integer into the face's `selected` without notification.
void store_selected(Hwnd h, int32_t value);
// The face's `data` as a ratio 0..1 (integer, float, percent), -1 otherwise.
double ratio_of(const Cell* v);
// The face's flags bit mask (view::get_flags).
uint32_t flags_of(const Cell& face);
// Writes a text into the face's `text` string (in place when it is one) and
// makes it owned by the face, as a control's text is read back.
void store_text(Hwnd h, const std::string& utf8);
// The control's size in logical units.
void logical_size(Hwnd h, double* w, double* height);

// ---- Notifications ----------------------------------------------------------------------------
// Notification codes a control sends its parent (high word of WM_COMMAND's
// wParam) and the WM_NOTIFY codes of tab panels and calendars.
enum : uint32_t {
    BN_CLICKED = 0, NOTIFY_SELCHANGE = 1, RADIO_FOLLOW = 3, CBN_CLOSEUP = 8, EN_SETFOCUS = 0x100,
    EN_KILLFOCUS = 0x200, EN_CHANGE = 0x300,
};
constexpr int32_t TCN_SELCHANGE = -551, TCN_SELCHANGING = -552, MCN_SELCHANGE = -749;
// Sends WM_COMMAND with the code to the control's parent.
void command(Hwnd h, uint32_t code);
// Sends WM_NOTIFY with the code to the control's parent: its answer.
int32_t notify(Hwnd h, int32_t code);
// Sends WM_HSCROLL / WM_VSCROLL with a scroll code (SB_*) to the parent.
void scroll(Hwnd h, uint32_t code);
enum : uint32_t { SB_LINEUP = 0, SB_LINEDOWN = 1, SB_PAGEUP = 2, SB_PAGEDOWN = 3, SB_THUMBTRACK = 5, SB_ENDSCROLL = 8 };
// What every control's procedure does with what it leaves: the face link
// at creation, the state dropped at destruction, the focus repainted and
// told to the parent; the rest to the default procedure.
int32_t control_default(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
// The parent's relay (control_hooks::notify).
int32_t relay(Hwnd parent, uint32_t message, uint32_t wparam, int32_t lparam);

// ---- Drawing ------------------------------------------------------------------------------------
struct Palette {
    uint32_t face, face_hot, face_down, edge, edge_dark, text, text_disabled, field, select, select_text, focus,
        accent, track;
};
const Palette& palette_of(Hwnd h);
void set_rgb(cairo_t* cr, uint32_t rgb);  // 0xRRGGBB
void fill_rect(cairo_t* cr, double x, double y, double w, double h, uint32_t rgb);
void frame_rect(cairo_t* cr, double x, double y, double w, double h, uint32_t rgb);
void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r);
void circle(cairo_t* cr, double cx, double cy, double r);
void focus_ring(cairo_t* cr, double x, double y, double w, double h, uint32_t rgb);
// The face's font colour as 0xRRGGBB, or `fallback`.
uint32_t font_colour(const Cell& face, uint32_t fallback);
// The colour of a face's text: its font's colour; on a face with a colour
// of its own black or white, whichever stands out; else the palette's.
uint32_t ink_of(const Cell& face, const Palette& p);
// The face's `color` as 0xRRGGBB (true when it has one).
bool face_colour(const Cell& face, uint32_t* rgb);

// A vertical scroll bar at (x, y), `height` long, over a content `total`
// long of which `shown` is in view from `first` (in any one unit): arrow
// squares at both ends, the track, a thumb as long as the part in view.
constexpr double BAR_WIDTH = 14;
struct VBar {
    double x, y, height, total, shown, first;
    enum Part { NONE, THUMB, PAGE_UP, PAGE_DOWN, LINE_UP, LINE_DOWN };
    double track() const { return std::max(0.0, height - 2 * BAR_WIDTH); }
    double thumb() const;
    double thumb_at() const;
    Part part(double py) const;
    // `first` for the thumb's top at py.
    double first_for(double thumb_top) const;
    void paint(cairo_t* cr, const Palette& p) const;
};

// A line of text in the face's font (Pango layout; positions in logical
// units, indexes in characters).
class TextLine {
public:
    TextLine(const Cell& face, const std::string& utf8, double wrap_width = 0);
    ~TextLine();
    TextLine(const TextLine&) = delete;
    TextLine& operator=(const TextLine&) = delete;
    double width() const;
    double height() const;
    double line_height() const;
    // The caret's left edge and top of a character index.
    void caret_at(int32_t index, double* x, double* y) const;
    // The character index at a point.
    int32_t index_at(double x, double y) const;
    void draw(cairo_t* cr, double x, double y, uint32_t rgb) const;
    // Highlights characters [from, to).
    void draw_selection(cairo_t* cr, double x, double y, int32_t from, int32_t to, uint32_t rgb) const;
    int32_t chars() const { return int32_t(offsets_.size()) - 1; }
    // The line (0-based) of a character, and the number of lines.
    int32_t line_of(int32_t index) const;
    int32_t lines() const;

private:
    void* layout_ = nullptr;
    std::vector<uint32_t> offsets_;  // byte offset of each character, and the end
};

// Per kind (button.cpp, edit.cpp, list.cpp, range.cpp, tab_panel.cpp, calendar.cpp).
void paint_button(cairo_t* cr, Hwnd h, const Cell& face, Kind kind, double w, double height);
void paint_group_box(cairo_t* cr, Hwnd h, const Cell& face, double w, double height);
void paint_edit(cairo_t* cr, Hwnd h, const Cell& face, Kind kind, double w, double height);
void paint_list(cairo_t* cr, Hwnd h, const Cell& face, double w, double height);
void paint_combo(cairo_t* cr, Hwnd h, const Cell& face, Kind kind, double w, double height);
void paint_range(cairo_t* cr, Hwnd h, const Cell& face, Kind kind, double w, double height);
void paint_tab_panel(cairo_t* cr, Hwnd h, const Cell& face, double w, double height);
void paint_calendar(cairo_t* cr, Hwnd h, const Cell& face, double w, double height);

int32_t button_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
int32_t edit_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
int32_t list_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
int32_t combo_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
int32_t range_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
int32_t tab_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);
int32_t calendar_proc(Hwnd h, uint32_t message, uint32_t wparam, int32_t lparam);

// Facet changes per kind (the update path and in-place changes).
void edit_facets(Hwnd h, const Cell* face, uint32_t bits);
void tab_facets(Hwnd h, const Cell* face, uint32_t bits);
void list_facets(Hwnd h, const Cell* face, uint32_t bits);
// Tab panels: shows the pane of the selected tab and lays the panes out.
void tab_sync_panes(Hwnd h);
// The list item (1-based) under a client point of a text-list, 0 when none.
int32_t list_item_at(Hwnd h, int32_t x, int32_t y);

// The character an edit's caret sits on, text as characters (code points).
std::u32string to_u32(const std::string& utf8);
std::string to_utf8(const std::u32string& text);

}  // namespace kiv::gui::controls
